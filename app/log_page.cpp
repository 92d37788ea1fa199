#include "app/log_page.h"

#include <QListWidget>
#include <QMenu>
#include <QShortcut>
#include <QVBoxLayout>

#include "app/main_form.h"
#include "app/qt_text.h"
#include "engine/engine.h"

namespace tolvar {

LogPage::LogPage(TMainForm& form) : form_(form) {
    setObjectName("tsProtokoll");
    auto* layout = new QVBoxLayout(this);
    LBTraceBox = new QListWidget;
    LBTraceBox->setObjectName("LBTraceBox");
    LBTraceBox->setAccessibleName("Ereignisprotokoll");
    layout->addWidget(LBTraceBox);

    auto* popup = new QMenu(this);
    popup->setObjectName("lbTracePopUpMenu");
    QAction* clear = popup->addAction("Ereignisprotokoll &löschen");
    connect(clear, &QAction::triggered, this, [this] { form_.ClearLog(); });
    popup->addSeparator();
    cmCopyNumbers = popup->addAction("Nummern &kopieren");
    cmCopyNumbers->setObjectName("cmCopyNumbers");
    connect(cmCopyNumbers, &QAction::triggered, this, &LogPage::CopySelectedNumbers);
    // Enabled only while a line is selected, checked each time the menu opens.
    connect(popup, &QMenu::aboutToShow, this, [this] {
        Engine* engine = form_.EngineOrNull();
        cmCopyNumbers->setEnabled(engine && engine->CanCopyNumbers(LBTraceBox->currentRow()));
    });
    LBTraceBox->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(LBTraceBox, &QWidget::customContextMenuRequested, this,
            [this, popup](const QPoint& pos) {
                popup->popup(LBTraceBox->viewport()->mapToGlobal(pos));
            });
    auto* copy =
        new QShortcut(QKeySequence::Copy, LBTraceBox, nullptr, nullptr, Qt::WidgetShortcut);
    connect(copy, &QShortcut::activated, this, &LogPage::CopySelectedNumbers);
}

void LogPage::CopySelectedNumbers() {
    Engine* engine = form_.EngineOrNull();
    const int row = LBTraceBox->currentRow();
    if (engine && engine->CanCopyNumbers(row))
        engine->Guard([engine, row] { engine->CopyNumbers(row); });
}

void LogPage::Loaded(const std::vector<std::string>& lines) {
    LBTraceBox->clear();
    for (const auto& l : lines) LBTraceBox->addItem(Q(l));
    if (LBTraceBox->count() > 0) LBTraceBox->setCurrentRow(LBTraceBox->count() - 1);
}

void LogPage::LineSet(int index, const std::string& text, bool appended) {
    if (appended) {
        LBTraceBox->addItem(Q(text));
        LBTraceBox->setCurrentRow(LBTraceBox->count() - 1);
        LBTraceBox->scrollToBottom();
    } else if (QListWidgetItem* item = LBTraceBox->item(index)) {
        item->setText(Q(text));
    }
}

void LogPage::Cleared() {
    LBTraceBox->clear();
}

}  // namespace tolvar
