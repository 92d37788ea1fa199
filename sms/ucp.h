#pragma once
// UCP: one operation 51 (submit short message) and its response.

#include <string>

#include "sms/dialogue.h"
#include "sms/sms_job.h"

namespace tolvar {

// The operation-51 frame: STX, TRN "01", LEN, "O", "51", recipient,
// originator, sixteen empty fields, message type "3", an empty NB, the text
// as upper-case hexadecimal, twelve empty fields, checksum, ETX. No field is
// limited in length or content.
std::string BuildUcpFrame(const std::string& receiver, const std::string& originator,
                          const std::string& translatedText);

class UCPStep {
  public:
    explicit UCPStep(const SmsJob& job) : job_(job) {}
    // One step, every 200 ms while the B3 link is up.
    DialogueActions operator()(DialogueFields& d) const;

  private:
    const SmsJob& job_;
};

}  // namespace tolvar
