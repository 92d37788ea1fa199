// SMS through libcapi20 to the simulated line's SMS centres, for real
// processes: what the trace list says, what the centre accepted, what the
// settings file remembers, and that no CAPI rule was broken.

#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "support/files.h"
#include "support/line_fixture.h"

#include "tests/support/hive_header.h"

namespace tolvar {
namespace {

using namespace std::chrono_literals;

constexpr const char* kCentre = "01712521002";

// Providers for 0171 (UCP) and 0172 (TAP), both with the identity table.
std::string Providers() {
    const std::string table = test::IdentityXlateTable();
    return "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\SMS]\n\"MSN\"=\"5551234\"\n\n"
           "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\SMS\\Prefix]\n"
           "\"0171\"=\"Netz\"\n\"0172\"=\"Pager\"\n\n"
           "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\SMS\\Provider\\Netz]\n"
           "\"Phone\"=\"01712521002\"\n\"Protocol\"=\"UCP\"\n" +
           table +
           "\n\n[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\SMS\\Provider\\Pager]\n"
           "\"Phone\"=\"01722521002\"\n\"Protocol\"=\"TAP\"\n" +
           table + "\n\n";
}

// A missed call from anyone to 5551234 sends an SMS to 0171234567.
constexpr const char* kSmsRule =
    "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\MSN\\5551234\\Sonstige\\00:00]\n"
    "\"Action\"=dword:00000004\n\"Param\"=\"0171234567 Handy\"\n\n";

class SmsE2E : public ::testing::Test {
  protected:
    void SetUp() override {
        EXPECT_EQ(line.Ctl({"smsc", kCentre, "ucp", "message=Zugestellt"}).at(0), "ok");
        EXPECT_EQ(line.Ctl({"smsc", "01722521002", "tap"}).at(0), "ok");
        tolvar = line.StartTolvar("a", Providers() + kSmsRule);
        ASSERT_TRUE(tolvar->WaitFor("caption: ", 10s));
        // LISTEN_REQ has gone out once the line logs its confirmation.
        ASSERT_EQ(line.Ctl({"wait", "LISTEN_CONF", "timeout=10s"}).back().rfind("ok", 0), 0u);
    }
    void TearDown() override {
        tolvar->Send("quit");
        EXPECT_EQ(tolvar->Wait(5s), 0);
        const std::string log = test::ReadAll(line.Dir() / "line.log");
        EXPECT_EQ(log.find("violation"), std::string::npos) << log;
    }

    // The trace lines ("sms: ..." without the channel) up to and including one equal to last.
    std::vector<std::string> SmsLinesUntil(const std::string& last,
                                           std::chrono::milliseconds timeout = 15s) {
        std::vector<std::string> lines;
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < end) {
            auto l = tolvar->ReadLine(std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now()));
            if (!l) break;
            if (l->rfind("sms: ", 0) != 0) continue;
            lines.push_back(l->substr(5));
            if (lines.back() == last) return lines;
        }
        ADD_FAILURE() << "no \"" << last << "\"";
        return lines;
    }
    void Send(const std::string& to, const std::string& text) {
        tolvar->Send("sms-to " + to);
        tolvar->Send("sms-text " + text);
        tolvar->Send("sms-send");
    }
    std::vector<std::string> Accepted() { return line.Ctl({"accepted"}); }
    // Waits for an event-log line that names the caller and ends so.
    bool LogLineEndingWith(const std::string& caller, const std::string& end) {
        for (auto deadline = std::chrono::steady_clock::now() + 10s;
             std::chrono::steady_clock::now() < deadline;) {
            const auto l = tolvar->WaitFor("protokoll ", 10s);
            if (l && l->find(caller) != std::string::npos && l->size() >= end.size() &&
                l->substr(l->size() - end.size()) == end)
                return true;
        }
        return false;
    }

    test::LineFixture line;
    std::unique_ptr<test::Process> tolvar;
};

TEST_F(SmsE2E, UcpPageSendInOrderAndReceiverRemembered) {
    Send("0171234567 Anna", "Hallo Anna");
    EXPECT_EQ(
        SmsLinesUntil("beendet."),
        (std::vector<std::string>{"Wähle SMS Center 01712521002...", "Verbunden.", "Zugestellt",
                                  "Nachricht erfolgreich verschickt.", "beendet."}));
    EXPECT_EQ(Accepted().at(0), "01712521002 0171234567 5551234 Hallo Anna");
    EXPECT_NE(test::ReadAll(line.Dir() / "a" / "registry.reg")
                  .find("SMS\\Subscriber]\n\"0171234567 Anna\"=\"\""),
              std::string::npos);
}

TEST_F(SmsE2E, TapPageSendCarriesTheUmlautAsItsWindows1252Byte) {
    Send("0172345678", "Grüße");
    const auto lines = SmsLinesUntil("beendet.");
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Nachricht erfolgreich verschickt."),
              lines.end());
    EXPECT_EQ(Accepted().at(0), "01722521002 0172345678 - Gr\\xFC\\xDFe");
}

TEST_F(SmsE2E, BusyCentreThenTheButtonWorksAgain) {
    line.Ctl({"smsc", kCentre, "ucp", "busy=yes"});
    Send("0171234567", "eins");
    EXPECT_EQ(SmsLinesUntil("SMS Center besetzt."),
              (std::vector<std::string>{"Wähle SMS Center 01712521002...", "SMS Center besetzt."}));
    line.Ctl({"smsc", kCentre, "ucp"});
    tolvar->Send("sms-send");
    SmsLinesUntil("beendet.");
    EXPECT_EQ(Accepted().at(0), "01712521002 0171234567 5551234 eins");
}

TEST_F(SmsE2E, RefusingCentre) {
    line.Ctl({"smsc", kCentre, "ucp", "outcome=reject", "error=31"});
    Send("0171234567", "abgelehnt");
    const auto lines = SmsLinesUntil("beendet.");
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Fehler beim Verschicken der Nachricht !"),
              lines.end());
    EXPECT_EQ(Accepted().size(), 1u);  // only "ok"
}

TEST_F(SmsE2E, MissedCallSendsAnsweredCallDoesNot) {
    // Answered by another terminal: "  verbunden.", and no SMS.
    ASSERT_EQ(line.Ctl({"call", "0309876543", "5551234", "ring=20s"}).back(), "ok call 1");
    line.Ctl({"wait", "call 1: alerting", "timeout=5s"});
    line.Ctl({"answer", "1"});
    ASSERT_TRUE(LogLineEndingWith("0309876543", "  verbunden."));
    // Missed: the caller gives up.
    ASSERT_EQ(line.Ctl({"call", "0301234567", "5551234", "ring=300ms"}).back(), "ok call 2");
    ASSERT_TRUE(LogLineEndingWith("0301234567", "  sende SMS."));
    line.Ctl({"wait", "accepted message", "timeout=10s"});
    const auto accepted = Accepted();
    ASSERT_EQ(accepted.size(), 2u);
    EXPECT_EQ(accepted[0], "01712521002 0171234567 5551234 Tolvar: Anruf von 0301234567");
}

}  // namespace
}  // namespace tolvar
