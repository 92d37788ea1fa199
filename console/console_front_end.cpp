#include "console/console_front_end.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

#include "console/console_dmail.h"
#include "console/sms_commands.h"
#include "core/ascii_run.h"
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
    AppendText(out, text);
}

void ConsoleFrontEnd::AppendLogLine(std::string& out, std::string_view number,
                                    std::string_view text) {
    out += "protokoll ";
    out += number;
    out += ": ";
    AppendText(out, text);
}

void ConsoleFrontEnd::AppendText(std::string& out, std::string_view text) {
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

bool ConsoleFrontEnd::ControlChecked(Control control) const {
    const auto it = checked_.find(control);
    return it != checked_.end() && it->second;
}

void ConsoleDevices::Notify(std::uint32_t id, const Notification& notification) {
    std::string text = notification.summary;
    if (!notification.body.empty()) text += "\n" + notification.body;
    out_.Emit("notify", text);
    // One that expires on its own is never withdrawn.
    if (notification.expireMs == 0)
        shown_[id] = text;
    else
        shown_.erase(id);
}

void ConsoleDevices::Withdraw(std::uint32_t id) {
    const auto it = shown_.find(id);
    if (it == shown_.end()) return;
    out_.Emit("notify-close", it->second);
    shown_.erase(it);
}

void ConsoleFrontEnd::LogLoaded(const LineStore& lines) {
    // Written in large blocks, not line by line, from one buffer used again:
    // a buffer for the whole log would cost as much in fresh memory as the
    // writing itself.
    constexpr std::size_t kBlock = 256 * 1024;
    constexpr std::string_view kChannel = "protokoll ";
    // Slack behind a block: a line's bytes are copied sixteen at a time, and
    // its number in a piece of fixed size.
    const auto buffer = std::make_unique_for_overwrite<char[]>(kBlock + 64);
    // The lines lie one after the other in one buffer: each line's scan may
    // read on into the next.
    const char* const textEnd = lines.Bytes().data() + lines.Bytes().size();
    std::size_t used = 0;
    const auto write = [&](const char* data, std::size_t size) {
        out_.write(data, static_cast<std::streamsize>(size));
    };
    // The line number, counted up in its digits. Up to eight digits they are
    // kept in a word too and written with one store: digits stored a byte at
    // a time and read back as a whole stall the copy of every line.
    constexpr bool kWord = std::endian::native == std::endian::little;
    char number[24] = {'0'};
    std::size_t digits = 1;
    std::uint64_t word = '0';
    const auto inWord = [&] { return kWord && digits <= 8; };
    const auto syncNumber = [&] {
        if (inWord()) std::memcpy(number, &word, sizeof word);
    };
    const auto countUp = [&] {
        const std::size_t shift = 8 * (digits - 1);
        if (inWord() && (word >> shift & 0xFF) != '9') {
            word += std::uint64_t{1} << shift;
            return;
        }
        // A carry: counted in the digits, then taken into the word again.
        syncNumber();
        std::size_t i = digits;
        while (i > 0 && number[i - 1] == '9') number[--i] = '0';
        if (i > 0) {
            ++number[i - 1];
        } else {
            std::copy_backward(number, number + digits, number + digits + 1);
            number[0] = '1';
            ++digits;
        }
        std::memcpy(&word, number, sizeof word);
    };
    for (std::size_t i = 0; i < lines.size(); ++i, countUp()) {
        const std::string_view line = lines[i];
        const std::size_t size = kChannel.size() + digits + 2 + line.size() + 1;
        if (used + size > kBlock && used > 0) {
            write(buffer.get(), used);
            used = 0;
        }
        if (size <= kBlock) {
            // The usual case: copied and checked in one pass.
            // Pieces of a size known here are copied without a call.
            char* p = buffer.get() + used;
            std::memcpy(p, kChannel.data(), kChannel.size());
            p += kChannel.size();
            if (inWord())
                std::memcpy(p, &word, sizeof word);
            else
                std::memcpy(p, number, sizeof number);
            p += digits;
            std::memcpy(p, ": ", 2);
            p += 2;
            const std::size_t plain = ascii::RunWithin<true>(line, textEnd, p);
            if (plain == line.size() || IsCleanText(line.substr(plain))) {
                std::copy(line.begin() + static_cast<std::ptrdiff_t>(plain), line.end(), p + plain);
                p[line.size()] = '\n';
                used += size;
                continue;
            }
        }
        // Rare: a line too long for the buffer, or one that needs escaping.
        if (used > 0) write(buffer.get(), used);
        used = 0;
        std::string one;
        syncNumber();
        AppendLogLine(one, std::string_view(number, digits), line);
        one += '\n';
        write(one.data(), one.size());
    }
    write(buffer.get(), used);
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

// Every command with its arguments and what it does, as "help" lists them.
constexpr std::pair<const char*, const char*> kCommands[] = {
    {"show [PAGE]", "show the window (on the page PAGE, by its caption)"},
    {"hide", "the close box: hide the window, save the rules"},
    {"page PAGE", "switch to the page PAGE"},
    {"sms-to TEXT", "fill the SMS receiver box"},
    {"sms-text TEXT", "fill the SMS message field"},
    {"sms-send", "press \"SMS senden\""},
    {"dmail-to TEXT", "fill the D-Mail receiver box"},
    {"dmail-text TEXT", "fill the D-Mail message field"},
    {"dmail-msn TEXT", "fill the D-Mail own-number field"},
    {"dmail-send", "press \"D-Mail senden\""},
    {"escape", "the Escape key (cancels a D-Mail being sent)"},
    {"copy N", "select event-log line N, \"Nummern kopieren\""},
    {"clear-log", "\"Ereignisprotokoll löschen\" (the file goes to the trash)"},
    {"help", "this list"},
    {"quit", "\"Beenden\": save what the window shows, end the program"},
};

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

    if (word == "help" && arg.empty()) {
        for (const auto& [usage, what] : kCommands) {
            std::string padded = usage;
            padded.resize(std::max<std::size_t>(padded.size() + 1, 17), ' ');
            out << "help: " << padded << what << '\n';
        }
        out << std::flush;
        return true;
    }
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
    if (const auto done = ExecuteDMailCommand(engine, word, arg, out)) return *done;
    if (word == "escape" && arg.empty()) return engine.Guard([&] { engine.FormKeyDownEscape(); });
    if (word == "quit" && arg.empty()) return engine.Guard([&] { engine.cmQuitClick(); });
    if (const auto sms = ExecuteSmsCommand(engine, word, arg, out)) return *sms;
    return fail("unknown command \"" + line + "\"");
}

}  // namespace tolvar
