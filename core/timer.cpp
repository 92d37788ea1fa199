#include "core/timer.h"

namespace tolvar {

Timer::Timer(TimerService& service, std::uint32_t intervalMs)
    : service_(service), interval_(intervalMs) {}

Timer::~Timer() {
    Disarm();
}

void Timer::SetEnabled(bool enabled) {
    if (enabled == enabled_) return;
    enabled_ = enabled;
    if (enabled_)
        Arm();
    else
        Disarm();
}

void Timer::SetInterval(std::uint32_t ms) {
    if (ms == interval_) return;
    interval_ = ms;
    if (enabled_) Arm();
}

void Timer::Restart() {
    SetEnabled(false);
    SetEnabled(true);
}

void Timer::Arm() {
    Disarm();
    if (interval_ == 0) return;
    pending_ = service_.Schedule(interval_, [this] { Fire(); });
}

void Timer::Disarm() {
    if (pending_ != 0) service_.Cancel(pending_);
    pending_ = 0;
}

void Timer::Fire() {
    pending_ = 0;
    if (!enabled_) return;
    // Re-arm before the handler, so a handler that disables the timer (one-shot
    // use) or changes its interval has the last word.
    Arm();
    if (OnTimer) OnTimer();
}

}  // namespace tolvar
