#pragma once
// The real main window on a fake CAPI, for tests of the page "Überwachung":
// the engine's dialogs and the window's are one scripted recorder.

#include <gtest/gtest.h>

#include <QAbstractItemModel>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QLineEdit>
#include <QMenu>
#include <QTableView>
#include <QTest>
#include <QTreeWidget>
#include <memory>
#include <string>
#include <vector>

#include "app/main_form.h"
#include "core/virtual_time.h"
#include "engine/engine.h"
#include "support/fake_capi.h"
#include "support/files.h"
#include "support/recording_front_end.h"
#include "support/test_host.h"
#include "support/window_host.h"

namespace tolvar::test {

// One entry key of the rule tree in the hive's text form.
inline std::string RuleEntry(const std::string& msn, const std::string& caller,
                             const std::string& time, int action, const std::string& param = "") {
    return "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\MSN\\" + msn + "\\" + caller + "\\" +
           time + "]\n\"Action\"=dword:0000000" + std::to_string(action) + "\n\"Param\"=\"" +
           param + "\"\n\n";
}

class RulesWindow : public WindowHost {
  public:
    // The window on the page "Überwachung" (rules: hive text without the
    // header; empty: the file stays as it is).
    void Start(const std::string& rules = "") {
        WindowHost::Start(rules);
        engine->ShowWindow(Page::Ueberwachung);
    }

    QTreeWidget* Tree() const { return form->findChild<QTreeWidget*>("TreeView"); }
    QTableView* Grid() const { return form->findChild<QTableView*>("PropGrid"); }
    template <typename W>
    W* Child(const char* name) const {
        return Find<W>(name);
    }
    QAction* Action(const char* name) const { return form->findChild<QAction*>(name); }

    // The tree as text: each MSN with its callers in brackets, in tree order.
    std::string TreeText() const {
        std::string text;
        for (int i = 0; i < Tree()->topLevelItemCount(); ++i) {
            const QTreeWidgetItem* msn = Tree()->topLevelItem(i);
            text += (i ? " " : "") + msn->text(0).toStdString() + " [";
            for (int j = 0; j < msn->childCount(); ++j)
                text += (j ? ", " : "") + msn->child(j)->text(0).toStdString();
            text += "]";
        }
        return text;
    }
    std::string CurrentLabel() const {
        const QTreeWidgetItem* item = Tree()->currentItem();
        return item ? item->text(0).toStdString() : "(none)";
    }
    QTreeWidgetItem* Item(const std::string& msn, const std::string& caller = "") const {
        for (int i = 0; i < Tree()->topLevelItemCount(); ++i) {
            QTreeWidgetItem* m = Tree()->topLevelItem(i);
            if (m->text(0).toStdString() != msn) continue;
            if (caller.empty()) return m;
            for (int j = 0; j < m->childCount(); ++j)
                if (m->child(j)->text(0).toStdString() == caller) return m->child(j);
        }
        ADD_FAILURE() << "no node " << msn << " / " << caller;
        return nullptr;
    }
    void Select(const std::string& msn, const std::string& caller = "") {
        Tree()->setCurrentItem(Item(msn, caller));
    }
    // The grid's rows as the cells show them, "time | action | file".
    std::vector<std::string> Rows() const {
        std::vector<std::string> rows;
        const QAbstractItemModel* model = Grid()->model();
        for (int r = 0; r < model->rowCount(); ++r) {
            std::string row;
            for (int c = 0; c < model->columnCount(); ++c)
                row += (c ? " | " : "") + model->index(r, c).data().toString().toStdString();
            rows.push_back(row);
        }
        return rows;
    }
    // A click on the cell, as the user selects it.
    void SelectCell(int row, int column) {
        const QRect cell = Grid()->visualRect(Grid()->model()->index(row, column));
        QTest::mouseClick(Grid()->viewport(), Qt::LeftButton, {}, cell.center());
    }
    // Right click at pos of the widget's viewport; the captions of the
    // context menu's visible items. The menu is closed again.
    std::vector<std::string> ContextMenu(QAbstractItemView* view, QPoint pos,
                                         const char* menuName) {
        QContextMenuEvent event(QContextMenuEvent::Mouse, pos, view->viewport()->mapToGlobal(pos));
        QCoreApplication::sendEvent(view->viewport(), &event);
        auto* menu = form->findChild<QMenu*>(menuName);
        std::vector<std::string> captions;
        for (QAction* a : menu->actions())
            if (a->isVisible()) captions.push_back(a->text().toStdString());
        EXPECT_TRUE(menu->isVisible());
        menu->hide();
        return captions;
    }
    std::vector<std::string> TreeMenuAt(const QTreeWidgetItem* item) {
        const QPoint pos = item ? Tree()->visualItemRect(item).center()
                                : QPoint(5, Tree()->viewport()->height() - 5);
        return ContextMenu(Tree(), pos, "TreePopupMenu");
    }
    // The tree's open label editor, if any.
    QLineEdit* LabelEditor() const { return form->findChild<QLineEdit*>("TreeViewEditor"); }
    // Types into the open label editor and presses Enter.
    void TypeLabel(const QString& keys) {
        QLineEdit* editor = LabelEditor();
        ASSERT_TRUE(editor);
        editor->selectAll();
        QTest::keyClick(editor, Qt::Key_Delete);
        QTest::keyClicks(editor, keys);
        QTest::keyClick(editor, Qt::Key_Return);
        Settle();
    }
    // Enter commits and closes a label editor from the event loop.
    static void Settle() {
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    // A main menu as it opens: its captions, "(grey)" behind disabled ones,
    // "-" for separators.
    std::vector<std::string> MainMenu(QMenu* menu) {
        emit menu->aboutToShow();
        std::vector<std::string> captions;
        for (QAction* a : menu->actions())
            captions.push_back(a->isSeparator()
                                   ? "-"
                                   : a->text().toStdString() + (a->isEnabled() ? "" : " (grey)"));
        return captions;
    }
};

}  // namespace tolvar::test
