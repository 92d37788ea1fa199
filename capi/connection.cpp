#include "capi/connection.h"

#include <algorithm>

namespace tolvar {

TConnection& Connections::Add(TConnection record) {
    if (records_.size() >= capacity_) {
        if (OnDropped) OnDropped(*records_.front());
        records_.erase(records_.begin());
    }
    records_.push_back(std::make_unique<TConnection>(std::move(record)));
    return *records_.back();
}

void Connections::Remove(const TConnection* record) {
    std::erase_if(records_, [record](const auto& r) { return r.get() == record; });
}

namespace {
template <typename Records, typename Pred>
TConnection* Newest(Records& records, Pred pred) {
    for (auto it = records.rbegin(); it != records.rend(); ++it)
        if (pred(**it)) return it->get();
    return nullptr;
}
}  // namespace

TConnection* Connections::FindConnectionByPLCI(std::uint32_t plci) {
    return Newest(records_, [plci](const TConnection& c) { return c.PLCI == plci; });
}

TConnection* Connections::FindConnectionByNCCI(std::uint32_t ncci) {
    return Newest(records_, [ncci](const TConnection& c) { return c.NCCI == ncci; });
}

TConnection* Connections::FindNewestOfKind(CallKind kind) {
    return Newest(records_, [kind](const TConnection& c) { return c.Kind == kind; });
}

}  // namespace tolvar
