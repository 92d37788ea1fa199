#include "desktop/phone_number.h"

#include <algorithm>
#include <cctype>

namespace tolvar {

namespace {

bool IsBlankOrControl(char c) {
    return static_cast<unsigned char>(c) <= 0x20 || c == 0x7F;
}

void ReplaceAll(std::string& s, std::string_view from, std::string_view to) {
    for (std::size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
        s.replace(at, from.size(), to);
}

bool IsTelUri(std::string_view value) {
    if (value.size() < 4) return false;
    std::string scheme(value.substr(0, 4));
    std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return scheme == "tel:";
}

std::string_view Trimmed(std::string_view s) {
    while (!s.empty() && IsBlankOrControl(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlankOrControl(s.back())) s.remove_suffix(1);
    return s;
}

}  // namespace

// "+49 (0)30 ..." and "0049 (0)30 ...": the "(0)" after the country code is
// the trunk prefix, dialled only from inside the country.
void DropTrunkPrefixAfterCountryCode(std::string& n) {
    std::size_t at = n.rfind('+', 0) == 0 ? 1 : n.rfind("00", 0) == 0 ? 2 : 0;
    if (at == 0) return;
    const std::size_t digits = n.find_first_not_of("0123456789", at);
    if (digits == std::string::npos || digits == at || digits - at > 3) return;
    if (n.compare(digits, 3, "(0)") == 0) n.erase(digits, 3);
}

std::string NormalizePhoneNumber(std::string_view typed) {
    std::string n(Trimmed(typed));
    // The separators people write between digit groups.
    std::erase_if(n, [](char c) { return c == ' ' || c == '-' || c == '/' || c == '.'; });
    DropTrunkPrefixAfterCountryCode(n);
    ReplaceAll(n, "+49", "0");
    ReplaceAll(n, "+", "00");
    std::erase(n, '(');
    std::erase(n, ')');
    return n;
}

std::string TelDisplayNumber(std::string_view value) {
    value = Trimmed(value);
    if (!IsTelUri(value)) return std::string(value);
    value.remove_prefix(4);
    return std::string(value.substr(0, value.find(';')));
}

std::string TelComparedNumber(std::string_view value) {
    return NormalizePhoneNumber(TelDisplayNumber(value));
}

bool IsDialledNumber(std::string_view number) {
    return !number.empty() &&
           std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace tolvar
