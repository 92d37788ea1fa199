#pragma once
// The page "Überwachung": the rule tree.

#include <QWidget>

class QTreeWidget;

namespace tolvar {

class RuleStore;
class TMainForm;

class RulesPage final : public QWidget {
  public:
    explicit RulesPage(TMainForm& form);

    // The tree drawn anew from the rule store.
    void Show(const RuleStore& rules);

  private:
    TMainForm& form_;
    QTreeWidget* TreeView = nullptr;
};

}  // namespace tolvar
