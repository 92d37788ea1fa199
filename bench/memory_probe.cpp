#include "bench/memory_probe.h"

#include <malloc.h>

#include <array>
#include <cstdint>
#include <sstream>
#include <vector>

#include "bench/bench_util.h"
#include "support/test_host.h"

namespace tolvar::bench {

std::size_t HeapInUse() {
    const struct mallinfo2 m = mallinfo2();
    return m.uordblks + m.hblkhd;
}

void FeedTraceMessages(test::FakeCapi& capi, test::FakeIo& io, std::size_t count, void (*every)()) {
    // Header: Length, ApplID 1, command, subcommand, message number; then the
    // first parameter and the rest. Lengths 12 to 60: trace lines of 38 to
    // some 120 characters.
    struct Kind {
        std::uint8_t command, sub;
        std::size_t length;
    };
    static constexpr std::array<Kind, 6> kKinds = {{{0x05, 0x81, 14},    // LISTEN_CONF
                                                    {0x08, 0x81, 14},    // INFO_CONF
                                                    {0x04, 0x81, 14},    // DISCONNECT_CONF
                                                    {0x80, 0x82, 30},    // FACILITY_IND
                                                    {0x82, 0x82, 13},    // CONNECT_B3_IND
                                                    {0xFF, 0x82, 60}}};  // MANUFACTURER_IND
    for (std::size_t i = 0; i < count; ++i) {
        const Kind& k = kKinds[i % kKinds.size()];
        std::vector<std::uint8_t> m(k.length, 0);
        m[0] = static_cast<std::uint8_t>(k.length);
        m[2] = 1;
        m[4] = k.command;
        m[5] = k.sub;
        m[6] = static_cast<std::uint8_t>(i);
        m[7] = static_cast<std::uint8_t>(i >> 8);
        m[8] = 1;
        m[9] = static_cast<std::uint8_t>(1 + i % 2);
        for (std::size_t b = 12; b < k.length; ++b) m[b] = static_cast<std::uint8_t>(i * 7 + b);
        capi.Feed(std::move(m));
        if (i % 64 == 63 || i + 1 == count) io.Pump();
        if (every && (i % 10000 == 9999 || i + 1 == count)) every();
    }
}

namespace {

// "HEAP TEXTBYTES" from one child.
std::pair<double, double> Run(const std::string& program, const std::string& what,
                              std::size_t count) {
    Scratch dir;
    Child child({program, what, std::to_string(count)}, dir.Path());
    std::istringstream out(child.ReadAll(std::chrono::minutes(10)));
    double heap = -1, text = -1;
    out >> heap >> text;
    if (child.Wait(std::chrono::seconds(30)) != 0 || heap < 0 || text < 0)
        throw std::runtime_error(program + " " + what + " gave no figures");
    return {heap, text};
}

}  // namespace

bool ReportLines(const std::string& frontEnd, const std::string& program) {
    const auto [empty, none] = Run(program, "log", 0);
    const auto [loaded, logText] = Run(program, "log", 100000);
    const auto [trace, traceText] = Run(program, "trace", 1000000);
    (void)none;
    // Per line: 100,000 call lines come with 5,000 header lines in the file.
    const double logLines = 105000, traceLines = 1000000;
    Note("100000 call lines (" + std::to_string(static_cast<long>(logText)) +
         " bytes of text in 105000 lines): " + std::to_string(static_cast<long>(loaded - empty)) +
         " bytes more heap; 1000000 trace lines (" + std::to_string(static_cast<long>(traceText)) +
         " bytes of text): " + std::to_string(static_cast<long>(trace)) + " bytes more heap");
    bool met = Report("memory per event-log line, " + frontEnd, (loaded - empty) / logLines,
                      "bytes", "its text", logText / logLines, 1.5);
    met &= Report("memory per ISDN trace line, " + frontEnd, trace / traceLines, "bytes",
                  "its text", traceText / traceLines, 1.5);
    return met;
}

}  // namespace tolvar::bench
