#pragma once
// SMS centres as far ends of a data call: pure dialogues that are fed the
// bytes the caller sends and return what the centre answers. Each checks
// what it receives (length, checksum, field layout) and records the messages
// it accepted.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "line/wire.h"

namespace tolvar::line {

enum class SmscProtocol { Ucp, Tap };

// What the centre does with a submitted message.
enum class SmscOutcome { Accept, Reject, Silence };

struct SmscConfig {
    std::string number;
    SmscProtocol protocol = SmscProtocol::Ucp;
    SmscOutcome outcome = SmscOutcome::Accept;
    // UCP: the system message of a positive answer (empty: recipient ":"
    // time stamp, as centres do). TAP: a text line sent before the answer.
    std::string message;
    // UCP: the error code of a negative answer.
    std::string error_code = "02";
    // TAP: the answer to a refused block or logon: NAK or RS.
    bool tap_reject_with_rs = false;
    // TAP: how the centre answers the logon.
    SmscOutcome logon = SmscOutcome::Accept;
    bool busy = false;
};

struct AcceptedSms {
    std::string centre;
    std::string recipient;
    std::string originator;  // UCP only
    Bytes text;
};

class SmscDialog {
  public:
    using Note = std::function<void(const std::string&)>;
    virtual ~SmscDialog() = default;
    // Bytes from the caller; returns the centre's answer (possibly empty).
    virtual Bytes Receive(const Bytes& data) = 0;
    // The centre ended the session (TAP goodbye sent).
    virtual bool finished() const { return false; }
};

// Makes the dialogue for one call. note receives every check that failed and
// every decision; accepted receives each accepted message. timestamp gives
// the service-centre time stamp (DDMMYYhhmmss) for UCP answers.
std::unique_ptr<SmscDialog> MakeSmscDialog(const SmscConfig& config, SmscDialog::Note note,
                                           std::function<void(AcceptedSms)> accepted,
                                           std::function<std::string()> timestamp);

// UCP framing, exposed for tests: STX, body with LEN filled in, checksum, ETX.
// body is everything from TRN through the "/" before the checksum, with the
// LEN field written as "00000".
Bytes UcpFrame(std::string body);
// The TAP block checksum: three characters and CR.
std::string TapChecksum(const Bytes& block_stx_to_etx);

}  // namespace tolvar::line
