// Start-up and shutdown of the engine on a fake CAPI and a scratch registry.

#include <gtest/gtest.h>

#include "registry/registry.h"
#include "support/test_host.h"

namespace tolvar {
namespace {

using test::Message;
using test::U32;

constexpr const char* kHeader = "Windows Registry Editor Version 5.00\n\n";

std::string Hive(const std::string& keys) {
    return std::string(kHeader) + keys;
}

TEST(Startup, FirstStartCreatesExactlyTheListedKeysAndValues) {
    test::TestHost host;
    host.Start();
    Registry reg(host.registryPath);
    for (const char* key :
         {"\\Software\\Brenwick\\Tolvar", "\\Software\\Brenwick\\Tolvar\\SMS\\Subscriber",
          "\\Software\\Brenwick\\Tolvar\\DMail\\Subscriber", "\\Software\\Brenwick\\Tolvar\\DMail",
          "\\Software\\Brenwick\\Tolvar\\Agent"})
        EXPECT_TRUE(reg.KeyExists(key)) << key;
    auto dmail = reg.OpenKey("\\Software\\Brenwick\\Tolvar\\DMail", false);
    ASSERT_TRUE(dmail);
    EXPECT_EQ(dmail->GetValueNames(), (std::vector<std::string>{"ACKDelay", "PacketDelay",
                                                                "ACKTimeOut", "DMailNotifySound"}));
    EXPECT_EQ(dmail->ReadInteger("ACKDelay"), 3000);
    EXPECT_EQ(dmail->ReadInteger("PacketDelay"), 20);
    EXPECT_EQ(dmail->ReadInteger("ACKTimeOut"), 12000);
    EXPECT_EQ(dmail->ReadString("DMailNotifySound"), "");
    auto root = reg.OpenKey("\\Software\\Brenwick\\Tolvar", false);
    EXPECT_FALSE(root->ValueExists("ShowISDNTab"));
    EXPECT_FALSE(host.engine->IsdnTabVisible());
    EXPECT_FALSE(host.ui.isdnTab);
}

TEST(Startup, FirstStartWritesItsKeysAndDefaultsInOneReplacement) {
    test::TestHost host;
    test::Replacements replaced(host.registryPath);
    host.Start();
    EXPECT_EQ(replaced.Count(), 1);
    // A start that finds them all writes nothing.
    test::TestHost again;
    again.WriteHive(host.ReadHive());
    test::Replacements none(again.registryPath);
    again.Start();
    EXPECT_EQ(none.Count(), 0);
}

TEST(Startup, DMailTimingsAreCheckedAndWrittenBack) {
    struct Case {
        const char* name;
        std::int32_t stored;
        std::int32_t inForce;
    };
    const Case cases[] = {
        {"ACKDelay", 999, 3000},      {"ACKDelay", 1000, 1000},
        {"ACKDelay", 8000, 8000},     {"ACKDelay", 8001, 3000},
        {"ACKDelay", -5, 3000},       {"PacketDelay", 4, 20},
        {"PacketDelay", 5, 5},        {"PacketDelay", 1000, 1000},
        {"PacketDelay", 1001, 20},    {"ACKTimeOut", 11999, 12000},
        {"ACKTimeOut", 60000, 60000}, {"ACKTimeOut", 0x7FFFFFFF, 0x7FFFFFFF},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + "=" + std::to_string(c.stored));
        test::TestHost host;
        {
            Registry reg(host.registryPath);
            auto key = reg.OpenKey("\\Software\\Brenwick\\Tolvar\\DMail");
            key->WriteInteger(c.name, c.stored);
            key->Close();
        }
        host.Start();
        const auto& s = host.engine->DMail();
        const std::uint32_t got = std::string(c.name) == "ACKDelay"      ? s.ACKDelay
                                  : std::string(c.name) == "PacketDelay" ? s.PacketDelay
                                                                         : s.ACKTimeOut;
        EXPECT_EQ(got, static_cast<std::uint32_t>(c.inForce));
        Registry reg(host.registryPath);
        EXPECT_EQ(reg.OpenKey("\\Software\\Brenwick\\Tolvar\\DMail")->ReadInteger(c.name),
                  c.inForce);
    }
}

TEST(Startup, ValuesOfTheWrongTypeTakeTheirDefaults) {
    test::TestHost host;
    host.WriteHive(
        Hive("[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar]\n\"ShowISDNTab\"=\"1\"\n\n"
             "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\DMail]\n\"ACKDelay\"=\"2000\"\n"
             "\"MSN\"=\"5551234\"\n\"Suffix\"=dword:00000001\n\n"));
    host.Start();
    EXPECT_FALSE(host.engine->IsdnTabVisible());
    EXPECT_EQ(host.engine->DMail().ACKDelay, 3000u);
    EXPECT_EQ(host.engine->DMail().MSN, "5551234");
    EXPECT_EQ(host.engine->DMail().Suffix, "");
    EXPECT_TRUE(host.ui.errors.empty());
}

TEST(Startup, CaptionCarriesTheManufacturerText) {
    struct Case {
        std::string manufacturer;
        std::string caption;
    };
    const Case cases[] = {
        {"X", "Tolvar   Version 2.7   CAPI Hersteller:X"},
        {"", "Tolvar   Version 2.7   CAPI Hersteller:"},
        {"M\xFC"
         "nchen ISDN",
         "Tolvar   Version 2.7   CAPI Hersteller:München ISDN"},
    };
    for (const auto& c : cases) {
        test::TestHost host;
        host.capi.manufacturer = c.manufacturer;
        host.Start();
        EXPECT_EQ(host.engine->Caption(), c.caption);
        EXPECT_EQ(host.ui.events.front(), "caption: " + c.caption);
    }
}

TEST(Startup, ListenReqGoesOutOnceAfterTheWholeStartUp) {
    test::TestHost host;
    host.WriteHive(Hive(
        "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar]\n\"ShowISDNTab\"=dword:00000001\n\n"));
    host.MakeEngine().FormCreate();
    EXPECT_TRUE(host.capi.puts.empty());
    EXPECT_TRUE(host.ui.isdn.empty());
    // Everything start-up writes is in the file before LISTEN_REQ exists.
    EXPECT_NE(host.ReadHive().find("\"ACKTimeOut\"=dword:00002ee0"), std::string::npos);
    host.RunPosted();
    ASSERT_EQ(host.capi.puts.size(), 1u);
    EXPECT_EQ(host.capi.puts[0].CommandWord(), 0x8005);
    EXPECT_EQ(host.ui.isdn,
              (std::vector<std::string>{
                  "LISTEN_REQ 0000   00000001   FF 03 00 00 FF 03 FF 1F 01 00 00 00 00 00 "}));
    host.engine->WMStartListen();
    EXPECT_EQ(host.capi.puts.size(), 1u);
}

TEST(Startup, HiddenIsdnTabTracesNothingNotEvenFailures) {
    test::TestHost host;
    host.capi.registerResult = 0x1009;  // registration failed: every put fails
    host.capi.putResult = 0x1101;
    host.Start();
    host.Receive(Message(0x8204, 5, {1, 1, 0, 0, 4, 0x33}));
    EXPECT_TRUE(host.ui.isdn.empty());
}

TEST(Startup, FailedRegistrationShowsAsFailingPuts) {
    test::TestHost host;
    host.WriteHive(Hive(
        "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar]\n\"ShowISDNTab\"=dword:00000002\n\n"));
    host.capi.registerResult = 0x1009;
    host.capi.putResult = 0x1101;
    host.Start();
    EXPECT_TRUE(host.engine->IsdnTabVisible());
    EXPECT_EQ(host.ui.isdn, (std::vector<std::string>{"Konnte LISTEN_REQ nicht schicken 0x1101"}));
}

TEST(Startup, SubscriberNamesFillTheReceiverLists) {
    test::TestHost host;
    host.WriteHive(
        Hive("[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\SMS\\Subscriber]\n"
             "\"01711234567 Anna\"=\"\"\n\"0160555 Bernd\"=\"\"\n\n"
             "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\DMail\\Subscriber]\n\"5552 "
             "Büro\"=\"\"\n\n"));
    host.Start();
    EXPECT_EQ(host.engine->SmsReceivers(),
              (std::vector<std::string>{"01711234567 Anna", "0160555 Bernd"}));
    EXPECT_EQ(host.engine->DMailReceivers(), (std::vector<std::string>{"5552 Büro"}));
}

TEST(Startup, BrokenHiveIsReportedAndTheRestStillRuns) {
    test::TestHost host;
    const std::string broken =
        Hive("[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar]\n\"ShowISDNTab\"=dword:zz\n");
    host.WriteHive(broken);
    host.Start();
    ASSERT_FALSE(host.ui.errors.empty());
    EXPECT_NE(host.ui.errors[0].find(host.registryPath + ":4"), std::string::npos)
        << host.ui.errors[0];
    EXPECT_EQ(host.capi.puts.size(), 1u);  // LISTEN_REQ all the same
    EXPECT_EQ(host.ReadHive(), broken);
}

TEST(Startup, AlertConfRejectsOnlyIncomingDMailCalls) {
    test::TestHost host;
    host.Start();
    TConnection dmail;
    dmail.PLCI = 0x101;
    dmail.Kind = CallKind::DMailIn;
    host.engine->ConnectionList().Add(dmail);
    TConnection voice;
    voice.PLCI = 0x201;
    voice.Kind = CallKind::Aus;
    host.engine->ConnectionList().Add(voice);
    host.capi.puts.clear();

    host.Receive(Message(0x8101, 0, {0x01, 0x02, 0, 0, 0, 0}));  // ALERT_CONF for the voice call
    host.Receive(Message(0x8101, 0, {0x01, 0x03, 0, 0, 0, 0}));  // for an unknown PLCI
    EXPECT_TRUE(host.capi.puts.empty());
    host.Receive(Message(0x8101, 0, {0x01, 0x01, 0, 0, 0, 0}));
    ASSERT_EQ(host.capi.puts.size(), 1u);
    EXPECT_EQ(test::HexBytes(host.capi.puts[0].message),
              "13 00 01 00 02 83 00 00 01 01 00 00 07 00 00 00 00 00 00");
}

TEST(Shutdown, ReleasesCapiAndFreesTheCalls) {
    test::TestHost host;
    host.capi.applIdToGive = 7;
    host.Start();
    host.engine->ConnectionList().Add(TConnection{});
    host.engine->FormDestroy();
    EXPECT_EQ(host.capi.releaseCalls, 1);
    EXPECT_EQ(host.capi.releasedApplId, 7u);
    EXPECT_EQ(host.engine->ConnectionList().Count(), 0u);
    host.engine.reset();
    EXPECT_EQ(host.capi.releaseCalls, 1);
}

TEST(Window, CloseQuitAndPages) {
    test::TestHost host;
    auto& engine = host.Start();
    EXPECT_FALSE(engine.WindowVisible());
    // A first start creates the default rules, which brings up their page.
    EXPECT_EQ(engine.ActivePage(), Page::Ueberwachung);
    engine.ShowWindow(Page::Info);
    EXPECT_TRUE(host.ui.visible);
    EXPECT_EQ(engine.ActivePage(), Page::Info);
    engine.SetActivePage(Page::ISDN);  // hidden tab: stays where it is
    EXPECT_EQ(engine.ActivePage(), Page::Info);
    engine.cmCloseClick();
    EXPECT_FALSE(host.ui.visible);
    EXPECT_EQ(host.ui.quits, 0);
    engine.cmQuitClick();
    EXPECT_EQ(host.ui.quits, 1);
}

}  // namespace
}  // namespace tolvar

namespace tolvar {
namespace {

TEST(Window, StoredRulesLeaveTheDesignedStartPage) {
    test::TestHost host;
    host.WriteHive(
        Hive("[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\MSN\\5551234\\Sonstige\\00:00]\n"
             "\"Action\"=dword:00000000\n\"Param\"=\"\"\n\n"));
    auto& engine = host.Start();
    EXPECT_EQ(engine.ActivePage(), Page::Desktop);
    ASSERT_EQ(engine.Rules().MsnNodes().size(), 1u);
    EXPECT_TRUE(engine.Rules().MsnNodes()[0]->Expanded);
}

TEST(Window, HidingSavesTheRulesAndSoDoesQuittingWithTheWindowOpen) {
    test::TestHost host;
    auto& engine = host.Start();
    engine.ShowWindow();
    engine.cmCloseClick();
    EXPECT_NE(host.ReadHive().find("[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\MSN\\Ihre "
                                   "TEL/FAX Nummer !\\Sonstige\\00:00]"),
              std::string::npos)
        << host.ReadHive();
    engine.ShowWindow();
    engine.Rules().SetLabel(*engine.Rules().MsnNodes()[0], "5551234");
    engine.cmQuitClick();
    EXPECT_FALSE(host.ui.visible);
    EXPECT_EQ(host.ui.quits, 1);
    engine.FormDestroy();
    EXPECT_NE(host.ReadHive().find("MSN\\5551234\\Sonstige"), std::string::npos) << host.ReadHive();
}

TEST(Window, MalformedRulesAreReportedAndStartUpGoesOn) {
    test::TestHost host;
    const std::string hive = Hive(
        "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\MSN\\5551234\\Sonstige\\6:00]\n"
        "\"Action\"=dword:00000000\n\n");
    host.WriteHive(hive);
    auto& engine = host.Start();
    ASSERT_EQ(host.ui.errors.size(), 1u);
    EXPECT_NE(host.ui.errors[0].find("6:00"), std::string::npos) << host.ui.errors[0];
    EXPECT_EQ(host.capi.puts.size(), 1u);  // LISTEN_REQ all the same
    EXPECT_EQ(engine.DMail().ACKDelay, 3000u);
    // Hiding must not replace the rules that could not be read: it hides,
    // and says why it saved nothing.
    engine.ShowWindow();
    EXPECT_FALSE(engine.Guard([&] { engine.cmCloseClick(); }));
    EXPECT_FALSE(engine.WindowVisible());
    EXPECT_EQ(host.ui.errors.size(), 2u);
    EXPECT_NE(host.ReadHive().find("Sonstige\\6:00]"), std::string::npos);
}

}  // namespace
}  // namespace tolvar

namespace tolvar {
namespace {

TEST(Window, DefaultRulesComeBackAfterARestartWithSonstigeFirst) {
    test::TestHost host;
    {
        auto& engine = host.Start();
        const auto& msn = *engine.Rules().MsnNodes().at(0);
        EXPECT_EQ(msn.Text(), "Ihre TEL/FAX Nummer !");
        ASSERT_EQ(msn.Children().size(), 2u);
        EXPECT_EQ(msn.Children()[0]->Text(), "Unbekannt/Analog");
        EXPECT_EQ(msn.Children()[1]->Text(), "Sonstige");
        engine.ShowWindow();
        engine.cmCloseClick();
        engine.FormDestroy();
    }
    test::TestHost again;
    again.WriteHive(host.ReadHive());
    auto& engine = again.Start();
    ASSERT_EQ(engine.Rules().MsnNodes().size(), 1u);
    const auto& msn = *engine.Rules().MsnNodes()[0];
    EXPECT_EQ(msn.Text(), "Ihre TEL/FAX Nummer !");
    ASSERT_EQ(msn.Children().size(), 2u);
    EXPECT_EQ(msn.Children()[0]->Text(), "Sonstige");
    EXPECT_EQ(msn.Children()[1]->Text(), "Unbekannt/Analog");
    for (const auto& caller : msn.Children()) {
        ASSERT_EQ(caller->Entries()->Count(), 1u);
        EXPECT_EQ((*caller->Entries())[0].StartTime, 0.0);
        EXPECT_EQ((*caller->Entries())[0].Action, 0);
    }
    EXPECT_EQ(engine.ActivePage(), Page::Desktop);
}

}  // namespace
}  // namespace tolvar
