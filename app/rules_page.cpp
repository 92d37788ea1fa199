#include "app/rules_page.h"

#include <QHBoxLayout>
#include <QTreeWidget>

#include "app/main_form.h"
#include "app/qt_text.h"
#include "rules/rule_store.h"

namespace tolvar {

RulesPage::RulesPage(TMainForm& form) : form_(form) {
    setObjectName("tsUeberwachung");
    auto* layout = new QHBoxLayout(this);
    TreeView = new QTreeWidget;
    TreeView->setObjectName("TreeView");
    TreeView->setAccessibleName("Regeln");
    TreeView->setHeaderHidden(true);
    layout->addWidget(TreeView);
}

void RulesPage::Show(const RuleStore& rules) {
    TreeView->clear();
    for (const auto& msn : rules.MsnNodes()) {
        auto* top = new QTreeWidgetItem(TreeView, QStringList{Q(msn->Text())});
        for (const auto& caller : msn->Children())
            new QTreeWidgetItem(top, QStringList{Q(caller->Text())});
        top->setExpanded(msn->Expanded);
    }
}

}  // namespace tolvar
