#include "app/rule_tree.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QStyledItemDelegate>
#include <map>
#include <set>
#include <vector>

#include "app/qt_text.h"
#include "rules/number_text.h"
#include "rules/rule_store.h"

namespace tolvar {

namespace {

constexpr int kIndent = 19;
constexpr int kAddressRole = Qt::UserRole;

std::uintptr_t AddressOf(const RuleNode* node) {
    return reinterpret_cast<std::uintptr_t>(node);
}

// A telephone handset on a round badge; selected nodes show it in the
// highlight colours.
QPixmap NodeImage(bool selected) {
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(selected ? QColor(0xf2, 0xa9, 0x00) : QColor(0x1f, 0x4e, 0x8c));
    p.drawEllipse(QRectF(0.5, 0.5, 15, 15));
    QPainterPath grip;
    grip.moveTo(4, 9);
    grip.cubicTo(5, 4, 11, 4, 12, 9);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(selected ? QColor(0x20, 0x20, 0x20) : QColor(Qt::white), 1.6));
    p.drawPath(grip);
    p.setPen(Qt::NoPen);
    p.setBrush(selected ? QColor(0x20, 0x20, 0x20) : QColor(Qt::white));
    p.drawRoundedRect(QRectF(2.5, 8, 4, 3), 1, 1);
    p.drawRoundedRect(QRectF(9.5, 8, 4, 3), 1, 1);
    return pm;
}

}  // namespace

QValidator::State OneLineValidator::validate(QString& input, int& pos) const {
    if (!input.contains(u'\r') && !input.contains(u'\n')) return Acceptable;
    const QString before = input.left(pos);
    const QString line = Q(OneLine(U(input)));
    // The cursor stays behind what was pasted, less the line ends dropped.
    pos = static_cast<int>(Q(OneLine(U(before))).size());
    input = line;
    return Acceptable;
}

bool DiscardLabelChars::Discarded(const QKeyEvent& key) {
    const QString text = key.text();
    return text.size() == 1 && text[0].unicode() < 0x80 &&
           IsDiscardedLabelChar(static_cast<char>(text[0].unicode()));
}

bool DiscardLabelChars::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && Discarded(*static_cast<QKeyEvent*>(event)))
        return true;
    return QObject::eventFilter(watched, event);
}

// Opens line editors on labels and hands the typed label over only once the
// editor has closed, so the tree may change under the item then.
class LabelDelegate final : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override {
        QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
        editor->setObjectName("TreeViewEditor");
        editor->setAccessibleName("Bezeichnung");
        editor->installEventFilter(new DiscardLabelChars(editor));
        if (auto* line = qobject_cast<QLineEdit*>(editor))
            line->setValidator(new OneLineValidator(line));
        open_ = editor;
        return editor;
    }
    void destroyEditor(QWidget* editor, const QModelIndex& index) const override {
        if (open_ == editor) open_ = nullptr;
        QStyledItemDelegate::destroyEditor(editor, index);
    }
    // The model keeps the old label; the store decides on the new one.
    void setModelData(QWidget* editor, QAbstractItemModel*,
                      const QModelIndex& index) const override {
        if (auto* line = qobject_cast<QLineEdit*>(editor)) {
            pendingNode_ = index.data(kAddressRole).toULongLong();
            pendingLabel_ = line->text();
            pending_ = true;
        }
    }

    QWidget* Open() const { return open_; }
    bool TakePending(std::uintptr_t& node, QString& label) {
        if (!pending_) return false;
        pending_ = false;
        node = pendingNode_;
        label = pendingLabel_;
        return true;
    }

  private:
    mutable QWidget* open_ = nullptr;
    mutable bool pending_ = false;
    mutable std::uintptr_t pendingNode_ = 0;
    mutable QString pendingLabel_;
};

RuleTree::RuleTree() {
    setObjectName("TreeView");
    setAccessibleName("Regeln");
    setHeaderHidden(true);
    setIndentation(kIndent);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed);
    nodeIcon_.addPixmap(NodeImage(false), QIcon::Normal);
    nodeIcon_.addPixmap(NodeImage(true), QIcon::Selected);
    delegate_ = new LabelDelegate(this);
    setItemDelegate(delegate_);
    // Connected after the view's own handler: the editor is gone by then.
    connect(delegate_, &QAbstractItemDelegate::closeEditor, this, [this] {
        std::uintptr_t node = 0;
        QString label;
        if (delegate_->TakePending(node, label) && edited) edited(node, label);
    });
}

std::uintptr_t RuleTree::NodeOf(const QTreeWidgetItem* item) {
    return item ? item->data(0, kAddressRole).toULongLong() : 0;
}

QTreeWidgetItem* RuleTree::ItemOf(const RuleNode* node) const {
    if (!node) return nullptr;
    for (QTreeWidgetItemIterator it(const_cast<RuleTree*>(this)); *it; ++it)
        if (NodeOf(*it) == AddressOf(node)) return *it;
    return nullptr;
}

void RuleTree::Sync(const RuleStore& rules, const RuleNode* selected) {
    const QSignalBlocker block(this);
    std::map<std::uintptr_t, QTreeWidgetItem*> items;
    for (QTreeWidgetItemIterator it(this); *it; ++it) items.emplace(NodeOf(*it), *it);
    const auto take = [&](const RuleNode& node) {
        const auto found = items.find(AddressOf(&node));
        QTreeWidgetItem* item = found == items.end() ? new QTreeWidgetItem : found->second;
        if (found != items.end()) items.erase(found);
        return item;
    };
    const auto fill = [this](QTreeWidgetItem* item, const RuleNode& node) {
        item->setText(0, Q(node.Text()));
        item->setData(0, kAddressRole, QVariant::fromValue<qulonglong>(AddressOf(&node)));
        item->setIcon(0, nodeIcon_);
        item->setFlags(item->flags() | Qt::ItemIsEditable);
    };
    int i = 0;
    for (const auto& msn : rules.MsnNodes()) {
        QTreeWidgetItem* top = Place(nullptr, i++, take(*msn));
        fill(top, *msn);
        int j = 0;
        for (const auto& caller : msn->Children()) fill(Place(top, j++, take(*caller)), *caller);
        top->setExpanded(msn->Expanded);
    }
    // Items of nodes that are gone; children go with their parent.
    std::set<QTreeWidgetItem*> left;
    for (const auto& [node, item] : items) left.insert(item);
    std::vector<QTreeWidgetItem*> doomed;
    for (QTreeWidgetItem* item : left)
        if (!item->parent() || !left.count(item->parent())) doomed.push_back(item);
    for (QTreeWidgetItem* item : doomed) delete item;
    setCurrentItem(ItemOf(selected));
    if (!selected) clearSelection();
}

QTreeWidgetItem* RuleTree::Place(QTreeWidgetItem* parent, int index, QTreeWidgetItem* item) {
    QTreeWidgetItem* there = parent ? parent->child(index) : topLevelItem(index);
    if (there == item) return item;
    if (QTreeWidgetItem* oldParent = item->parent())
        oldParent->takeChild(oldParent->indexOfChild(item));
    else if (item->treeWidget())
        takeTopLevelItem(indexOfTopLevelItem(item));
    if (parent)
        parent->insertChild(index, item);
    else
        insertTopLevelItem(index, item);
    return item;
}

void RuleTree::EditLabel(const RuleNode& node) {
    QTreeWidgetItem* item = ItemOf(&node);
    // Asked first: a label that stays fixed is no failed edit.
    if (!item || (editing && !editing(NodeOf(item)))) return;
    scrollToItem(item);
    editItem(item);
}

void RuleTree::FinishEditing() {
    if (QWidget* editor = delegate_->Open()) {
        emit delegate_->commitData(editor);
        emit delegate_->closeEditor(editor, QAbstractItemDelegate::NoHint);
    }
}

bool RuleTree::edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) {
    // Asked before every possible start; a fixed label never opens an editor.
    if (index.isValid() && (trigger == AllEditTriggers || (trigger & editTriggers())) && editing &&
        !editing(index.data(kAddressRole).toULongLong()))
        return false;
    return QTreeWidget::edit(index, trigger, event);
}

void RuleTree::keyPressEvent(QKeyEvent* event) {
    if (!DiscardLabelChars::Discarded(*event)) QTreeWidget::keyPressEvent(event);
}

}  // namespace tolvar
