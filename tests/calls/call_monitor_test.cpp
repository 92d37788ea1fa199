// Incoming calls through the engine on a fake CAPI and virtual time: the
// caller's number, the service, the rule in force, the six actions through a
// call's life, the event-log line and file, and indications that lie.

#include <gtest/gtest.h>
#include <algorithm>

#include <fstream>

#include "calls/call_message.h"
#include "calls/event_log.h"
#include "support/test_host.h"

namespace tolvar {
namespace {

using test::CallSetup;
using test::HexBytes;

constexpr const char* kHeader = "Windows Registry Editor Version 5.00\n\n";
constexpr const char* kIsdnTab =
    "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar]\n\"ShowISDNTab\"=dword:00000001\n\n";
const DateTime kMorning = DateTime::From({2026, 12, 7}, 8, 0, 0);

// The messages the program owes, for PLCI 0x0101, as CAPI 2.0 lays them out.
constexpr const char* kAlertReq = "0D 00 01 00 01 80 00 00 01 01 00 00 00";
constexpr const char* kConnectRespAccept =
    "13 00 01 00 02 83 00 00 01 01 00 00 00 00 00 00 00 00 00";
constexpr const char* kConnectActiveResp3 = "0C 00 01 00 03 83 03 00 01 01 00 00";
constexpr const char* kDisconnectReq = "0D 00 01 00 04 80 00 00 01 01 00 00 00";
constexpr const char* kDisconnectResp2 = "0C 00 01 00 04 83 02 00 01 01 00 00";

std::string Escaped(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out;
}

// One rule entry as the hive stores it.
std::string Entry(const std::string& msn, const std::string& caller, const std::string& at,
                  int action, const std::string& param = "") {
    char dword[16];
    std::snprintf(dword, sizeof dword, "%08x", static_cast<unsigned>(action));
    return "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\MSN\\" + msn + "\\" + caller + "\\" +
           at + "]\n\"Action\"=dword:" + dword + "\n\"Param\"=\"" + Escaped(param) + "\"\n\n";
}

std::string AgentOptions(const std::string& values) {
    return "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\Agent]\n" + values + "\n";
}

// An engine with rules from a hive, the log file in the scratch folder and
// programs recorded instead of started.
class Calls {
  public:
    explicit Calls(const std::string& keys, DateTime at = kMorning) {
        host.time = VirtualTime(at);
        host.eventLogPath = LogPath();
        host.WriteHive(kHeader + keys);
        host.Start();
        mark = host.capi.puts.size();
    }

    std::string LogPath() const { return (host.dir / "Tolvar.txt").string(); }
    Engine& engine() { return *host.engine; }
    std::vector<std::string> Lines() { return engine().Log().Lines().ToVector(); }
    std::string LastLine() { return Lines().empty() ? "" : Lines().back(); }
    // The file once the writer thread has finished.
    std::optional<std::vector<std::string>> File() {
        engine().Log().FinishWrites();
        auto lines = ReadTextLines(LogPath());
        if (!lines) return std::nullopt;
        return lines->ToVector();
    }

    void Receive(const std::vector<std::uint8_t>& m) { host.Receive(m); }
    void Call(const CallSetup& c) { Receive(test::ConnectInd(c)); }

    // What the program put since the last look.
    std::vector<std::string> NewPuts() {
        std::vector<std::string> out;
        for (; mark < host.capi.puts.size(); ++mark)
            out.push_back(HexBytes(host.capi.puts[mark].message));
        return out;
    }
    // Recorded effects on one channel ("contact", "announce", "sound", "exec").
    std::vector<std::string> Events(const std::string& channel) const {
        std::vector<std::string> out;
        const std::string prefix = channel + ": ";
        for (const auto& e : host.ui.events)
            if (e.rfind(prefix, 0) == 0) out.push_back(e.substr(prefix.size()));
        return out;
    }

    test::TestHost host;
    std::vector<std::string>& started = host.ui.started;
    bool& startResult = host.ui.startResult;
    std::size_t mark = 0;
};

CallSetup From(const std::string& digits, std::uint32_t plci = 0x0101) {
    CallSetup c;
    c.caller = digits;
    c.plci = plci;
    return c;
}

TEST(CallMonitor, CallerNumberAsShown) {
    struct Case {
        const char* digits;
        std::uint8_t typeOfNumber;
        const char* shown;
    };
    const Case cases[] = {
        {"123456", 0x41, "0123456"},
        {"12345", 0x41, "12345"},
        {"0301234", 0x01, "0301234"},
        {"4930123456", 0x11, "004930123456"},
        {"301234567", 0x21, "0301234567"},
        {"", 0x01, "Unbekannt/Analog"},
        // International: "00" before the digits, however short; only the type
        // of number (bits 7 to 5) counts, not the numbering plan.
        {"4412", 0x11, "004412"},
        {"441632960001", 0x91, "00441632960001"},
        {"441632960001", 0x31, "0441632960001"},
    };
    Calls calls("");
    std::uint32_t plci = 0x0101;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.digits);
        CallSetup setup = From(c.digits, plci++);
        setup.typeOfNumber = c.typeOfNumber;
        calls.Call(setup);
        EXPECT_EQ(calls.LastLine(), std::string("08:00:00   ") + c.shown + " -> 5551234");
        EXPECT_EQ(calls.engine().ConnectionList().FindConnectionByPLCI(setup.plci)->CallingNumber,
                  c.shown);
    }
}

TEST(CallMonitor, EveryServiceHasItsText) {
    const std::pair<std::uint16_t, const char*> cases[] = {
        {1, ""},           {4, ""},           {16, ""},
        {2, " (Daten)"},   {17, " (FAX G3)"}, {18, " (FAX G4)"},
        {0, " (CIP:0)"},   {3, " (CIP:3)"},   {5, " (CIP:5)"},
        {15, " (CIP:15)"}, {19, " (CIP:19)"}, {23, " (CIP:23)"},
        {25, " (CIP:25)"}, {28, " (CIP:28)"}, {65535, " (CIP:65535)"},
    };
    Calls calls("");
    std::uint32_t plci = 0x0101;
    for (const auto& [cip, text] : cases) {
        SCOPED_TRACE(cip);
        CallSetup setup = From("0301234", plci++);
        setup.cip = cip;
        calls.Call(setup);
        EXPECT_EQ(calls.LastLine(), std::string("08:00:00   0301234") + text + " -> 5551234");
        EXPECT_EQ(calls.engine().ConnectionList().FindConnectionByPLCI(setup.plci)->CIPValue, cip);
    }
}

TEST(CallMonitor, DMailCallIsAlertedButNotMonitored) {
    // Even a rule that would intercept every call leaves a CIP-24 call alone;
    // D-Mail takes only the calls to its own MSN here.
    Calls calls(Entry("5551234", "Sonstige", "00:00", 3) +
                AgentOptions("\"UseAgent\"=dword:00000001\n") +
                "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\DMail]\n\"MSN\"=\"5559999\"\n\n");
    CallSetup other = From("0301234", 0x0202);
    other.msn = "5559999";
    calls.Call(other);
    const auto linesBefore = calls.Lines();
    calls.NewPuts();

    CallSetup dmail = From("0301234");
    dmail.cip = 24;
    calls.Call(dmail);
    EXPECT_EQ(calls.NewPuts(), std::vector<std::string>{kAlertReq});
    EXPECT_EQ(calls.Lines(), linesBefore);
    const TConnection* record = calls.engine().ConnectionList().FindConnectionByPLCI(0x0101);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->Kind, CallKind::Aus);
    EXPECT_EQ(record->LogLine, -1);
    EXPECT_EQ(record->CIPValue, 24);
    EXPECT_TRUE(calls.Events("contact").empty());
    EXPECT_TRUE(calls.Events("announce").empty());

    calls.Receive(test::Message(cmd::ALERT_CONF, 0, test::U32(0x0101)));
    EXPECT_TRUE(calls.NewPuts().empty());
    EXPECT_FALSE(calls.File());
    calls.Receive(test::DisconnectInd(0x0101, 0x349A));
    EXPECT_EQ(calls.NewPuts(), std::vector<std::string>{kDisconnectResp2});
    EXPECT_EQ(calls.Lines(), linesBefore);
    EXPECT_EQ(calls.File(), linesBefore);
    EXPECT_EQ(calls.engine().ConnectionList().FindConnectionByPLCI(0x0101), nullptr);
}

TEST(CallMonitor, EntryInForceAtTheEdgesOfTheDay) {
    struct Case {
        std::vector<const char*> starts;
        int hour, minute, second;
        const char* used;
    };
    const Case cases[] = {
        {{"00:00", "08:00", "18:00"}, 7, 59, 0, "00:00"},
        {{"00:00", "08:00", "18:00"}, 8, 0, 0, "08:00"},
        {{"00:00", "08:00", "18:00"}, 17, 59, 59, "08:00"},
        {{"00:00", "08:00", "18:00"}, 18, 0, 0, "18:00"},
        {{"00:00", "08:00", "18:00"}, 0, 0, 0, "00:00"},
        {{"08:00", "18:00"}, 7, 0, 0, "18:00"},
        {{"08:00", "18:00"}, 23, 59, 59, "18:00"},
        {{"08:00", "18:00"}, 8, 0, 0, "08:00"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.hour) + ":" + std::to_string(c.minute) + " -> " + c.used);
        std::string keys;
        for (const char* s : c.starts)
            keys += Entry("5551234", "0178 Mutter", s, 1, std::string("/opt/") + s);
        Calls calls(keys, DateTime::From({2026, 12, 7}, c.hour, c.minute, c.second));
        calls.Call(From("17812345"));
        ASSERT_EQ(calls.started.size(), 1u);
        EXPECT_EQ(calls.started[0], std::string("/opt/") + c.used);
        EXPECT_EQ(calls.LastLine().substr(8),
                  std::string("   017812345 -> 5551234  Mutter (") + c.used + ")");
    }
}

TEST(CallMonitor, FirstCallAfterMidnightGetsADateHeader) {
    Calls calls("", DateTime::From({2026, 12, 7}, 23, 59, 0));
    calls.Call(From("0301234", 1));
    calls.host.time.Advance(2 * 60 * 1000);
    calls.Call(From("0301235", 2));
    calls.Call(From("0301236", 3));
    EXPECT_EQ(calls.Lines(),
              (std::vector<std::string>{"", "[07.12.2026]", "23:59:00   0301234 -> 5551234", "",
                                        "[08.12.2026]", "00:01:00   0301235 -> 5551234",
                                        "00:01:00   0301236 -> 5551234"}));
    // Arrival writes nothing; the file waits for a call's end.
    EXPECT_FALSE(calls.File());
}

TEST(CallMonitor, RuleLookupThroughTheTree) {
    const std::string keys = Entry("5551234 Büro", "Sonstige", "00:00", 1, "/opt/buero") +
                             Entry("5551234 Privat", "Sonstige", "00:00", 1, "/opt/privat") +
                             Entry("5551234 Privat", "0178", "00:00", 1, "/opt/0178") +
                             Entry("5551234 Privat", "01781 Mutter", "00:00", 1, "/opt/01781") +
                             Entry("@", "Unbekannt/Analog", "00:00", 1, "/opt/leer-unbekannt") +
                             Entry("@", "Sonstige", "00:00", 1, "/opt/leer-sonstige") +
                             Entry("5550000", "Unbekannt/Analog", "00:00", 1, "/opt/unbekannt") +
                             Entry("5550000", "Sonstige", "00:00", 1, "/opt/sonstige");
    struct Case {
        const char* msn;
        const char* caller;
        const char* program;  // empty: no rule applies
        const char* line;     // after the time
    };
    const Case cases[] = {
        // Two MSN nodes with one number: the later one counts.
        {"5551234", "0401", "/opt/privat", "   0401 -> 5551234 (privat)"},
        {"5551234", "17812345", "/opt/01781", "   017812345 -> 5551234  Mutter (01781)"},
        {"5551234", "01789", "/opt/0178", "   01789 -> 5551234 (0178)"},
        // The empty MSN label stands for calls without a called number, and only those.
        {"", "", "/opt/leer-unbekannt", "   Unbekannt/Analog ->  (leer-unbekannt)"},
        {"", "301234", "/opt/leer-sonstige", "   0301234 ->  (leer-sonstige)"},
        {"5550000", "", "/opt/unbekannt", "   Unbekannt/Analog -> 5550000 (unbekannt)"},
        {"5550000", "301234", "/opt/sonstige", "   0301234 -> 5550000 (sonstige)"},
        // No node for the MSN: logged, without name or action.
        {"5559999", "17812345", "", "   017812345 -> 5559999"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.msn) + " from " + c.caller);
        Calls calls(keys);
        CallSetup setup = From(c.caller);
        setup.msn = c.msn;
        calls.Call(setup);
        EXPECT_EQ(calls.started,
                  *c.program ? std::vector<std::string>{c.program} : std::vector<std::string>{});
        EXPECT_EQ(calls.LastLine().substr(8), c.line);
        EXPECT_EQ(calls.NewPuts(), std::vector<std::string>{kAlertReq});
    }
}

// International callers are matched in their "00" form first; a rule written
// for the one-"0" form they once had still matches after it, before "Sonstige".
TEST(CallMonitor, InternationalCallersMatchTheirOldFormAfterTheNewOne) {
    const std::string keys = Entry("5551234", "0441632 London", "00:00", 1, "/opt/alt") +
                             Entry("5551234", "0033 Frankreich", "00:00", 1, "/opt/fr") +
                             Entry("5551234", "Sonstige", "00:00", 1, "/opt/sonstige") +
                             Entry("5551235", "0441632 London", "00:00", 1, "/opt/alt") +
                             Entry("5551235", "0044 England", "00:00", 1, "/opt/uk");
    struct Case {
        const char* msn;
        const char* digits;
        std::uint8_t typeOfNumber;
        const char* program;
        const char* line;  // after the time
    };
    const Case cases[] = {
        {"5551234", "441632960001", 0x11, "/opt/alt", "   00441632960001 -> 5551234  London (alt)"},
        {"5551234", "33142685300", 0x11, "/opt/fr", "   0033142685300 -> 5551234  Frankreich (fr)"},
        {"5551234", "441632960001", 0x21, "/opt/alt", "   0441632960001 -> 5551234  London (alt)"},
        {"5551234", "4930123456", 0x11, "/opt/sonstige", "   004930123456 -> 5551234 (sonstige)"},
        // The "00" form wins even over a longer match of the old one.
        {"5551235", "441632960001", 0x11, "/opt/uk", "   00441632960001 -> 5551235  England (uk)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.msn) + " from " + c.digits);
        Calls calls(keys);
        CallSetup setup = From(c.digits);
        setup.msn = c.msn;
        setup.typeOfNumber = c.typeOfNumber;
        calls.Call(setup);
        EXPECT_EQ(calls.started, std::vector<std::string>{c.program});
        EXPECT_EQ(calls.LastLine().substr(8), c.line);
    }
}

TEST(CallMonitor, DisconnectForAnUnknownCallIsOnlyAnswered) {
    Calls calls(Entry("5551234", "Sonstige", "00:00", 0));
    calls.Call(From("0301234", 0x0202));
    calls.NewPuts();
    calls.Receive(test::DisconnectInd(0x0101, 0x3490));
    EXPECT_EQ(calls.NewPuts(), std::vector<std::string>{kDisconnectResp2});
    EXPECT_FALSE(calls.File());
    EXPECT_EQ(calls.LastLine(), "08:00:00   0301234 -> 5551234");
    EXPECT_EQ(calls.engine().ConnectionList().Count(), 1u);
}

TEST(CallMonitor, EachActionThroughArrivalConnectionAndEnd) {
    struct Case {
        int action;
        const char* param;
        std::uint16_t reason;
        bool accepts;           // CONNECT_RESP accept at arrival, then connected
        const char* atArrival;  // appended to "... Mutter"
        const char* atEnd;      // appended at the end
        bool fileWritten;
    };
    const Case cases[] = {
        {0, "", 0x3490, false, "", "", true},
        {0, "", 0x349A, false, "", "  verbunden.", true},
        {0, "", 0x3304, false, "", "  verbunden.", true},
        {1, "/opt/bin/melde --laut", 0x3490, false, " (melde --laut)", "", true},
        {1, "/opt/bin/melde --laut", 0x349A, false, " (melde --laut)", "  verbunden.", true},
        {2, "/nirgends/klingel.wav", 0x3490, false, "", "", true},
        {2, "/nirgends/klingel.wav", 0x3304, false, "", "  verbunden.", true},
        {3, "", 0x3490, true, "", "  abgefangen.", true},
        {3, "", 0x349A, false, "", "  abgefangen.", true},  // another telephone was quicker
        {4, "01711234567", 0x3490, false, "", "  SMS nicht verschickt.", true},  // no provider
        {4, "01711234567", 0x349A, false, "", "  verbunden.", true},
        {4, "01711234567", 0x3304, false, "", "  verbunden.", true},
        {5, "", 0x3490, true, "", "  abgehoben 00:03:12", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("action " + std::to_string(c.action) + " reason " + std::to_string(c.reason));
        Calls calls(Entry("5551234", "0178 Mutter", "00:00", c.action, c.param));
        calls.Call(From("17812345"));
        const std::string line =
            std::string("08:00:00   017812345 -> 5551234  Mutter") + c.atArrival;
        EXPECT_EQ(calls.LastLine(), line);
        const TConnection* record = calls.engine().ConnectionList().FindConnectionByPLCI(0x0101);
        ASSERT_NE(record, nullptr);
        EXPECT_EQ(record->Kind, static_cast<CallKind>(c.action));
        EXPECT_EQ(record->LogLine, 2);
        const std::vector<std::string> arrivalPuts =
            c.accepts || c.action == 3 ? std::vector<std::string>{kAlertReq, kConnectRespAccept}
                                       : std::vector<std::string>{kAlertReq};
        EXPECT_EQ(calls.NewPuts(), arrivalPuts);
        EXPECT_TRUE(calls.host.ui.sounds.empty());
        if (c.accepts) {
            calls.Receive(test::ConnectActiveInd(0x0101));
            const std::vector<std::string> activePuts =
                c.action == 5 ? std::vector<std::string>{kConnectActiveResp3}
                              : std::vector<std::string>{kConnectActiveResp3, kDisconnectReq};
            EXPECT_EQ(calls.NewPuts(), activePuts);
        }
        calls.host.time.Advance((3 * 60 + 12) * 1000);
        calls.Receive(test::DisconnectInd(0x0101, c.reason));
        EXPECT_EQ(calls.NewPuts(), std::vector<std::string>{kDisconnectResp2});
        EXPECT_EQ(calls.LastLine(), line + c.atEnd);
        EXPECT_EQ(calls.host.ui.log.back(), line + c.atEnd);
        if (c.fileWritten)
            EXPECT_EQ(calls.File(), calls.Lines());
        else
            EXPECT_FALSE(calls.File());
        EXPECT_EQ(calls.engine().ConnectionList().Count(), 0u);
    }
}

TEST(CallMonitor, PickedUpCallsDurationRunsAcrossMidnight) {
    Calls calls(Entry("5551234", "Sonstige", "00:00", 5),
                DateTime::From({2026, 12, 7}, 23, 58, 30));
    calls.Call(From("0301234"));
    calls.host.time.Advance((3 * 60 + 12) * 1000);
    calls.Receive(test::DisconnectInd(0x0101, 0x3490));
    EXPECT_EQ(calls.LastLine(), "23:58:30   0301234 -> 5551234  abgehoben 00:03:12");
}

TEST(CallMonitor, SoundPlaysOneSecondAfterArrivalAndHoldsWhatArrivesMeanwhile) {
    test::TestHost scratch;  // only for a folder that outlives the engine's
    const std::string wav = (scratch.dir / "klingel.wav").string();
    std::ofstream(wav) << "RIFF";
    Calls calls(std::string(kIsdnTab) + Entry("5551234", "0178 Mutter", "06:00", 2, wav) +
                AgentOptions("\"UseAgent\"=dword:00000001\n"));
    calls.Call(From("17812345"));
    EXPECT_EQ(calls.NewPuts(), std::vector<std::string>{kAlertReq});
    EXPECT_TRUE(calls.Lines().empty());
    // The caller's own exchange reports the answer while the handler waits.
    calls.Receive(test::DisconnectInd(0x0101, 0x349A));
    EXPECT_TRUE(calls.NewPuts().empty());
    const std::size_t before = calls.host.ui.events.size();
    calls.host.time.Advance(999);
    EXPECT_TRUE(calls.host.ui.sounds.empty());
    EXPECT_TRUE(calls.Lines().empty());
    EXPECT_EQ(calls.engine().Desktop().LookupsStarted(), 0u);
    calls.host.time.Advance(1);
    EXPECT_EQ(calls.engine().Desktop().LookupsStarted(), 1u);
    EXPECT_EQ(calls.host.ui.sounds, std::vector<std::string>{wav});
    const std::string line = "08:00:00   017812345 -> 5551234  Mutter (klingel.wav)";
    EXPECT_EQ(calls.Lines().back(), line + "  verbunden.");
    EXPECT_EQ(calls.NewPuts(), std::vector<std::string>{kDisconnectResp2});
    EXPECT_EQ(calls.File(), calls.Lines());

    // In the order a handler that slept would have produced.
    std::vector<std::string> seen;
    for (std::size_t i = before; i < calls.host.ui.events.size(); ++i) {
        const std::string& e = calls.host.ui.events[i];
        if (e.rfind("sound: ", 0) == 0) seen.push_back("sound");
        if (e.rfind("notify: ", 0) == 0) seen.push_back("notify");
        if (e == "protokoll 2: " + line) seen.push_back("line");
        if (e == "protokoll 2: " + line + "  verbunden.") seen.push_back("verbunden");
        if (e.rfind("isdn: ", 0) == 0 && e.find("DISCONNECT_IND") != std::string::npos)
            seen.push_back("IND");
        if (e.rfind("isdn: ", 0) == 0 && e.find("DISCONNECT_RESP") != std::string::npos)
            seen.push_back("RESP");
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"sound", "line", "notify", "IND", "RESP", "verbunden",
                                              "notify"}));
    EXPECT_TRUE(calls.Events("announce").empty());
}

TEST(CallMonitor, SecondSoundCallWaitsForTheFirst) {
    test::TestHost scratch;
    const std::string wav = (scratch.dir / "klingel.wav").string();
    std::ofstream(wav) << "RIFF";
    Calls calls(Entry("5551234", "Sonstige", "00:00", 2, wav));
    calls.Call(From("0301234", 1));
    calls.host.time.Advance(300);
    calls.Call(From("0305678", 2));
    calls.host.time.Advance(700);
    EXPECT_EQ(calls.host.ui.sounds.size(), 1u);
    EXPECT_EQ(calls.LastLine(), "08:00:00   0301234 -> 5551234 (klingel.wav)");
    calls.host.time.Advance(999);
    EXPECT_EQ(calls.host.ui.sounds.size(), 1u);
    calls.host.time.Advance(1);
    EXPECT_EQ(calls.host.ui.sounds.size(), 2u);
    // Handled once the first handler's wait was over.
    EXPECT_EQ(calls.LastLine(), "08:00:01   0305678 -> 5551234 (klingel.wav)");
    calls.Receive(test::DisconnectInd(2, 0x3490));
    calls.Receive(test::DisconnectInd(1, 0x3490));
    EXPECT_EQ(calls.engine().ConnectionList().Count(), 0u);
}

TEST(CallMonitor, RunHandsTheCommandLineOverEvenWhenItCannotStart) {
    for (const bool startable : {true, false}) {
        Calls calls(Entry("5551234", "0178 Mutter", "00:00", 1,
                          "/opt/werk zeug/melde \"Anruf da\" --von=x"));
        calls.startResult = startable;
        calls.Call(From("17812345"));
        EXPECT_EQ(calls.started,
                  std::vector<std::string>{"/opt/werk zeug/melde \"Anruf da\" --von=x"});
        EXPECT_EQ(calls.Events("start"), calls.started);
        EXPECT_EQ(calls.LastLine(),
                  "08:00:00   017812345 -> 5551234  Mutter (melde \"Anruf da\" --von=x)");
        EXPECT_TRUE(calls.host.ui.errors.empty());
    }
}

TEST(CallMonitor, AnnouncementAndContactLookup) {
    const std::string agentOn = "\"UseAgent\"=dword:00000001\n";
    struct Case {
        const char* name;
        std::string options;  // values of the Agent key
        std::string caller;   // caller key label
        int action;           // -1: the caller has no entries
        const char* from;
        const char* msn;
        bool announced;
        bool lookedUp;
    };
    const std::vector<Case> cases = {
        {"known caller, Aus", agentOn, "0178 Mutter", 0, "17812345", "5551234", true, true},
        {"Ausführen", agentOn, "0178 Mutter", 1, "17812345", "5551234", true, true},
        {"SMS an", agentOn, "0178 Mutter", 4, "17812345", "5551234", true, true},
        {"pick up", agentOn, "0178 Mutter", 5, "17812345", "5551234", true, true},
        {"Sound (file missing)", agentOn, "0178 Mutter", 2, "17812345", "5551234", false, true},
        {"Abfangen", agentOn, "0178 Mutter", 3, "17812345", "5551234", false, true},
        {"no entries", agentOn, "0178 Mutter", -1, "17812345", "5551234", true, true},
        {"no name", agentOn, "0178", 0, "17812345", "5551234", false, true},
        {"UseAgent 0", "\"UseAgent\"=dword:00000000\n", "0178 Mutter", 0, "17812345", "5551234",
         false, true},
        {"UseAgent missing", "", "0178 Mutter", 0, "17812345", "5551234", false, true},
        // With a voice set: an empty one would bring back the defaults, the lookup included.
        {"UseOutlook 0",
         agentOn + "\"AgentPath\"=\"/v/de\"\n\"AgentName\"=\"de\"\n\"UseOutlook\"=dword:00000000\n",
         "0178 Mutter", 0, "17812345", "5551234", true, false},
        {"no caller node", agentOn, "0178 Mutter", 0, "301234", "5551234", false, false},
        {"unknown MSN", agentOn, "0178 Mutter", 0, "17812345", "5559999", false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string rule =
            c.action < 0 ? "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\MSN\\5551234\\" +
                               c.caller + "]\n\n"
                         : Entry("5551234", c.caller, "00:00", c.action,
                                 c.action == 2 ? "/nirgends.wav" : "");
        Calls calls(rule + AgentOptions(c.options));
        CallSetup setup = From(c.from);
        setup.msn = c.msn;
        calls.Call(setup);
        // One notification at once, the call's, headed by the announcement;
        // the speech a second later.
        const auto notices = calls.Events("notify");
        ASSERT_EQ(notices.size(), 1u);
        EXPECT_EQ(notices[0].find(" Anruf von Mutter | ") != std::string::npos, c.announced)
            << notices[0];
        calls.host.time.Advance(999);
        EXPECT_TRUE(calls.Events("announce").empty());
        calls.host.time.Advance(1);
        EXPECT_EQ(calls.Events("announce"), c.announced
                                                ? std::vector<std::string>{"Anruf von Mutter"}
                                                : std::vector<std::string>{});
        EXPECT_EQ(calls.engine().Desktop().LookupsStarted(), c.lookedUp ? 1u : 0u);
    }
}

TEST(CallMonitor, CallerWithoutEntriesIsLoggedWithoutName) {
    Calls calls("[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\MSN\\5551234\\0178 Mutter]\n\n");
    calls.Call(From("17812345"));
    EXPECT_EQ(calls.LastLine(), "08:00:00   017812345 -> 5551234");
    EXPECT_EQ(calls.engine().ConnectionList().FindConnectionByPLCI(0x0101)->Kind, CallKind::Aus);
}

TEST(CallMonitor, ActionCodeOutsideTheListActsLikeAus) {
    // A hand-edited hive may hold any number; the call must not turn into an
    // SMS or D-Mail call (9 would reject it at ALERT_CONF).
    for (const int action : {6, 7, 8, 9, -1, 100}) {
        SCOPED_TRACE(action);
        Calls calls(Entry("5551234", "0178 Mutter", "00:00", action));
        calls.Call(From("17812345"));
        calls.Receive(test::Message(cmd::ALERT_CONF, 0, test::U32(0x0101)));
        EXPECT_EQ(calls.NewPuts(), std::vector<std::string>{kAlertReq});
        calls.Receive(test::DisconnectInd(0x0101, 0x349A));
        EXPECT_EQ(calls.LastLine(), "08:00:00   017812345 -> 5551234  Mutter  verbunden.");
        EXPECT_EQ(calls.File(), calls.Lines());
    }
}

// Every shortened or mislabelled CONNECT_IND ends its handling cleanly, reads
// nothing outside the message (run under ASan), and says so in the trace.
class MalformedConnectInd : public ::testing::Test {
  protected:
    void SetUp() override {
        setup.caller = "301234567";
        setup.subaddress = "Hallo";
        valid = test::ConnectInd(setup);
        // Offsets of the four length octets the decoder follows.
        std::size_t at = 14;
        for (int i = 0; i < 4; ++i) {
            lengthOctets.push_back(at);
            at += 1 + valid[at];
        }
        decodedEnd = at;
    }

    // Feeds one message; returns the trace lines it produced.
    std::vector<std::string> Feed(Calls& calls, const std::vector<std::uint8_t>& m) {
        const std::size_t before = calls.host.ui.isdn.size();
        calls.Receive(m);
        EXPECT_TRUE(calls.host.ui.errors.empty()) << calls.host.ui.errors.back();
        return {calls.host.ui.isdn.begin() + static_cast<std::ptrdiff_t>(before),
                calls.host.ui.isdn.end()};
    }
    static bool Complains(const std::vector<std::string>& trace) {
        for (const auto& l : trace)
            if (l.rfind("CONNECT_IND", 0) == 0 && (l.find("zu kurz") != std::string::npos ||
                                                   l.find("passt nicht") != std::string::npos))
                return true;
        return false;
    }

    CallSetup setup;
    std::vector<std::uint8_t> valid;
    std::vector<std::size_t> lengthOctets;
    std::size_t decodedEnd = 0;
};

TEST_F(MalformedConnectInd, EveryPrefix) {
    Calls calls(kIsdnTab);
    // Length field telling the truth, and the stale Length of the whole message.
    for (const bool truthful : {true, false}) {
        for (std::size_t n = 6; n < valid.size(); ++n) {
            SCOPED_TRACE((truthful ? "Length " : "stale Length, ") + std::to_string(n) + " bytes");
            std::vector<std::uint8_t> m(valid.begin(),
                                        valid.begin() + static_cast<std::ptrdiff_t>(n));
            if (truthful) {
                m[0] = static_cast<std::uint8_t>(n);
                if (n > 1) m[1] = 0;
            }
            calls.NewPuts();
            const auto trace = Feed(calls, m);
            if (n < decodedEnd) {
                EXPECT_TRUE(Complains(trace)) << ::testing::PrintToString(trace);
            } else {
                EXPECT_EQ(calls.LastLine(), "08:00:00   0301234567 -> 5551234");
            }
            if (n < 14) {
                EXPECT_TRUE(calls.NewPuts().empty());
            }
        }
    }
}

TEST_F(MalformedConnectInd, EveryWrongLengthOctet) {
    Calls calls(kIsdnTab);
    for (std::size_t i = 0; i < lengthOctets.size(); ++i) {
        const std::size_t at = lengthOctets[i];
        for (int v = 0; v < 256; ++v) {
            if (v == valid[at]) continue;
            SCOPED_TRACE("structure " + std::to_string(i) + " length " + std::to_string(v));
            auto m = valid;
            m[at] = static_cast<std::uint8_t>(v);
            const auto trace = Feed(calls, m);
            // A structure that runs past the message is named in the trace.
            if (at + 1 + static_cast<std::size_t>(v) > m.size()) {
                EXPECT_TRUE(Complains(trace));
            }
            if (calls.engine().ConnectionList().Count() > 0) {
                const TConnection& last =
                    calls.engine().ConnectionList()[calls.engine().ConnectionList().Count() - 1];
                // Characters, not bytes: numbers are shown as UTF-8.
                const auto chars = [](const std::string& t) {
                    return static_cast<std::size_t>(std::count_if(t.begin(), t.end(), [](char c) {
                        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
                    }));
                };
                EXPECT_LE(chars(last.CalledNumber) + chars(last.CallingNumber) +
                              last.SubaddressText.size(),
                          m.size());
            }
        }
    }
}

}  // namespace
}  // namespace tolvar
