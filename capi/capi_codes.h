#pragma once
// The numbers the program gives meaning to: what a call is, and the CAPI and
// ISDN values it reads and writes. Nothing else in the engine spells them out.

#include <cstdint>
#include <optional>

namespace tolvar {

// What a call is. 0 to 5 are the action codes of the rule entry that applied
// to an incoming call; 6 to 8 are the purpose tags of outgoing calls, which
// CAPI echoes as the message number of CONNECT_CONF.
enum class CallKind : std::int32_t {
    Aus = 0,           // logged only (also: no rule applied)
    Ausfuehren = 1,    // a program was started
    Sound = 2,         // a sound was played
    Abfangen = 3,      // answered and cut off at once
    SmsAn = 4,         // an SMS goes out if the call is missed
    Abheben = 5,       // picked up and held
    AutomaticSms = 6,  // SMS call after a missed "SMS an" call, and its redials
    UserSms = 7,       // SMS call from the page "SMS senden"
    DMailOut = 8,      // outgoing D-Mail packet or acknowledgement
    DMailIn = 9,       // incoming call accepted as D-Mail
};
inline constexpr int kCallKindCount = 10;

// The kind of an incoming call whose rule entry has this action code; nothing
// for a code outside the action list.
inline constexpr bool IsActionCode(std::int32_t action) {
    return action >= 0 && action <= static_cast<std::int32_t>(CallKind::Abheben);
}

// The purpose tag a CONNECT_REQ carries for an outgoing call of this kind.
inline constexpr std::uint16_t PurposeTag(CallKind kind) {
    return static_cast<std::uint16_t>(kind);
}
inline constexpr std::optional<CallKind> CallKindOfAction(std::int32_t action) {
    if (!IsActionCode(action)) return std::nullopt;
    return static_cast<CallKind>(action);
}
inline constexpr bool IsIncomingKind(CallKind kind) {
    return kind >= CallKind::Aus && kind <= CallKind::Abheben;
}
inline constexpr bool IsSmsKind(CallKind kind) {
    return kind == CallKind::AutomaticSms || kind == CallKind::UserSms;
}
inline constexpr bool IsDMailKind(CallKind kind) {
    return kind == CallKind::DMailOut || kind == CallKind::DMailIn;
}

// CIP values (the service of a call).
namespace cip {
inline constexpr std::uint16_t kSpeech = 1;
inline constexpr std::uint16_t kUnrestrictedDigital = 2;
inline constexpr std::uint16_t kAudio31kHz = 4;
inline constexpr std::uint16_t kTelephony = 16;
inline constexpr std::uint16_t kFaxG3 = 17;
inline constexpr std::uint16_t kFaxG4 = 18;
inline constexpr std::uint16_t kDMail = 24;  // what D-Mail calls carry
}  // namespace cip

// Info numbers of INFO_IND.
namespace info {
inline constexpr std::uint16_t kAlerting = 0x8001;  // the far end rings
}

// Reasons of DISCONNECT_IND.
namespace reason {
inline constexpr std::uint16_t kNone = 0;
inline constexpr std::uint16_t kLinkLost = 0x3301;          // layer 1 gone (the CAPI link was lost)
inline constexpr std::uint16_t kOtherApplication = 0x3304;  // another application got the call
inline constexpr std::uint16_t kNormalClearing = 0x3490;    // cause 16
inline constexpr std::uint16_t kUserBusy = 0x3491;          // cause 17
inline constexpr std::uint16_t kNonSelectedUser = 0x349A;   // cause 26: another terminal answered
inline constexpr std::uint16_t kNoChannel = 0x34A2;         // cause 34
inline constexpr std::uint16_t kBearerNotAuthorized = 0x34B9;  // cause 57
inline constexpr std::uint16_t kServiceNotAvailable = 0x34BF;  // cause 63

// Another terminal or application answered the call.
inline constexpr bool AnsweredElsewhere(std::uint16_t r) {
    return r == kOtherApplication || r == kNonSelectedUser;
}
}  // namespace reason

// Reject values of CONNECT_RESP.
namespace reject {
inline constexpr std::uint16_t kAccept = 0;
inline constexpr std::uint16_t kIncompatibleDestination = 7;
}  // namespace reject

// NCCI of an SMS call whose B3 link is requested and not yet confirmed.
inline constexpr std::uint32_t kNcciPending = 0xFFFF;

// Data handle of every DATA_B3_REQ the program sends.
inline constexpr std::uint16_t kDataHandle = 0xABCD;

}  // namespace tolvar
