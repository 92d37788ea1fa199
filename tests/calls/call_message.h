#pragma once
// Received call messages laid out as the simulated exchange delivers them, for
// the call monitor's tests.

#include <cstdint>
#include <string>
#include <vector>

#include "capi/capi_message.h"
#include "support/fake_capi.h"

namespace tolvar::test {

inline std::vector<std::uint8_t> U16(std::uint16_t v) {
    return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8)};
}

// A structure: its length octet, then the octets.
inline std::vector<std::uint8_t> Struct(std::vector<std::uint8_t> octets,
                                        const std::string& chars = "") {
    octets.insert(octets.end(), chars.begin(), chars.end());
    octets.insert(octets.begin(), static_cast<std::uint8_t>(octets.size()));
    return octets;
}

struct CallSetup {
    std::uint32_t plci = 0x0101;
    std::uint16_t cip = 1;
    std::string msn = "5551234";  // empty: an empty called party number structure
    std::string caller;           // digits; empty: presentation restricted, no digits
    std::uint8_t typeOfNumber = 0x21;
    std::string subaddress;  // calling party subaddress characters
    std::uint16_t number = 1;
};

// The parameters of a CONNECT_IND: PLCI, CIP value, called and calling party
// number, called and calling party subaddress, BC, HLC, LLC, Additional Info,
// second calling party number.
inline std::vector<std::uint8_t> ConnectIndParams(const CallSetup& c) {
    std::vector<std::uint8_t> p = U32(c.plci);
    const auto add = [&p](const std::vector<std::uint8_t>& v) {
        p.insert(p.end(), v.begin(), v.end());
    };
    add(U16(c.cip));
    add(c.msn.empty() ? Struct({}) : Struct({0x81}, c.msn));
    add(c.caller.empty() ? Struct({0x01, 0xA3}) : Struct({c.typeOfNumber, 0x83}, c.caller));
    add(Struct({}));
    add(c.subaddress.empty() ? Struct({}) : Struct({0x80, 0x50}, c.subaddress));
    add(Struct({0x80, 0x90, 0xA3}));  // BC
    add(Struct({}));                  // HLC
    add({0x00, 0x00, 0x00});          // LLC, Additional Info, second calling party number
    return p;
}

inline std::vector<std::uint8_t> ConnectInd(const CallSetup& c) {
    return Message(cmd::CONNECT_IND, c.number, ConnectIndParams(c));
}

inline std::vector<std::uint8_t> DisconnectInd(std::uint32_t plci, std::uint16_t reason,
                                               std::uint16_t number = 2) {
    auto p = U32(plci);
    const auto r = U16(reason);
    p.insert(p.end(), r.begin(), r.end());
    return Message(cmd::DISCONNECT_IND, number, p);
}

inline std::vector<std::uint8_t> ConnectActiveInd(std::uint32_t plci, std::uint16_t number = 3) {
    auto p = U32(plci);
    p.insert(p.end(), {0x00, 0x00, 0x00});  // connected number, connected subaddress, LLC
    return Message(cmd::CONNECT_ACTIVE_IND, number, p);
}

}  // namespace tolvar::test
