// A 64-character D-Mail between two real copies of the program on two lines
// of tolvar-line, from "dmail-send" to "Quittiert...", against the least time
// the protocol allows on that line: four packet calls, three PacketDelays,
// ACKDelay and the acknowledgement call, each call taking the network's
// delay to reach the far end.

#include <benchmark/benchmark.h>

#include <chrono>
#include <thread>

#include "dmail/dmail.h"
#include "support/files.h"
#include "support/line_fixture.h"

namespace tolvar {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr const char* kMessage = "Grüße aus Köln! Die Äpfel sind reif, übermorgen holen wir alle!!";
constexpr int kPackets = 4;  // 64 characters and the end mark, 19 per call

// The default timings of a first start.
constexpr int kPacketDelayMs = 20;
constexpr int kAckDelayMs = 3000;

bool WaitFor(test::Process& p, const std::string& line, std::chrono::milliseconds timeout) {
    const auto end = Clock::now() + timeout;
    while (auto l = p.ReadLine(
               std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now())))
        if (*l == line) return true;
    return false;
}

// Argument: the network's delay in ms ("net"), as the line is set to.
void BM_DMail64Characters(benchmark::State& state) {
    const int net = static_cast<int>(state.range(0));
    const test::TempDir dir;
    const std::string scenario = dir.File("lines.scn");
    test::WriteAll(scenario, "line home msn=5551234 area=30\nline office msn=7770001 area=40\n");
    test::LineFixture line({"--scenario", scenario});
    line.Ctl({"set", "net=" + std::to_string(net)});
    auto home = line.StartTolvar("home", "", 0);
    auto office = line.StartTolvar("office", "", 1);
    // Both listen once their first start has written its defaults.
    std::this_thread::sleep_for(1s);
    home->Send("dmail-to 0407770001");
    home->Send(std::string("dmail-text ") + kMessage);

    const double minimumMs = (kPackets + 1) * net + (kPackets - 1) * kPacketDelayMs + kAckDelayMs;
    const std::string done = std::string("dmail: ") + dmail_text::kAcknowledged;
    double totalMs = 0;
    double worst = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        home->Send("dmail-send");
        if (!WaitFor(*home, done, 30s)) {
            state.SkipWithError("no acknowledgement");
            break;
        }
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        state.SetIterationTime(ms / 1000.0);
        totalMs += ms;
        worst = std::max(worst, ms / minimumMs);
        // Both sides idle again: the acknowledgement call has ended.
        std::this_thread::sleep_for(500ms);
    }
    const double runs = static_cast<double>(state.iterations());
    state.counters["minimum_ms"] = minimumMs;
    state.counters["mean_ms"] = runs > 0 ? totalMs / runs : 0;
    state.counters["ratio"] = runs > 0 ? totalMs / runs / minimumMs : 0;
    state.counters["worst_ratio"] = worst;
    home->Send("quit");
    office->Send("quit");
    home->Wait(5s);
    office->Wait(5s);
}
BENCHMARK(BM_DMail64Characters)
    ->Arg(2)   // the test line's delay
    ->Arg(60)  // a realistic network
    ->Iterations(5)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tolvar
