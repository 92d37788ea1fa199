#include "console/console_front_end.h"

#include <climits>
#include <cstdint>
#include <cstdlib>

#include "core/charset.h"
#include "core/line_store.h"
#include "engine/engine.h"

namespace tolvar {

ConsoleFrontEnd::ConsoleFrontEnd(std::ostream& out, std::function<void()> quit)
    : out_(out), quit_(std::move(quit)) {}

void ConsoleFrontEnd::AppendLine(std::string& out, std::string_view channel,
                                 std::string_view text) {
    out += channel;
    out += ": ";
    if (IsCleanText(text)) {
        out += text;
        return;
    }
    for (char c : ReplaceControlCharacters(std::string(text), "\r\n")) {
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
}

void ConsoleFrontEnd::Emit(const std::string& channel, const std::string& text) {
    std::string line;
    AppendLine(line, channel, text);
    line += '\n';
    out_.write(line.data(), static_cast<std::streamsize>(line.size()));
    out_.flush();
}

void ConsoleFrontEnd::AppendIsdnTrace(const LineStore& trace) {
    Emit("isdn", std::string(trace.back()));
}

void ConsoleFrontEnd::AppendStatusLine(StatusList list, const std::string& text, bool marked) {
    switch (list) {
        case StatusList::SmsTrace:
            Emit("sms", text);
            break;
        case StatusList::DMailStatus:
            Emit("dmail", text);
            break;
        case StatusList::DMailLog:
            Emit(marked ? "dmail-log sent" : "dmail-log", text);
            break;
    }
}

void ConsoleFrontEnd::ClearStatusList(StatusList list) {
    switch (list) {
        case StatusList::SmsTrace:
            Emit("sms-clear", "");
            break;
        case StatusList::DMailStatus:
            Emit("dmail-clear", "");
            break;
        case StatusList::DMailLog:
            break;  // the message log is cleared only by the user, in the window
    }
}

std::string ConsoleFrontEnd::ControlText(Control control) const {
    const auto it = texts_.find(control);
    return it == texts_.end() ? std::string() : it->second;
}

void ConsoleFrontEnd::SetControlText(Control control, const std::string& text) {
    texts_[control] = text;
}

ConsoleDevices::ConsoleDevices(ConsoleFrontEnd& out, std::function<bool(const std::string&)> start)
    : out_(out), start_(std::move(start)) {}

bool ConsoleDevices::Start(const std::string& commandLine) {
    const bool started = start_ && start_(commandLine);
    if (started) out_.Emit("exec", commandLine);
    return started;
}

void ConsoleFrontEnd::LogLoaded(const LineStore& lines) {
    std::string block;
    // "protokoll " + up to 7 digits + ": " and the line end around each line.
    block.reserve(lines.TextBytes() + lines.size() * 20);
    std::string channel = "protokoll ";
    for (std::size_t i = 0; i < lines.size(); ++i) {
        channel.resize(10);
        channel += std::to_string(i);
        AppendLine(block, channel, lines[i]);
        block += '\n';
    }
    out_.write(block.data(), static_cast<std::streamsize>(block.size()));
    out_.flush();
}

void ConsoleFrontEnd::SetTrayTip(const std::string& tip) {
    if (tip == tip_) return;
    tip_ = tip;
    Emit("tray", tip);
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
        if (*result == Page::ISDN && !engine.IsdnTabVisible())
            return fail("the page \"ISDN\" is hidden");
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
    if (word == "copy") {
        char* end = nullptr;
        const long n = std::strtol(arg.c_str(), &end, 10);
        if (arg.empty() || *end != '\0' || !engine.CanCopyNumbers(static_cast<int>(n)) ||
            n > INT32_MAX)
            return fail("copy needs the number of an event-log line");
        return engine.Guard([&] { engine.CopyNumbers(static_cast<int>(n)); });
    }
    if (word == "clear-log" && arg.empty())
        return engine.Guard([&] { engine.cmClearProtokollClick(); });
    if (word == "escape" && arg.empty()) return engine.Guard([&] { engine.FormKeyDownEscape(); });
    if (word == "quit" && arg.empty()) return engine.Guard([&] { engine.cmQuitClick(); });
    return fail("unknown command \"" + line + "\"");
}

}  // namespace tolvar
