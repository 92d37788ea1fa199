// The real main window, driven headless through its object names.

#include <gtest/gtest.h>

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QListView>
#include <QScrollBar>
#include <QSystemTrayIcon>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <filesystem>

#include "app/display_check.h"
#include "app/main_form.h"
#include "app/start_position.h"
#include "engine/engine.h"
#include "support/files.h"
#include "support/test_host.h"
#include "support/window_host.h"

namespace tolvar {
namespace {

class MainFormTest : public ::testing::Test, public test::WindowHost {
  protected:
    QStringList TabCaptions() {
        QStringList captions;
        auto* tabs = form->findChild<QTabWidget*>("PageControl");
        for (int i = 0; i < tabs->count(); ++i) captions << tabs->tabText(i);
        return captions;
    }
};

TEST_F(MainFormTest, PagesInOrderAndIsdnHiddenByDefault) {
    Start();
    EXPECT_EQ(TabCaptions(), (QStringList{"Ereignisprotokoll", "Überwachung", "SMS senden",
                                          "D-Mail senden", "Desktop", "Info"}));
    EXPECT_FALSE(form->isVisible());
    // The default rules of a first start bring up their page.
    EXPECT_EQ(form->findChild<QTabWidget*>("PageControl")->currentWidget()->objectName(),
              "tsUeberwachung");
    EXPECT_EQ(form->findChild<QListView*>("LBISDNTrace")->model()->rowCount(), 0);
}

TEST_F(MainFormTest, IsdnPageShowsTheTrace) {
    capi.manufacturer = "Testkarte";
    Start("[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar]\n\"ShowISDNTab\"=dword:00000001\n\n");
    EXPECT_EQ(TabCaptions().last(), "ISDN");
    EXPECT_EQ(form->windowTitle(), "Tolvar   Version 2.7   CAPI Hersteller:Testkarte");
    auto* trace = form->findChild<QListView*>("LBISDNTrace");
    ASSERT_EQ(trace->model()->rowCount(), 1);
    EXPECT_EQ(trace->model()->index(0, 0).data().toString(),
              "LISTEN_REQ 0000   00000001   FF 03 00 00 FF 03 FF 1F 01 00 00 00 00 00 ");
}

TEST_F(MainFormTest, FixedClientAreaAndCloseBoxHides) {
    Start();
    auto* tabs = form->findChild<QTabWidget*>("PageControl");
    // The described size, or larger with a larger font; fixed either way.
    EXPECT_GE(tabs->width(), 520);
    EXPECT_GE(tabs->height(), 296);
    EXPECT_EQ(tabs->minimumSize(), tabs->maximumSize());
    engine->ShowWindow();
    EXPECT_TRUE(form->isVisible());
    form->close();
    EXPECT_FALSE(form->isVisible());
    EXPECT_FALSE(engine->WindowVisible());
}

TEST_F(MainFormTest, TabClicksReachTheEngine) {
    Start();
    engine->ShowWindow();
    auto* tabs = form->findChild<QTabWidget*>("PageControl");
    tabs->setCurrentIndex(0);
    EXPECT_EQ(engine->ActivePage(), Page::Protokoll);
    engine->SetActivePage(Page::Info);
    EXPECT_EQ(tabs->currentWidget()->objectName(), "tsInfo");
}

TEST_F(MainFormTest, CloseBoxHidesAndSavesTheRules) {
    Start();
    engine->ShowWindow();
    EXPECT_EQ(test::ReadAll(registry).find("Ihre TEL/FAX Nummer !"), std::string::npos);
    form->close();
    EXPECT_FALSE(form->isVisible());
    EXPECT_NE(test::ReadAll(registry).find(
                  "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\MSN\\Ihre TEL/FAX Nummer !"
                  "\\Unbekannt/Analog\\00:00]"),
              std::string::npos);
}

TEST_F(MainFormTest, MenuCloseHidesAndSaves) {
    Start();
    engine->ShowWindow();
    form->findChild<QAction*>("cmClose")->trigger();
    EXPECT_FALSE(form->isVisible());
    EXPECT_NE(test::ReadAll(registry).find("Ihre TEL/FAX Nummer !"), std::string::npos);
}

// "B&eenden" keeps the rules as hiding the window does, and the page
// "Desktop" as leaving it does, whether the window is open or was hidden on
// that page; a logout saves the same without ending the program.
TEST_F(MainFormTest, QuitAndLogoutKeepTheRulesAndTheDesktopPage) {
    struct Case {
        const char* name;
        bool hideFirst;
        bool logout;
    };
    const Case cases[] = {{"open window", false, false},
                          {"hidden on the page", true, false},
                          {"logout", false, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Stop();
        std::filesystem::remove(registry);
        Start();
        engine->ShowWindow(Page::Desktop);
        auto* useAgent = form->findChild<QCheckBox*>("CBUseAgent");
        ASSERT_FALSE(useAgent->isChecked());
        useAgent->click();
        if (c.hideFirst) form->close();
        const std::string saved = "\"UseAgent\"=dword:00000001";
        EXPECT_EQ(test::ReadAll(registry).find(saved), std::string::npos);
        if (c.logout)
            engine->SaveBeforeEnd();
        else
            form->findChild<QAction*>("cmQuit")->trigger();  // the tray menu's "B&eenden"
        const std::string file = test::ReadAll(registry);
        EXPECT_NE(file.find(saved), std::string::npos) << file;
        EXPECT_NE(file.find("MSN\\Ihre TEL/FAX Nummer !"), std::string::npos) << file;
        EXPECT_FALSE(form->isVisible());
        // The page is filled again when the window comes back.
        engine->ShowWindow();
        EXPECT_TRUE(useAgent->isChecked());
    }
}

TEST_F(MainFormTest, BlinkingTrayIconAndShowingTheWindowStopsIt) {
    Start();
    engine->SetAttention(true);
    EXPECT_EQ(form->TrayTip(), "DMail eingetroffen");
    EXPECT_EQ(form->TrayPhase(), 0);
    time.Advance(500);
    EXPECT_EQ(form->TrayPhase(), 1);  // the first tick shows the second icon
    time.Advance(500);
    EXPECT_EQ(form->TrayPhase(), 0);
    time.Advance(500);
    engine->ShowWindow();
    EXPECT_EQ(form->TrayPhase(), 0);
    EXPECT_EQ(form->TrayTip(), "Tolvar");
    time.Advance(2000);
    EXPECT_EQ(form->TrayPhase(), 0);
}

// The icon's colours at its middle: grey while CAPI cannot be reached.
bool IconIsGrey(const QSystemTrayIcon* tray) {
    const QImage image = tray->icon().pixmap(32).toImage();
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.alpha() > 0 && (c.red() != c.green() || c.green() != c.blue())) return false;
        }
    return true;
}

TEST_F(MainFormTest, TrayIconIsGreyWhileCapiIsLost) {
    capi.registerResult = 0x1009;  // no CAPI at start
    Start();
    EXPECT_TRUE(form->TrayGreyed());
    EXPECT_TRUE(IconIsGrey(form->Tray()));
    EXPECT_EQ(form->TrayTip(), "Tolvar - keine Verbindung zur CAPI");
    capi.registerResult = 0;
    time.Advance(2000);  // back
    EXPECT_FALSE(form->TrayGreyed());
    EXPECT_FALSE(IconIsGrey(form->Tray()));
    // Lost while running, with a D-Mail blinking: both phases grey.
    engine->SetAttention(true);
    capi.getResult = kCapiOSResourceError;
    capi.registerResult = 0x1009;
    engine->WMCapiSignal();
    time.Advance(1);
    EXPECT_TRUE(IconIsGrey(form->Tray()));
    time.Advance(500);
    EXPECT_EQ(form->TrayPhase(), 1);
    EXPECT_TRUE(IconIsGrey(form->Tray()));
}

TEST_F(MainFormTest, EventLogListFollowsTheEngine) {
    Start();
    auto* list = form->EventLogList();
    engine->Log().AppendLine("");
    engine->Log().AppendLine("[07.12.2026]");
    const int i = engine->Log().AppendLine("09:30:00   0911234 -> 5551234");
    EXPECT_EQ(list->model()->rowCount(), 3);
    EXPECT_EQ(list->currentIndex().row(), 2);
    engine->Log().ReplaceLine(i, "09:30:00   0911234 -> 5551234  verbunden.");
    EXPECT_EQ(list->model()->index(2, 0).data().toString(),
              "09:30:00   0911234 -> 5551234  verbunden.");
    // "Nummern &kopieren" copies from the selected line.
    QGuiApplication::clipboard()->clear();
    list->setCurrentIndex(list->model()->index(1, 0));  // a date header: nothing
    form->findChild<QAction*>("cmCopyNumbers")->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "");
    list->setCurrentIndex(list->model()->index(2, 0));
    form->findChild<QAction*>("cmCopyNumbers")->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "0911234 -> 5551234");
}

// Both long lists show the engine's own lines through a model: every row's
// text reaches assistive technology, the log selects its newest line, and the
// trace follows new lines unless the user has scrolled away from the end.
TEST_F(MainFormTest, LongListsFollowNewLinesAndScreenReadersReadThem) {
    std::string file;
    for (int i = 0; i < 5000; ++i)
        file += "09:30:00   0301" + std::to_string(i) + " -> 5551234\r\n";
    test::WriteAll(dir.File("Tolvar.txt"), file);
    Start("[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar]\n\"ShowISDNTab\"=dword:00000001\n\n");
    engine->ShowWindow(Page::Protokoll);
    QApplication::processEvents();
    QListView* log = form->EventLogList();
    const auto lastShown = [](QListView* list) {
        const QModelIndex last = list->model()->index(list->model()->rowCount() - 1, 0);
        return list->viewport()->rect().intersects(list->visualRect(last));
    };
    ASSERT_EQ(log->model()->rowCount(), 5000);
    EXPECT_EQ(log->currentIndex().row(), 4999);
    EXPECT_TRUE(lastShown(log));

    QAccessibleInterface* reader = QAccessible::queryAccessibleInterface(log);
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(reader->text(QAccessible::Name), "Ereignisprotokoll");
    ASSERT_NE(reader->tableInterface(), nullptr);
    EXPECT_EQ(reader->tableInterface()->rowCount(), 5000);
    EXPECT_EQ(reader->tableInterface()->cellAt(4999, 0)->text(QAccessible::Name),
              "09:30:00   03014999 -> 5551234");
    engine->Log().ReplaceLine(4999, "09:30:00   03014999 -> 5551234  verbunden.");
    EXPECT_EQ(reader->tableInterface()->cellAt(4999, 0)->text(QAccessible::Name),
              "09:30:00   03014999 -> 5551234  verbunden.");

    // The trace: a FACILITY_IND is traced and nothing else.
    engine->SetActivePage(Page::ISDN);
    std::uint16_t number = 0;
    const auto receive = [&](int count) {
        for (int i = 0; i < count; ++i, ++number)
            capi.Feed({0x0E, 0, 1, 0, 0x80, 0x82, static_cast<std::uint8_t>(number),
                       static_cast<std::uint8_t>(number >> 8), 1, 1, 0, 0, 0x04, 0x33});
        io.Pump();
        QApplication::processEvents();
    };
    QListView* trace = form->findChild<QListView*>("LBISDNTrace");
    receive(300);
    ASSERT_EQ(trace->model()->rowCount(), 301);  // LISTEN_REQ first
    EXPECT_TRUE(lastShown(trace));
    EXPECT_EQ(QAccessible::queryAccessibleInterface(trace)->text(QAccessible::Name),
              "ISDN-Protokoll");
    EXPECT_EQ(QAccessible::queryAccessibleInterface(trace)->tableInterface()->cellAt(300, 0)->text(
                  QAccessible::Name),
              "000E 0001 8280 012B   00000101   04 33 ");
    trace->verticalScrollBar()->setValue(0);  // the user reads the beginning
    receive(50);
    EXPECT_EQ(trace->verticalScrollBar()->value(), 0);
    trace->scrollToBottom();  // and comes back to the end
    QApplication::processEvents();
    receive(50);
    EXPECT_TRUE(lastShown(trace));
    // Lines that came while the page was hidden are in view when it is shown.
    engine->SetActivePage(Page::Info);
    receive(500);
    engine->SetActivePage(Page::ISDN);
    QApplication::processEvents();
    EXPECT_TRUE(lastShown(trace));
}

// A new call line takes the selection only from the last line or from none,
// and the list follows it only when it was scrolled to the end.
TEST_F(MainFormTest, NewLinesKeepTheUsersSelectionAndScrollPosition) {
    std::string file;
    for (int i = 0; i < 500; ++i) file += "09:30:00   0301" + std::to_string(i) + " -> 5551234\r\n";
    test::WriteAll(dir.File("Tolvar.txt"), file);
    Start();
    engine->ShowWindow(Page::Protokoll);
    QApplication::processEvents();
    QListView* log = form->EventLogList();
    QScrollBar* bar = log->verticalScrollBar();
    int calls = 0;
    const auto call = [&] {
        engine->Log().AppendLine("09:31:00   0309" + std::to_string(calls++) + " -> 5551234");
        QApplication::processEvents();
    };
    const auto last = [&] { return log->model()->rowCount() - 1; };
    const auto atEnd = [&] { return bar->value() == bar->maximum(); };
    ASSERT_EQ(log->currentIndex().row(), 499);
    ASSERT_TRUE(atEnd());

    struct Step {
        const char* what;
        int select;  // row to select first; -1: none, -2: the last
        bool toEnd;  // scrolled to the end before the call, else to the top
        bool selectionMoves;
        bool follows;
    };
    const Step steps[] = {
        {"earlier line, scrolled up", 10, false, false, false},
        {"earlier line, at the end", 10, true, false, true},
        {"last line, scrolled up", -2, false, true, false},
        {"last line, at the end", -2, true, true, true},
        {"nothing selected, scrolled up", -1, false, true, false},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.what);
        if (s.select == -1)
            log->setCurrentIndex(QModelIndex());
        else
            log->setCurrentIndex(log->model()->index(s.select == -2 ? last() : s.select, 0));
        s.toEnd ? log->scrollToBottom() : bar->setValue(0);
        QApplication::processEvents();
        const int before = log->currentIndex().row();
        call();
        EXPECT_EQ(log->currentIndex().row(), s.selectionMoves ? last() : before);
        EXPECT_EQ(atEnd(), s.follows);
        if (!s.follows) {
            EXPECT_EQ(bar->value(), 0);
        }
    }
    // "Nummern &kopieren" copies the line the user chose, not the newest.
    log->setCurrentIndex(log->model()->index(10, 0));
    call();
    form->findChild<QAction*>("cmCopyNumbers")->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "030110 -> 5551234");
}

// Ctrl+C on the log list is "Nummern &kopieren", not the list's own copy of
// the whole line; clearing empties the list and the next line is shown.
TEST_F(MainFormTest, CopyKeyAndClearingTheLogList) {
    Start();
    engine->ShowWindow(Page::Protokoll);
    QApplication::processEvents();
    QListView* list = form->EventLogList();
    engine->Log().AppendLine("09:30:00   0911234 Sprache -> 5551234 Mutter");
    list->setFocus();
    QGuiApplication::clipboard()->clear();
    // As a real key press comes: shortcuts are looked for first.
    QTest::keyClick(list, Qt::Key_C, Qt::ControlModifier);
    QApplication::processEvents();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "0911234 Sprache -> 5551234");

    form->findChild<QAction*>("cmClearProtokoll")->trigger();
    EXPECT_EQ(list->model()->rowCount(), 0);
    engine->Log().AppendLine("10:00:00   0912 -> 5551234");
    ASSERT_EQ(list->model()->rowCount(), 1);
    EXPECT_EQ(list->model()->index(0, 0).data().toString(), "10:00:00   0912 -> 5551234");
    EXPECT_EQ(list->currentIndex().row(), 0);
}

TEST_F(MainFormTest, AllTabsFitWithoutScrolling) {
    Start("[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar]\n\"ShowISDNTab\"=dword:00000001\n\n");
    auto* tabs = form->findChild<QTabWidget*>("PageControl");
    int width = 0;
    for (int i = 0; i < tabs->count(); ++i) width += tabs->tabBar()->tabRect(i).width();
    EXPECT_LE(width, tabs->width());
}

TEST_F(MainFormTest, WithoutTrayTheCloseBoxMinimisesAndSaves) {
    Start("", false);
    EXPECT_EQ(form->Tray(), nullptr);
    engine->ShowWindow();
    form->close();
    // Still reachable from the task bar.
    EXPECT_TRUE(form->isVisible());
    EXPECT_TRUE(form->isMinimized());
    EXPECT_FALSE(engine->WindowVisible());
    EXPECT_NE(test::ReadAll(registry).find("Ihre TEL/FAX Nummer !"), std::string::npos);
    // Restored from the task bar: the engine sees the window shown again.
    engine->SetAttention(true);
    form->setWindowState(Qt::WindowNoState);
    EXPECT_TRUE(engine->WindowVisible());
    EXPECT_EQ(form->TrayTip(), "Tolvar");
    // "&Schließen" minimises too, and "&Anzeigen" brings it back.
    form->findChild<QAction*>("cmClose")->trigger();
    EXPECT_TRUE(form->isMinimized());
    engine->ShowWindow();
    EXPECT_FALSE(form->isMinimized());
    EXPECT_TRUE(form->isVisible());
}

TEST(StartPosition, BottomRightInsideTheAvailableArea) {
    struct Case {
        QRect screen, available;
        QSize frame;
        QPoint expected;
    };
    const QSize frame(530, 340);
    const Case cases[] = {
        // A task bar of 30 pixels or less: the classic place, 5 and 30 from the edges.
        {{0, 0, 1920, 1080}, {0, 0, 1920, 1050}, frame, {1385, 710}},
        // 32 pixels: moved up so the frame ends where the task bar starts.
        {{0, 0, 1920, 1080}, {0, 0, 1920, 1048}, frame, {1385, 708}},
        // A panel on the right.
        {{0, 0, 1920, 1080}, {0, 0, 1870, 1080}, frame, {1340, 710}},
        // A second screen to the right of the first.
        {{1920, 0, 1280, 1024}, {1920, 0, 1280, 990}, frame, {2665, 650}},
        // A screen smaller than the window: its top left corner stays visible.
        {{0, 0, 500, 300}, {0, 24, 500, 276}, frame, {0, 24}},
    };
    for (const auto& c : cases) {
        const QPoint p = StartPosition(c.screen, c.available, c.frame);
        EXPECT_EQ(p, c.expected) << c.available.width() << "x" << c.available.height();
        if (c.frame.width() <= c.available.width() && c.frame.height() <= c.available.height()) {
            EXPECT_TRUE(c.available.contains(QRect(p, c.frame)));
        }
    }
}

TEST(DisplayAvailable, NamesWhatQtWouldOpen) {
    struct Case {
        const char* display;
        const char* wayland;
        const char* platform;
        bool expected;
    };
    const Case cases[] = {
        {nullptr, nullptr, nullptr, false},
        {"", "", "", false},
        {":0", nullptr, nullptr, true},
        {nullptr, "wayland-0", nullptr, true},
        {nullptr, nullptr, "offscreen", true},
        {nullptr, nullptr, "minimal", true},
        {nullptr, nullptr, "vnc:size=800x600", true},
        {nullptr, nullptr, "xcb", false},
        {":0", nullptr, "xcb", true},
        {":0", nullptr, "wayland", false},
        {nullptr, "wayland-1", "wayland-egl", true},
        {nullptr, nullptr, "wayland;xcb", false},
        {":1", nullptr, "wayland;xcb", true},
        {nullptr, nullptr, "xcb;offscreen", true},
    };
    for (const auto& c : cases) {
        const auto env = [&](const char* name) -> const char* {
            const std::string n = name;
            if (n == "DISPLAY") return c.display;
            if (n == "WAYLAND_DISPLAY") return c.wayland;
            if (n == "QT_QPA_PLATFORM") return c.platform;
            return nullptr;
        };
        EXPECT_EQ(DisplayAvailable(env), c.expected)
            << (c.display ? c.display : "-") << " " << (c.wayland ? c.wayland : "-") << " "
            << (c.platform ? c.platform : "-");
    }
}

}  // namespace
}  // namespace tolvar

int main(int argc, char** argv) {
    // Headless unless told otherwise; test discovery runs without the test environment.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
