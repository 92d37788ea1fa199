#pragma once
// Decoding of CONNECT_IND: PLCI, CIP value, and the four structures that
// follow, each read within its own length octet and within the message.

#include <cstdint>
#include <optional>
#include <string>

#include "capi/capi_message.h"
#include "capi/params.h"

namespace tolvar {

struct ConnectIndication {
    std::uint32_t plci = 0;
    std::uint16_t cip = 0;
    std::string calledNumber;           // digits after the type-of-number octet
    std::string callingNumber;          // raw digits after the two leading octets
    bool callingInternational = false;  // type of number international
    std::string subaddressText;         // calling party subaddress, raw 8-bit characters
    // Empty when every structure fitted; else which one did not (the fields
    // from there on stay empty), and why.
    std::string fault;
    ParamFault faultKind = ParamFault::None;
};

// Nothing when the message is too short to carry a PLCI and a CIP value.
std::optional<ConnectIndication> DecodeConnectInd(const CapiMessageView& msg);

// The caller's number as the program shows it: "00" before an international
// number, a leading "0" for other numbers of six or more digits that lack
// one, "Unbekannt/Analog" for none.
std::string ShownCallingNumber(const std::string& digits, bool international = false);
// How an international number was shown before it got its "00" (one "0", a
// wrong number): rules written for that form still match. Empty for other
// numbers.
std::string FormerCallingNumber(const std::string& digits, bool international);

// The text a call's line gets for its CIP value (a D-Mail call's: nothing).
std::string ServiceText(std::uint16_t cip);

}  // namespace tolvar
