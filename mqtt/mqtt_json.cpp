#include "mqtt/mqtt_json.h"

#include <cmath>
#include <cstdio>
#include <ctime>

namespace tolvar {

namespace {

struct Civil {
    CivilDate date;
    int hour, minute, second;
};

Civil Split(const DateTime& t) {
    // Whole seconds; a time a hair below midnight stays in its day.
    int secs = static_cast<int>(std::floor(t.timeOfDay * 86400.0 + 1e-6));
    if (secs > 86399) secs = 86399;
    if (secs < 0) secs = 0;
    return {t.Date(), secs / 3600, secs / 60 % 60, secs % 60};
}

}  // namespace

std::string JsonString(std::string_view text) {
    std::string out = "\"";
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    out += buf;
                } else {
                    out += ch;
                }
        }
    }
    return out + "\"";
}

void JsonObject::Name(std::string_view name) {
    if (body_.size() > 1) body_ += ", ";
    body_ += JsonString(name);
    body_ += ": ";
}

JsonObject& JsonObject::Add(std::string_view name, std::string_view text) {
    Name(name);
    body_ += JsonString(text);
    return *this;
}

JsonObject& JsonObject::Add(std::string_view name, std::int64_t number) {
    Name(name);
    body_ += std::to_string(number);
    return *this;
}

JsonObject& JsonObject::Add(std::string_view name, bool value) {
    Name(name);
    body_ += value ? "true" : "false";
    return *this;
}

JsonObject& JsonObject::AddRaw(std::string_view name, std::string_view json) {
    Name(name);
    body_ += json;
    return *this;
}

std::string IsoLocalTime(const DateTime& local) {
    const Civil c = Split(local);
    std::tm tm{};
    tm.tm_year = c.date.year - 1900;
    tm.tm_mon = c.date.month - 1;
    tm.tm_mday = c.date.day;
    tm.tm_hour = c.hour;
    tm.tm_min = c.minute;
    tm.tm_sec = c.second;
    tm.tm_isdst = -1;
    // The zone's offset at that moment (summer time included).
    long offset = 0;
    const std::time_t at = std::mktime(&tm);
    std::tm back{};
    if (at != static_cast<std::time_t>(-1) && localtime_r(&at, &back)) offset = back.tm_gmtoff;
    const char sign = offset < 0 ? '-' : '+';
    const long abs = offset < 0 ? -offset : offset;
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d%c%02ld:%02ld", c.date.year,
                  c.date.month, c.date.day, c.hour, c.minute, c.second, sign, abs / 3600,
                  abs / 60 % 60);
    return buf;
}

std::int64_t SecondsBetween(const DateTime& from, const DateTime& to) {
    const double days = static_cast<double>(to.day - from.day) + (to.timeOfDay - from.timeOfDay);
    return static_cast<std::int64_t>(std::llround(days * 86400.0));
}

}  // namespace tolvar
