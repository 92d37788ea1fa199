#include "app/rules_page.h"

#include <QHBoxLayout>
#include <QMenu>
#include <QMouseEvent>

#include "app/font_scale.h"
#include "app/qt_text.h"
#include "app/rule_editing.h"
#include "app/rule_grid.h"
#include "app/rule_tree.h"

namespace tolvar {

namespace {
constexpr int kTreeWidth = 200;
}  // namespace

RulesPage::RulesPage(TMainForm& form) : form_(form) {
    setObjectName("tsUeberwachung");
    auto* layout = new QHBoxLayout(this);
    TreeView = new RuleTree;
    TreeView->setFixedWidth(FontScale::Application().X(kTreeWidth));
    layout->addWidget(TreeView);
    GridPanel = new RuleGridPanel(form_);
    layout->addWidget(GridPanel, 1);

    connect(TreeView, &QTreeWidget::currentItemChanged, this, &RulesPage::TreeViewChange);
    TreeView->viewport()->installEventFilter(this);
    // The tree control may open and close MSN nodes as the user likes.
    const auto expanded = [this](QTreeWidgetItem* item, bool on) {
        if (RuleEditor* editor = EditorOf(form_))
            if (RuleNode* node = editor->NodeAt(RuleTree::NodeOf(item))) node->Expanded = on;
    };
    connect(TreeView, &QTreeWidget::itemExpanded, this,
            [expanded](QTreeWidgetItem* item) { expanded(item, true); });
    connect(TreeView, &QTreeWidget::itemCollapsed, this,
            [expanded](QTreeWidgetItem* item) { expanded(item, false); });
    TreeView->editing = [this](std::uintptr_t node) { return TreeViewEditing(node); };
    TreeView->edited = [this](std::uintptr_t node, const QString& label) {
        TreeViewEdited(node, label);
    };

    TreePopupMenu = new QMenu(this);
    TreePopupMenu->setObjectName("TreePopupMenu");
    popupItems_ = AddTreeItems(TreePopupMenu, nullptr, "pm", false);
    TreeView->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(TreeView, &QWidget::customContextMenuRequested, this, &RulesPage::TreePopupMenuPopup);
    BuildMainMenuItems();
}

RulesPage::TreeItems RulesPage::AddTreeItems(QMenu* menu, QAction* before, const char* prefix,
                                             bool mainMenu) {
    const auto add = [&](const char* caption, const char* name, void (RulesPage::*handler)()) {
        auto* action = new QAction(caption, menu);
        action->setObjectName(QString(prefix) + name);
        menu->insertAction(before, action);
        connect(action, &QAction::triggered, this, handler);
        return action;
    };
    TreeItems items{};
    items.newMsn = add("&Neue MSN", "NewMSN", &RulesPage::cmNewMSNClick);
    items.delMsn = add("MSN en&tfernen", "DelMSN", &RulesPage::cmDelMSNClick);
    items.editMsn = add("MSN &bearbeiten", "EditMSN", &RulesPage::EditTreeNodeText);
    if (mainMenu) menu->insertSeparator(before);
    items.newCaller = add(mainMenu ? "Neue Ru&fnummer" : "Neue &Rufnummer", "NewCaller",
                          &RulesPage::cmNewCallerClick);
    items.delCaller = add("Rufnummer ent&fernen", "DelCaller", &RulesPage::cmDelCallerClick);
    items.editCaller = add("Rufnummer bea&rbeiten", "EditCaller", &RulesPage::EditTreeNodeText);
    if (mainMenu) menu->insertSeparator(before);
    return items;
}

void RulesPage::BuildMainMenuItems() {
    QMenu* file = form_.FileMenu();
    fileItems_ = AddTreeItems(file, form_.CloseAction(), "cm", true);
    connect(file, &QMenu::aboutToShow, this, &RulesPage::cmDateiClick);

    QMenu* edit = form_.EditMenu();
    QAction* before = edit->findChild<QAction*>("cmClearProtokoll");
    cmNewEntry = new QAction("&Neuer Eintrag", edit);
    cmNewEntry->setObjectName("cmNewEntry");
    edit->insertAction(before, cmNewEntry);
    connect(cmNewEntry, &QAction::triggered, GridPanel, &RuleGridPanel::cmNewEntryClick);
    cmDelEntry = new QAction("Eintrag &entfernen", edit);
    cmDelEntry->setObjectName("cmDelEntry");
    edit->insertAction(before, cmDelEntry);
    connect(cmDelEntry, &QAction::triggered, GridPanel, &RuleGridPanel::cmDelEntryClick);
    edit->insertSeparator(before);
    connect(edit, &QMenu::aboutToShow, this, &RulesPage::cmBearbeitenClick);
}

void RulesPage::Show(const RuleStore& rules) {
    if (EditorOf(form_))
        SyncView();
    else
        TreeView->Sync(rules, nullptr);
}

// The tree as the store and the editor's selection say; the grid refreshed
// when the selection changed or was refreshed since it was last drawn.
void RulesPage::SyncView() {
    const RuleEditor* editor = EditorOf(form_);
    if (!editor) return;
    TreeView->Sync(editor->Rules(), editor->Selected());
    if (editor->Generation() == shownGeneration_) return;
    shownGeneration_ = editor->Generation();
    GridPanel->Refresh();
}

void RulesPage::hideEvent(QHideEvent* event) {
    TreeView->FinishEditing();
    QWidget::hideEvent(event);
}

bool RulesPage::eventFilter(QObject* watched, QEvent* event) {
    // Every click into the tree refreshes, on a node or beside them.
    if (watched == TreeView->viewport() && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
        TreeViewClick();
    return QWidget::eventFilter(watched, event);
}

void RulesPage::TreeViewChange(QTreeWidgetItem* current) {
    Edit(form_,
         [&](RuleEditor& editor) { editor.Select(editor.NodeAt(RuleTree::NodeOf(current))); });
    SyncView();
}

void RulesPage::TreeViewClick() {
    Edit(form_, [](RuleEditor& editor) { editor.Refresh(); });
    SyncView();
}

void RulesPage::TreePopupMenuPopup(const QPoint& pos) {
    TreeMenuItems items;
    Edit(form_, [&](RuleEditor& editor) {
        items = editor.TreePopup(editor.NodeAt(RuleTree::NodeOf(TreeView->itemAt(pos))));
    });
    SyncView();
    popupItems_.newMsn->setVisible(items.newMsn);
    popupItems_.delMsn->setVisible(items.delMsn);
    popupItems_.editMsn->setVisible(items.editMsn);
    popupItems_.newCaller->setVisible(items.newCaller);
    popupItems_.delCaller->setVisible(items.delCaller);
    popupItems_.editCaller->setVisible(items.editCaller);
    TreePopupMenu->popup(TreeView->viewport()->mapToGlobal(pos));
}

void RulesPage::cmDateiClick() {
    const RuleEditor* editor = EditorOf(form_);
    const TreeMenuItems items = editor ? editor->FileMenu() : TreeMenuItems{};
    fileItems_.newMsn->setEnabled(items.newMsn && editor);
    fileItems_.delMsn->setEnabled(items.delMsn);
    fileItems_.editMsn->setEnabled(items.editMsn);
    fileItems_.newCaller->setEnabled(items.newCaller);
    fileItems_.delCaller->setEnabled(items.delCaller);
    fileItems_.editCaller->setEnabled(items.editCaller);
}

void RulesPage::cmBearbeitenClick() {
    const RuleEditor* editor = EditorOf(form_);
    const EntryMenuItems items = editor ? editor->EditMenu() : EntryMenuItems{};
    cmNewEntry->setEnabled(items.newEntry && editor);
    cmDelEntry->setEnabled(items.delEntry);
}

void RulesPage::cmNewMSNClick() {
    const RuleNode* node = nullptr;
    Edit(form_, [&](RuleEditor& editor) { node = &editor.NewMsn(); });
    SyncView();
    if (node) TreeView->EditLabel(*node);
}

void RulesPage::cmDelMSNClick() {
    Edit(form_, [](RuleEditor& editor) { editor.DeleteMsn(); });
    SyncView();
}

void RulesPage::EditTreeNodeText() {
    if (const RuleEditor* editor = EditorOf(form_); editor && editor->Selected())
        TreeView->EditLabel(*editor->Selected());
}

void RulesPage::cmNewCallerClick() {
    const RuleNode* node = nullptr;
    Edit(form_, [&](RuleEditor& editor) { node = editor.NewCaller(); });
    SyncView();
    if (node) TreeView->EditLabel(*node);
}

void RulesPage::cmDelCallerClick() {
    Edit(form_, [](RuleEditor& editor) { editor.DeleteCaller(); });
    SyncView();
}

bool RulesPage::TreeViewEditing(std::uintptr_t address) {
    RuleEditor* editor = EditorOf(form_);
    RuleNode* node = editor ? editor->NodeAt(address) : nullptr;
    return node && editor->BeginEdit(*node);
}

void RulesPage::TreeViewEdited(std::uintptr_t address, const QString& label) {
    std::optional<std::string> warning;
    Edit(form_, [&](RuleEditor& editor) {
        if (RuleNode* node = editor.NodeAt(address)) warning = editor.EndEdit(*node, U(label));
    });
    SyncView();
    if (warning && form_.WindowDialogs())
        form_.WindowDialogs()->MessageBox(Dialogs::Kind::Warning, *warning);
}

}  // namespace tolvar
