#include "console/console_front_end.h"

#include "engine/engine.h"

namespace tolvar {

ConsoleFrontEnd::ConsoleFrontEnd(std::ostream& out, std::function<void()> quit)
    : out_(out), quit_(std::move(quit)) {}

void ConsoleFrontEnd::Emit(const std::string& channel, const std::string& text) {
    std::string line = channel + ": ";
    for (char c : text) {
        if (c == '\r')
            line += "\\r";
        else if (c == '\n')
            line += "\\n";
        else
            line += c;
    }
    out_ << line << '\n' << std::flush;
}

namespace {

std::string Trim(const std::string& s) {
    const auto first = s.find_first_not_of(" \t\r");
    if (first == std::string::npos) return "";
    const auto last = s.find_last_not_of(" \t\r");
    return s.substr(first, last - first + 1);
}

}  // namespace

bool ExecuteConsoleCommand(Engine& engine, const std::string& rawLine, std::ostream& out) {
    const std::string line = Trim(rawLine);
    if (line.empty()) return true;
    const auto space = line.find(' ');
    const std::string word = line.substr(0, space);
    const std::string arg = space == std::string::npos ? "" : Trim(line.substr(space + 1));

    const auto fail = [&](const std::string& why) {
        out << "error: " << why << '\n' << std::flush;
        return false;
    };
    const auto page = [&](std::optional<Page>& result) {
        result = PageByCaption(arg);
        if (!result) return fail("unknown page \"" + arg + "\"");
        if (*result == Page::ISDN && !engine.IsdnTabVisible()) return fail("the page \"ISDN\" is hidden");
        return true;
    };

    if (word == "show") {
        std::optional<Page> p;
        if (!arg.empty() && !page(p)) return false;
        return engine.Guard([&] { engine.ShowWindow(p); });
    }
    if (word == "hide" && arg.empty()) return engine.Guard([&] { engine.cmCloseClick(); });
    if (word == "page") {
        std::optional<Page> p;
        if (arg.empty()) return fail("page needs a page caption");
        if (!page(p)) return false;
        return engine.Guard([&] { engine.SetActivePage(*p); });
    }
    if (word == "quit" && arg.empty()) return engine.Guard([&] { engine.cmQuitClick(); });
    return fail("unknown command \"" + line + "\"");
}

}  // namespace tolvar
