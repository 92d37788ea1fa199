#pragma once
// A child process with pipes to its standard input and output, for the
// end-to-end tests that run the real programs.

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace tolvar::test {

// A started child: its process id and our ends of the pipes to its standard
// input and output.
struct PipedChild {
    pid_t pid;
    int in;
    int out;
};

// Starts argv[0] with the given arguments in workDir (unless empty); stderr
// goes to stderrFile when given (else it is inherited).
PipedChild StartPiped(std::vector<std::string> argv, const std::string& workDir,
                      const std::string& stderrFile);

class Process {
  public:
    // Starts argv[0] with the given arguments; stderr goes to stderrFile when
    // given (else it is inherited).
    explicit Process(std::vector<std::string> argv, const std::string& workDir = "",
                     const std::string& stderrFile = "");
    ~Process();  // kills the child if it still runs
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    void Send(const std::string& line);  // writes line + "\n"
    void CloseInput();
    // The next whole output line, waiting up to timeout.
    std::optional<std::string> ReadLine(
        std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // Reads lines until one satisfies pred (all lines read are kept in Lines()).
    std::optional<std::string> WaitFor(const std::string& prefix,
                                       std::chrono::milliseconds timeout = std::chrono::seconds(5));
    const std::vector<std::string>& Lines() const { return lines_; }
    // Waits for the child to end; its exit code, or nothing after the timeout.
    std::optional<int> Wait(std::chrono::milliseconds timeout);
    void Signal(int sig);
    pid_t Pid() const { return pid_; }

  private:
    pid_t pid_ = -1;
    int in_ = -1;
    int out_ = -1;
    std::string buffer_;
    std::vector<std::string> lines_;
    std::optional<int> exitCode_;
};

// The folder of the built programs (set by CMake as TOLVAR_BIN_DIR).
std::string BinDir();

}  // namespace tolvar::test
