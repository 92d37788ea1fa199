#pragma once
// The label format "Telefonnummer + [ Text]" shared by rule nodes and the
// receiver fields of the SMS and D-Mail pages: a number, optionally followed
// by a blank and a name.

#include <optional>
#include <string>

namespace tolvar {

struct NumberText {
    bool valid = true;   // the number is non-empty and only digits 0 to 9
    std::string number;  // everything before the first blank (all of it without one)
    std::string text;    // everything after the first blank, further blanks included
};

NumberText SplitNumberText(const std::string& label);

// The warning shown when an edited label does not have the format.
extern const char* const kLabelFormatWarning;
// The warning shown when an edited label holds a backslash.
extern const char* const kLabelBackslashWarning;

// Characters that typing into a label discards. A backslash is among them: it
// separates registry keys, so a label holding one could not be stored.
bool IsDiscardedLabelChar(char c);

// Whether a label can be stored as one registry key name.
bool IsStorableLabel(const std::string& label);

// Text as one line, as the settings file can hold it in a key name or a
// value: each line break (CR LF, CR or LF) becomes one blank.
std::string OneLine(const std::string& text);

// The editor's check of a label the user has finished typing (MSN and caller
// labels alike): nothing when it is accepted, otherwise the warning to show;
// the node then keeps its old label. A label whose number part is empty (an
// empty label, one beginning with a blank) is accepted.
std::optional<std::string> CheckEditedLabel(const std::string& label);

}  // namespace tolvar
