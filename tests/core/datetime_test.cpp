// Date numbers and the display formats.

#include <gtest/gtest.h>

#include "core/charset.h"
#include "core/datetime.h"

namespace tolvar {
namespace {

TEST(DateTime, DayNumbersMatchTheStoredZero) {
    EXPECT_EQ(DayNumber({1899, 12, 30}), 0);
    EXPECT_EQ(DayNumber({1900, 1, 1}), 2);
    EXPECT_EQ(DayNumber({2026, 12, 7}), 46363);
    EXPECT_EQ(FromDayNumber(46363), (CivilDate{2026, 12, 7}));
}

TEST(DateTime, Formats) {
    EXPECT_EQ(FormatLongTime(0.0), "00:00:00");
    EXPECT_EQ(FormatLongTime(0.5), "12:00:00");
    EXPECT_EQ(FormatLongTime(TimeOfDay(23, 59, 59)), "23:59:59");
    EXPECT_EQ(FormatLongTime(TimeOfDay(7, 5, 3)), "07:05:03");
    EXPECT_EQ(FormatShortDate({2026, 3, 9}), "09.03.2026");
}

TEST(DateTime, ParseShortDate) {
    struct Case {
        const char* text;
        std::optional<CivilDate> date;
    };
    const Case cases[] = {{"09.03.2026", CivilDate{2026, 3, 9}},
                          {"9.3.2026", CivilDate{2026, 3, 9}},
                          {"29.02.2024", CivilDate{2024, 2, 29}},
                          {"29.02.2026", std::nullopt},
                          {"32.01.2026", std::nullopt},
                          {"01.13.2026", std::nullopt},
                          {"", std::nullopt},
                          {"01.01.2026x", std::nullopt},
                          {"Montag", std::nullopt}};
    for (const auto& c : cases) EXPECT_EQ(ParseShortDate(c.text), c.date) << c.text;
}

TEST(Charset, Windows1252BothWays) {
    EXPECT_EQ(Cp1252ToUtf8("M\xFC"
                           "ller \x80 \x84"
                           "x\x93"),
              "Müller € „x“");
    EXPECT_EQ(Utf8ToCp1252("Müller € „x“"),
              "M\xFC"
              "ller \x80 \x84"
              "x\x93");
    EXPECT_EQ(Utf8ToCp1252("日本"), "??");
    EXPECT_TRUE(IsValidUtf8("Überwachung"));
    EXPECT_FALSE(
        IsValidUtf8("\xDC"
                    "berwachung"));
    EXPECT_FALSE(IsValidUtf8("\xE2\x82"));
}

}  // namespace
}  // namespace tolvar
