#pragma once
// The event log: one line per monitored call and per received D-Mail, grouped
// under date headers, kept in "Tolvar.txt" so that it survives a restart.

#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>

#include "core/async_file_writer.h"
#include "core/datetime.h"
#include "core/line_store.h"
#include "core/trash.h"

namespace tolvar {

class Clock;
class Dialogs;
class FrontEnd;

inline constexpr const char* kEventLogFile = "Tolvar.txt";
inline constexpr const char* kClearedToTrashText =
    "Das Ereignisprotokoll wurde in den Papierkorb verschoben.";
// Followed by the backup's path and a full stop.
inline constexpr const char* kClearedToBackupText =
    "Es gibt keinen Papierkorb. Das alte Ereignisprotokoll liegt jetzt in ";

class EventLog {
  public:
    // post hands a function to this thread from any thread: the news that the
    // writer thread has finished a write. Without it the outcome is learnt at
    // the next write or at FinishWrites.
    EventLog(FrontEnd& ui, Dialogs& dialogs, Clock& clock, std::string path = kEventLogFile,
             std::function<void(std::function<void()>)> post = {});
    ~EventLog();
    EventLog(const EventLog&) = delete;
    EventLog& operator=(const EventLog&) = delete;

    // Start-up: the file's lines become the list, LastLogDate comes from the
    // last header line, the last line is selected.
    void Load();
    // Starts reading the file on a thread of its own, so that it is read while
    // start-up does other things; Load takes what it read.
    void StartReading();

    // Lines are kept without control characters (see ReplaceControlCharacters):
    // no text from the line, a settings file or an old file can start a line.
    // Adds a line, selects it and returns its index.
    int AppendLine(const std::string& text);
    // Appends an empty line and today's header first when the day changed.
    void DateHeaderRule();
    // Replaces line index; an index that no longer exists (after clearing) is ignored.
    void ReplaceLine(int index, const std::string& text);
    // Saves the whole list: a snapshot goes to the writer thread, which
    // replaces the file with it; this thread never waits for the disk. A
    // failure is reported here once, until a write succeeds.
    void WriteFile();
    // Waits until the file holds what the last WriteFile saw, reports a
    // failure as WriteFile would, and says whether the file is up to date.
    bool FinishWrites();
    // At the end of the program: lines changed since the last write (a
    // picked-up call's ending) are saved too, and every write is finished.
    void SaveAtExit();
    // "Nummern &kopieren": the text it would copy from line index, if any.
    std::optional<std::string> NumbersOf(int index) const;
    // "Ereignisprotokoll &löschen": the file goes to the trash (where there is
    // none, it is kept as one copy, path + ".bak"), the list is emptied, and
    // a box says where the old log is.
    void Clear();
    // The one trash to use; empty (the default): the desktop's, HomeTrashPath()
    // at each clearing or the trash of the log's mount.
    void SetHomeTrash(std::string path) { homeTrash_ = std::move(path); }

    const LineStore& Lines() const { return lines_; }
    std::int64_t LastLogDate() const { return lastLogDate_; }
    const std::string& Path() const { return path_; }

  private:
    void CollectWriteOutcome();

    FrontEnd& ui_;
    Dialogs& dialogs_;
    Clock& clock_;
    std::string path_;
    std::string homeTrash_;
    LineStore lines_ = LineStore("\r\n");  // its buffer is the file's content
    std::int64_t lastLogDate_ = 0;         // day number; 0 = no header yet
    bool writeFailureReported_ = false;
    bool changedSinceWrite_ = false;
    bool fileUpToDate_ = true;  // the last write that ended succeeded
    std::future<std::optional<LineStore>> reading_;
    // Lets news posted by the writer find out that the log is gone.
    std::shared_ptr<EventLog*> self_;
    AsyncFileWriter writer_;
};

// Reads a text file's lines: CR LF or LF ends, UTF-8, a line that is not valid
// UTF-8 taken as Windows-1252, control characters replaced. The store keeps
// CR LF behind every line, so that it holds the file as the log writes it.
// The file is read in one go into the store's buffer, where lines that end in
// CR LF and need no cleaning stay as they are. Nothing when the file cannot be
// opened.
std::optional<LineStore> ReadTextLines(const std::string& path);
// The same for text already in memory.
LineStore SplitTextLines(std::string_view text);

}  // namespace tolvar
