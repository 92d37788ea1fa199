#pragma once
// An SMS job: one short text to one receiver, handed to the SMS centre that
// the receiver's number prefix names in the settings. There is one job at a
// time; preparing a new one overwrites it, also while it is being sent.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tolvar {

class Registry;

inline constexpr const char* kSmsKey = "\\Software\\Brenwick\\Tolvar\\SMS";
inline constexpr const char* kSmsPrefixKey = "\\Software\\Brenwick\\Tolvar\\SMS\\Prefix";
inline constexpr const char* kSmsProviderKey = "\\Software\\Brenwick\\Tolvar\\SMS\\Provider";

inline constexpr std::int32_t kProtocolTap = 0;
inline constexpr std::int32_t kProtocolUcp = 1;

// The most characters the message field takes.
inline constexpr std::size_t kMaxSmsCharacters = 160;

using XlateTableBytes = std::array<std::uint8_t, 256>;

struct SmsJob {
    std::string SMSReceiver;     // digits: UCP recipient, TAP pager id
    std::string SMSOriginator;   // the own number, UCP originator
    std::string SMSText;         // Windows-1252 bytes, before translation
    std::string SMSCenterPhone;  // digits dialled; empty: no provider, nothing is dialled
    std::int32_t SMSProtocol = kProtocolTap;
    // The provider found for the receiver, and whether it has a table.
    std::string SMSProvider;
    bool HasXlateTable = false;
    // Entry b is the byte sent for text byte b; 0 leaves the byte out. Only a
    // provider lookup fills it, so a provider without a table keeps the
    // previous provider's (all zero at start).
    XlateTableBytes XlateTable{};
};

// The provider of the receiver number: the longest matching prefix under
// "SMS\Prefix" (of equally long ones the first in the key's order). Sets the
// job's protocol and table from the provider and returns the centre's
// "Phone", empty when there is none. A value of the wrong type raises
// RegistryError, and so does a table longer than 256 bytes.
std::string LookupSMSProvider(Registry& registry, SmsJob& job, const std::string& receiver);

// Fills the job: text (UTF-8, converted to Windows-1252 here), receiver, the
// originator from "SMS\MSN" ("0" written back when it is empty or missing)
// and the centre found for the receiver. The registry's writes reach the
// settings file together.
void PrepareSMSJob(Registry& registry, SmsJob& job, const std::string& receiver,
                   const std::string& textUtf8);

// The text as the centre gets it: each byte through the table, bytes whose
// entry is 0 left out.
std::string TranslateText(const std::string& text, const XlateTableBytes& table);

// The message field's text as one line: every line break (CR LF, LF or CR)
// becomes one blank.
std::string JoinLines(const std::string& text);

// The characters of a UTF-8 text that Windows-1252 lacks (each once, in the
// order they first appear); they are sent as "?".
std::vector<std::string> CharactersWithoutCp1252(const std::string& textUtf8);

// How many characters a UTF-8 text holds (code points; a broken byte counts as one).
std::size_t CharacterCount(const std::string& textUtf8);

// The message boxes of the page.
inline constexpr const char* kNoSmsMessage = "Keine SMS Nachricht angegeben";
extern const char* const kSmsReceiverFormatWarning;
std::string NoProviderMessage(const std::string& receiverNumber);

// Why a job with a centre to dial must not go out: its provider has no
// table, or the table leaves out every character of the text (the centre
// would get an empty message). Nothing when it may go. The short form is
// a status line, the long one a message box.
std::optional<std::string> XlateTableProblem(const SmsJob& job);
std::string XlateTableMessage(const SmsJob& job);

// Status lines of an automatic SMS given up before it is dialled.
std::string NoProviderLine(const std::string& receiverNumber);
std::string ReceiverFormatLine(const std::string& receiverEntry);

}  // namespace tolvar
