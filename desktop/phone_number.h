#pragma once
// Phone numbers as contacts carry them, in the form a caller's number is
// compared with.

#include <string>
#include <string_view>

namespace tolvar {

// Blanks and control characters at both ends go, and so do the separators
// "-", "/", "." and blanks, and a "(0)" right after a country code; "+49"
// becomes "0", every other "+" becomes "00", and parentheses go:
// "(030) 1234567", "030/1234567", "+49 (0)30 1234567" and "+49 30 1234567"
// all give "0301234567", "+43 1 234" gives "00431234".
std::string NormalizePhoneNumber(std::string_view typed);

// A TEL value of a card as shown: a "tel:" URI without its scheme and its
// parameters ("tel:+49-30-1234;ext=5" gives "+49-30-1234"); text as it is.
std::string TelDisplayNumber(std::string_view value);
// The same value in the form that is compared.
std::string TelComparedNumber(std::string_view value);

// True for a caller's number that a contact can carry: digits only, not empty.
bool IsDialledNumber(std::string_view number);

}  // namespace tolvar
