#include "capi/connection.h"

#include <algorithm>

namespace tolvar {

TConnection& Connections::Add(TConnection record) {
    records_.push_back(std::make_unique<TConnection>(std::move(record)));
    return *records_.back();
}

void Connections::Remove(const TConnection* record) {
    std::erase_if(records_, [record](const auto& r) { return r.get() == record; });
}

TConnection* Connections::FindConnectionByPLCI(std::uint32_t plci) {
    for (auto it = records_.rbegin(); it != records_.rend(); ++it)
        if ((*it)->PLCI == plci) return it->get();
    return nullptr;
}

TConnection* Connections::FindConnectionByNCCI(std::uint32_t ncci) {
    for (auto it = records_.rbegin(); it != records_.rend(); ++it)
        if ((*it)->NCCI == ncci) return it->get();
    return nullptr;
}

}  // namespace tolvar
