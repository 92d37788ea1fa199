#include "console/console_dmail.h"

#include "dmail/dmail.h"
#include "engine/engine.h"

namespace tolvar {

namespace {

std::size_t CountCharacters(const std::string& utf8) {
    std::size_t n = 0;
    for (char c : utf8)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++n;
    return n;
}

}  // namespace

std::optional<bool> ExecuteDMailCommand(Engine& engine, const std::string& word,
                                        const std::string& arg, std::ostream& out) {
    const auto fail = [&out](const std::string& why) {
        out << "error: " << why << '\n' << std::flush;
        return false;
    };
    // While a D-Mail goes out the page does not respond, as in the window.
    const bool sending = engine.DMailState().SendState() != kSendIdle;
    if (word == "dmail-send") {
        if (!arg.empty()) return fail("dmail-send takes no argument");
        if (sending) return fail("a D-Mail is being sent");
        return engine.Guard([&] { engine.DMailState().BtnSendDMailClick(); });
    }
    Control control;
    std::size_t limit = 0;  // the field's own limit; 0: none
    if (word == "dmail-to") {
        control = Control::cbDMailReceiver;
    } else if (word == "dmail-text") {
        control = Control::edDMailSend;
        limit = kDMailMaxMessageChars;
    } else if (word == "dmail-msn") {
        control = Control::edDMailOwnMSN;
        limit = kDMailMaxOwnMsnChars;
    } else {
        return std::nullopt;
    }
    if (sending) return fail("a D-Mail is being sent");
    if (limit != 0 && CountCharacters(arg) > limit)
        return fail("the field holds at most " + std::to_string(limit) + " characters");
    return engine.Guard([&] { engine.Ui().SetControlText(control, arg); });
}

}  // namespace tolvar
