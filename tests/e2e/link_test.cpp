// The CAPI link's health with real processes: the simulated line killed and
// started again under a running program, and a second start on the same
// settings file.

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <thread>

#include "support/files.h"
#include "support/line_fixture.h"

namespace tolvar {
namespace {

using namespace std::chrono_literals;

// User and system time of a process, in clock ticks.
long CpuTicks(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), {});
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string f;
    long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> f; ++i) {
        if (i == 14) utime = std::stol(f);
        if (i == 15) stime = std::stol(f);
    }
    return utime + stime;
}

TEST(CapiLinkE2E, LineRestartedUnderARunningProgram) {
    test::LineFixture line;
    auto tolvar = line.StartTolvar("a", test::kShowIsdnTab);
    ASSERT_TRUE(tolvar->WaitFor("isdn: 000E", 10s));  // LISTEN_CONF

    line.Stop();
    EXPECT_EQ(tolvar->WaitFor("capi: down", 5s), "capi: down Verbindung zur CAPI verloren");
    EXPECT_EQ(tolvar->WaitFor("tray: ", 5s), "tray: Tolvar - keine Verbindung zur CAPI");
    // Gone: the program only tries again now and then, and uses no CPU.
    const long before = CpuTicks(tolvar->Pid());
    std::this_thread::sleep_for(3s);
    EXPECT_LE(CpuTicks(tolvar->Pid()) - before, 2);

    // Back within 5 s of the line: registered, listening, and taking calls.
    line.StartAgain();
    const auto up = tolvar->WaitFor("capi: up", 5s);
    ASSERT_TRUE(up);
    EXPECT_EQ(*up, "capi: up tolvar-line simulated exchange");
    ASSERT_TRUE(tolvar->WaitFor("isdn: LISTEN_REQ", 5s));
    ASSERT_TRUE(tolvar->WaitFor("isdn: 000E", 5s));
    line.Ctl({"call", "0301234567", "5551234"});
    const auto logged = tolvar->WaitFor("protokoll 2: ", 5s);
    ASSERT_TRUE(logged);
    EXPECT_EQ(logged->substr(21), "   0301234567 -> 5551234");
    tolvar->Send("quit");
    EXPECT_EQ(tolvar->Wait(5s), 0);
}

TEST(SingleCopyE2E, SecondStartOnTheSameSettingsFileEnds) {
    test::LineFixture line;
    auto first = line.StartTolvar("a", test::kShowIsdnTab);
    ASSERT_TRUE(first->WaitFor("isdn: 000E", 10s));
    const auto home = line.Dir() / "a";
    test::Process second({test::BinDir() + "/tolvar", "--console", "--capi", line.CapiArg(),
                          "--registry", (home / "registry.reg").string()},
                         home.string());
    EXPECT_EQ(second.ReadLine(10s),
              "error: Tolvar läuft bereits (PID " + std::to_string(first->Pid()) + ")");
    EXPECT_EQ(second.Wait(5s), 3);
    // Another settings file is another copy, and runs beside it.
    auto other = line.StartTolvar("b", test::kShowIsdnTab);
    EXPECT_TRUE(other->WaitFor("isdn: 000E", 10s));
    for (auto* p : {first.get(), other.get()}) {
        p->Send("quit");
        EXPECT_EQ(p->Wait(5s), 0);
    }
}

}  // namespace
}  // namespace tolvar
