#pragma once
// The control language of the exchange, shared by the live control interface
// and scenario files: one command per line, words separated by blanks,
// "double quotes" around words with blanks, NAME=VALUE options.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "line/exchange.h"

namespace tolvar::line {

std::vector<std::string> Tokenize(const std::string& line, std::string& error);
// "500ms", "5s", "2m", "1500" (ms); nullopt if malformed.
std::optional<std::uint64_t> ParseDuration(const std::string& text);

struct Reply {
    bool ok = true;
    std::vector<std::string> lines;  // data lines
    std::string text;                // after "ok " or "error: "
};

class Control {
  public:
    Control(Exchange& exchange, Scheduler& scheduler) : ex_(exchange), sched_(scheduler) {}
    // Runs one command; done is called at once or, for "wait", later.
    void Execute(const std::string& line, std::function<void(Reply)> done);
    // Feed every new log entry (wakes waiters).
    void OnLog(const LogEntry& entry);
    // Called by "quit".
    std::function<void()> on_quit;
    // Ports of the lines, filled in by the server for "lines".
    std::vector<std::uint16_t> ports;

  private:
    struct Waiter {
        std::uint64_t id;
        std::string pattern;
        std::function<void(Reply)> done;
        Scheduler::TimerId timer;
    };
    Reply Call(const std::vector<std::string>& w);
    Reply Smsc(const std::vector<std::string>& w);
    Reply Phone(const std::vector<std::string>& w);
    Reply Terminal(const std::vector<std::string>& w);
    void Wait(const std::vector<std::string>& w, std::function<void(Reply)> done);

    Exchange& ex_;
    Scheduler& sched_;
    std::vector<Waiter> waiters_;
    std::uint64_t next_waiter_ = 1;
};

// A scenario file: lines, settings and commands to run at start, at a time
// or again and again.
struct Scenario {
    std::optional<std::string> manufacturer;
    std::vector<LineConfig> lines;
    std::vector<bool> port_given;  // per line: port= was written
    struct Timed {
        std::uint64_t at_ms = 0;
        std::uint64_t every_ms = 0;  // 0: once
        std::uint64_t count = 0;     // 0: without end
        std::string command;
        int line_number = 0;
    };
    std::vector<Timed> commands;
};

// Parses a scenario; on failure returns the error with its line number.
std::optional<std::string> ParseScenario(const std::string& text, Scenario& out);

// Schedules the timed commands of a scenario on control.
void RunScenario(const Scenario& scenario, Control& control, Scheduler& scheduler,
                 Exchange& exchange);

}  // namespace tolvar::line
