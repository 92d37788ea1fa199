// The autostart entry: its file, its Exec line, and the check box that sets it.

#include "desktop/autostart.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <thread>

#include "app/autostart_box.h"
#include "support/files.h"
#include "support/process.h"

namespace tolvar {
namespace {

TEST(Autostart, WritesAndRemovesItsEntry) {
    test::TempDir dir;
    const std::string entry = dir.File("config/autostart/tolvar.desktop");
    const Autostart a(entry, "/usr/bin/tolvar", dir.File("settings/registry.reg"));
    EXPECT_FALSE(a.Enabled());
    ASSERT_EQ(a.SetEnabled(true), std::nullopt);  // the folder is created
    EXPECT_TRUE(a.Enabled());
    EXPECT_EQ(test::ReadAll(entry),
              "[Desktop Entry]\n"
              "Type=Application\n"
              "Name=Tolvar\n"
              "Comment=ISDN-Anrufmonitor\n"
              "Exec=/usr/bin/tolvar --registry " +
                  dir.File("settings/registry.reg") +
                  " --state-dir\n"
                  "Icon=tolvar\n"
                  "Terminal=false\n"
                  "X-GNOME-Autostart-enabled=true\n");
    ASSERT_EQ(a.SetEnabled(false), std::nullopt);
    EXPECT_FALSE(std::filesystem::exists(entry));
    EXPECT_FALSE(a.Enabled());
    EXPECT_EQ(a.SetEnabled(false), std::nullopt);  // already off
}

TEST(Autostart, AnEntryTheDesktopSkipsCountsAsOff) {
    test::TempDir dir;
    const std::string entry = dir.File("tolvar.desktop");
    const Autostart a(entry, "/usr/bin/tolvar", "/r.reg");
    for (const char* line : {"Hidden=true", "X-GNOME-Autostart-enabled=false"}) {
        test::WriteAll(entry, std::string("[Desktop Entry]\r\nExec=tolvar\r\n") + line + "\r\n");
        EXPECT_FALSE(a.Enabled()) << line;
    }
    test::WriteAll(entry, "[Desktop Entry]\nExec=tolvar\n[Desktop Action x]\nHidden=true\n");
    EXPECT_TRUE(a.Enabled());
}

TEST(Autostart, ExecLineQuotesWhatTheFormatReserves) {
    struct Case {
        std::string program, registry, capi, exec;
    };
    const Case cases[] = {
        {"/usr/bin/tolvar", "/home/u/.config/tolvar/registry.reg", "",
         "/usr/bin/tolvar --registry /home/u/.config/tolvar/registry.reg"},
        {"/opt/my tolvar/tolvar", "/home/u/Eigene Dateien/r.reg", "rcapi:10.0.0.2:2662",
         "\"/opt/my tolvar/tolvar\" --capi rcapi:10.0.0.2:2662 --registry "
         "\"/home/u/Eigene Dateien/r.reg\""},
        // Inside quotes ", `, $ and \ are escaped, and the value escapes each \ again.
        {"/usr/bin/tolvar", "/h/a\"b`c$d\\e.reg", "",
         "/usr/bin/tolvar --registry "
         "\"/h/a\\\\\"b\\\\`c\\\\$d\\\\\\\\e.reg\""},
        {"/usr/bin/tolvar", "/h/100%.reg", "", "/usr/bin/tolvar --registry /h/100%%.reg"},
        {"/usr/bin/tolvar", "/h/Müller's.reg", "",
         "/usr/bin/tolvar --registry \"/h/Müller's.reg\""},
        {"/usr/bin/tolvar", "/h/a\nb.reg", "", ""},
    };
    // Started in the state folder, as the service is.
    for (const auto& c : cases)
        EXPECT_EQ(Autostart("/x", c.program, c.registry, c.capi).ExecLine(),
                  c.exec.empty() ? "" : c.exec + " --state-dir")
            << c.registry;
}

TEST(Autostart, RelativeSettingsPathBecomesAbsolute) {
    const Autostart a("/x", "/usr/bin/tolvar", "demo/../registry.reg");
    EXPECT_EQ(a.ExecLine(), "/usr/bin/tolvar --registry " +
                                (std::filesystem::current_path() / "registry.reg").string() +
                                " --state-dir");
}

TEST(Autostart, FailuresLeaveTheOldStateAndSayWhyInGerman) {
    test::TempDir dir;
    // A path that cannot be written: no entry, and an error text.
    test::WriteAll(dir.File("file"), "x");
    const std::string blockedEntry = dir.File("file/tolvar.desktop");
    const Autostart blocked(blockedEntry, "/usr/bin/tolvar", "/r.reg");
    const std::string written =
        blockedEntry + ": Der Autostart-Eintrag kann nicht geschrieben werden: ";
    EXPECT_EQ(blocked.SetEnabled(true).value_or("").substr(0, written.size()), written);
    EXPECT_FALSE(blocked.Enabled());
    // A settings path that no Exec line can hold keeps the old entry.
    const std::string entry = dir.File("tolvar.desktop");
    test::WriteAll(entry, "[Desktop Entry]\nExec=old\n");
    const Autostart bad(entry, "/usr/bin/tolvar", "/h/a\tb.reg");
    EXPECT_EQ(bad.SetEnabled(true),
              entry +
                  ": Der Autostart-Eintrag kann nicht geschrieben werden: der Pfad des Programms "
                  "oder der Einstellungsdatei enthält ein Steuerzeichen.");
    EXPECT_EQ(test::ReadAll(entry), "[Desktop Entry]\nExec=old\n");
    // An entry that cannot be removed (a folder stands there) stays.
    const std::string folder = dir.File("ordner/tolvar.desktop");
    std::filesystem::create_directories(folder + "/inhalt");
    const std::string removed = folder + ": Der Autostart-Eintrag kann nicht entfernt werden: ";
    EXPECT_EQ(Autostart(folder, "/usr/bin/tolvar", "/r.reg")
                  .SetEnabled(false)
                  .value_or("")
                  .substr(0, removed.size()),
              removed);
}

TEST(Autostart, NamesTheInstalledProgramAlsoAfterAnUpgradeReplacedIt) {
    test::TempDir dir;
    const std::string program = dir.File("bin/tolvar");
    std::filesystem::create_directories(dir.Path() / "bin");
    std::filesystem::copy_file("/bin/sleep", program);
    test::Process running({program, "30"});
    const std::string link = "/proc/" + std::to_string(running.Pid()) + "/exe";
    // Until the child has started the program, the link names the test.
    for (int i = 0; i < 500 && Autostart::RunningProgram(link) != program; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(Autostart::RunningProgram(link), program);
    // The upgrade puts a new file in its place while it runs.
    std::filesystem::copy_file("/bin/sleep", program + ".neu");
    std::filesystem::rename(program + ".neu", program);
    EXPECT_EQ(std::filesystem::read_symlink(link).string(), program + " (deleted)");
    EXPECT_EQ(Autostart::RunningProgram(link), program);
    EXPECT_EQ(Autostart::RunningProgram(dir.File("kein-link")), "tolvar");
}

TEST(Autostart, DefaultEntryFollowsXdgConfigHome) {
    const char* savedXdg = std::getenv("XDG_CONFIG_HOME");
    const std::string saved = savedXdg ? savedXdg : "";
    setenv("XDG_CONFIG_HOME", "/cfg", 1);
    EXPECT_EQ(Autostart::DefaultEntryPath(), "/cfg/autostart/tolvar.desktop");
    unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(Autostart::DefaultEntryPath(),
              std::string(std::getenv("HOME")) + "/.config/autostart/tolvar.desktop");
    if (savedXdg) setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
}

TEST(AutostartCheckBox, ShowsAndSetsTheEntryAndRevertsOnFailure) {
    test::TempDir dir;
    const std::string entry = dir.File("autostart/tolvar.desktop");
    std::vector<std::string> errors;
    AutostartCheckBox box(Autostart(entry, "/usr/bin/tolvar", "/r.reg"),
                          [&](const std::string& e) { errors.push_back(e); });
    EXPECT_EQ(box.text(), "Beim &Anmelden starten");
    EXPECT_FALSE(box.isChecked());
    box.click();
    EXPECT_TRUE(std::filesystem::exists(entry));
    box.click();
    EXPECT_FALSE(std::filesystem::exists(entry));

    test::WriteAll(dir.File("file"), "x");
    AutostartCheckBox blocked(
        Autostart(dir.File("file/tolvar.desktop"), "/usr/bin/tolvar", "/r.reg"),
        [&](const std::string& e) { errors.push_back(e); });
    blocked.click();
    EXPECT_FALSE(blocked.isChecked());  // back to what is on disk
    EXPECT_EQ(errors.size(), 1u);
}

}  // namespace
}  // namespace tolvar
