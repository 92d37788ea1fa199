// What the line, the disk and an unlucky user can throw at the engine: a lost
// or missing CAPI, a settings file that cannot be read, text with control
// characters, handlers that fail while messages wait.

#include <gtest/gtest.h>

#include <fstream>
#include <stdexcept>

#include "calls/call_message.h"
#include "registry/registry.h"
#include "support/test_host.h"

namespace tolvar {
namespace {

using test::Message;
using test::U32;

constexpr const char* kHeader = "Windows Registry Editor Version 5.00\n\n";
constexpr const char* kIsdnTab =
    "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar]\n\"ShowISDNTab\"=dword:00000001\n\n";
constexpr const char* kListenReq =
    "LISTEN_REQ 0000   00000001   FF 03 00 00 FF 03 FF 1F 01 00 00 00 00 00 ";

std::string Rule(const std::string& caller, int action, const std::string& param = "") {
    return "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\MSN\\5551234\\" + caller +
           "\\00:00]\n\"Action\"=dword:0000000" + std::to_string(action) + "\n\"Param\"=\"" +
           param + "\"\n\n";
}

test::CallSetup From(const std::string& caller, std::uint32_t plci = 0x101) {
    test::CallSetup c;
    c.caller = caller;
    c.plci = plci;
    return c;
}

int Count(const std::vector<std::string>& events, const std::string& prefix) {
    return static_cast<int>(std::count_if(events.begin(), events.end(),
                                          [&](const auto& e) { return e.rfind(prefix, 0) == 0; }));
}

class LinkTest : public ::testing::Test {
  protected:
    void Start(const std::string& keys = "") {
        host.eventLogPath = (host.dir / "Tolvar.txt").string();
        host.WriteHive(kHeader + std::string(kIsdnTab) + keys);
        host.Start();
    }
    test::TestHost host;
};

TEST_F(LinkTest, LostLinkIsShownCallsAreFinishedAndItComesBackEveryTwoSeconds) {
    Start(Rule("Sonstige", 0));
    host.Receive(test::ConnectInd(From("301234")));
    ASSERT_EQ(host.engine->ConnectionList().Count(), 1u);
    EXPECT_TRUE(host.io.Watched(test::FakeCapi::kFd));

    // The server goes: the descriptor turns readable and the fetch fails.
    host.capi.getResult = kCapiOSResourceError;
    host.capi.registerResult = 0x1009;
    host.engine->WMCapiSignal();
    host.time.Advance(1);
    EXPECT_EQ(host.engine->Caption(), "Tolvar   Version 2.7   CAPI Hersteller: (keine Verbindung)");
    EXPECT_EQ(host.ui.trayTip, "Tolvar - keine Verbindung zur CAPI");
    EXPECT_EQ(Count(host.ui.events, "capi: down Verbindung zur CAPI verloren"), 1);
    EXPECT_EQ(host.capi.releaseCalls, 1);
    // The call in progress ended with it, and its line reached the file.
    EXPECT_EQ(host.engine->ConnectionList().Count(), 0u);
    host.engine->Log().FinishWrites();
    EXPECT_NE(test::ReadAll(host.dir / "Tolvar.txt").find("0301234 -> 5551234\r\n"),
              std::string::npos);
    // While it is gone nothing is watched, and one timer waits: the retry.
    EXPECT_FALSE(host.io.Watched(test::FakeCapi::kFd));
    EXPECT_EQ(host.time.PendingTimers(), 1u);

    const int before = host.capi.registerCalls;
    host.time.Advance(1999);
    EXPECT_EQ(host.capi.registerCalls, before);
    host.time.Advance(1);
    EXPECT_EQ(host.capi.registerCalls, before + 1);  // still failing
    host.capi.getResult = 0;
    host.capi.registerResult = 0;
    host.ui.isdn.clear();
    host.time.Advance(2000);
    EXPECT_EQ(host.engine->Caption(), "Tolvar   Version 2.7   CAPI Hersteller:Fake CAPI");
    EXPECT_EQ(host.ui.trayTip, "Tolvar");
    EXPECT_EQ(Count(host.ui.events, "capi: up Fake CAPI"), 1);
    EXPECT_EQ(host.ui.isdn, std::vector<std::string>{kListenReq});
    EXPECT_TRUE(host.io.Watched(test::FakeCapi::kFd));
    // And calls come again.
    host.Receive(test::ConnectInd(From("307777")));
    EXPECT_EQ(host.engine->Log().Lines().back().substr(8), "   0307777 -> 5551234");
}

TEST_F(LinkTest, AFailedPutAndADescriptorThatNeverDeliversAlsoMeanALostLink) {
    Start();
    host.capi.putResult = kCapiOSResourceError;
    host.Receive(test::ConnectInd(From("301234")));     // its ALERT_REQ fails
    EXPECT_EQ(Count(host.ui.events, "capi: down"), 0);  // not inside the handler
    host.time.Advance(1);
    EXPECT_EQ(Count(host.ui.events, "capi: down"), 1);

    host.capi.putResult = 0;
    host.time.Advance(2000);
    ASSERT_EQ(Count(host.ui.events, "capi: up"), 1);
    // Readable three times in a row with nothing to fetch: a dead descriptor.
    for (int i = 0; i < 2; ++i) host.engine->WMCapiSignal();
    host.time.Advance(1);
    EXPECT_EQ(Count(host.ui.events, "capi: down"), 1);
    host.engine->WMCapiSignal();
    host.time.Advance(1);
    EXPECT_EQ(Count(host.ui.events, "capi: down"), 2);
}

TEST_F(LinkTest, CapiMissingAtStartIsShownAndComesUpLater) {
    host.capi.registerResult = 0x1009;
    Start();
    EXPECT_EQ(host.engine->Caption(), "Tolvar   Version 2.7   CAPI Hersteller: (keine Verbindung)");
    EXPECT_EQ(Count(host.ui.events, "capi: down Anmeldung bei der CAPI fehlgeschlagen (0x1009)"),
              1);
    EXPECT_EQ(host.ui.trayTip, "Tolvar - keine Verbindung zur CAPI");
    host.capi.registerResult = 0;
    host.ui.isdn.clear();
    host.time.Advance(2000);
    EXPECT_EQ(host.ui.isdn, std::vector<std::string>{kListenReq});
    EXPECT_EQ(host.ui.trayTip, "Tolvar");
}

TEST_F(LinkTest, AHandlerThatFailsWhileMessagesWaitIsReportedAndTheOthersRun) {
    // Kept separate: the scratch folder must outlive the engine of `host`.
    test::TestHost scratch;
    const std::string wav = (scratch.dir / "klingel.wav").string();
    std::ofstream(wav) << "RIFF";
    Start(Rule("Sonstige", 2, wav));
    struct Failing final : CallOwner {
        void InfoInd(TConnection&, std::uint16_t) override { throw std::runtime_error("kaputt"); }
    } failing;
    host.engine->Router().SetOwner(CallKind::DMailOut, failing);
    TConnection packet;
    packet.PLCI = 0x909;
    packet.Kind = CallKind::DMailOut;
    host.engine->ConnectionList().Add(packet);

    host.Receive(test::ConnectInd(From("301111")));  // waits one second
    host.Receive(Message(cmd::INFO_IND, 4, {0x09, 0x09, 0, 0, 0x01, 0x80, 0}));
    host.Receive(test::ConnectInd(From("302222", 0x202)));
    EXPECT_EQ(host.engine->Log().Lines().size(), 0u);
    host.time.Advance(1000);
    EXPECT_EQ(host.ui.errors, std::vector<std::string>{"kaputt"});
    // The call behind the failing message was handled all the same (its own
    // sound wait then holds what follows it).
    host.time.Advance(1000);
    ASSERT_GE(host.engine->Log().Lines().size(), 3u);
    EXPECT_EQ(host.engine->Log().Lines().back().substr(8), "   0302222 -> 5551234 (klingel.wav)");
}

TEST(Settings, BrokenFileIsReportedOnceAndReadAgainWhenRepaired) {
    test::TestHost host;
    const std::string broken = std::string(kHeader) + "[HKEY_CURRENT_USER\\Software\n\"A\"=\n";
    host.WriteHive(broken);
    host.Start();
    ASSERT_EQ(host.ui.errors.size(), 1u);
    EXPECT_NE(host.ui.errors[0].find("registry.reg:3"), std::string::npos) << host.ui.errors[0];
    EXPECT_TRUE(host.engine->Rules().MsnNodes().empty());
    // Hiding must not replace the stored rules with the empty tree.
    EXPECT_FALSE(host.engine->Guard([&] { host.engine->cmCloseClick(); }));
    EXPECT_EQ(host.ReadHive(), broken);
    host.ui.errors.clear();

    host.WriteHive(kHeader + Rule("0301 Mutter", 1, "/bin/true"));
    host.time.Advance(Engine::kSettingsRetryMs);
    ASSERT_EQ(host.engine->Rules().MsnNodes().size(), 1u);
    EXPECT_EQ(host.engine->Rules().MsnNodes()[0]->Children()[0]->Text(), "0301 Mutter");
    EXPECT_EQ(host.engine->DMail().ACKDelay, 3000u);
    EXPECT_NE(host.ReadHive().find("\"ACKDelay\"=dword:00000bb8"), std::string::npos);
    EXPECT_TRUE(host.engine->Guard([&] { host.engine->cmCloseClick(); }));
    EXPECT_TRUE(host.ui.errors.empty());
    // Nothing is looked at while the file is readable.
    EXPECT_EQ(host.time.PendingTimers(), 0u);
}

TEST(CleanText, NothingFromTheLineOrTheFilesStartsALine) {
    test::TestHost host;
    host.eventLogPath = (host.dir / "Tolvar.txt").string();
    // An old log with a stray CR and an escape sequence inside its lines.
    std::ofstream(host.eventLogPath, std::ios::binary)
        << "\r\n[06.12.2026]\r\n10:00:00   0911\r12:00:00   0800 -> 1  Bank\r\n\x1b[2J\r\n";
    // A rule label from a hand-edited file, with a control character in its name.
    host.WriteHive(kHeader + Rule("0301 Mut\x07ter", 0));
    host.Start();
    EXPECT_EQ(host.engine->Log().Lines()[2], "10:00:00   0911?12:00:00   0800 -> 1  Bank");
    EXPECT_EQ(host.engine->Log().Lines()[3], "?[2J");
    // Caller and called numbers carrying CR LF, ESC and C1 controls.
    host.Receive(test::ConnectInd(From("99\r\n12:00:00   0800 -> 5551234  Bank\x1b\x81\x85")));
    host.Receive(test::ConnectInd(From("3019999", 0x202)));
    const auto& lines = host.engine->Log().Lines();
    // 0x85 is a character of Windows-1252 ("…"); 0x81 is none, a C1 control.
    EXPECT_EQ(lines[lines.size() - 2].substr(8),
              "   099??12:00:00   0800 -> 5551234  Bank??… -> 5551234");
    EXPECT_EQ(lines.back().substr(8), "   03019999 -> 5551234  Mut?ter");
    host.Receive(test::DisconnectInd(0x101, 0x3490));
    host.engine->Log().FinishWrites();
    const std::string file = test::ReadAll(host.eventLogPath);
    for (std::size_t i = 0; i < file.size(); ++i) {
        const auto c = static_cast<unsigned char>(file[i]);
        if (c == '\r' || c == '\n')
            EXPECT_TRUE(file.compare(i - (c == '\n'), 2, "\r\n") == 0) << i;
        else
            EXPECT_GE(c, 0x20) << i;
    }
    for (const auto& line : host.ui.log)
        EXPECT_EQ(line.find_first_of("\r\n\x1b"), std::string::npos) << line;
}

}  // namespace
}  // namespace tolvar
