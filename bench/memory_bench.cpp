// Memory near the text: what the program holds per event-log line and per
// ISDN trace line, in the console (this benchmark) and in the window
// (window_bench), against the bytes of the lines themselves.
//
// Each figure is the heap in use (malloc's own count, every arena and every
// mapped block) of a fresh process with the lines, less that of the same
// process without them: 100,000 call lines loaded from "Tolvar.txt", and
// 1,000,000 trace lines of received messages taken through the real path
// (fetch, trace line, the engine's store, the console front end).
//
//   memory_bench                  runs the measurements, each in a child
//   memory_bench log|trace N      one measurement: prints "HEAP TEXTBYTES"

#include <fstream>
#include <iostream>

#include "bench/bench_util.h"
#include "bench/memory_probe.h"
#include "console/console_front_end.h"
#include "engine/engine.h"
#include "support/test_host.h"

using namespace tolvar;
using namespace tolvar::bench;

namespace {

int Measure(const std::string& what, std::size_t count) {
    Scratch home;
    WriteFile(home / "registry.reg", SettingsText(0, what == "trace"));
    if (what == "log" && count > 0) WriteFile(home / "Tolvar.txt", LogFileText(count));
    std::ofstream null("/dev/null");
    ConsoleFrontEnd ui(null, [] {});
    ConsoleDevices devices(ui, nullptr);
    VirtualTime time;
    test::FakeCapi capi;
    test::FakeIo io(capi, time);
    std::vector<std::function<void()>> posted;
    Engine engine({.capi = capi,
                   .clock = time,
                   .timers = time,
                   .io = io,
                   .ui = ui,
                   .dialogs = ui,
                   .devices = devices.All(),
                   .registryPath = (home / "registry.reg").string(),
                   .post = [&](std::function<void()> fn) { posted.push_back(std::move(fn)); },
                   .eventLogPath = (home / "Tolvar.txt").string()});
    engine.FormCreate();
    for (auto& fn : posted) fn();
    posted.clear();
    const std::size_t before = HeapInUse();
    if (what == "trace") FeedTraceMessages(capi, io, count);
    const std::size_t after = HeapInUse();
    const std::size_t text =
        what == "log" ? engine.Log().Lines().TextBytes() : engine.Capi().IsdnTrace().TextBytes();
    std::cout << (what == "log" ? after : after - before) << " " << text << std::endl;
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        if (argc == 3) return Measure(argv[1], std::stoul(argv[2]));
        std::cout << "memory in the console: heap in use for the lines against their text\n";
        const bool met = ReportLines("console", BinDir() + "/memory_bench");
        return met ? 0 : 1;
    } catch (const std::exception& e) {
        std::cerr << "memory_bench: " << e.what() << "\n";
        return 2;
    }
}
