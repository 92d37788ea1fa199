#pragma once
// TAP: wake-up, logon, one block with the receiver and the text, logoff.

#include <cstdint>
#include <string>

#include "sms/dialogue.h"
#include "sms/sms_job.h"

namespace tolvar {

// Appends the block's checksum to a block from STX through ETX: the sum of
// the low 7 bits of its characters, bits 11-8, 7-4 and 3-0 each as one
// character 0x30 + value (so 10 to 15 become ":" to "?"), then CR.
void AppendTAPChecksum(std::string& block);

// The block: STX, pager id, CR, text, CR, ETX and the checksum.
std::string BuildTapBlock(const std::string& receiver, const std::string& translatedText);

class TAPStep {
  public:
    // The wake-up CR goes again only this long after the last one.
    static constexpr std::uint32_t kWakeUpMs = 1000;

    explicit TAPStep(const SmsJob& job) : job_(job) {}
    // One step, every 200 ms while the B3 link is up; tickCount is the
    // system's millisecond tick, which wraps.
    DialogueActions operator()(DialogueFields& d, std::uint32_t tickCount) const;

  private:
    const SmsJob& job_;
};

}  // namespace tolvar
