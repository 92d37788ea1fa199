#include "calls/event_log.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "core/atomic_file.h"
#include "core/charset.h"
#include "core/clock.h"
#include "core/front_end.h"

namespace tolvar {

std::optional<std::vector<std::string>> ReadTextLines(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::stringstream ss;
    ss << in.rdbuf();
    const std::string data = ss.str();
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < data.size()) {
        std::size_t end = data.find('\n', start);
        const bool last = end == std::string::npos;
        if (last) end = data.size();
        std::string line = data.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(ReplaceControlCharacters(IsValidUtf8(line) ? line : Cp1252ToUtf8(line)));
        start = end + 1;
    }
    return lines;
}

EventLog::EventLog(FrontEnd& ui, Dialogs& dialogs, Clock& clock, std::string path)
    : ui_(ui), dialogs_(dialogs), clock_(clock), path_(std::move(path)) {}

void EventLog::Load() {
    lines_ = ReadTextLines(path_).value_or(std::vector<std::string>{});
    lastLogDate_ = 0;
    for (auto it = lines_.rbegin(); it != lines_.rend(); ++it) {
        if (it->empty() || it->front() != '[') continue;
        // A header that is no date (edited by hand) counts as none: the next
        // call then writes a fresh header.
        if (it->size() >= 2)
            if (auto date = ParseShortDate(it->substr(1, it->size() - 2)))
                lastLogDate_ = DayNumber(*date);
        break;
    }
    ui_.LogLoaded(lines_);
}

int EventLog::AppendLine(const std::string& text) {
    lines_.push_back(ReplaceControlCharacters(text));
    const int index = static_cast<int>(lines_.size()) - 1;
    ui_.LogLineSet(index, lines_.back(), true);
    return index;
}

void EventLog::DateHeaderRule() {
    const DateTime now = clock_.Now();
    if (now.day == lastLogDate_) return;
    AppendLine("");
    // Built by appending: g++ 12 at -O3 takes "[" + std::string (an insert at
    // the front of a temporary) for an overlapping copy (-Wrestrict).
    std::string header = "[";
    header += FormatShortDate(now.Date());
    header += ']';
    AppendLine(header);
    lastLogDate_ = now.day;
}

void EventLog::ReplaceLine(int index, const std::string& text) {
    if (index < 0 || static_cast<std::size_t>(index) >= lines_.size()) return;
    std::string& line = lines_[static_cast<std::size_t>(index)];
    line = ReplaceControlCharacters(text);
    ui_.LogLineSet(index, line, false);
}

bool EventLog::WriteFile() {
    std::string text;
    for (const auto& l : lines_) text += l + "\r\n";
    if (auto error = WriteFileAtomically(path_, text)) {
        if (!writeFailureReported_) dialogs_.MessageBox(Dialogs::Kind::Error, *error);
        writeFailureReported_ = true;
        return false;
    }
    writeFailureReported_ = false;
    return true;
}

std::optional<std::string> EventLog::NumbersOf(int index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= lines_.size()) return std::nullopt;
    const std::string& line = lines_[static_cast<std::size_t>(index)];
    const auto lastDigit = line.find_last_of("0123456789");
    if (lastDigit == std::string::npos) return std::nullopt;
    // Position 12 counts characters, not bytes.
    std::size_t chars = 0, start = std::string::npos;
    for (std::size_t i = 0; i <= lastDigit; ++i) {
        if ((static_cast<unsigned char>(line[i]) & 0xC0) == 0x80) continue;
        if (++chars == 12) start = i;
    }
    if (start == std::string::npos) return std::nullopt;
    return line.substr(start, lastDigit - start + 1);
}

void EventLog::Clear() {
    // A log that was never written has no file to delete: that is no failure.
    if (::unlink(path_.c_str()) != 0 && errno != ENOENT) {
        dialogs_.MessageBox(Dialogs::Kind::Error, std::strerror(errno));
        return;
    }
    lines_.clear();
    ui_.LogCleared();
}

}  // namespace tolvar
