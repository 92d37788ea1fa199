#include "app/line_list.h"

#include <QScrollBar>
#include <QTimer>

#include "app/qt_text.h"
#include "core/line_store.h"

namespace tolvar {

LineListModel::LineListModel(QObject* parent) : QAbstractListModel(parent) {}

void LineListModel::Show(const LineStore* lines) {
    beginResetModel();
    lines_ = lines;
    rows_ = lines ? static_cast<int>(lines->size()) : 0;
    endResetModel();
}

void LineListModel::Appended() {
    const int now = lines_ ? static_cast<int>(lines_->size()) : 0;
    if (now < rows_) {
        Show(lines_);
        return;
    }
    if (now == rows_) return;
    beginInsertRows(QModelIndex(), rows_, now - 1);
    rows_ = now;
    endInsertRows();
}

void LineListModel::LineChanged(int row) {
    if (row < 0 || row >= rows_) return;
    const QModelIndex i = index(row);
    emit dataChanged(i, i, {Qt::DisplayRole});
}

void LineListModel::Cleared() {
    Show(lines_);
}

int LineListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rows_;
}

QVariant LineListModel::data(const QModelIndex& index, int role) const {
    if (!lines_ || !index.isValid() || index.row() >= rows_) return {};
    switch (role) {
        case Qt::DisplayRole:
        case Qt::AccessibleTextRole:
        case Qt::ToolTipRole:  // a line wider than the list
            return Q((*lines_)[static_cast<std::size_t>(index.row())]);
        default:
            return {};
    }
}

LineListView::LineListView(QWidget* parent) : QListView(parent), model_(new LineListModel(this)) {
    setModel(model_);
    // Every row is one line of text: the view needs no size per row.
    setUniformItemSizes(true);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::SingleSelection);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this](int value) {
        if (!scheduled_) following_ = value == verticalScrollBar()->maximum();
    });
}

void LineListView::FollowEnd() {
    pending_ = true;
    if (scheduled_ || !isVisible()) return;
    scheduled_ = true;
    QTimer::singleShot(0, this, [this] {
        scheduled_ = false;
        ScrollToEndIfFollowing();
    });
}

void LineListView::showEvent(QShowEvent* event) {
    QListView::showEvent(event);
    if (pending_) FollowEnd();
}

void LineListView::ScrollToEndIfFollowing() {
    if (!pending_ || !isVisible()) return;
    pending_ = false;
    if (following_) scrollToBottom();
}

}  // namespace tolvar
