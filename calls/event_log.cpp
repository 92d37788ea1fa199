#include "calls/event_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "core/charset.h"
#include "core/clock.h"
#include "core/front_end.h"
#include "core/trash.h"

namespace tolvar {

namespace {

// The next line of text from start on, without its CR LF or LF; start moves
// past its end. clean: the line is printable ASCII, as the pass that found
// its end saw.
std::string_view NextLine(std::string_view text, std::size_t& start, bool& clean) {
    const std::size_t from = start;
    std::size_t end = from + PrintableAsciiRun(text.substr(from));
    clean = true;
    if (end + 1 < text.size() && text[end] == '\r' && text[end + 1] == '\n') {
        start = end + 2;
        return text.substr(from, end - from);
    }
    if (end == text.size() || text[end] == '\n') {
        start = end + 1;
        return text.substr(from, end - from);
    }
    // Not plain ASCII: the end is looked for the usual way, the line closer.
    clean = false;
    const void* nl = std::memchr(text.data() + end, '\n', text.size() - end);
    end = nl ? static_cast<std::size_t>(static_cast<const char*>(nl) - text.data()) : text.size();
    start = end + 1;
    std::string_view line = text.substr(from, end - from);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
}

void AppendCleaned(LineStore& lines, std::string_view line, bool clean) {
    if (clean || IsCleanText(line)) {
        lines.Append(line);
        return;
    }
    const std::string raw(line);
    lines.Append(ReplaceControlCharacters(IsValidUtf8(raw) ? raw : Cp1252ToUtf8(raw)));
}

// Room for the offsets of a file's lines, guessed from its size (an event log
// line is some fifty bytes); the store grows if there are more.
std::size_t LinesGuess(std::size_t bytes) {
    return bytes / 40 + 16;
}

}  // namespace

LineStore SplitTextLines(std::string_view text) {
    LineStore lines("\r\n");
    // Sized for the text, so that loading leaves little spare room; a line
    // that is not clean text may grow, and the store grows with it.
    lines.Reserve(text.size() + LinesGuess(text.size()), LinesGuess(text.size()));
    bool clean;
    for (std::size_t start = 0; start < text.size();) {
        const std::string_view line = NextLine(text, start, clean);
        AppendCleaned(lines, line, clean);
    }
    lines.ShrinkToFit();
    return lines;
}

std::optional<LineStore> ReadTextLines(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    const bool sized = ::fstat(fd, &st) == 0 && st.st_size > 0;
    // Read in one go (with room to see the end; more only if the file grew
    // meanwhile) straight into the store's buffer, where the lines are then
    // cut: a clean line ending in CR LF stays where it is, others move once.
    LineStore lines("\r\n");
    std::size_t room = (sized ? static_cast<std::size_t>(st.st_size) : 0) + 4096;
    char* raw = lines.Room(room);
    std::size_t got = 0;
    for (;;) {
        if (got == room) raw = lines.Room(room *= 2);
        const ssize_t n = ::read(fd, raw + got, room - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    const std::string_view text(raw, got);
    lines.Reserve(0, LinesGuess(got));
    bool clean;
    for (std::size_t start = 0; start < text.size();) {
        // The clean lines of a file the log wrote, in one go; a line that
        // needs a closer look (control characters, not UTF-8, or not ending in
        // CR LF) below.
        start = lines.TakeCleanLines(text.size());
        if (start >= text.size()) break;
        const std::size_t at = start;
        const std::string_view line = NextLine(text, start, clean);
        if ((clean || IsCleanText(line)) &&
            lines.AppendFromRoom(static_cast<std::size_t>(line.data() - raw), line.size(),
                                 std::min(start, room)))
            continue;
        // A cleaned line, or one that ends in LF alone, may be longer than the
        // room it leaves: the rest of the file goes the usual way, from a copy.
        const std::string rest(text.substr(at));
        for (std::size_t from = 0; from < rest.size();) {
            const std::string_view next = NextLine(rest, from, clean);
            AppendCleaned(lines, next, clean);
        }
        break;
    }
    lines.ShrinkToFit();
    return lines;
}

EventLog::EventLog(FrontEnd& ui, Dialogs& dialogs, Clock& clock, std::string path,
                   std::function<void(std::function<void()>)> post)
    : ui_(ui),
      dialogs_(dialogs),
      clock_(clock),
      path_(std::move(path)),
      self_(std::make_shared<EventLog*>(this)),
      writer_(path_, [post = std::move(post), self = std::weak_ptr<EventLog*>(self_)] {
          if (post)
              post([self] {
                  if (auto log = self.lock()) (*log)->CollectWriteOutcome();
              });
      }) {}

// The writer finishes what it was given before the log goes, and a reading
// that Load never took ends first.
EventLog::~EventLog() = default;

void EventLog::StartReading() {
    reading_ = std::async(std::launch::async, [path = path_] { return ReadTextLines(path); });
}

void EventLog::Load() {
    lines_ = (reading_.valid() ? reading_.get() : ReadTextLines(path_)).value_or(LineStore("\r\n"));
    changedSinceWrite_ = false;
    lastLogDate_ = 0;
    for (std::size_t i = lines_.size(); i-- > 0;) {
        const std::string_view line = lines_[i];
        if (line.empty() || line.front() != '[') continue;
        // A header that is no date (edited by hand) counts as none: the next
        // call then writes a fresh header.
        if (line.size() >= 2)
            if (auto date = ParseShortDate(std::string(line.substr(1, line.size() - 2))))
                lastLogDate_ = DayNumber(*date);
        break;
    }
    ui_.LogLoaded(lines_);
}

int EventLog::AppendLine(const std::string& text) {
    const std::string line = ReplaceControlCharacters(text);
    lines_.Append(line);
    changedSinceWrite_ = true;
    const int index = static_cast<int>(lines_.size()) - 1;
    ui_.LogLineSet(index, line, true);
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
    const std::string line = ReplaceControlCharacters(text);
    lines_.Replace(static_cast<std::size_t>(index), line);
    changedSinceWrite_ = true;
    ui_.LogLineSet(index, line, false);
}

void EventLog::WriteFile() {
    // A write that ended since the last one is reported before this one starts.
    CollectWriteOutcome();
    changedSinceWrite_ = false;
    // The store's buffer is the whole file, CR LF, as it always was; the
    // writer writes it from a snapshot (the list may change meanwhile) in one
    // call, with no copy made here.
    writer_.Submit([snapshot = lines_.Share()] { return snapshot.Bytes(); });
}

bool EventLog::FinishWrites() {
    writer_.Finish();
    CollectWriteOutcome();
    return fileUpToDate_;
}

void EventLog::SaveAtExit() {
    // A failed last write is tried once more as well.
    if (!FinishWrites() || changedSinceWrite_) {
        WriteFile();
        FinishWrites();
    }
}

void EventLog::CollectWriteOutcome() {
    const AsyncFileWriter::Outcome outcome = writer_.TakeOutcome();
    if (!outcome.any) return;
    fileUpToDate_ = outcome.lastSucceeded;
    if (outcome.firstError && !writeFailureReported_) {
        // Set first: the box may run other events meanwhile.
        writeFailureReported_ = true;
        dialogs_.MessageBox(Dialogs::Kind::Error, *outcome.firstError);
    }
    if (outcome.lastSucceeded) writeFailureReported_ = false;
}

std::optional<std::string> EventLog::NumbersOf(int index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= lines_.size()) return std::nullopt;
    const std::string_view line = lines_[static_cast<std::size_t>(index)];
    const auto lastDigit = line.find_last_of("0123456789");
    if (lastDigit == std::string::npos) return std::nullopt;
    // Position 12 counts characters, not bytes.
    std::size_t chars = 0, start = std::string::npos;
    for (std::size_t i = 0; i <= lastDigit; ++i) {
        if ((static_cast<unsigned char>(line[i]) & 0xC0) == 0x80) continue;
        if (++chars == 12) start = i;
    }
    if (start == std::string::npos) return std::nullopt;
    return std::string(line.substr(start, lastDigit - start + 1));
}

void EventLog::Clear() {
    // Every write asked for ends first: the file that goes holds the list as
    // it was last saved, and no write brings it back afterwards.
    writer_.Finish();
    CollectWriteOutcome();
    struct stat st {};
    std::string kept;
    if (::lstat(path_.c_str(), &st) == 0) {
        // Something else under the log's name is not the user's log.
        if (S_ISDIR(st.st_mode)) {
            dialogs_.MessageBox(Dialogs::Kind::Error, path_ + ": " + std::strerror(EISDIR));
            return;
        }
        if (MoveToTrash(path_, clock_.Now(), homeTrash_.empty() ? HomeTrashPath() : homeTrash_,
                        homeTrash_.empty())) {
            kept = kClearedToTrashText;
        } else {
            // No trash on the log's file system: one copy stays beside it.
            const std::string backup = path_ + ".bak";
            if (::rename(path_.c_str(), backup.c_str()) != 0) {
                dialogs_.MessageBox(Dialogs::Kind::Error, std::strerror(errno));
                return;
            }
            kept = std::string(kClearedToBackupText) + backup + ".";
        }
    } else if (errno != ENOENT) {
        // A log that was never written has no file to keep: that is no failure.
        dialogs_.MessageBox(Dialogs::Kind::Error, std::strerror(errno));
        return;
    }
    lines_.Clear();
    changedSinceWrite_ = false;
    ui_.LogCleared();
    if (!kept.empty()) dialogs_.MessageBox(Dialogs::Kind::Information, kept);
}

}  // namespace tolvar
