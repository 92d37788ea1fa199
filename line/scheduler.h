#pragma once
// The exchange's only notion of time: a millisecond counter and a queue of
// one-shot timers. The server moves it with the monotonic clock; tests move
// it by hand, so every delay of the exchange can be checked on virtual time.

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <utility>

namespace tolvar::line {

class Scheduler {
  public:
    using TimerId = std::uint64_t;
    std::uint64_t now() const { return now_; }
    TimerId After(std::uint64_t ms, std::function<void()> fn);
    void Cancel(TimerId& id);  // also clears id; 0 is "no timer"
    // Moves time forward to t, running every timer due on the way in order.
    void AdvanceTo(std::uint64_t t);
    void Advance(std::uint64_t ms) { AdvanceTo(now_ + ms); }
    std::optional<std::uint64_t> NextDue() const;

  private:
    std::uint64_t now_ = 0;
    TimerId next_id_ = 1;
    // Ordered by (deadline, id) so equal deadlines run in creation order.
    std::map<std::pair<std::uint64_t, TimerId>, std::function<void()>> timers_;
    std::map<TimerId, std::uint64_t> deadline_of_;
};

}  // namespace tolvar::line
