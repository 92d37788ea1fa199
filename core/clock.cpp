#include "core/clock.h"

#include <chrono>
#include <ctime>

namespace tolvar {

DateTime SystemClock::Now() const {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t t = system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&t, &local);
    const int ms =
        static_cast<int>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
    return DateTime::From({local.tm_year + 1900, local.tm_mon + 1, local.tm_mday}, local.tm_hour,
                          local.tm_min, local.tm_sec, ms);
}

std::uint32_t SystemClock::TickCount() const {
    using namespace std::chrono;
    return static_cast<std::uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

}  // namespace tolvar
