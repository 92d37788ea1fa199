#pragma once
// The event log: one line per monitored call and per received D-Mail, grouped
// under date headers, kept in "Tolvar.txt" so that it survives a restart.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/datetime.h"

namespace tolvar {

class Clock;
class Dialogs;
class FrontEnd;

inline constexpr const char* kEventLogFile = "Tolvar.txt";

class EventLog {
  public:
    EventLog(FrontEnd& ui, Dialogs& dialogs, Clock& clock, std::string path = kEventLogFile);

    // Start-up: the file's lines become the list, LastLogDate comes from the
    // last header line, the last line is selected.
    void Load();

    // Lines are kept without control characters (see ReplaceControlCharacters):
    // no text from the line, a settings file or an old file can start a line.
    // Adds a line, selects it and returns its index.
    int AppendLine(const std::string& text);
    // Appends an empty line and today's header first when the day changed.
    void DateHeaderRule();
    // Replaces line index; an index that no longer exists (after clearing) is ignored.
    void ReplaceLine(int index, const std::string& text);
    // Saves the whole list. A failure is reported once, until a write succeeds.
    bool WriteFile();
    // "Nummern &kopieren": the text it would copy from line index, if any.
    std::optional<std::string> NumbersOf(int index) const;
    // "Ereignisprotokoll &löschen".
    void Clear();

    const std::vector<std::string>& Lines() const { return lines_; }
    std::int64_t LastLogDate() const { return lastLogDate_; }
    const std::string& Path() const { return path_; }

  private:
    FrontEnd& ui_;
    Dialogs& dialogs_;
    Clock& clock_;
    std::string path_;
    std::vector<std::string> lines_;
    std::int64_t lastLogDate_ = 0;  // day number; 0 = no header yet
    bool writeFailureReported_ = false;
};

// Reads a text file's lines: CR LF or LF ends, UTF-8, a line that is not valid
// UTF-8 taken as Windows-1252, control characters replaced. Nothing when the
// file cannot be opened.
std::optional<std::vector<std::string>> ReadTextLines(const std::string& path);

}  // namespace tolvar
