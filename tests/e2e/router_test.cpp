// A router's CAPI over TCP through libcapi20's fritzbox module: calls on
// several controllers, the router restarted under the program, and as many
// calls at once as the controllers carry.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "support/line_fixture.h"

namespace tolvar {
namespace {

using namespace std::chrono_literals;

std::string Scenario(const std::string& name, const std::string& text) {
    const auto path =
        std::filesystem::temp_directory_path() / (name + "-" + std::to_string(getpid()) + ".scn");
    std::ofstream(path) << text;
    return path.string();
}

std::string Hive(const std::string& controller, bool trace) {
    return "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar]\n" +
           std::string(trace ? "\"ShowISDNTab\"=dword:00000001\n" : "") + "\"Controller\"=\"" +
           controller + "\"\n\n";
}

TEST(RouterE2E, CallsOnControllersOneThreeAndFiveAndAllListenedToAgainAfterARestart) {
    const std::string scenario = Scenario("router", R"(
line isdn msn=5551234 controller=1
line analog msn=5557000 controller=3 channels=1
line internet msn=5558800 controller=5 channels=4
)");
    test::LineFixture line({"--scenario", scenario, "--fritzbox", "0"});
    auto tolvar = line.StartTolvarOn("a", Hive("1,3,5", true), line.RouterArg());
    for (const char* controller : {"00000001", "00000003", "00000005"}) {
        const auto conf = tolvar->WaitFor("isdn: 000E", 10s);
        ASSERT_TRUE(conf);
        EXPECT_NE(conf->find(std::string("LISTEN_CONF 0000   ") + controller + "   00 00"),
                  std::string::npos)
            << *conf;
    }
    line.Ctl({"call", "0301234567", "5551234"});
    line.Ctl({"call", "017812345", "5557000"});
    line.Ctl({"call", "+441632960001", "5558800"});
    const std::vector<std::string> expected = {
        "   0301234567 -> 5551234", "   017812345 -> 5557000", "   00441632960001 -> 5558800"};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const auto logged = tolvar->WaitFor("protokoll " + std::to_string(i + 2) + ": ", 5s);
        ASSERT_TRUE(logged);
        EXPECT_EQ(logged->substr(21), expected[i]);
    }

    line.Stop();
    ASSERT_TRUE(tolvar->WaitFor("capi: down", 5s));
    line.StartAgain();
    ASSERT_TRUE(tolvar->WaitFor("capi: up", 5s));
    for (const char* controller : {"00000001", "00000003", "00000005"}) {
        const auto listen = tolvar->WaitFor("isdn: LISTEN_REQ", 5s);
        ASSERT_TRUE(listen);
        EXPECT_EQ(*listen, std::string("isdn: LISTEN_REQ 0000   ") + controller +
                               "   FF 03 00 00 FF 03 FF 1F 01 00 00 00 00 00 ");
    }
    ASSERT_EQ(line.Ctl({"wait", "listens on controller 5", "timeout=5s"}).back().rfind("ok", 0),
              0u);
    line.Ctl({"call", "0401234567", "5558800"});
    const auto again = tolvar->WaitFor("protokoll 5: ", 5s);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->substr(21), "   0401234567 -> 5558800");
    EXPECT_EQ(line.Ctl({"wait", "violation", "timeout=1ms"}).back(), "error: timeout");
    tolvar->Send("quit");
    EXPECT_EQ(tolvar->Wait(5s), 0);
    std::filesystem::remove(scenario);
}

TEST(RouterE2E, SeventyCallsAtOnceAreAllAlertedAndAllEnd) {
    // Three primary-rate lines; 70 callers within a quarter of a second, who
    // all give up after ringing for 6 s.
    const std::string scenario = Scenario("pri", R"(
line a msn=5551234 controller=1 channels=30
line b msn=5552000 controller=2 channels=30
line c msn=5553000 controller=3 channels=30
every 10ms start=3s count=24 call 0301234567 5551234 ring=6s
every 10ms start=3s count=23 call 0401234567 5552000 ring=6s
every 10ms start=3s count=23 call 0891234567 5553000 ring=6s
)");
    test::LineFixture line({"--scenario", scenario, "--fritzbox", "0"});
    auto tolvar = line.StartTolvarOn("a", Hive("*", false), line.RouterArg());
    ASSERT_EQ(line.Ctl({"wait", "call 70: placed", "timeout=10s"}).back().rfind("ok", 0), 0u);
    ASSERT_EQ(line.Ctl({"wait", "call 70: ended", "timeout=15s"}).back().rfind("ok", 0), 0u);
    int alerted = 0;
    for (const auto& l : line.Ctl({"log"}))
        if (l.find(": alerted by router app") != std::string::npos) ++alerted;
    EXPECT_EQ(alerted, 70);
    // Every call's end reaches the program: its notice turns into a missed call.
    int ended = 0;
    while (ended < 70 && tolvar->WaitFor("notify: Verpasster Anruf", 5s)) ++ended;
    EXPECT_EQ(ended, 70);
    const auto& lines = tolvar->Lines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& l) { return l.rfind("protokoll ", 0) == 0; }),
              72);  // the date's two lines and the 70 calls
    tolvar->Send("quit");
    EXPECT_EQ(tolvar->Wait(5s), 0);
    std::filesystem::remove(scenario);
}

}  // namespace
}  // namespace tolvar
