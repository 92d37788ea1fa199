// Incoming calls from the simulated exchange through libcapi20 into the real
// program: what the event log says, what the exchange saw, and that no CAPI
// rule was broken.

#include <gtest/gtest.h>

#include <functional>
#include <regex>
#include <thread>

#include "support/files.h"
#include "support/line_fixture.h"

namespace tolvar {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

bool EventuallyExists(const fs::path& p, std::chrono::milliseconds timeout = 5s) {
    for (auto end = std::chrono::steady_clock::now() + timeout;
         std::chrono::steady_clock::now() < end;) {
        if (fs::exists(p)) return true;
        std::this_thread::sleep_for(20ms);
    }
    return fs::exists(p);
}

std::string Entry(const std::string& caller, int action, const std::string& param = "") {
    return "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\MSN\\5551234\\" + caller +
           "\\00:00]\n\"Action\"=dword:0000000" + std::to_string(action) + "\n\"Param\"=\"" +
           param + "\"\n\n";
}

// One line with one program on it, whose rules cover every case below.
class CallsE2E : public ::testing::Test {
  protected:
    void SetUp() override {
        home = line.Dir() / "a";
        // A cleared log goes to this trash, not to the user's.
        setenv("XDG_DATA_HOME", (line.Dir() / "data").c_str(), 1);
        const std::string rules =
            Entry("Unbekannt/Analog", 1, "/usr/bin/touch " + (home / "withheld.mark").string()) +
            Entry("0301111 Abfang", 3) + Entry("0302222 Nachbar", 0) + Entry("0303333 Abheber", 5) +
            Entry("0304444 Programm", 1, "/usr/bin/touch " + (home / "program.mark").string()) +
            Entry("0441632 London", 0) + Entry("Sonstige", 0);
        tolvar = line.StartTolvar("a", std::string(test::kShowIsdnTab) + rules);
        ASSERT_TRUE(WaitLine(
            [](const std::string& l) { return l.find("LISTEN_CONF") != std::string::npos; }, 10s));
    }
    void TearDown() override {
        if (tolvar) {
            tolvar->Send("quit");
            EXPECT_EQ(tolvar->Wait(5s), 0);
        }
        EXPECT_EQ(LineLog().find("violation"), std::string::npos) << LineLog();
    }

    std::optional<std::string> WaitLine(const std::function<bool(const std::string&)>& pred,
                                        std::chrono::milliseconds timeout = 10s) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (true) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            if (left.count() <= 0) return std::nullopt;
            auto l = tolvar->ReadLine(left);
            if (!l) return std::nullopt;
            if (pred(*l)) return l;
        }
    }
    // The event-log line N as the console shows it, once it satisfies pred.
    std::optional<std::string> LogLine(int n, const std::function<bool(const std::string&)>& pred,
                                       std::chrono::milliseconds timeout = 10s) {
        const std::string prefix = "protokoll " + std::to_string(n) + ": ";
        auto l = WaitLine(
            [&](const std::string& s) {
                return s.rfind(prefix, 0) == 0 && pred(s.substr(prefix.size()));
            },
            timeout);
        if (l) l = l->substr(prefix.size());
        return l;
    }
    static bool Any(const std::string&) { return true; }
    static std::function<bool(const std::string&)> EndsWith(const std::string& tail) {
        return [tail](const std::string& s) {
            return s.size() >= tail.size() &&
                   s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
        };
    }

    // Places a call; its number at the exchange.
    std::string Call(const std::vector<std::string>& args) {
        std::vector<std::string> command = {"call"};
        command.insert(command.end(), args.begin(), args.end());
        const auto reply = line.Ctl(command);
        EXPECT_FALSE(reply.empty());
        if (reply.empty() || reply.back().rfind("ok call ", 0) != 0) {
            ADD_FAILURE() << (reply.empty() ? "no reply" : reply.back());
            return "0";
        }
        return reply.back().substr(8);
    }
    void WaitAtExchange(const std::string& text) {
        const auto reply = line.Ctl({"wait", text, "timeout=10s"});
        ASSERT_FALSE(reply.empty());
        EXPECT_EQ(reply.back().rfind("ok", 0), 0u) << text << ": " << reply.back();
    }
    std::string LineLog() { return test::ReadAll(line.Dir() / "line.log"); }
    std::string EventLogFile() { return test::ReadAll(home / "Tolvar.txt"); }

    test::LineFixture line;
    fs::path home;
    std::unique_ptr<test::Process> tolvar;
};

const std::regex kTime("[0-2][0-9]:[0-5][0-9]:[0-5][0-9]");

TEST_F(CallsE2E, WithheldAndUnknownCallersAreUnbekanntAnalog) {
    Call({"0309999", "5551234", "pres=restricted", "ring=20s"});
    auto first = LogLine(2, Any);
    ASSERT_TRUE(first);
    EXPECT_TRUE(std::regex_match(
        *first, std::regex("[0-9:]{8}   Unbekannt/Analog -> 5551234 \\(withheld\\.mark\\)")))
        << *first;
    EXPECT_TRUE(EventuallyExists(home / "withheld.mark"));
    Call({"-", "5551234", "ring=20s"});
    auto second = LogLine(3, Any);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->substr(8), "   Unbekannt/Analog -> 5551234 (withheld.mark)");
    int execs = 0;
    for (const auto& l : tolvar->Lines())
        if (l == "exec: /usr/bin/touch " + (home / "withheld.mark").string()) ++execs;
    EXPECT_EQ(execs, 2);
}

TEST_F(CallsE2E, InterceptedCallIsAnsweredAndCutOff) {
    Call({"0301111", "5551234"});
    const auto done = LogLine(2, EndsWith("  abgefangen."));
    ASSERT_TRUE(done);
    EXPECT_EQ(done->substr(8), "   0301111 -> 5551234  Abfang  abgefangen.");
    EXPECT_TRUE(std::regex_match(done->substr(0, 8), kTime));
    WaitAtExchange("-> DISCONNECT_RESP");
    const std::string log = LineLog();
    std::smatch accept;
    ASSERT_TRUE(std::regex_search(
        log, accept, std::regex("-> CONNECT_RESP #0 ([0-9A-F]{2} ){4}00 00 00 00 00 00 00\n")))
        << log;
    const auto active = log.find("<- CONNECT_ACTIVE_IND");
    const auto hangUp = log.find("-> DISCONNECT_REQ");
    ASSERT_NE(active, std::string::npos) << log;
    ASSERT_NE(hangUp, std::string::npos) << log;
    EXPECT_LT(static_cast<std::size_t>(accept.position(0)), active);
    EXPECT_LT(active, hangUp);
    ASSERT_TRUE(EventuallyExists(home / "Tolvar.txt"));
    for (int i = 0; i < 100 && EventLogFile().find("abgefangen.") == std::string::npos; ++i)
        std::this_thread::sleep_for(20ms);
    EXPECT_NE(EventLogFile().find("   0301111 -> 5551234  Abfang  abgefangen.\r\n"),
              std::string::npos);
}

TEST_F(CallsE2E, CallAnsweredByAnotherTerminal) {
    const std::string n = Call({"0302222", "5551234", "ring=20s"});
    ASSERT_TRUE(LogLine(2, Any));
    line.Ctl({"answer", n});
    const auto done = LogLine(2, EndsWith("  verbunden."));
    ASSERT_TRUE(done);
    EXPECT_EQ(done->substr(8), "   0302222 -> 5551234  Nachbar  verbunden.");
    ASSERT_TRUE(EventuallyExists(home / "Tolvar.txt"));
    for (int i = 0; i < 100 && EventLogFile().find("verbunden.") == std::string::npos; ++i)
        std::this_thread::sleep_for(20ms);
    EXPECT_NE(EventLogFile().find("Nachbar  verbunden.\r\n"), std::string::npos);
}

TEST_F(CallsE2E, MissedCallGetsNoAdditionAndIsWritten) {
    Call({"0305555", "5551234", "ring=500ms"});
    const auto arrived = LogLine(2, Any);
    ASSERT_TRUE(arrived);
    EXPECT_EQ(arrived->substr(8), "   0305555 -> 5551234");
    WaitAtExchange("-> DISCONNECT_RESP");
    ASSERT_TRUE(EventuallyExists(home / "Tolvar.txt"));
    const std::string file = EventLogFile();
    EXPECT_TRUE(std::regex_match(
        file, std::regex("\r\n\\[[0-9]{2}\\.[0-9]{2}\\.[0-9]{4}\\]\r\n" +
                         std::regex_replace(*arrived, std::regex("[.()]"), "\\$&") + "\r\n")))
        << file;
    for (const auto& l : tolvar->Lines()) EXPECT_NE(l.rfind("protokoll 3", 0), 0u) << l;
}

// A picked-up call's line is not written when it ends, but it is not lost
// either: the program writes it when it ends normally, and a write still on
// its way then (the intercepted call's) is finished first.
TEST_F(CallsE2E, PickedUpCallShowsItsLengthAndReachesTheFileAtTheEnd) {
    Call({"0303333", "5551234", "talk=3s"});
    const auto done =
        LogLine(2, [](const std::string& s) { return s.find("abgehoben") != std::string::npos; });
    ASSERT_TRUE(done);
    EXPECT_TRUE(std::regex_match(
        done->substr(8), std::regex("   0303333 -> 5551234  Abheber  abgehoben 00:00:0[234]")))
        << *done;
    WaitAtExchange("-> DISCONNECT_RESP");
    const std::string log = LineLog();
    EXPECT_NE(log.find("-> CONNECT_RESP #0"), std::string::npos);
    EXPECT_EQ(log.find("-> DISCONNECT_REQ"), std::string::npos) << log;
    std::this_thread::sleep_for(200ms);
    EXPECT_FALSE(fs::exists(home / "Tolvar.txt"));

    Call({"0301111", "5551234"});
    ASSERT_TRUE(LogLine(3, EndsWith("  abgefangen.")));
    tolvar->Send("quit");
    EXPECT_EQ(tolvar->Wait(5s), 0);
    tolvar.reset();
    const std::string file = EventLogFile();
    EXPECT_NE(file.find(*done + "\r\n"), std::string::npos) << file;
    EXPECT_NE(file.find("   0301111 -> 5551234  Abfang  abgefangen.\r\n"), std::string::npos)
        << file;
}

TEST_F(CallsE2E, DMailCallIsAlertedRefusedAndNotLogged) {
    // Taken as D-Mail (an empty packet): alerted, then refused, never logged.
    Call({"0306666", "5551234", "cip=24", "ring=500ms"});
    WaitAtExchange("-> ALERT_REQ");
    WaitAtExchange("(reject 7, cause 0x34D8)");
    WaitAtExchange("-> DISCONNECT_RESP");
    for (const auto& l : tolvar->Lines()) EXPECT_NE(l.rfind("protokoll", 0), 0u) << l;
    EXPECT_FALSE(fs::exists(home / "Tolvar.txt"));
}

// A caller the exchange delivers as international is shown with "00"; the
// rule written for the old one-"0" form still names them.
TEST_F(CallsE2E, InternationalCallerGetsDoubleZeroAndAnOldRuleStillMatches) {
    Call({"+441632960001", "5551234", "ring=500ms"});
    const auto uk = LogLine(2, Any);
    ASSERT_TRUE(uk);
    EXPECT_EQ(uk->substr(8), "   00441632960001 -> 5551234  London");
    Call({"0033142685300", "5551234", "ring=500ms"});
    const auto fr = LogLine(3, Any);
    ASSERT_TRUE(fr);
    EXPECT_EQ(fr->substr(8), "   0033142685300 -> 5551234");
}

// "Ereignisprotokoll löschen" in the console: the file, with the line of the
// call that just ended, goes to the desktop's trash, and the console says so.
TEST_F(CallsE2E, ClearedLogGoesToTheTrash) {
    Call({"0305555", "5551234", "ring=500ms"});
    ASSERT_TRUE(LogLine(2, Any));
    WaitAtExchange("-> DISCONNECT_RESP");
    tolvar->Send("clear-log");
    ASSERT_TRUE(WaitLine([](const std::string& l) { return l == "protokoll-clear: "; }));
    ASSERT_TRUE(WaitLine([](const std::string& l) {
        return l == "box: Das Ereignisprotokoll wurde in den Papierkorb verschoben.";
    }));
    EXPECT_FALSE(fs::exists(home / "Tolvar.txt"));
    const fs::path trash = line.Dir() / "data" / "Trash";
    EXPECT_NE(test::ReadAll(trash / "files" / "Tolvar.txt").find("   0305555 -> 5551234\r\n"),
              std::string::npos);
    EXPECT_NE(test::ReadAll(trash / "info" / "Tolvar.txt.trashinfo")
                  .find("\nPath=" + (home / "Tolvar.txt").string() + "\n"),
              std::string::npos);
}

TEST_F(CallsE2E, RunStartsTheProgram) {
    Call({"0304444", "5551234", "ring=1s"});
    const auto arrived = LogLine(2, Any);
    ASSERT_TRUE(arrived);
    EXPECT_EQ(arrived->substr(8), "   0304444 -> 5551234  Programm (program.mark)");
    EXPECT_NE(std::find(tolvar->Lines().begin(), tolvar->Lines().end(),
                        "exec: /usr/bin/touch " + (home / "program.mark").string()),
              tolvar->Lines().end());
    EXPECT_TRUE(EventuallyExists(home / "program.mark"));
}

}  // namespace
}  // namespace tolvar
