#pragma once
// What the benchmarks share: children on pipes, medians, the report line with
// its ratio against a reference measured in the same run, and the files of a
// long-running installation (a big event log, many rules).

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolvar::bench {

using Steady = std::chrono::steady_clock;

// The folder of the built programs: where this benchmark lies.
std::string BinDir();

// A scratch folder, removed at the end.
class Scratch {
  public:
    Scratch();
    ~Scratch();
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    const std::filesystem::path& Path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

  private:
    std::filesystem::path path_;
};

void WriteFile(const std::filesystem::path& path, std::string_view bytes);

// A program with its standard input and output on pipes; its standard error
// goes to a file when one is named, else to /dev/null.
class Child {
  public:
    Child(const std::vector<std::string>& argv, const std::filesystem::path& dir,
          const std::string& stderrFile = "");
    ~Child();  // kills it if it still runs
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // Reads output until text has appeared in it (kept from one read to the
    // next); false at its end or after the timeout.
    bool WaitFor(std::string_view text, std::chrono::milliseconds timeout);
    // Everything it writes until it closes its output (or the timeout).
    std::string ReadAll(std::chrono::milliseconds timeout);
    void Send(std::string_view line);
    std::optional<int> Wait(std::chrono::milliseconds timeout);
    pid_t Pid() const { return pid_; }
    // CPU time the child has used (user and system), in clock ticks.
    long CpuTicks() const;

  private:
    pid_t pid_ = -1;
    int in_ = -1;
    int out_ = -1;
    std::string pending_;  // read and not yet searched through
    std::optional<int> exit_;
};

double Median(std::vector<double> values);
double Percentile(std::vector<double> values, double p);

// One figure against its reference: prints
//   NAME  VALUE UNIT  reference REF UNIT (WHAT)  ratio R  goal <= G  met|MISSED
// and returns whether the goal holds (always true without a goal).
bool Report(const std::string& name, double value, const std::string& unit, const std::string& what,
            double reference, std::optional<double> goal);
// A line of information without a goal.
void Note(const std::string& text);

// An event log as years of calls leave it: date headers and call lines of
// every kind, about 54 bytes a line in the file.
std::string LogFileText(std::size_t callLines);
// A settings file with everything start-up would otherwise write back, the
// "ISDN" page on or off, and ruleEntries rule entries (own numbers with
// callers and start times below them).
std::string SettingsText(std::size_t ruleEntries, bool isdnPage = true);

}  // namespace tolvar::bench
