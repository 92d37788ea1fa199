// Rules made in the window's editor, saved by hiding it, shown again after a
// restart, and used by the next call: the real program on the saved file,
// through libcapi20, against the simulated line.

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

#include "rules_window.h"
#include "support/line_fixture.h"
#include "support/process.h"

namespace tolvar {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

TEST(RuleEditorRoundTrip, ACallerAddedInTheEditorIsNamedAndItsProgramRuns) {
    test::LineFixture line;
    const fs::path home = line.Dir() / "a";
    fs::create_directories(home);
    const std::string registry = (home / "registry.reg").string();
    const std::string mark = (home / "editor.mark").string();
    {
        // A first start: the default MSN gets the line's number, and a new
        // caller with a name runs a program.
        test::RulesWindow w;
        w.registry = registry;
        w.Start();
        w.Select("Ihre TEL/FAX Nummer !");
        w.Action("cmEditMSN")->trigger();
        w.TypeLabel("5551234");
        w.Action("cmNewCaller")->trigger();
        w.TypeLabel("0304444 Programm");
        // The new label sorts all siblings.
        ASSERT_EQ(w.TreeText(), "5551234 [0304444 Programm, Sonstige, Unbekannt/Analog]");
        ASSERT_EQ(w.CurrentLabel(), "0304444 Programm");
        w.SelectCell(0, 1);
        w.Child<QComboBox>("cbAction")->setCurrentIndex(1);  // "Ausführen"
        w.SelectCell(0, 2);
        QTest::keyClick(w.Grid(), Qt::Key_F2);
        auto* param = w.Child<QLineEdit>("PropGridEditor");
        ASSERT_TRUE(param);
        param->setText(QString::fromStdString("/usr/bin/touch " + mark));
        QTest::keyClick(param, Qt::Key_Return);
        w.form->close();  // hidden: the rules are saved
    }
    {
        // After a restart the editor shows them, the new caller selected.
        test::RulesWindow w;
        w.registry = registry;
        w.Start();
        EXPECT_EQ(w.TreeText(), "5551234 [0304444 Programm, Sonstige, Unbekannt/Analog]");
        EXPECT_EQ(w.CurrentLabel(), "0304444 Programm");
        EXPECT_EQ(w.Rows(), (std::vector<std::string>{"00:00:00 | Ausführen | editor.mark"}));
    }

    test::Process tolvar(
        {test::BinDir() + "/tolvar", "--console", "--capi", line.CapiArg(), "--registry", registry},
        home.string(), (home / "stderr.txt").string());
    ASSERT_EQ(line.Ctl({"wait", "-> LISTEN_REQ", "timeout=10s"}).back().rfind("ok", 0), 0u);
    ASSERT_EQ(line.Ctl({"call", "0304444", "5551234", "ring=1s"}).back().rfind("ok call", 0), 0u);
    std::optional<std::string> logged;
    while (auto l = tolvar.ReadLine(10s)) {
        if (l->rfind("protokoll ", 0) == 0 &&
            l->find("   0304444 -> 5551234  Programm (editor.mark)") != std::string::npos) {
            logged = l;
            break;
        }
    }
    ASSERT_TRUE(logged) << test::ReadAll(home / "stderr.txt");
    // The program starts as the call arrives, before or after its line.
    const std::string started = "exec: /usr/bin/touch " + mark;
    const auto& lines = tolvar.Lines();
    if (std::find(lines.begin(), lines.end(), started) == lines.end()) {
        EXPECT_EQ(tolvar.WaitFor("exec: ", 10s).value_or("(none)"), started);
    }
    for (int i = 0; i < 250 && !fs::exists(mark); ++i) std::this_thread::sleep_for(20ms);
    EXPECT_TRUE(fs::exists(mark));
    tolvar.Send("quit");
    EXPECT_EQ(tolvar.Wait(5s), 0);
}

}  // namespace
}  // namespace tolvar

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
