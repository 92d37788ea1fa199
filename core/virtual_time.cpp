#include "core/virtual_time.h"

#include <cmath>

namespace tolvar {

VirtualTime::VirtualTime(DateTime start) : start_(start) {}

DateTime VirtualTime::Now() const {
    const double startMs = std::round(start_.timeOfDay * 86400000.0);
    const std::uint64_t total = static_cast<std::uint64_t>(startMs) + elapsedMs_;
    return {start_.day + static_cast<std::int64_t>(total / 86400000),
            static_cast<double>(total % 86400000) / 86400000.0};
}

TimerService::Id VirtualTime::Schedule(std::uint32_t delayMs, std::function<void()> fn) {
    const Id id = nextId_++;
    queue_.emplace(std::make_pair(elapsedMs_ + delayMs, id), std::move(fn));
    return id;
}

void VirtualTime::Cancel(Id id) {
    for (auto it = queue_.begin(); it != queue_.end(); ++it) {
        if (it->first.second == id) {
            queue_.erase(it);
            return;
        }
    }
}

void VirtualTime::Advance(std::uint64_t ms) {
    const std::uint64_t target = elapsedMs_ + ms;
    while (!queue_.empty() && queue_.begin()->first.first <= target) {
        auto node = queue_.extract(queue_.begin());
        elapsedMs_ = node.key().first;
        node.mapped()();
    }
    elapsedMs_ = target;
}

}  // namespace tolvar
