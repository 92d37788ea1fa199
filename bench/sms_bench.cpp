// How long a page send takes on the simulated line with all its delays at 0,
// from "sms-send" to the result line, against the minimum the 200 ms
// dialogue tick allows: UCP sends its frame at the first tick after the B3
// link is up and reads the answer at the second (400 ms); TAP needs four
// ticks to its result (wake-up, logon, block, answer: 800 ms). The counter
// "ratio" is the mean time over that minimum.

#include <benchmark/benchmark.h>

#include <chrono>
#include <stdexcept>

#include "support/line_fixture.h"

#include "tests/support/hive_header.h"

namespace tolvar {
namespace {

using namespace std::chrono_literals;

std::string Providers() {
    const std::string table = test::IdentityXlateTable();
    return "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\SMS\\Prefix]\n"
           "\"0171\"=\"Netz\"\n\"0172\"=\"Pager\"\n\n"
           "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\SMS\\Provider\\Netz]\n"
           "\"Phone\"=\"01712521002\"\n\"Protocol\"=\"UCP\"\n" +
           table +
           "\n\n[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\SMS\\Provider\\Pager]\n"
           "\"Phone\"=\"01722521002\"\n\"Protocol\"=\"TAP\"\n" +
           table + "\n\n";
}

void PageSend(benchmark::State& state, const char* receiver, double ticksToResult) {
    test::LineFixture line;
    line.Ctl({"set", "net=0", "alert=0", "connect=0", "answer=0", "reply=0"});
    line.Ctl({"smsc", "01712521002", "ucp"});
    line.Ctl({"smsc", "01722521002", "tap"});
    auto tolvar = line.StartTolvar("bench", Providers());
    if (!tolvar->WaitFor("caption: ", 10s)) throw std::runtime_error("tolvar did not start");
    line.Ctl({"wait", "LISTEN_CONF", "timeout=10s"});
    tolvar->Send(std::string("sms-to ") + receiver);
    tolvar->Send("sms-text Benchmark");
    double total = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        tolvar->Send("sms-send");
        if (!tolvar->WaitFor("sms: Nachricht erfolgreich verschickt.", 10s))
            throw std::runtime_error("no result line");
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(took.count());
        total += took.count();
        // The call ends before the next send (not timed).
        if (!tolvar->WaitFor("sms: beendet.", 10s)) throw std::runtime_error("call did not end");
    }
    const double minimum = ticksToResult * 0.2;
    state.counters["minimum_ms"] = minimum * 1000;
    state.counters["ratio"] = total / static_cast<double>(state.iterations()) / minimum;
    tolvar->Send("quit");
    tolvar->Wait(5s);
}

void BM_UcpPageSend(benchmark::State& state) {
    PageSend(state, "0171234567", 2);
}
void BM_TapPageSend(benchmark::State& state) {
    PageSend(state, "0172345678", 4);
}
BENCHMARK(BM_UcpPageSend)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_TapPageSend)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace
}  // namespace tolvar
