#include "rules/number_text.h"

namespace tolvar {

const char* const kLabelFormatWarning =
    "Das Eingabeformat muß \"Telefonnummer + [ Text]\" sein.\r\rBeispiel:  017812345  Mutter";
const char* const kLabelBackslashWarning =
    "Das Zeichen \"\\\" ist in einer Bezeichnung nicht erlaubt.";

NumberText SplitNumberText(const std::string& label) {
    NumberText result;
    const std::size_t blank = label.find(' ');
    if (blank == std::string::npos) {
        result.number = label;
    } else {
        result.number = label.substr(0, blank);
        result.text = label.substr(blank + 1);
    }
    if (result.number.empty()) result.valid = false;
    for (const char c : result.number)
        if (c < '0' || c > '9') result.valid = false;
    return result;
}

bool IsDiscardedLabelChar(char c) {
    return c == '/' || c == '.' || c == ',' || c == '\\';
}

bool IsStorableLabel(const std::string& label) {
    return label.find_first_of("\\\n") == std::string::npos;
}

std::string OneLine(const std::string& text) {
    std::string line;
    line.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        line += text[i] == '\r' || text[i] == '\n' ? ' ' : text[i];
    }
    return line;
}

std::optional<std::string> CheckEditedLabel(const std::string& label) {
    const NumberText split = SplitNumberText(label);
    if (!split.valid && !split.number.empty()) return std::string(kLabelFormatWarning);
    if (!IsStorableLabel(label)) return std::string(kLabelBackslashWarning);
    return std::nullopt;
}

}  // namespace tolvar
