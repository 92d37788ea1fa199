#pragma once
// The console's commands for the page "D-Mail senden": dmail-to, dmail-text,
// dmail-msn fill its fields, dmail-send presses "D-Mail &senden".

#include <optional>
#include <ostream>
#include <string>

namespace tolvar {

class Engine;

// Nothing when word is no D-Mail command; otherwise whether it was carried
// out (after printing "error: ..." to out when not).
std::optional<bool> ExecuteDMailCommand(Engine& engine, const std::string& word,
                                        const std::string& arg, std::ostream& out);

}  // namespace tolvar
