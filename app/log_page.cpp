#include "app/log_page.h"

#include <QMenu>
#include <QShortcut>
#include <QVBoxLayout>

#include "app/line_list.h"
#include "app/main_form.h"
#include "engine/engine.h"

namespace tolvar {

LogPage::LogPage(TMainForm& form) : form_(form) {
    setObjectName("tsProtokoll");
    auto* layout = new QVBoxLayout(this);
    LBTraceBox = new LineListView;
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
        cmCopyNumbers->setEnabled(engine && engine->CanCopyNumbers(SelectedRow()));
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

QListView* LogPage::List() const {
    return LBTraceBox;
}

int LogPage::SelectedRow() const {
    const QModelIndex current = LBTraceBox->currentIndex();
    return current.isValid() ? current.row() : -1;
}

void LogPage::CopySelectedNumbers() {
    Engine* engine = form_.EngineOrNull();
    const int row = SelectedRow();
    if (engine && engine->CanCopyNumbers(row))
        engine->Guard([engine, row] { engine->CopyNumbers(row); });
}

void LogPage::Detach() {
    LBTraceBox->Lines()->Show(nullptr);
}

void LogPage::Loaded(const LineStore& lines) {
    LBTraceBox->Lines()->Show(&lines);
    SelectLast();
}

void LogPage::LineSet(int index, bool appended) {
    if (!appended) {
        LBTraceBox->Lines()->LineChanged(index);
        return;
    }
    // A line the user chose stays chosen ("Nummern &kopieren" copies it); a
    // selection on the newest line moves on with it.
    const int selected = SelectedRow();
    const bool takeSelection = selected < 0 || selected == LBTraceBox->Lines()->rowCount() - 1;
    LBTraceBox->Lines()->Appended();
    if (takeSelection) {
        // Selecting must not scroll: the list follows only when it was at its end.
        LBTraceBox->setAutoScroll(false);
        LBTraceBox->setCurrentIndex(
            LBTraceBox->Lines()->index(LBTraceBox->Lines()->rowCount() - 1));
        LBTraceBox->setAutoScroll(true);
    }
    LBTraceBox->FollowEnd();
}

void LogPage::Cleared() {
    LBTraceBox->Lines()->Cleared();
}

// The last line is selected, which brings it into view (at once when the page
// is shown, else when it is shown next).
void LogPage::SelectLast() {
    const int rows = LBTraceBox->Lines()->rowCount();
    if (rows == 0) return;
    LBTraceBox->setCurrentIndex(LBTraceBox->Lines()->index(rows - 1));
    // A hidden list scrolls by the size it has then: at the end once shown.
    LBTraceBox->FollowEnd();
}

}  // namespace tolvar
