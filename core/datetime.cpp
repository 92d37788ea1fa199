#include "core/datetime.h"

#include <chrono>
#include <cmath>
#include <cstdio>

namespace tolvar {

namespace {
constexpr std::int64_t kUnixEpochDay = 25569;  // 1970-01-01 as a day number
}

std::int64_t DayNumber(const CivilDate& date) {
    using namespace std::chrono;
    const sys_days d = year_month_day{year{date.year}, month{static_cast<unsigned>(date.month)},
                                      day{static_cast<unsigned>(date.day)}};
    return d.time_since_epoch().count() + kUnixEpochDay;
}

CivilDate FromDayNumber(std::int64_t days) {
    using namespace std::chrono;
    const year_month_day ymd{sys_days{std::chrono::days{days - kUnixEpochDay}}};
    return {static_cast<int>(ymd.year()), static_cast<int>(static_cast<unsigned>(ymd.month())),
            static_cast<int>(static_cast<unsigned>(ymd.day()))};
}

double TimeOfDay(int hour, int minute, int second, int ms) {
    return ((hour * 60.0 + minute) * 60.0 + second + ms / 1000.0) / 86400.0;
}

DateTime DateTime::From(const CivilDate& date, int hour, int minute, int second, int ms) {
    return {DayNumber(date), TimeOfDay(hour, minute, second, ms)};
}

std::string FormatLongTime(double timeOfDay) {
    // Round to whole milliseconds first so 0.5 (12:00:00) does not print as 11:59:59.
    long long ms = std::llround(timeOfDay * 86400000.0);
    if (ms < 0) ms = 0;
    long long secs = (ms / 1000) % 86400;
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02lld:%02lld:%02lld", secs / 3600, secs / 60 % 60, secs % 60);
    return buf;
}

std::string FormatShortDate(const CivilDate& date) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "%02d.%02d.%04d", date.day, date.month, date.year);
    return buf;
}

std::optional<CivilDate> ParseShortDate(const std::string& text) {
    int d = 0, m = 0, y = 0, n = 0;
    if (std::sscanf(text.c_str(), "%2d.%2d.%4d%n", &d, &m, &y, &n) != 3 ||
        n != static_cast<int>(text.size()))
        return std::nullopt;
    using namespace std::chrono;
    const year_month_day ymd{year{y}, month{static_cast<unsigned>(m)},
                             day{static_cast<unsigned>(d)}};
    if (!ymd.ok() || y < 1) return std::nullopt;
    return CivilDate{y, m, d};
}

}  // namespace tolvar
