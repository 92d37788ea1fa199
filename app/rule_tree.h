#pragma once
// The tree control of "Überwachung": the rule tree's MSN and caller nodes,
// labels edited in place. It keeps one item per node, found by the node's
// address, so an item being edited survives the tree changing around it.

#include <QTreeWidget>
#include <QValidator>
#include <cstdint>
#include <functional>

class QKeyEvent;

namespace tolvar {

class RuleNode;
class RuleStore;
class LabelDelegate;

class RuleTree final : public QTreeWidget {
  public:
    RuleTree();

    // The items made to match the store, in its order; selected is current.
    // Emits no signals.
    void Sync(const RuleStore& rules, const RuleNode* selected);
    // The node address an item stands for; 0 for none.
    static std::uintptr_t NodeOf(const QTreeWidgetItem* item);
    QTreeWidgetItem* ItemOf(const RuleNode* node) const;
    // Opens the label editor on the node's item.
    void EditLabel(const RuleNode& node);
    // Takes what an open label editor holds, as leaving it would.
    void FinishEditing();

    // Editing is about to begin on a node: false keeps the label fixed.
    std::function<bool(std::uintptr_t node)> editing;
    // Editing ended with a label (not when it was cancelled).
    std::function<void(std::uintptr_t node, const QString& label)> edited;

  protected:
    bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    QTreeWidgetItem* Place(QTreeWidgetItem* parent, int index, QTreeWidgetItem* item);

    LabelDelegate* delegate_ = nullptr;
    QIcon nodeIcon_;
};

// Makes what is typed, pasted or dropped into a line editor one line, as the
// settings file holds it: each line break becomes a blank.
class OneLineValidator final : public QValidator {
  public:
    using QValidator::QValidator;
    State validate(QString& input, int& pos) const override;
};

// Swallows the characters that typing into a label discards.
class DiscardLabelChars final : public QObject {
  public:
    using QObject::QObject;
    static bool Discarded(const QKeyEvent& key);
    bool eventFilter(QObject* watched, QEvent* event) override;
};

}  // namespace tolvar
