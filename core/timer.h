#pragma once
// Timers with the behaviour of window timers: Enabled, Interval, Tag and an
// OnTimer handler. The engine never owns a real timer; a TimerService of the
// host (Qt event loop, console loop, virtual time in tests) schedules them.

#include <cstdint>
#include <functional>

namespace tolvar {

class TimerService {
  public:
    using Id = std::uint64_t;
    virtual ~TimerService() = default;
    // Runs fn once, delayMs from now, on the engine's thread. Ids are never 0.
    virtual Id Schedule(std::uint32_t delayMs, std::function<void()> fn) = 0;
    // Cancelling an id that already fired or was cancelled does nothing.
    virtual void Cancel(Id id) = 0;
};

class Timer {
  public:
    explicit Timer(TimerService& service, std::uint32_t intervalMs = 1000);
    ~Timer();
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

    bool Enabled() const { return enabled_; }
    // Enabling a disabled timer starts a new interval; enabling an enabled
    // one changes nothing. A timer with interval 0 never fires.
    void SetEnabled(bool enabled);
    std::uint32_t Interval() const { return interval_; }
    // Changing the interval of a running timer restarts it.
    void SetInterval(std::uint32_t ms);
    // Disable and enable again: a fresh full interval.
    void Restart();

    int Tag = 0;
    std::function<void()> OnTimer;

  private:
    void Arm();
    void Disarm();
    void Fire();

    TimerService& service_;
    std::uint32_t interval_;
    bool enabled_ = false;
    TimerService::Id pending_ = 0;
};

}  // namespace tolvar
