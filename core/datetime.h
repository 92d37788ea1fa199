#pragma once
// Dates and times as the program keeps them: a day number and the time of day
// as a fraction of a day. The display formats live here and nowhere else.

#include <cstdint>
#include <optional>
#include <string>

namespace tolvar {

struct CivilDate {
    int year = 1899;
    int month = 12;
    int day = 30;
    bool operator==(const CivilDate&) const = default;
};

// Days since 1899-12-30, the zero of the date values the program stores.
std::int64_t DayNumber(const CivilDate& date);
CivilDate FromDayNumber(std::int64_t days);

struct DateTime {
    std::int64_t day = 0;    // DayNumber of the date
    double timeOfDay = 0.0;  // fraction of a day, 0 <= t < 1

    static DateTime From(const CivilDate& date, int hour, int minute, int second, int ms = 0);
    CivilDate Date() const { return FromDayNumber(day); }
};

double TimeOfDay(int hour, int minute, int second = 0, int ms = 0);

// "HH:MM:SS", 24 hours, two digits each.
std::string FormatLongTime(double timeOfDay);
// "DD.MM.YYYY".
std::string FormatShortDate(const CivilDate& date);
// Reads "D.M.YYYY" (one or two digits for day and month); nothing for text
// that is not a valid date.
std::optional<CivilDate> ParseShortDate(const std::string& text);

}  // namespace tolvar
