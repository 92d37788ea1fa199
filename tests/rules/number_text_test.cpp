// The label format "Telefonnummer + [ Text]" and the editor's label check.

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "rules/number_text.h"

namespace tolvar {
namespace {

TEST(SplitNumberText, SplitsAndChecks) {
    struct Case {
        const char* label;
        bool valid;
        const char* number;
        const char* text;
    };
    const Case cases[] = {
        {"017812345 Mutter", true, "017812345", "Mutter"},
        {"017812345  Mutter", true, "017812345", " Mutter"},
        {"017812345", true, "017812345", ""},
        {"0178 ", true, "0178", ""},
        {"5551234 Büro und Fax", true, "5551234", "Büro und Fax"},
        {"0178-123", false, "0178-123", ""},
        {"0178-123 Oma", false, "0178-123", "Oma"},
        {"", false, "", ""},
        {" Mutter", false, "", "Mutter"},
        {" ", false, "", ""},
        {"Unbekannt/Analog", false, "Unbekannt/Analog", ""},
        {"Sonstige", false, "Sonstige", ""},
        {"Ihre TEL/FAX Nummer !", false, "Ihre", "TEL/FAX Nummer !"},
        {"+49301234", false, "+49301234", ""},
        {"０１７８", false, "０１７８", ""},  // full-width digits are not digits here
    };
    for (const auto& c : cases) {
        const NumberText split = SplitNumberText(c.label);
        EXPECT_EQ(split.valid, c.valid) << '"' << c.label << '"';
        EXPECT_EQ(split.number, c.number) << '"' << c.label << '"';
        EXPECT_EQ(split.text, c.text) << '"' << c.label << '"';
    }
}

TEST(CheckEditedLabel, AcceptsNumbersAndEmptyNumbersOnly) {
    const std::string format =
        "Das Eingabeformat muß \"Telefonnummer + [ Text]\" sein.\r\rBeispiel:  017812345  Mutter";
    struct Case {
        const char* label;
        std::optional<std::string> warning;
    };
    const Case cases[] = {
        {"017812345 Mutter", std::nullopt},
        {"0711", std::nullopt},
        {"", std::nullopt},         // a new node left empty
        {" Mutter", std::nullopt},  // the number part is empty: accepted without a message
        {"Mutter", format},
        {"0178-123", format},
        {"0178\\5 Oma", format},
        {"0178 Oma\\Opa", std::string(kLabelBackslashWarning)},
        {" a\\b", std::string(kLabelBackslashWarning)},
    };
    for (const auto& c : cases) EXPECT_EQ(CheckEditedLabel(c.label), c.warning) << c.label;
}

TEST(CheckEditedLabel, TypingDiscardsSeparators) {
    for (const char c : std::string("/.,\\")) EXPECT_TRUE(IsDiscardedLabelChar(c)) << c;
    for (const char c : std::string("09 aZ-+!@")) EXPECT_FALSE(IsDiscardedLabelChar(c)) << c;
    EXPECT_TRUE(IsStorableLabel("Unbekannt/Analog"));
    EXPECT_FALSE(IsStorableLabel("0178\\1"));
}

}  // namespace
}  // namespace tolvar
