#include "app/receiver_box.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QVBoxLayout>
#include <algorithm>

#include "app/qt_text.h"
#include "dmail/receiver_lists.h"

namespace tolvar {

ReceiverBox::ReceiverBox(const QString& name, const QString& accessibleName) {
    setObjectName(name);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    edit_ = new QLineEdit;
    edit_->setObjectName(name + "Edit");
    edit_->setAccessibleName(accessibleName);
    edit_->installEventFilter(this);
    list_ = new QListWidget;
    list_->setObjectName(name + "List");
    list_->setAccessibleName(accessibleName + " Liste");
    layout->addWidget(edit_);
    layout->addWidget(list_);
    setFocusProxy(edit_);

    // Picking an entry is as if it had been typed.
    connect(list_, &QListWidget::itemClicked, this,
            [this](QListWidgetItem* item) { edit_->setText(item->text()); });
    connect(list_, &QListWidget::currentItemChanged, this,
            [this](QListWidgetItem* item, QListWidgetItem*) {
                if (item && list_->hasFocus()) edit_->setText(item->text());
            });
    connect(edit_, &QLineEdit::textEdited, this, &ReceiverBox::SelectMatching);

    auto* popup = new QMenu(this);
    popup->setObjectName(name + "PopupMenu");
    remove_ = popup->addAction("Eintrag entfernen");
    remove_->setObjectName("cmDelReceiverEntry");
    connect(remove_, &QAction::triggered, this, [this] {
        if (OnRemove) OnRemove();
    });
    // Only an entry that is selected can be removed.
    connect(popup, &QMenu::aboutToShow, this,
            [this] { remove_->setEnabled(Selected().has_value()); });
    list_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(list_, &QWidget::customContextMenuRequested, this, [this, popup](const QPoint& pos) {
        popup->popup(list_->viewport()->mapToGlobal(pos));
    });
}

bool ReceiverBox::eventFilter(QObject* watched, QEvent* event) {
    if (watched == edit_ && event->type() == QEvent::KeyPress) {
        const QString text = static_cast<QKeyEvent*>(event)->text();
        if (text.size() == 1 && text[0].unicode() < 0x80 &&
            IsDiscardedReceiverChar(static_cast<char>(text[0].unicode())))
            return true;
    }
    return QWidget::eventFilter(watched, event);
}

void ReceiverBox::SetItems(const std::vector<std::string>& items) {
    QStringList sorted;
    for (const auto& i : items) sorted << Q(i);
    std::sort(sorted.begin(), sorted.end(), [](const QString& a, const QString& b) {
        const int c = a.compare(b, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a < b;
    });
    list_->clear();
    list_->addItems(sorted);
    SelectMatching(edit_->text());
}

std::optional<std::string> ReceiverBox::Selected() const {
    const auto selected = list_->selectedItems();
    if (selected.isEmpty()) return std::nullopt;
    return U(selected.front()->text());
}

void ReceiverBox::SelectMatching(const QString& text) {
    // The entry typed in full is the one selected, as in a simple combo box.
    const auto found = list_->findItems(text, Qt::MatchFixedString);
    list_->setCurrentItem(found.isEmpty() ? nullptr : found.front());
    if (found.isEmpty()) list_->clearSelection();
}

}  // namespace tolvar
