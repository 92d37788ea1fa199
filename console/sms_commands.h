#pragma once
// The console's commands for the page "SMS senden".

#include <optional>
#include <ostream>
#include <string>

namespace tolvar {

class Engine;

// Runs "sms-to TEXT", "sms-text TEXT" or "sms-send". Nothing when word is
// none of them; otherwise whether the command was carried out (after
// printing "error: ..." to out when not).
std::optional<bool> ExecuteSmsCommand(Engine& engine, const std::string& word,
                                      const std::string& arg, std::ostream& out);

}  // namespace tolvar
