#pragma once
// The page "Überwachung", the rule editor: the rule tree on the left, the
// selected caller's entries on the right, their context menus and their items
// in the main menus "&Datei" and "&Bearbeiten".

#include <QWidget>
#include <cstdint>

class QAction;
class QMenu;
class QTreeWidgetItem;

namespace tolvar {

class RuleGridPanel;
class RuleStore;
class RuleTree;
class TMainForm;
struct TreeMenuItems;

class RulesPage final : public QWidget {
  public:
    explicit RulesPage(TMainForm& form);

    // The rule tree changed: the tree control follows it, and the grid
    // follows a new selection.
    void Show(const RuleStore& rules);

  protected:
    // Leaving the page, or hiding the window (which saves the rules), takes a
    // label still being typed.
    void hideEvent(QHideEvent* event) override;
    // Clicks into the tree's viewport.
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    struct TreeItems {
        QAction* newMsn;
        QAction* delMsn;
        QAction* editMsn;
        QAction* newCaller;
        QAction* delCaller;
        QAction* editCaller;
    };
    TreeItems AddTreeItems(QMenu* menu, QAction* before, const char* prefix, bool mainMenu);
    void BuildMainMenuItems();
    void SyncView();

    void TreeViewChange(QTreeWidgetItem* current);
    void TreeViewClick();
    void TreePopupMenuPopup(const QPoint& pos);
    void cmDateiClick();
    void cmBearbeitenClick();
    void cmNewMSNClick();
    void cmDelMSNClick();
    void EditTreeNodeText();
    void cmNewCallerClick();
    void cmDelCallerClick();
    bool TreeViewEditing(std::uintptr_t node);
    void TreeViewEdited(std::uintptr_t node, const QString& label);

    TMainForm& form_;
    RuleTree* TreeView = nullptr;
    RuleGridPanel* GridPanel = nullptr;
    QMenu* TreePopupMenu = nullptr;
    TreeItems popupItems_{};
    TreeItems fileItems_{};
    QAction* cmNewEntry = nullptr;
    QAction* cmDelEntry = nullptr;
    // The editor's selection generation the grid shows.
    std::uint64_t shownGeneration_ = 0;
};

}  // namespace tolvar
