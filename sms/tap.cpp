#include "sms/tap.h"

#include <optional>

namespace tolvar {

namespace {

constexpr char kStx = '\x02', kEtx = '\x03', kEot = '\x04', kAck = '\x06', kCr = '\r',
               kNak = '\x15', kEsc = '\x1B', kRs = '\x1E';

const std::string kLogon = std::string(1, kEsc) + "PG1" + kCr;
const std::string kGoAhead = std::string(1, kEsc) + "[p" + kCr;
const std::string kLogoff = std::string(1, kEot) + kCr;
const std::string kGoodbye = std::string{kCr, kEsc, kEot, kCr};

// The text of the centre's line before position at (0-based), without the
// CR that ends it.
void TraceBefore(const DialogueFields& d, std::size_t at, DialogueActions& actions) {
    if (at > 1) actions.push_back(DialogueAction::Trace(d.RxBuffer.substr(0, at - 1)));
}

// An answer CR x CR, looked for as ACK, then NAK, then RS: the first kind
// found is taken, wherever it stands. Consumes it and what stands before it;
// its kind (the middle character) or nothing.
std::optional<char> TakeAnswer(DialogueFields& d, DialogueActions& actions) {
    for (char kind : {kAck, kNak, kRs}) {
        const std::size_t at = d.RxBuffer.find(std::string{kCr, kind, kCr});
        if (at == std::string::npos) continue;
        d.SilenceTime = 0;
        TraceBefore(d, at, actions);
        d.RxBuffer.erase(0, at + 3);
        return kind;
    }
    return std::nullopt;
}

}  // namespace

void AppendTAPChecksum(std::string& block) {
    unsigned sum = 0;
    for (char c : block) sum += static_cast<std::uint8_t>(c) & 0x7Fu;
    for (int shift : {8, 4, 0}) block += static_cast<char>(0x30 + ((sum >> shift) & 0xFu));
    block += kCr;
}

std::string BuildTapBlock(const std::string& receiver, const std::string& translatedText) {
    std::string block;
    block += kStx;
    block += receiver;
    block += kCr;
    block += translatedText;
    block += kCr;
    block += kEtx;
    AppendTAPChecksum(block);
    return block;
}

DialogueActions TAPStep::operator()(DialogueFields& d, std::uint32_t tickCount) const {
    DialogueActions actions;
    if (d.SilenceTime > kSilenceLimitMs) {
        actions.push_back(DialogueAction::EndB3());
        actions.push_back(DialogueAction::Result(false, kSmsNoAnswer));
    }
    switch (d.ProtocolState) {
        case 0: {  // waiting for the logon prompt
            // Compared as a signed distance, so the tick count's wrap does not
            // stop the wake-up CRs.
            if (!d.NextCRTick || static_cast<std::int32_t>(tickCount - *d.NextCRTick) > 0) {
                actions.push_back(DialogueAction::Send(std::string(1, kCr)));
                d.NextCRTick = tickCount + kWakeUpMs;
            }
            const std::size_t prompt = d.RxBuffer.find("ID=");
            if (prompt != std::string::npos) {
                d.SilenceTime = 0;
                d.ProtocolState = 1;
                d.RxBuffer.erase(0, prompt + 3);
                actions.push_back(DialogueAction::Send(kLogon));
            }
            break;
        }
        case 1: {  // logon sent
            if (const auto answer = TakeAnswer(d, actions); answer && *answer != kAck)
                actions.push_back(DialogueAction::EndB3());
            const std::size_t goAhead = d.RxBuffer.find(kGoAhead);
            if (goAhead != std::string::npos) {
                d.SilenceTime = 0;
                d.RxBuffer.erase(0, goAhead + kGoAhead.size());
                actions.push_back(DialogueAction::Send(
                    BuildTapBlock(job_.SMSReceiver, TranslateText(job_.SMSText, job_.XlateTable))));
                d.ProtocolState = 2;
            }
            break;
        }
        case 2:  // block sent
            if (const auto answer = TakeAnswer(d, actions)) {
                actions.push_back(*answer == kAck ? DialogueAction::Result(true, kSmsSent)
                                                  : DialogueAction::Result(false, kSmsFailed));
                actions.push_back(DialogueAction::Send(kLogoff));
                d.ProtocolState = 3;
            }
            break;
        case 3: {  // logoff sent
            const std::size_t bye = d.RxBuffer.find(kGoodbye);
            if (bye != std::string::npos) {
                d.SilenceTime = 0;
                TraceBefore(d, bye, actions);
                d.RxBuffer.erase(0, bye + kGoodbye.size());
                actions.push_back(DialogueAction::EndB3());
            }
            break;
        }
        default:
            break;
    }
    return actions;
}

}  // namespace tolvar
