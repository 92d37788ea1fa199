#pragma once
// Virtual clock and timers for deterministic runs: time moves only when
// Advance is called, and due timers fire in deadline order.

#include <cstdint>
#include <functional>
#include <map>
#include <utility>

#include "core/clock.h"
#include "core/timer.h"

namespace tolvar {

class VirtualTime final : public Clock, public TimerService {
  public:
    explicit VirtualTime(DateTime start = DateTime::From({2026, 12, 7}, 8, 0, 0));

    DateTime Now() const override;
    std::uint32_t TickCount() const override {
        return static_cast<std::uint32_t>(elapsedMs_ + tickBase_);
    }

    Id Schedule(std::uint32_t delayMs, std::function<void()> fn) override;
    void Cancel(Id id) override;

    // Moves time forward by ms, firing every timer that falls due on the way,
    // each at its own deadline.
    void Advance(std::uint64_t ms);
    void SetTickBase(std::uint32_t base) { tickBase_ = base; }
    std::size_t PendingTimers() const { return queue_.size(); }

  private:
    DateTime start_;
    std::uint64_t elapsedMs_ = 0;
    std::uint32_t tickBase_ = 0;
    Id nextId_ = 1;
    // (deadline, id) -> callback; id keeps equal deadlines in scheduling order.
    std::map<std::pair<std::uint64_t, Id>, std::function<void()>> queue_;
};

}  // namespace tolvar
