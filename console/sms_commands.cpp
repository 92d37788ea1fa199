#include "console/sms_commands.h"

#include "engine/engine.h"

namespace tolvar {

std::optional<bool> ExecuteSmsCommand(Engine& engine, const std::string& word,
                                      const std::string& arg, std::ostream& out) {
    const auto fail = [&](const std::string& why) {
        out << "error: " << why << '\n' << std::flush;
        return false;
    };
    Sms& sms = engine.SMS();
    if (word == "sms-to") return engine.Guard([&] { sms.TypeReceiver(arg); });
    if (word == "sms-text") {
        if (CharacterCount(arg) > kMaxSmsCharacters)
            return fail("the message field holds at most " + std::to_string(kMaxSmsCharacters) +
                        " characters");
        return engine.Guard([&] { sms.TypeMessage(arg); });
    }
    if (word == "sms-send") {
        if (!arg.empty()) return fail("sms-send takes no argument");
        // As in the window: while an automatic SMS goes out the button is disabled.
        if (!sms.SendEnabled()) return fail("\"SMS senden\" is disabled while an SMS goes out");
        return engine.Guard([&] { sms.BtnSendSMSClick(); });
    }
    return std::nullopt;
}

}  // namespace tolvar
