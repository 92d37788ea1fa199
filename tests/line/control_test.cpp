#include "line/control.h"

#include <gtest/gtest.h>

namespace tolvar::line {
namespace {

TEST(Tokenize, QuotesEscapesAndErrors) {
    std::string err;
    EXPECT_EQ(Tokenize("call  0301 5551234 sub=\"Hallo Welt\"", err),
              (std::vector<std::string>{"call", "0301", "5551234", "sub=Hallo Welt"}));
    EXPECT_EQ(Tokenize("smsc 1 tap message=\"a \\\"b\\\" \\\\ c\\r\"", err),
              (std::vector<std::string>{"smsc", "1", "tap", "message=a \"b\" \\ c\r"}));
    EXPECT_EQ(Tokenize("x \"\"", err), (std::vector<std::string>{"x", ""}));
    Tokenize("call \"open", err);
    EXPECT_EQ(err, "unterminated quote");
}

TEST(ParseDuration, Units) {
    struct Case {
        const char* text;
        std::optional<std::uint64_t> ms;
    } cases[] = {{"1500", 1500},      {"250ms", 250},       {"5s", 5000},
                 {"1.5s", 1500},      {"2m", 120000},       {"", std::nullopt},
                 {"s", std::nullopt}, {"5h", std::nullopt}, {"-1", std::nullopt}};
    for (const auto& c : cases) EXPECT_EQ(ParseDuration(c.text), c.ms) << c.text;
}

TEST(Scenario, ParsesLinesAndTimedCommands) {
    Scenario s;
    auto e = ParseScenario(
        "# demo\n"
        "manufacturer \"Demo exchange\"\n"
        "line home msn=5551234,5551235 port=3000\n"
        "line office msn=7770001 area=40 channels=2\n"
        "smsc 0171 ucp\n"
        "at 5s call 0301234 5551234 sub=\"a b\"\n"
        "every 40s start=10s count=3 call - 5551235\n",
        s);
    ASSERT_FALSE(e) << *e;
    EXPECT_EQ(s.manufacturer, "Demo exchange");
    ASSERT_EQ(s.lines.size(), 2u);
    EXPECT_EQ(s.lines[0].msns, (std::vector<std::string>{"5551234", "5551235"}));
    EXPECT_EQ(s.lines[0].port, 3000);
    EXPECT_EQ(s.port_given, (std::vector<bool>{true, false}));
    EXPECT_EQ(s.lines[1].area, "40");
    ASSERT_EQ(s.commands.size(), 3u);
    EXPECT_EQ(s.commands[0].command, "smsc 0171 ucp");
    EXPECT_EQ(s.commands[1].at_ms, 5000u);
    EXPECT_EQ(s.commands[1].command, "call 0301234 5551234 sub=\"a b\"");
    EXPECT_EQ(s.commands[2].at_ms, 10000u);
    EXPECT_EQ(s.commands[2].every_ms, 40000u);
    EXPECT_EQ(s.commands[2].count, 3u);
}

TEST(Scenario, ErrorsNameTheirLine) {
    struct Case {
        const char* text;
        const char* error;
    } cases[] = {
        {"line a msn=1\nline a msn=2\n", "line 2: line a defined twice"},
        {"\n\nat soon call 1 2\n", "line 3: bad duration soon"},
        {"line a port=70000\n", "line 1: bad port 70000"},
        {"every 0 call 1 2\n", "line 1: every needs a duration above 0"},
        {"line a msn=1 colour=red\n", "line 1: unknown option colour"},
        {"at 1s\n", "line 1: usage: at DUR COMMAND"},
    };
    for (const auto& c : cases) {
        Scenario s;
        auto e = ParseScenario(c.text, s);
        ASSERT_TRUE(e) << c.text;
        EXPECT_EQ(*e, c.error);
    }
}

class ControlTest : public ::testing::Test {
  protected:
    ControlTest() : ex(sched, FastDelays()), control(ex, sched) {
        LineConfig l;
        l.name = "home";
        l.msns = {"5551234"};
        ex.AddLine(l);
        ex.on_log = [this](const LogEntry& e) { control.OnLog(e); };
    }
    Reply Run(const std::string& line) {
        Reply out;
        out.text = "(no reply)";
        control.Execute(line, [&](Reply r) { out = r; });
        return out;
    }
    Scheduler sched;
    Exchange ex;
    Control control;
};

TEST_F(ControlTest, CommandsAndTheirErrors) {
    struct Case {
        const char* line;
        bool ok;
        const char* text;
    } cases[] = {
        {"call 0301234 5551234", true, "call 1"},
        {"call 0301234 0305551234 cip=2", true, "call 2"},
        {"call 0301234 9999", false, "no line has the number 9999"},
        {"call 03x 5551234", false, "bad calling number 03x"},
        {"call 0301 5551234 cip=99", false, "bad CIP value 99"},
        {"call 0301 5551234 colour=red", false, "unknown option colour"},
        {"call 0301 5551234 sub=123456789012345678901", false,
         "a subaddress carries at most 20 characters"},
        {"answer 77", false, "no call 77"},
        {"smsc 0171 x25", false, "usage: smsc NUMBER ucp|tap [options]"},
        {"smsc 0171 ucp error=3", false, "an error code has two digits"},
        {"set alert=1s", true, ""},
        {"set lunch=1s", false, "unknown delay lunch"},
        {"terminal office fax", false, "no line office"},
        {"frobnicate", false, "unknown command frobnicate (try help)"},
    };
    for (const auto& c : cases) {
        Reply r = Run(c.line);
        EXPECT_EQ(r.ok, c.ok) << c.line;
        EXPECT_EQ(r.text, c.text) << c.line;
    }
    EXPECT_EQ(ex.delays().alert, 1000u);
}

TEST_F(ControlTest, WaitEndsAtTheLogLineOrItsTimeout) {
    Reply r;
    bool done = false;
    control.Execute("wait \"caller gives up\" timeout=10s", [&](Reply x) {
        r = x;
        done = true;
    });
    EXPECT_FALSE(done);
    ASSERT_TRUE(Run("terminal home phone").ok);  // rings, so the caller waits
    ASSERT_TRUE(Run("call 0301 5551234 ring=1s").ok);
    sched.Advance(500);
    EXPECT_FALSE(done);
    sched.Advance(1000);
    ASSERT_TRUE(done);
    EXPECT_TRUE(r.ok);
    ASSERT_EQ(r.lines.size(), 1u);
    EXPECT_NE(r.lines[0].find("caller gives up after 1000 ms"), std::string::npos);

    done = false;
    control.Execute("wait nothing-like-this timeout=2s", [&](Reply x) {
        r = x;
        done = true;
    });
    sched.Advance(1999);
    EXPECT_FALSE(done);
    sched.Advance(1);
    ASSERT_TRUE(done);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.text, "timeout");
}

TEST_F(ControlTest, ScenarioRepeatsCommands) {
    Scenario s;
    ASSERT_FALSE(ParseScenario("every 10s start=1s count=3 call 0301 5551234 ring=1s\n", s));
    ASSERT_TRUE(Run("terminal home phone").ok);
    RunScenario(s, control, sched, ex);
    sched.Advance(60000);
    int placed = 0;
    for (const auto& e : ex.log())
        if (e.text.find(": placed ") != std::string::npos) ++placed;
    EXPECT_EQ(placed, 3);
}

}  // namespace
}  // namespace tolvar::line
