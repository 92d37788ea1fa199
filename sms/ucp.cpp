#include "sms/ucp.h"

#include "core/bytes.h"

namespace tolvar {

namespace {
constexpr char kStx = '\x02';
constexpr char kEtx = '\x03';
// Position of the answer character (A or N) in a response, counted from 0
// with STX at 0: STX, "01/", five length digits, "/R/51/".
constexpr std::size_t kAnswerAt = 15;
}  // namespace

std::string BuildUcpFrame(const std::string& receiver, const std::string& originator,
                          const std::string& translatedText) {
    std::string frame;
    frame += kStx;
    frame += "01/00000/O/51/" + receiver + "/" + originator + "/////////////////3//";
    for (char c : translatedText) frame += Hex(static_cast<std::uint8_t>(c), 2);
    frame += "/////////////";
    // LEN counts from TRN through the two checksum characters.
    std::string len = std::to_string(frame.size() + 1);
    if (len.size() < 5) len.insert(0, 5 - len.size(), '0');
    frame.replace(4, 5, len);
    unsigned sum = 0;
    for (std::size_t i = 1; i < frame.size(); ++i) sum += static_cast<std::uint8_t>(frame[i]);
    frame += Hex(sum & 0xFFu, 2);
    frame += kEtx;
    return frame;
}

DialogueActions UCPStep::operator()(DialogueFields& d) const {
    DialogueActions actions;
    if (d.SilenceTime > kSilenceLimitMs) {
        actions.push_back(DialogueAction::EndB3());
        actions.push_back(DialogueAction::Result(false, kSmsNoAnswer));
    }
    if (d.ProtocolState == 0) {
        actions.push_back(DialogueAction::Send(BuildUcpFrame(
            job_.SMSReceiver, job_.SMSOriginator, TranslateText(job_.SMSText, job_.XlateTable))));
        d.ProtocolState = 2;
        d.SilenceTime = 0;
    } else if (d.ProtocolState == 2) {
        const std::size_t etx = d.RxBuffer.find(kEtx);
        if (etx == std::string::npos) return actions;
        d.SilenceTime = 0;
        // The response is what stands up to its ETX: bytes of a next frame
        // behind it are not part of its system message.
        const std::string response = d.RxBuffer.substr(0, etx + 1);
        // The last field before the checksum: the centre's system message.
        std::string message = response.size() > 4 ? response.substr(0, response.size() - 4) : "";
        if (const auto slash = message.rfind('/'); slash != std::string::npos)
            message.erase(0, slash + 1);
        if (!message.empty()) actions.push_back(DialogueAction::Trace(message));
        // A response too short to hold an answer is neither "A" nor "N".
        if (response.size() > kAnswerAt) {
            if (response[kAnswerAt] == 'A')
                actions.push_back(DialogueAction::Result(true, kSmsSent));
            else if (response[kAnswerAt] == 'N')
                actions.push_back(DialogueAction::Result(false, kSmsFailed));
        }
        d.RxBuffer.erase(0, etx + 1);
        actions.push_back(DialogueAction::EndB3());
    }
    return actions;
}

}  // namespace tolvar
