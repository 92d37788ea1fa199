#include "line/scheduler.h"

namespace tolvar::line {

Scheduler::TimerId Scheduler::After(std::uint64_t ms, std::function<void()> fn) {
    TimerId id = next_id_++;
    timers_.emplace(std::make_pair(now_ + ms, id), std::move(fn));
    deadline_of_[id] = now_ + ms;
    return id;
}

void Scheduler::Cancel(TimerId& id) {
    auto it = deadline_of_.find(id);
    if (it != deadline_of_.end()) {
        timers_.erase(std::make_pair(it->second, id));
        deadline_of_.erase(it);
    }
    id = 0;
}

void Scheduler::AdvanceTo(std::uint64_t t) {
    while (!timers_.empty() && timers_.begin()->first.first <= t) {
        auto node = timers_.extract(timers_.begin());
        deadline_of_.erase(node.key().second);
        if (node.key().first > now_) now_ = node.key().first;
        node.mapped()();
    }
    if (t > now_) now_ = t;
}

std::optional<std::uint64_t> Scheduler::NextDue() const {
    if (timers_.empty()) return std::nullopt;
    return timers_.begin()->first.first;
}

}  // namespace tolvar::line
