// D-Mail between real copies of the program on lines of tolvar-line.

#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <thread>

#include "dmail/dmail.h"
#include "support/files.h"
#include "support/line_fixture.h"

namespace tolvar {
namespace {

using namespace std::chrono_literals;

// 64 characters, umlauts included.
const std::string kMessage = "Grüße aus Köln! Die Äpfel sind reif, übermorgen holen wir alle!!";

class DMailE2E : public ::testing::Test {
  protected:
    void SetUp() override {
        test::WriteAll(scenario,
                       "line home msn=5551234 area=30\n"
                       "line office msn=7770001,7770002 area=40\n"
                       "line third msn=8880001 area=50\n");
        line =
            std::make_unique<test::LineFixture>(std::vector<std::string>{"--scenario", scenario});
    }
    void TearDown() override {
        for (auto* p : {&home, &office, &third})
            if (*p) {
                (*p)->Send("quit");
                EXPECT_EQ((*p)->Wait(5s), 0);
            }
        const std::string log = test::ReadAll(line->Dir() / "line.log");
        EXPECT_EQ(log.find("violation"), std::string::npos) << log;
    }
    // A copy on line i with its own D-Mail MSN, listening.
    std::unique_ptr<test::Process> Copy(const std::string& name, std::size_t i,
                                        const std::string& msn, const std::string& values = "") {
        auto p = line->StartTolvar(name,
                                   std::string(test::kShowIsdnTab) +
                                       "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\DMail]\n"
                                       "\"MSN\"=\"" +
                                       msn + "\"\n" + values + "\n",
                                   i);
        EXPECT_TRUE(Wait(*p, [](const std::string& l) { return Has(l, "LISTEN_CONF"); }));
        return p;
    }
    static bool Has(const std::string& s, const std::string& part) {
        return s.find(part) != std::string::npos;
    }
    static std::optional<std::string> Wait(test::Process& p,
                                           const std::function<bool(const std::string&)>& pred,
                                           std::chrono::milliseconds timeout = 10s) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (auto l = p.ReadLine(std::chrono::duration_cast<std::chrono::milliseconds>(
                   end - std::chrono::steady_clock::now()))) {
            if (pred(*l)) return l;
        }
        return std::nullopt;
    }
    static void Send(test::Process& p, const std::string& to, const std::string& text) {
        p.Send("dmail-to " + to);
        p.Send("dmail-text " + text);
        p.Send("dmail-send");
    }
    // The status lines up to (and including) the first that satisfies last.
    static std::vector<std::string> StatusUntil(test::Process& p, const std::string& last,
                                                std::chrono::milliseconds timeout = 20s) {
        std::vector<std::string> lines;
        Wait(
            p,
            [&](const std::string& l) {
                if (l.rfind("dmail: ", 0) != 0) return false;
                lines.push_back(l.substr(7));
                return lines.back() == last;
            },
            timeout);
        return lines;
    }
    std::string Ctl(const std::vector<std::string>& command) {
        const auto reply = line->Ctl(command);
        return reply.empty() ? "" : reply.back();
    }
    std::string LineLog() { return test::ReadAll(line->Dir() / "line.log"); }
    std::size_t Count(const std::string& text) {
        const std::string log = LineLog();
        std::size_t n = 0;
        for (auto at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++n;
        return n;
    }
    // One packet of a scripted D-Mail sender to TO, over once its call has ended.
    void Packet(const std::string& from, const std::string& to, const std::string& text) {
        const std::string reply = Ctl({"call", from, to, "cip=24", "sub=" + text});
        ASSERT_EQ(reply.rfind("ok call ", 0), 0u) << reply;
        AtExchange(reply.substr(3) + ": ended");
    }
    // Waits for a call the log names so, then for its end.
    void PlacedAndEnded(const std::string& text) {
        const auto reply = line->Ctl({"wait", text, "timeout=10s"});
        ASSERT_GE(reply.size(), 2u);
        const std::string& placed = reply[reply.size() - 2];
        const auto at = placed.find("call ");
        ASSERT_NE(at, std::string::npos) << placed;
        AtExchange(placed.substr(at, placed.find(':', at) - at) + ": ended");
    }
    // Waits for TEXT in the exchange's log.
    void AtExchange(const std::string& text, const std::string& timeout = "timeout=10s") {
        EXPECT_EQ(Ctl({"wait", text, timeout}).rfind("ok", 0), 0u) << text;
    }

    test::TempDir dir;
    std::string scenario = dir.File("lines.scn");
    std::unique_ptr<test::LineFixture> line;
    std::unique_ptr<test::Process> home, office, third;
};

TEST_F(DMailE2E, SixtyFourCharactersWithUmlautsEndToEnd) {
    home = Copy("home", 0, "5551234");
    office = Copy("office", 1, "");
    Send(*home, "0407770001 Büro", kMessage);
    EXPECT_EQ(StatusUntil(*home, dmail_text::kAcknowledged),
              (std::vector<std::string>{dmail_text::kSending, dmail_text::kSending,
                                        dmail_text::kSending, dmail_text::kSending,
                                        dmail_text::kWaiting, dmail_text::kAcknowledged}));
    EXPECT_TRUE(std::count(home->Lines().begin(), home->Lines().end(),
                           "dmail-log sent: 0407770001 < " + kMessage));

    // The receiver's window is hidden: message log, event log, blinking icon.
    EXPECT_TRUE(Wait(
        *office, [](const std::string& l) { return l == "dmail-log: 0305551234 > " + kMessage; }));
    const auto& lines = office->Lines();
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& l) {
        static const std::regex entry("protokoll [0-9]+: [0-2][0-9]:[0-5][0-9]:[0-5][0-9]   ");
        return std::regex_search(l, entry) && Has(l, "   0305551234 * " + kMessage);
    }));
    EXPECT_TRUE(Wait(*office, [](const std::string& l) { return l == "attention: on"; }));
    EXPECT_NE(test::ReadAll(line->Dir() / "office" / "Tolvar.txt").find(kMessage),
              std::string::npos);
    // Four packets and one acknowledgement went over the network.
    const std::string log = LineLog();
    std::size_t placed = 0;
    for (auto at = log.find("CIP 24"); at != std::string::npos; at = log.find("CIP 24", at + 1))
        ++placed;
    EXPECT_EQ(placed, 5u);
}

TEST_F(DMailE2E, OnlyOkAcknowledgesAndAnAcknowledgementCallIsNoPacket) {
    home = Copy("home", 0, "5551234", "\"ACKDelay\"=dword:000003e8\n");  // 1000 ms
    office = Copy("office", 1, "", "\"ACKDelay\"=dword:000003e8\n");
    // Far ends that ring and never answer: a copy without D-Mail, and the
    // scripted sender's telephone that "OK" calls reach.
    EXPECT_EQ(Ctl({"phone", "0609990000", "ring"}), "ok");
    EXPECT_EQ(Ctl({"phone", "0508880001", "ring"}), "ok");
    const auto ackCalls = [this] { return Count("-> 0508880001 CIP 24"); };

    // While home waits for its "OK", a message that begins with "OK" is a
    // message, whole, and no acknowledgement.
    Send(*home, "0609990000", "Hallo");
    EXPECT_EQ(StatusUntil(*home, dmail_text::kWaiting),
              (std::vector<std::string>{dmail_text::kSending, dmail_text::kWaiting}));
    Packet("0508880001", "5551234", "OK, wir treffen uns");
    Packet("0508880001", "5551234", " morgen\r");
    EXPECT_TRUE(Wait(*home, [](const std::string& l) {
        return l == "dmail-log: 0508880001 > OK, wir treffen uns morgen";
    }));
    PlacedAndEnded("-> 0508880001 CIP 24");
    home->Send("escape");
    for (const auto& l : home->Lines())
        EXPECT_NE(l, "dmail: " + std::string(dmail_text::kAcknowledged));

    // Home acknowledges a message while its own goes out packet by packet:
    // the end of that "OK" call is no packet's end, and it is the only one.
    // Slow enough that the "OK" call, placed 1 s after the message and over
    // 600 ms later, ends while the four packets (620 ms each) go out.
    EXPECT_EQ(Ctl({"set", "net=600"}), "ok");
    Packet("0508880001", "5551234", "Hallo\r");
    EXPECT_TRUE(
        Wait(*home, [](const std::string& l) { return l == "dmail-log: 0508880001 > Hallo"; }));
    Send(*home, "0407770001", kMessage);
    EXPECT_EQ(StatusUntil(*home, dmail_text::kAcknowledged),
              (std::vector<std::string>{dmail_text::kSending, dmail_text::kSending,
                                        dmail_text::kSending, dmail_text::kSending,
                                        dmail_text::kWaiting, dmail_text::kAcknowledged}));
    EXPECT_TRUE(Wait(*office, [](const std::string& l) { return Has(l, "dmail-log: "); }));
    EXPECT_EQ(office->Lines().back(), "dmail-log: 0305551234 > " + kMessage);
    EXPECT_EQ(ackCalls(), 2u);
    // One packet call at a time: each placed after the one before ended.
    std::istringstream log(LineLog());
    std::string order, calling;
    for (std::string l; std::getline(log, l);) {
        if (Has(l, ": placed home") && Has(l, "-> 0407770001 ")) {
            order += 'P';
            calling = l.substr(l.find("call "), l.find(':', l.find("call ")) - l.find("call "));
        } else if (!calling.empty() && Has(l, calling + ": ended")) {
            order += 'E';
        }
    }
    EXPECT_EQ(order, "PEPEPEPE");
}

TEST_F(DMailE2E, RefusedPacketAndNoAcknowledgement) {
    home = Copy("home", 0, "5551234");
    EXPECT_EQ(Ctl({"phone", "0409990000", "busy"}), "ok");
    Send(*home, "0409990000", "Hallo");
    EXPECT_EQ(StatusUntil(*home, dmail_text::kBusy).back(), "Teilnehmer besetzt.");
    // Nobody runs on the third line: the packet is not refused, no "OK" comes.
    Send(*home, "0508880001", "Hallo");
    EXPECT_EQ(StatusUntil(*home, dmail_text::kNoAck, 30s).back(),
              "Gegenstelle reagiert nicht. (Kein Tolvar 2.7 aktiv ?)");
}

TEST_F(DMailE2E, EscapeDuringTheSecondPacketHangsItUp) {
    home = Copy("home", 0, "5551234");
    office = Copy("office", 1, "");
    // Slow packet calls, and no alerting reported: only Escape hangs one up.
    EXPECT_EQ(Ctl({"set", "net=600", "alert=5000"}), "ok");
    Send(*home, "0407770001", kMessage);
    EXPECT_EQ(StatusUntil(*home, dmail_text::kSending).size(), 1u);
    EXPECT_EQ(StatusUntil(*home, dmail_text::kSending).size(), 1u);  // the second packet
    std::this_thread::sleep_for(100ms);
    home->Send("escape");
    AtExchange("ended (caller hung up)");
    // No status line, and the page takes the next message at once.
    EXPECT_EQ(Ctl({"phone", "0409990000", "busy"}), "ok");
    home->Send("dmail-to 0409990000");
    home->Send("dmail-send");
    EXPECT_EQ(StatusUntil(*home, dmail_text::kBusy),
              (std::vector<std::string>{dmail_text::kSending, dmail_text::kBusy}));
    EXPECT_EQ(std::count(home->Lines().begin(), home->Lines().end(),
                         "dmail: " + std::string(dmail_text::kSending)),
              3);
}

TEST_F(DMailE2E, SecondSendersPacketsWhileCollectingAreLost) {
    home = Copy("home", 0, "5551234");
    office = Copy("office", 1, "");
    third = Copy("third", 2, "8880001");
    EXPECT_EQ(Ctl({"set", "net=300"}), "ok");
    Send(*home, "0407770001", kMessage);
    StatusUntil(*home, dmail_text::kSending);
    StatusUntil(*home, dmail_text::kSending);  // the first packet is collected
    Send(*third, "0407770001", "Dazwischen");
    EXPECT_EQ(StatusUntil(*home, dmail_text::kAcknowledged).back(), dmail_text::kAcknowledged);
    EXPECT_EQ(StatusUntil(*third, dmail_text::kNoAck, 30s).back(), dmail_text::kNoAck);
    EXPECT_TRUE(Wait(*office, [](const std::string& l) { return Has(l, "dmail-log: "); }));
    EXPECT_EQ(office->Lines().back(), "dmail-log: 0305551234 > " + kMessage);
    for (const auto& l : office->Lines()) EXPECT_FALSE(Has(l, "Dazwischen")) << l;
}

TEST_F(DMailE2E, AcknowledgementWithoutChannelIsRetriedAfterAckDelay) {
    home = Copy("home", 0, "5551234");
    office = Copy("office", 1, "");
    Send(*home, "0407770001", "Hallo");
    ASSERT_TRUE(Wait(*office, [](const std::string& l) { return Has(l, "dmail-log: "); }));
    // Both B channels of the receiver's line are taken before it calls back.
    std::vector<std::string> calls;
    for (const char* from : {"0301111", "0302222"}) {
        const std::string reply = Ctl({"call", from, "7770002", "ring=30s", "talk=30s"});
        ASSERT_EQ(reply.rfind("ok call ", 0), 0u) << reply;
        calls.push_back(reply.substr(8));
        EXPECT_EQ(Ctl({"answer", calls.back()}), "ok");
    }
    AtExchange("no B channel free on office");
    EXPECT_EQ(Ctl({"hangup", calls[0]}), "ok");
    EXPECT_EQ(StatusUntil(*home, dmail_text::kAcknowledged).back(), dmail_text::kAcknowledged);
    EXPECT_EQ(Ctl({"hangup", calls[1]}), "ok");
}

TEST_F(DMailE2E, OwnMsnAndAMessageWhileThePageIsInView) {
    home = Copy("home", 0, "5551234");
    office = Copy("office", 1, "7770001");
    office->Send("show D-Mail senden");
    // A D-Mail call to the line's other number is left alone: not refused.
    Send(*home, "0407770002", "Nicht hier");
    AtExchange("alerting");
    home->Send("escape");
    std::this_thread::sleep_for(300ms);
    EXPECT_FALSE(Has(LineLog(), "reject 7"));
    Send(*home, "0407770001", "Hier");
    EXPECT_EQ(StatusUntil(*home, dmail_text::kAcknowledged).back(), dmail_text::kAcknowledged);
    std::this_thread::sleep_for(300ms);
    office->Send("quit");
    while (office->ReadLine(2s)) {
    }
    EXPECT_EQ(office->Wait(5s), 0);
    std::vector<std::string> dmail;
    for (const auto& l : office->Lines()) {
        EXPECT_FALSE(l.rfind("protokoll", 0) == 0 && Has(l, " * ")) << l;  // no event-log line
        EXPECT_NE(l, "attention: on");
        if (l.rfind("dmail-log", 0) == 0) dmail.push_back(l);
    }
    EXPECT_EQ(dmail, std::vector<std::string>{"dmail-log: 0305551234 > Hier"});
    office.reset();
}

}  // namespace
}  // namespace tolvar
