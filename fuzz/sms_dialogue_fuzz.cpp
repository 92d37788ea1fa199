// What an SMS centre sends, of any content and cut anywhere: the UCP and TAP
// dialogues take it a piece per tick, never read past what they got, consume
// only what they have, and stay in their states.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <numeric>

#include "sms/tap.h"
#include "sms/ucp.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    tolvar::SmsJob job;
    job.SMSReceiver = "0171234567";
    job.SMSOriginator = "0";
    job.SMSText = "abc\xE4";
    std::iota(job.XlateTable.begin(), job.XlateTable.end(), 0);
    const bool ucp = data[0] & 1;
    // The tick count starts anywhere, so the wrap is reached too.
    std::uint32_t tick = 0xFFFFFFFFu - data[1] * 100u;
    tolvar::DialogueFields d;
    std::size_t at = 2;
    while (at < size) {
        // A length byte, then that many bytes as one DATA_B3_IND.
        const std::size_t n = std::min<std::size_t>(data[at], size - at - 1);
        const std::size_t before = d.RxBuffer.size();
        d.RxBuffer.append(reinterpret_cast<const char*>(data + at + 1), n);
        at += 1 + n;
        d.SilenceTime += 200;
        tick += 200;
        const auto actions = ucp ? tolvar::UCPStep(job)(d) : tolvar::TAPStep(job)(d, tick);
        if (d.RxBuffer.size() > before + n) std::abort();
        if (d.ProtocolState < 0 || d.ProtocolState > 3) std::abort();
        for (const auto& a : actions)
            if (a.kind == tolvar::DialogueAction::Kind::Send && a.bytes.empty()) std::abort();
    }
    return 0;
}
