// The tray icon's attention blinking and the window's pages, on virtual time.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support/test_host.h"

namespace tolvar {
namespace {

TEST(Tray, StartShowsPhaseZeroAndTheTip) {
    test::TestHost host;
    host.Start();
    EXPECT_EQ(host.ui.trayPhase, 0);
    EXPECT_EQ(host.ui.trayTip, "Tolvar");
    EXPECT_FALSE(host.engine->Tray().Attention());
}

TEST(Tray, BlinksEvery500MsUntilTheWindowIsShown) {
    test::TestHost host;
    auto& engine = host.Start();
    engine.SetAttention(true);
    EXPECT_EQ(host.ui.trayTip, "DMail eingetroffen");
    EXPECT_EQ(host.ui.trayPhase, 0);
    host.time.Advance(499);
    EXPECT_EQ(host.ui.trayPhase, 0);
    host.time.Advance(1);
    EXPECT_EQ(host.ui.trayPhase, 1);  // the first tick shows the second icon
    host.time.Advance(500);
    EXPECT_EQ(host.ui.trayPhase, 0);
    host.time.Advance(500);
    EXPECT_EQ(host.ui.trayPhase, 1);
    engine.ShowWindow();
    EXPECT_FALSE(engine.Tray().Attention());
    EXPECT_EQ(host.ui.trayPhase, 0);
    EXPECT_EQ(host.ui.trayTip, "Tolvar");
    host.time.Advance(5000);
    EXPECT_EQ(host.ui.trayPhase, 0);
}

TEST(Tray, SwitchingToTheEventLogEndsAttention) {
    test::TestHost host;
    auto& engine = host.Start();
    engine.ShowWindow(Page::SMS);
    engine.SetAttention(true);
    engine.SetActivePage(Page::DMail);
    EXPECT_TRUE(engine.Tray().Attention());
    engine.SetActivePage(Page::Protokoll);
    EXPECT_FALSE(engine.Tray().Attention());
}

TEST(Tray, DoubleClickOpensTheEventLogOnlyWhileBlinking) {
    test::TestHost host;
    auto& engine = host.Start();
    engine.ShowWindow(Page::Info);
    engine.cmCloseClick();
    engine.TrayDoubleClick();
    EXPECT_TRUE(engine.WindowVisible());
    EXPECT_EQ(engine.ActivePage(), Page::Info);  // the page it was hidden on
    engine.cmCloseClick();
    engine.SetAttention(true);
    engine.TrayDoubleClick();
    EXPECT_EQ(engine.ActivePage(), Page::Protokoll);
    EXPECT_FALSE(engine.Tray().Attention());
}

TEST(Tray, NotificationSoundPlaysOnlyWhenTheFileExists) {
    test::TestHost host;
    const std::string wav = (host.dir / "ding.wav").string();
    host.WriteHive(
        "Windows Registry Editor Version "
        "5.00\n\n[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\DMail]\n"
        "\"DMailNotifySound\"=\"" +
        wav + "\"\n\n");
    auto& engine = host.Start();
    engine.SetAttention(true);
    EXPECT_TRUE(host.ui.sounds.empty());
    std::ofstream(wav) << "RIFF";
    engine.SetAttention(false);
    EXPECT_TRUE(host.ui.sounds.empty());
    engine.SetAttention(true);
    EXPECT_EQ(host.ui.sounds, std::vector<std::string>{wav});
}

TEST(EventLogInEngine, LoadedAtStartAndClearedCallsLoseTheirLine) {
    test::TestHost host;
    const std::string log = (host.dir / "Tolvar.txt").string();
    std::ofstream(log, std::ios::binary) << "\r\n[06.12.2026]\r\n10:00:00   0911 -> 5\r\n";
    host.eventLogPath = log;
    host.Start();
    EXPECT_EQ(host.ui.log.size(), 3u);
    EXPECT_EQ(FromDayNumber(host.engine->Log().LastLogDate()), (CivilDate{2026, 12, 6}));
    TConnection call;
    call.LogLine = 2;
    host.engine->ConnectionList().Add(call);
    host.engine->cmClearProtokollClick();
    EXPECT_TRUE(host.ui.log.empty());
    EXPECT_EQ(host.engine->ConnectionList()[0].LogLine, -1);
    EXPECT_FALSE(std::filesystem::exists(log));
}

TEST(EventLogInEngine, CopyNumbersGoesToTheClipboard) {
    test::TestHost host;
    auto& engine = host.Start();
    engine.Log().AppendLine("09:30:00   0911234 Sprache -> 5551234");
    engine.Log().AppendLine("[07.12.2026]");
    engine.CopyNumbers(0);
    EXPECT_EQ(host.ui.clipboard, "0911234 Sprache -> 5551234");
    host.ui.clipboard.clear();
    engine.CopyNumbers(1);
    EXPECT_EQ(host.ui.clipboard, "");
    EXPECT_FALSE(engine.CanCopyNumbers(2));
}

}  // namespace
}  // namespace tolvar
