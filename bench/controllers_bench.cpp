// Calls on several controllers at once: 60 CONNECT_INDs arriving within
// 10 ms, alternately on two primary-rate controllers, through the engine as
// the program runs it (rules, event log, notices), against a single call in
// the same run. What counts is each call's CONNECT_IND to its ALERT_REQ, on
// the real clock: a call that arrives while earlier ones are still handled
// waits for them. Goal: the last of the 60 within 3 times a single call's.
//
//   controllers_bench [RUNS]

#include <algorithm>
#include <chrono>
#include <iostream>
#include <vector>

#include "calls/call_message.h"
#include "support/test_host.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kCalls = 60;
constexpr auto kWindow = std::chrono::milliseconds(10);

// Nanoseconds from each arrival to its ALERT_REQ, for `calls` calls spread
// evenly over the window.
std::vector<double> Run(int calls, int round) {
    tolvar::test::TestHost host;
    host.eventLogPath = (host.dir / "Tolvar.txt").string();
    host.capi.bChannels = {{1, 30}, {2, 30}};
    host.WriteHive(
        "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar]\n"
        "\"Controller\"=\"1,2\"\n\n[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\MSN\\5551234\\"
        "Sonstige\\00:00]\n\"Action\"=dword:00000000\n\"Param\"=\"\"\n\n");
    host.Start();
    Clock::time_point alerted;
    host.capi.onPut = [&](const tolvar::test::PutRecord& put) {
        if (put.CommandWord() == tolvar::cmd::ALERT_REQ) alerted = Clock::now();
    };
    std::vector<double> latency;
    const auto start = Clock::now();
    for (int i = 0; i < calls; ++i) {
        const auto due = start + kWindow * i / std::max(calls - 1, 1);
        // A call due while the previous one was handled has waited since it was due.
        while (Clock::now() < due) {
        }
        tolvar::test::CallSetup c;
        c.plci = static_cast<std::uint32_t>(((round * kCalls + i) % 250 + 1) << 8 | (i % 2 + 1));
        c.caller = "30" + std::to_string(100000 + i);
        host.Receive(tolvar::test::ConnectInd(c));
        latency.push_back(std::chrono::duration<double, std::nano>(alerted - due).count());
    }
    return latency;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 31;
    std::vector<double> single, last, worst;
    for (int r = 0; r < runs; ++r) {
        single.push_back(Run(1, r).front());
        const auto flood = Run(kCalls, r);
        last.push_back(flood.back());
        worst.push_back(*std::max_element(flood.begin(), flood.end()));
    }
    const double ratio = Median(last) / Median(single);
    std::cout << "controllers_bench: " << runs << " runs, medians\n"
              << "  single call, CONNECT_IND to ALERT_REQ:   " << Median(single) / 1000 << " us\n"
              << "  last of 60 calls within 10 ms, 2 controllers: " << Median(last) / 1000
              << " us (slowest of the 60: " << Median(worst) / 1000 << " us)\n"
              << "  ratio " << ratio << " (goal <= 3): " << (ratio <= 3 ? "met" : "NOT met")
              << "\n";
    return ratio <= 3 ? 0 : 1;
}
