// The real program through the real libcapi20 against tolvar-line.

#include <gtest/gtest.h>

#include <csignal>
#include <regex>
#include <thread>

#include "desktop/agent_options.h"
#include "support/files.h"
#include "support/line_fixture.h"

namespace tolvar {
namespace {

using namespace std::chrono_literals;
using test::LineFixture;

TEST(Foundation, RegistersTracesListensAndQuits) {
    LineFixture line({"--manufacturer", "E2E Vermittlung"});
    auto tolvar = line.StartTolvar("a", test::kShowIsdnTab);
    EXPECT_EQ(tolvar->ReadLine(10s),
              "caption: Tolvar   Version 2.7   CAPI Hersteller:E2E Vermittlung");
    EXPECT_EQ(tolvar->ReadLine(10s),
              "isdn: LISTEN_REQ 0000   00000001   FF 03 00 00 FF 03 FF 1F 01 00 00 00 00 00 ");
    const auto conf = tolvar->ReadLine(10s);
    ASSERT_TRUE(conf);
    EXPECT_TRUE(std::regex_match(
        *conf, std::regex("isdn: 000E [0-9A-F]{4} LISTEN_CONF 0000   00000001   00 00 ")))
        << *conf;

    // The exchange saw the registration numbers and exactly the LISTEN_REQ bytes.
    const std::string log = test::ReadAll(line.Dir() / "line.log");
    EXPECT_NE(log.find(" register 2/8/130"), std::string::npos) << log;
    EXPECT_NE(log.find("-> LISTEN_REQ #0 01 00 00 00 FF 03 00 00 FF 03 FF 1F 01 00 00 00 00 00\n"),
              std::string::npos)
        << log;

    // A call reaches the program and shows in its trace.
    auto reply = line.Ctl({"call", "0911234", "5551234", "cip=1"});
    ASSERT_FALSE(reply.empty());
    EXPECT_EQ(reply[0].rfind("ok", 0), 0u) << reply[0];
    const auto ind = tolvar->WaitFor("isdn: ", 10s);
    ASSERT_TRUE(ind);
    EXPECT_NE(ind->find(" CONNECT_IND "), std::string::npos) << *ind;

    const auto start = std::chrono::steady_clock::now();
    tolvar->Send("quit");
    EXPECT_EQ(tolvar->Wait(5s), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
}

TEST(Foundation, WithoutShowIsdnTabNothingIsTraced) {
    LineFixture line;
    auto tolvar = line.StartTolvar("a", "");
    const auto caption = tolvar->ReadLine(10s);
    ASSERT_TRUE(caption);
    EXPECT_EQ(caption->rfind("caption: ", 0), 0u);
    line.Ctl({"wait", "LISTEN_REQ", "timeout=10s"});
    line.Ctl({"call", "0911234", "5551234"});
    line.Ctl({"wait", "CONNECT_IND", "timeout=10s"});
    tolvar->Send("show Info");
    tolvar->Send("page ISDN");
    EXPECT_EQ(tolvar->WaitFor("error:", 5s), "error: the page \"ISDN\" is hidden");
    tolvar->Signal(SIGTERM);  // ends the program as "B&eenden" does
    EXPECT_EQ(tolvar->Wait(5s), 0);
    for (const auto& l : tolvar->Lines()) EXPECT_NE(l.rfind("isdn:", 0), 0u) << l;
}

TEST(Foundation, FirstStartWritesExactlyTheListedKeys) {
    LineFixture line;
    auto tolvar = line.StartTolvar("a", "");
    ASSERT_TRUE(tolvar->ReadLine(10s));
    line.Ctl({"wait", "LISTEN_REQ", "timeout=10s"});
    tolvar->Send("quit");
    ASSERT_EQ(tolvar->Wait(5s), 0);
    const std::string hive = test::ReadAll(line.Dir() / "a" / "registry.reg");
    // The voice and the address book where this machine has them; no "UseAgent".
    const AgentDefaults defaults = SystemAgentDefaults();
    // The default rules stay in memory until the window is first hidden.
    EXPECT_EQ(hive,
              "Windows Registry Editor Version 5.00\n\n"
              "[HKEY_CURRENT_USER\\Software]\n\n"
              "[HKEY_CURRENT_USER\\Software\\Brenwick]\n\n"
              "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar]\n\n"
              "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\Agent]\n"
              "\"AgentPath\"=\"" +
                  defaults.voiceFile +
                  "\"\n"
                  "\"AgentName\"=\"de\"\n"
                  "\"UseOutlook\"=dword:00000001\n"
                  "\"ContactsPath\"=\"" +
                  defaults.contactsPath +
                  "\"\n"
                  "\"Notify\"=dword:00000001\n\n"
                  "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\DMail]\n"
                  "\"ACKDelay\"=dword:00000bb8\n"
                  "\"PacketDelay\"=dword:00000014\n"
                  "\"ACKTimeOut\"=dword:00002ee0\n"
                  "\"DMailNotifySound\"=\"\"\n\n"
                  "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\DMail\\Subscriber]\n\n"
                  "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\MSN]\n\n"
                  "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\SMS]\n\n"
                  "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\SMS\\Subscriber]\n\n");
}

// A CAPI missing at start is shown (and tried again, see CapiLinkE2E).
TEST(Foundation, NoCapiServerMeansFailingPutsAndAStillUsableProgram) {
    test::LineFixture line;
    const int deadPort = line.Port();
    line.Ctl({"quit"});
    std::this_thread::sleep_for(200ms);
    const auto home = line.Dir() / "dead";
    std::filesystem::create_directories(home);
    test::WriteAll(home / "registry.reg", std::string(test::kHiveHeader) + test::kShowIsdnTab);
    test::Process tolvar({test::BinDir() + "/tolvar", "--console", "--capi",
                          "rcapi:127.0.0.1:" + std::to_string(deadPort), "--registry",
                          (home / "registry.reg").string()},
                         home.string(), (home / "stderr.txt").string());
    EXPECT_EQ(tolvar.ReadLine(10s),
              "caption: Tolvar   Version 2.7   CAPI Hersteller: (keine Verbindung)");
    const auto down = tolvar.ReadLine(10s);
    ASSERT_TRUE(down);
    EXPECT_EQ(down->rfind("capi: down ", 0), 0u) << *down;
    EXPECT_EQ(tolvar.ReadLine(10s), "tray: Tolvar - keine Verbindung zur CAPI");
    const auto fail = tolvar.ReadLine(10s);
    ASSERT_TRUE(fail);
    EXPECT_TRUE(
        std::regex_match(*fail, std::regex("isdn: Konnte LISTEN_REQ nicht schicken 0x[0-9A-F]+")))
        << *fail;
    tolvar.Send("quit");
    EXPECT_EQ(tolvar.Wait(5s), 0);
}

}  // namespace
}  // namespace tolvar
