// The page "Überwachung" on the real window: tree, grid, overlays, menus.

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QListWidget>
#include <QScrollBar>
#include <QTabWidget>
#include <QTest>
#include <QTimeEdit>
#include <QToolButton>

#include "app/font_scale.h"
#include "rules/rule_editor.h"
#include "rules_window.h"

namespace tolvar {
namespace {

using Texts = std::vector<std::string>;

const std::string kBuero = "5551234 Büro";
const std::string kRules =
    test::RuleEntry(kBuero, "0301111 Mutter", "22:00", 2, "/snd/klingel.wav") +
    test::RuleEntry(kBuero, "0301111 Mutter", "06:00", 1, "/usr/bin/prog") +
    test::RuleEntry(kBuero, "0302222", "00:00", 4, "0171555 Oma") +
    test::RuleEntry(kBuero, "Sonstige", "00:00", 0) +
    test::RuleEntry("5559999", "Sonstige", "00:00", 0);
const char* const kWarning =
    "Das Eingabeformat muß \"Telefonnummer + [ Text]\" sein.\r\rBeispiel:  017812345  Mutter";

class RuleEditorWindow : public ::testing::Test {
  protected:
    QWidget* TimePicker() { return w.Child<QTimeEdit>("TimePicker"); }
    QComboBox* Actions() { return w.Child<QComboBox>("cbAction"); }
    QToolButton* FileButton() { return w.Child<QToolButton>("BtnPropGridAction"); }
    // Which overlays are shown: "T" time picker, "A" action list, "F" file button.
    std::string Overlays() {
        return std::string(TimePicker()->isVisible() ? "T" : "") +
               (Actions()->isVisible() ? "A" : "") + (FileButton()->isVisible() ? "F" : "");
    }
    QLineEdit* LabelEditor() { return w.LabelEditor(); }
    void TypeLabel(const QString& keys) { w.TypeLabel(keys); }
    static void Settle() { test::RulesWindow::Settle(); }
    std::string Param(std::size_t entry) { return w.engine->Editor().Param(entry); }

    test::RulesWindow w;
};

TEST_F(RuleEditorWindow, StartShowsTheFirstCallerOfTheFirstMsn) {
    w.Start(kRules);
    EXPECT_EQ(w.TreeText(), kBuero + " [0301111 Mutter, 0302222, Sonstige] 5559999 [Sonstige]");
    EXPECT_TRUE(w.Item(kBuero)->isExpanded());
    EXPECT_FALSE(w.Item("5559999")->isExpanded());
    EXPECT_EQ(w.CurrentLabel(), "0301111 Mutter");
    ASSERT_TRUE(w.Grid()->isVisible());
    EXPECT_EQ(w.Rows(), (Texts{"06:00:00 | Ausführen | prog", "22:00:00 | Sound | klingel.wav"}));
    EXPECT_EQ(Overlays(), "");
    const QAbstractItemModel* model = w.Grid()->model();
    EXPECT_EQ(model->headerData(0, Qt::Horizontal).toString(), "Startzeit:");
    EXPECT_EQ(model->headerData(1, Qt::Horizontal).toString(), "Aktion:");
    EXPECT_EQ(model->headerData(2, Qt::Horizontal).toString(), "Parameter:");

    // Layout: indent, column widths and row height (grown with the font),
    // vertical scrolling only.
    const FontScale scale = FontScale::Application();
    EXPECT_EQ(w.Tree()->indentation(), 19);
    EXPECT_EQ(w.Grid()->columnWidth(0), scale.X(68));
    EXPECT_EQ(w.Grid()->columnWidth(1), scale.X(74));
    const QWidget* panel = w.Child<QWidget>("GridPanel");
    EXPECT_EQ(w.Grid()->columnWidth(2),
              panel->width() - scale.X(68) - scale.X(74) -
                  panel->style()->pixelMetric(QStyle::PM_ScrollBarExtent) - 7);
    EXPECT_EQ(w.Grid()->verticalHeader()->defaultSectionSize(), scale.Y(16));
    EXPECT_EQ(w.Grid()->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_EQ(w.Tree()->topLevelItem(0)->icon(0).availableSizes(QIcon::Selected).size(), 1);

    // What a screen reader is told.
    EXPECT_EQ(w.Tree()->accessibleName(), "Regeln");
    EXPECT_EQ(w.Grid()->accessibleName(), "Einträge");
    EXPECT_EQ(w.form->EventLogList()->accessibleName(), "Ereignisprotokoll");
    EXPECT_EQ(TimePicker()->accessibleName(), "Startzeit");
    EXPECT_EQ(Actions()->accessibleName(), "Aktion");
    EXPECT_EQ(FileButton()->accessibleName(), "Datei auswählen");
    QAccessibleInterface* grid = QAccessible::queryAccessibleInterface(w.Grid());
    ASSERT_TRUE(grid && grid->tableInterface());
    QAccessibleInterface* cell = grid->tableInterface()->cellAt(1, 2);
    ASSERT_TRUE(cell);
    EXPECT_EQ(cell->text(QAccessible::Name), "klingel.wav");

    // An MSN node hides the grid; a caller node shows its rows again.
    w.Select("5559999");
    EXPECT_FALSE(w.Grid()->isVisible());
    w.Select("5559999", "Sonstige");
    EXPECT_TRUE(w.Grid()->isVisible());
    EXPECT_EQ(w.Rows(), (Texts{"00:00:00 | Aus | "}));
}

TEST_F(RuleEditorWindow, FirstStartSelectsUnbekanntAnalog) {
    w.Start();
    EXPECT_EQ(w.TreeText(), "Ihre TEL/FAX Nummer ! [Unbekannt/Analog, Sonstige]");
    EXPECT_EQ(w.CurrentLabel(), "Unbekannt/Analog");
    EXPECT_EQ(w.Rows(), (Texts{"00:00:00 | Aus | "}));
}

TEST_F(RuleEditorWindow, ACallerWithoutEntriesShowsAnEmptyGridThatTakesNewOnes) {
    // Only a file edited by hand holds such a caller.
    w.Start(kRules + "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\MSN\\" + kBuero +
            "\\0300000 Leer]\n\n");
    w.Select(kBuero, "0300000 Leer");
    EXPECT_TRUE(w.Grid()->isVisible());
    EXPECT_TRUE(w.Rows().empty());
    EXPECT_EQ(w.MainMenu(w.form->EditMenu())[1], "Eintrag &entfernen (grey)");
    w.Action("cmNewEntry")->trigger();
    EXPECT_EQ(w.Rows(), (Texts{"00:00:00 | Aus | "}));
}

TEST_F(RuleEditorWindow, EntriesAreAddedLastSortedAtTheNextSelectionAndKeepTheirLastOne) {
    w.Start(kRules);
    w.Select(kBuero, "Sonstige");
    QMenu* edit = w.form->EditMenu();
    EXPECT_EQ(w.MainMenu(edit), (Texts{"&Neuer Eintrag", "Eintrag &entfernen (grey)", "-",
                                       "Ereignisprotokoll &löschen"}));
    w.SelectCell(0, 0);
    EXPECT_EQ(w.ContextMenu(w.Grid(), {5, 5}, "PropGripPopUp"), (Texts{"&Neuer Eintrag"}));
    w.Action("pmDelEntry")->trigger();  // the command itself refuses too
    EXPECT_EQ(w.Rows().size(), 1u);

    w.Select(kBuero, "0301111 Mutter");
    w.engine->SetActivePage(Page::Protokoll);
    w.Action("cmNewEntry")->trigger();
    EXPECT_EQ(w.engine->ActivePage(), Page::Ueberwachung);
    EXPECT_EQ(w.Rows(), (Texts{"06:00:00 | Ausführen | prog", "22:00:00 | Sound | klingel.wav",
                               "00:00:00 | Aus | "}));
    EXPECT_EQ(w.MainMenu(edit)[1], "Eintrag &entfernen");
    // Any click into the tree sorts the list.
    const QPoint mutter = w.Tree()->visualItemRect(w.Tree()->currentItem()).center();
    QTest::mouseClick(w.Tree()->viewport(), Qt::LeftButton, {}, mutter);
    EXPECT_EQ(w.Rows(), (Texts{"00:00:00 | Aus | ", "06:00:00 | Ausführen | prog",
                               "22:00:00 | Sound | klingel.wav"}));

    w.SelectCell(1, 1);
    EXPECT_EQ(w.ContextMenu(w.Grid(), w.Grid()->visualRect(w.Grid()->currentIndex()).center(),
                            "PropGripPopUp"),
              (Texts{"&Neuer Eintrag", "Eintrag entfernen"}));
    w.Action("pmDelEntry")->trigger();
    EXPECT_EQ(w.Rows(), (Texts{"00:00:00 | Aus | ", "22:00:00 | Sound | klingel.wav"}));
    EXPECT_EQ(Overlays(), "");
    w.SelectCell(0, 0);
    w.Action("cmDelEntry")->trigger();
    EXPECT_EQ(w.Rows(), (Texts{"22:00:00 | Sound | klingel.wav"}));
    w.Action("cmDelEntry")->trigger();
    EXPECT_EQ(w.Rows().size(), 1u);
}

// A right click anywhere on the grid opens its menu, on the controls laid
// over a cell and in the open text editor too, never a control's own menu.
TEST_F(RuleEditorWindow, TheGridsMenuOnEveryCellTheControlsOverItIncluded) {
    w.Start(kRules);
    const auto rightClick = [&](QWidget* target) {
        ASSERT_TRUE(target);
        const QPoint pos(3, 3);
        QContextMenuEvent event(QContextMenuEvent::Mouse, pos, target->mapToGlobal(pos));
        QCoreApplication::sendEvent(target, &event);
        auto* menu = w.form->findChild<QMenu*>("PropGripPopUp");
        EXPECT_TRUE(menu->isVisible()) << target->objectName().toStdString();
        menu->hide();
        EXPECT_TRUE(QApplication::activePopupWidget() == nullptr);
    };
    w.SelectCell(1, 0);
    rightClick(TimePicker()->findChild<QLineEdit*>());
    rightClick(TimePicker());
    w.SelectCell(1, 1);
    rightClick(Actions());
    w.SelectCell(1, 2);
    rightClick(FileButton());
    w.Select(kBuero, "0302222");
    w.SelectCell(0, 0);
    w.SelectCell(0, 2);
    QTest::keyClick(w.Grid(), Qt::Key_F2);
    rightClick(w.Child<QLineEdit>("PropGridEditor"));
}

TEST_F(RuleEditorWindow, OverlaysFollowTheCellAndTheActionDecidesTheParameter) {
    w.Start(kRules);
    EXPECT_EQ(Actions()->count(), 6);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(Actions()->itemText(i).toStdString(), kActionTexts[i]);

    w.SelectCell(1, 0);
    EXPECT_EQ(Overlays(), "T");
    EXPECT_EQ(static_cast<QTimeEdit*>(TimePicker())->time(), QTime(22, 0, 0));
    const QRect cell = w.Grid()->visualRect(w.Grid()->currentIndex());
    const QPoint at = w.Grid()->viewport()->mapTo(TimePicker()->parentWidget(), cell.topLeft());
    EXPECT_EQ(TimePicker()->geometry(),
              QRect(at.x() + 1, at.y() + 1, cell.width() + 2, cell.height() + 1));
    w.SelectCell(1, 1);
    EXPECT_EQ(Overlays(), "A");
    EXPECT_EQ(Actions()->currentIndex(), 2);
    w.SelectCell(1, 2);
    EXPECT_EQ(Overlays(), "F");
    const QRect param = w.Grid()->visualRect(w.Grid()->currentIndex());
    const QPoint right =
        w.Grid()->viewport()->mapTo(FileButton()->parentWidget(), param.topRight());
    const FontScale scale = FontScale::Application();
    EXPECT_EQ(FileButton()->geometry(),
              QRect(right.x() + 2 - scale.X(19), right.y() + 2, scale.X(19), scale.Y(16) - 1));

    // Each action in turn on the entry with a parameter: kept or cleared, and
    // the "..." button only for "Ausführen" and "Sound", only in column 2.
    const struct {
        int action;
        bool kept;
        bool button;
    } cases[] = {{4, true, false},  {5, true, false}, {1, true, true},
                 {3, false, false}, {2, true, true},  {0, false, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.action);
        w.engine->Editor().SetParam(1, "/snd/klingel.wav");
        w.SelectCell(1, 1);
        Actions()->setCurrentIndex(c.action);
        EXPECT_EQ(Overlays(), "A");  // not until column 2 is selected
        EXPECT_EQ(w.Rows()[1], std::string("22:00:00 | ") + kActionTexts[c.action] + " | " +
                                   (c.kept ? "klingel.wav" : ""));
        w.SelectCell(1, 2);
        EXPECT_EQ(Overlays(), c.button ? "F" : "");
    }
}

TEST_F(RuleEditorWindow, OverlaysScrollWithTheirCell) {
    w.Start(kRules);
    for (int i = 0; i < 20; ++i) w.Action("cmNewEntry")->trigger();
    w.SelectCell(5, 0);
    ASSERT_EQ(Overlays(), "T");
    QScrollBar* bar = w.Grid()->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 5);
    bar->setValue(2);
    ASSERT_EQ(Overlays(), "T");
    const QRect cell = w.Grid()->visualRect(w.Grid()->model()->index(5, 0));
    EXPECT_EQ(
        TimePicker()->geometry().topLeft(),
        w.Grid()->viewport()->mapTo(TimePicker()->parentWidget(), cell.topLeft()) + QPoint(1, 1));
    bar->setValue(bar->maximum());
    EXPECT_EQ(Overlays(), "");  // its cell is out of view
}

TEST_F(RuleEditorWindow, FileButtonAsksTheScriptedChooser) {
    w.Start(kRules);
    w.SelectCell(0, 2);
    w.dialogs.chosenFiles = {"/opt/my tools/run", std::nullopt};
    QTest::mouseClick(FileButton(), Qt::LeftButton);
    ASSERT_EQ(w.dialogs.chooserCalls.size(), 1u);
    EXPECT_EQ(w.dialogs.chooserCalls[0].title, "Anwendung auswählen.");
    EXPECT_EQ(w.dialogs.chooserCalls[0].filter, "Anwendungen (*);;Alle Dateien (*)");
    EXPECT_EQ(w.dialogs.chooserCalls[0].startFolder,
              QCoreApplication::applicationDirPath().toStdString());
    // The path is the program's whole command line: its blank is escaped.
    EXPECT_EQ(Param(0), "/opt/my\\ tools/run");
    EXPECT_EQ(w.Rows()[0], "06:00:00 | Ausführen | run");
    FileButton()->click();  // cancelled: nothing changes
    EXPECT_EQ(Param(0), "/opt/my\\ tools/run");

    w.SelectCell(1, 2);
    w.dialogs.chosenFiles = {"/snd/neu 1.wav"};
    FileButton()->click();
    ASSERT_EQ(w.dialogs.chooserCalls.size(), 3u);
    EXPECT_EQ(w.dialogs.chooserCalls[2].title, "Audiodatei auswählen.");
    EXPECT_EQ(w.dialogs.chooserCalls[2].filter, "Audiodateien (*.wav *.WAV);;Alle Dateien (*)");
    EXPECT_EQ(Param(1), "/snd/neu 1.wav");
    EXPECT_EQ(w.Rows()[1], "22:00:00 | Sound | neu 1.wav");
}

TEST_F(RuleEditorWindow, ParameterEditorWritesEveryChangeAtOnce) {
    w.Start(kRules);
    w.Select(kBuero, "0302222");
    w.SelectCell(0, 0);
    EXPECT_FALSE(w.Grid()->model()->flags(w.Grid()->currentIndex().siblingAtColumn(2)) &
                 Qt::ItemIsEditable);
    w.SelectCell(0, 2);
    EXPECT_EQ(Overlays(), "");  // "SMS an" has no file
    QTest::keyClick(w.Grid(), Qt::Key_F2);
    auto* editor = w.Child<QLineEdit>("PropGridEditor");
    ASSERT_TRUE(editor);
    EXPECT_EQ(editor->text(), "0171555 Oma");
    editor->selectAll();
    QTest::keyClick(editor, Qt::Key_0);
    EXPECT_EQ(Param(0), "0");
    QTest::keyClicks(editor, "172 Opa");
    EXPECT_EQ(Param(0), "0172 Opa");
    EXPECT_EQ(w.Rows()[0], "00:00:00 | SMS an | 0172 Opa");
}

TEST_F(RuleEditorWindow, SecondsStayInMemoryAndAreDroppedOnSaving) {
    w.Start(kRules);
    w.SelectCell(0, 0);
    static_cast<QTimeEdit*>(TimePicker())->setTime(QTime(8, 30, 45));
    EXPECT_EQ(w.Rows()[0], "08:30:45 | Ausführen | prog");
    w.form->close();  // the close box hides and saves
    EXPECT_FALSE(w.form->isVisible());
    const std::string saved = test::ReadAll(w.registry);
    EXPECT_NE(saved.find("\\0301111 Mutter\\08:30]"), std::string::npos) << saved;
    EXPECT_EQ(saved.find("\\0301111 Mutter\\06:00]"), std::string::npos) << saved;
    EXPECT_EQ(w.Rows()[0], "08:30:45 | Ausführen | prog");
}

TEST_F(RuleEditorWindow, ContextMenusHideAndMainMenusGrey) {
    w.Start(kRules);
    // Beside the nodes: only a new MSN, and the selection stays.
    EXPECT_EQ(w.TreeMenuAt(nullptr), (Texts{"&Neue MSN"}));
    EXPECT_EQ(w.CurrentLabel(), "0301111 Mutter");

    const Texts msnMenu = {"&Neue MSN", "MSN en&tfernen", "MSN &bearbeiten", "Neue &Rufnummer"};
    const Texts fallbackMenu = {"&Neue MSN", "Neue &Rufnummer"};
    const Texts callerMenu = {"&Neue MSN", "Neue &Rufnummer", "Rufnummer ent&fernen",
                              "Rufnummer bea&rbeiten"};
    const Texts msnFile = {"&Neue MSN",
                           "MSN en&tfernen",
                           "MSN &bearbeiten",
                           "-",
                           "Neue Ru&fnummer",
                           "Rufnummer ent&fernen (grey)",
                           "Rufnummer bea&rbeiten (grey)",
                           "-",
                           "&Schließen"};
    const Texts fallbackFile = {
        "&Neue MSN",       "MSN en&tfernen (grey)",       "MSN &bearbeiten (grey)",       "-",
        "Neue Ru&fnummer", "Rufnummer ent&fernen (grey)", "Rufnummer bea&rbeiten (grey)", "-",
        "&Schließen"};
    const Texts callerFile = {
        "&Neue MSN",       "MSN en&tfernen (grey)", "MSN &bearbeiten (grey)", "-",
        "Neue Ru&fnummer", "Rufnummer ent&fernen",  "Rufnummer bea&rbeiten",  "-",
        "&Schließen"};
    const struct {
        std::string msn, caller;
        Texts popup, file;
        bool grid;
    } cases[] = {{"5559999", "", msnMenu, msnFile, false},
                 {kBuero, "Sonstige", fallbackMenu, fallbackFile, true},
                 {kBuero, "0302222", callerMenu, callerFile, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.msn + " / " + c.caller);
        // The node under the pointer becomes the selected one.
        EXPECT_EQ(w.TreeMenuAt(w.Item(c.msn, c.caller)), c.popup);
        EXPECT_EQ(w.CurrentLabel(), c.caller.empty() ? c.msn : c.caller);
        EXPECT_EQ(w.Grid()->isVisible(), c.grid);
        EXPECT_EQ(w.MainMenu(w.form->FileMenu()), c.file);
    }
}

TEST_F(RuleEditorWindow, LabelsAreCheckedAndFallbacksStayFixed) {
    w.Start(kRules);
    w.Select(kBuero, "0302222");
    const struct {
        QString typed;
        bool warns;
        std::string label;
    } cases[] = {
        {"Mu.tt,er/", true, "0302222"},  // "." "," "/" are swallowed: "Mutter"
        {"0303-333", true, "0302222"},
        {"", false, ""},
        {" Oma", false, " Oma"},  // no number: taken as it is
        {"0303333 Oma", false, "0303333 Oma"},
    };
    std::size_t boxes = 0;
    // The warning closed by Escape instead of OK changes nothing either.
    w.dialogs.boxAnswers = {Dialogs::Answer::Cancel};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed.toStdString());
        w.Action("cmEditCaller")->trigger();
        TypeLabel(c.typed);
        EXPECT_EQ(w.CurrentLabel(), c.label);
        if (c.warns) {
            ASSERT_EQ(w.dialogs.Boxes().size(), ++boxes);
            EXPECT_EQ(w.dialogs.Boxes().back(), kWarning);
        }
        EXPECT_EQ(w.dialogs.Boxes().size(), boxes);
    }
    // Siblings sorted by label after every edit.
    EXPECT_EQ(w.TreeText(), kBuero + " [0301111 Mutter, 0303333 Oma, Sonstige] 5559999 [Sonstige]");
    EXPECT_TRUE(w.dialogs.boxAnswers.empty());
    // The same check for MSN labels.
    w.Select("5559999");
    w.Action("cmEditMSN")->trigger();
    TypeLabel("Zentrale");
    EXPECT_EQ(w.dialogs.Boxes().size(), boxes + 1);
    EXPECT_EQ(w.CurrentLabel(), "5559999");

    // A fallback label opens no editor, whatever asks.
    w.Select(kBuero, "Sonstige");
    w.Action("cmEditCaller")->trigger();
    w.Tree()->editItem(w.Tree()->currentItem());
    EXPECT_FALSE(LabelEditor());
}

TEST_F(RuleEditorWindow, NewNodesAreEditedAtOnceAndGoWhereTheyBelong) {
    w.Start(kRules);
    // "Neue &Rufnummer" on a caller node: the new caller goes under its MSN.
    w.TreeMenuAt(w.Item(kBuero, "0302222"));
    w.Action("pmNewCaller")->trigger();
    EXPECT_EQ(w.TreeText(), kBuero + " [0301111 Mutter, 0302222, Sonstige, ] 5559999 [Sonstige]");
    EXPECT_EQ(w.CurrentLabel(), "");
    EXPECT_EQ(w.Rows(), (Texts{"00:00:00 | Aus | "}));
    TypeLabel("0309999 Neu");
    EXPECT_EQ(w.TreeText(), kBuero +
                                " [0301111 Mutter, 0302222, 0309999 Neu, Sonstige] 5559999 "
                                "[Sonstige]");
    EXPECT_EQ(w.CurrentLabel(), "0309999 Neu");

    // A new MSN left without a label keeps the empty one, saved as "@".
    w.Action("cmNewMSN")->trigger();
    ASSERT_TRUE(LabelEditor());
    QTest::keyClick(LabelEditor(), Qt::Key_Escape);
    Settle();
    EXPECT_EQ(w.TreeText(), kBuero +
                                " [0301111 Mutter, 0302222, 0309999 Neu, Sonstige] 5559999 "
                                "[Sonstige]  [Unbekannt/Analog, Sonstige]");
    EXPECT_EQ(w.CurrentLabel(), "");
    EXPECT_FALSE(w.Grid()->isVisible());
    w.Action("cmClose")->trigger();
    const std::string saved = test::ReadAll(w.registry);
    EXPECT_NE(saved.find("\\MSN\\@\\Unbekannt/Analog\\00:00]"), std::string::npos) << saved;
    EXPECT_NE(saved.find("\\0309999 Neu\\00:00]"), std::string::npos) << saved;
}

TEST_F(RuleEditorWindow, DeletingSelectsANeighbourAndSparesTheFallbacks) {
    w.Start(kRules);
    w.Select(kBuero, "0302222");
    w.Action("cmDelCaller")->trigger();
    EXPECT_EQ(w.TreeText(), kBuero + " [0301111 Mutter, Sonstige] 5559999 [Sonstige]");
    EXPECT_EQ(w.CurrentLabel(), "Sonstige");
    EXPECT_EQ(w.Rows(), (Texts{"00:00:00 | Aus | "}));
    w.Action("cmDelCaller")->trigger();
    EXPECT_EQ(w.TreeText(), kBuero + " [0301111 Mutter, Sonstige] 5559999 [Sonstige]");
    w.Select(kBuero);
    w.Action("cmDelMSN")->trigger();
    EXPECT_EQ(w.TreeText(), "5559999 [Sonstige]");
    EXPECT_EQ(w.CurrentLabel(), "5559999");
    w.Action("cmDelMSN")->trigger();
    EXPECT_EQ(w.TreeText(), "");
    EXPECT_EQ(w.CurrentLabel(), "(none)");
    EXPECT_FALSE(w.Grid()->isVisible());
    EXPECT_EQ(w.MainMenu(w.form->FileMenu())[4], "Neue Ru&fnummer (grey)");
}

TEST_F(RuleEditorWindow, PastedLineBreaksBecomeBlanksAndTheRulesStillSave) {
    w.Start(kRules);
    w.Select(kBuero, "0302222");
    // Into a label: one line, as the settings file can name a key.
    w.Action("cmEditCaller")->trigger();
    ASSERT_TRUE(LabelEditor());
    LabelEditor()->selectAll();
    QGuiApplication::clipboard()->setText("0303333 Oma\r\nMüller");
    LabelEditor()->paste();
    EXPECT_EQ(LabelEditor()->text(), "0303333 Oma Müller");
    EXPECT_EQ(LabelEditor()->cursorPosition(), LabelEditor()->text().size());
    QTest::keyClick(LabelEditor(), Qt::Key_Return);
    Settle();
    EXPECT_EQ(w.CurrentLabel(), "0303333 Oma Müller");
    // Into a parameter, in the middle of what is there.
    w.SelectCell(0, 2);
    QTest::keyClick(w.Grid(), Qt::Key_F2);
    auto* editor = w.Child<QLineEdit>("PropGridEditor");
    ASSERT_TRUE(editor);
    editor->setCursorPosition(7);
    QGuiApplication::clipboard()->setText("\r\n");
    editor->paste();
    QTest::keyClicks(editor, "1");
    EXPECT_EQ(Param(0), "0171555 1 Oma");
    QTest::keyClick(editor, Qt::Key_Return);
    Settle();
    // A chosen file whose name holds a line break cannot be kept: refused.
    w.Select(kBuero, "0301111 Mutter");
    w.SelectCell(1, 2);
    w.dialogs.chosenFiles = {std::string("/snd/neu\nklingel.wav")};
    FileButton()->click();
    EXPECT_EQ(w.dialogs.Boxes(), (Texts{kPathLineBreakWarning}));
    EXPECT_EQ(Param(1), "/snd/klingel.wav");

    w.form->close();  // hides and saves, without an error
    EXPECT_EQ(w.dialogs.Boxes().size(), 1u);
    const std::string saved = test::ReadAll(w.registry);
    EXPECT_NE(saved.find("\\0303333 Oma Müller\\00:00]\n\"Action\"=dword:00000004\n"
                         "\"Param\"=\"0171555 1 Oma\""),
              std::string::npos)
        << saved;
}

TEST_F(RuleEditorWindow, HidingTakesALabelStillBeingTyped) {
    w.Start(kRules);
    w.Select(kBuero, "0302222");
    w.Action("cmEditCaller")->trigger();
    ASSERT_TRUE(LabelEditor());
    LabelEditor()->setText("0302222 Nachbar");
    w.form->close();
    EXPECT_NE(test::ReadAll(w.registry).find("\\0302222 Nachbar\\00:00]"), std::string::npos);
}

}  // namespace
}  // namespace tolvar
