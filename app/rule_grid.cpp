#include "app/rule_grid.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QResizeEvent>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTimeEdit>
#include <QToolButton>
#include <QVBoxLayout>
#include <cmath>

#include "app/qt_text.h"
#include "app/rule_editing.h"
#include "app/rule_tree.h"

namespace tolvar {

namespace {

constexpr int kColumnWidths[2] = {68, 74};
constexpr int kRowHeight = 16;
constexpr int kActionItemHeight = 13;
constexpr int kTextOffset = 2;
constexpr double kMsPerDay = 86400000.0;

// Gives every item of a list the same height, the empty one included.
class FixedHeightDelegate final : public QStyledItemDelegate {
  public:
    FixedHeightDelegate(int height, QObject* parent) : QStyledItemDelegate(parent), h_(height) {}
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        return {QStyledItemDelegate::sizeHint(option, index).width(), h_};
    }

  private:
    int h_;
};

}  // namespace

// The selected caller's entries as the grid shows them, read from the editor
// as they are. rows_ is what the view was last told.
class EntryModel final : public QAbstractTableModel {
  public:
    EntryModel(const TMainForm& form, QObject* parent) : QAbstractTableModel(parent), form_(form) {}

    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : rows_;
    }
    int columnCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : static_cast<int>(kGridHeader.size());
    }
    QVariant data(const QModelIndex& index, int role) const override {
        const RuleEditor* editor = EditorOf(form_);
        if (!editor || !editor->Entries() || index.row() < 0 ||
            static_cast<std::size_t>(index.row()) >= editor->Entries()->Count())
            return {};
        const auto entry = static_cast<std::size_t>(index.row());
        switch (role) {
            case Qt::DisplayRole:
            case Qt::AccessibleTextRole:
                return Q(editor->CellText(entry, index.column()));
            case Qt::EditRole:
            case Qt::ToolTipRole:
                // The whole parameter, where the cell shows only its file name.
                if (index.column() == 2) return Q(editor->Param(entry));
                return Q(editor->CellText(entry, index.column()));
            default:
                return {};
        }
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
            static_cast<std::size_t>(section) < kGridHeader.size())
            return QString::fromUtf8(kGridHeader[static_cast<std::size_t>(section)]);
        return {};
    }
    Qt::ItemFlags flags(const QModelIndex& index) const override {
        Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
        if (editable_ && index.column() == 2) f |= Qt::ItemIsEditable;
        return f;
    }

    // The grid's in-place text editing, for column 2 only.
    void SetEditable(bool on) { editable_ = on; }
    // The list as it is now: a new list, or the same one grown or shrunk.
    void Reset() {
        beginResetModel();
        rows_ = LiveRows();
        endResetModel();
    }
    void Follow(std::optional<std::size_t> removed) {
        const int live = LiveRows();
        if (removed && live == rows_ - 1 && static_cast<int>(*removed) < rows_) {
            const int row = static_cast<int>(*removed);
            beginRemoveRows({}, row, row);
            rows_ = live;
            endRemoveRows();
        } else if (live > rows_) {
            beginInsertRows({}, rows_, live - 1);
            rows_ = live;
            endInsertRows();
        } else if (live != rows_) {
            Reset();
        }
    }
    void RowChanged(int row) { emit dataChanged(index(row, 0), index(row, columnCount() - 1)); }

  private:
    int LiveRows() const {
        const RuleEditor* editor = EditorOf(form_);
        return editor && editor->Entries() ? static_cast<int>(editor->Entries()->Count()) : 0;
    }

    const TMainForm& form_;
    int rows_ = 0;
    bool editable_ = false;
};

// Draws a cell's text at its left + 2, top + 2, and opens the line editor of
// column 2, which writes the parameter on every change.
class EntryDelegate final : public QStyledItemDelegate {
  public:
    EntryDelegate(std::function<void(QWidget*)> opened,
                  std::function<void(const QModelIndex&, const QString&)> changed, QObject* parent)
        : QStyledItemDelegate(parent), opened_(std::move(opened)), changed_(std::move(changed)) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem opt = option;
        initStyleOption(&opt, index);
        const QString text = opt.text;
        opt.text.clear();
        const QWidget* widget = option.widget;
        QStyle* style = widget ? widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);
        painter->save();
        painter->setPen(opt.palette.color(
            opt.state & QStyle::State_Selected ? QPalette::HighlightedText : QPalette::Text));
        painter->setClipRect(option.rect);
        painter->drawText(option.rect.adjusted(kTextOffset, kTextOffset, 0, 0),
                          Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
        painter->restore();
    }
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem&,
                          const QModelIndex& index) const override {
        auto* line = new QLineEdit(parent);
        opened_(line);
        line->setObjectName("PropGridEditor");
        line->setAccessibleName("Parameter");
        line->setFrame(false);
        line->setValidator(new OneLineValidator(line));
        const QPersistentModelIndex cell(index);
        connect(line, &QLineEdit::textChanged, line,
                [this, cell](const QString& text) { changed_(cell, text); });
        return line;
    }
    // Also called after each change the editor made itself: the same text
    // set again would throw the cursor to the end.
    void setEditorData(QWidget* editor, const QModelIndex& index) const override {
        auto* line = qobject_cast<QLineEdit*>(editor);
        const QString param = index.data(Qt::EditRole).toString();
        if (line && line->text() != param) line->setText(param);
    }
    // Every change reached the entry already.
    void setModelData(QWidget*, QAbstractItemModel*, const QModelIndex&) const override {}

  private:
    std::function<void(QWidget*)> opened_;
    std::function<void(const QModelIndex&, const QString&)> changed_;
};

RuleGridPanel::RuleGridPanel(TMainForm& form) : form_(form) {
    setObjectName("GridPanel");
    // The window's background colour behind the grid and its overlays.
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Window);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);

    PropGrid = new QTableView;
    PropGrid->setObjectName("PropGrid");
    PropGrid->setAccessibleName("Einträge");
    model_ = new EntryModel(form_, this);
    PropGrid->setModel(model_);
    PropGrid->setItemDelegate(new EntryDelegate(
        [this](QWidget* editor) {
            HideOverlays();
            UseGridMenu(editor);
        },
        [this](const QModelIndex& index, const QString& text) { ParamEdited(index, text); }, this));
    PropGrid->verticalHeader()->hide();
    PropGrid->verticalHeader()->setMinimumSectionSize(scale_.Y(kRowHeight));
    PropGrid->verticalHeader()->setDefaultSectionSize(scale_.Y(kRowHeight));
    PropGrid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    PropGrid->horizontalHeader()->setFixedHeight(scale_.Y(kRowHeight));
    PropGrid->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    PropGrid->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    PropGrid->horizontalHeader()->setHighlightSections(false);
    PropGrid->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    PropGrid->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    PropGrid->setSelectionMode(QAbstractItemView::SingleSelection);
    PropGrid->setSelectionBehavior(QAbstractItemView::SelectItems);
    PropGrid->setEditTriggers(QAbstractItemView::SelectedClicked |
                              QAbstractItemView::EditKeyPressed | QAbstractItemView::AnyKeyPressed |
                              QAbstractItemView::DoubleClicked);
    PropGrid->setColumnWidth(0, scale_.X(kColumnWidths[0]));
    PropGrid->setColumnWidth(1, scale_.X(kColumnWidths[1]));
    PropGrid->hide();
    layout->addWidget(PropGrid);
    connect(PropGrid->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) {
                if (!quiet_) PropGridSelectCell(current);
            });
    // A click on the cell that is current already selects it anew.
    connect(PropGrid, &QAbstractItemView::pressed, this, [this](const QModelIndex& index) {
        if (index == PropGrid->currentIndex()) PropGridSelectCell(index);
    });
    connect(PropGrid->verticalScrollBar(), &QScrollBar::valueChanged, this,
            &RuleGridPanel::PlaceOverlays);

    TimePicker = new QTimeEdit(this);
    TimePicker->setObjectName("TimePicker");
    TimePicker->setAccessibleName("Startzeit");
    TimePicker->setDisplayFormat("HH:mm:ss");
    // The cell is too narrow for the time beside arrows; the arrow keys and
    // the wheel step the section under the cursor.
    TimePicker->setButtonSymbols(QAbstractSpinBox::NoButtons);
    connect(TimePicker, &QTimeEdit::timeChanged, this, &RuleGridPanel::TimePickerChange);

    cbAction = new QComboBox(this);
    cbAction->setObjectName("cbAction");
    cbAction->setAccessibleName("Aktion");
    cbAction->setEditable(false);
    for (const char* text : kActionTexts) cbAction->addItem(QString::fromUtf8(text));
    cbAction->setItemDelegate(new FixedHeightDelegate(scale_.Y(kActionItemHeight), cbAction));
    connect(cbAction, &QComboBox::currentIndexChanged, this, &RuleGridPanel::cbActionChange);

    BtnPropGridAction = new QToolButton(this);
    BtnPropGridAction->setObjectName("BtnPropGridAction");
    BtnPropGridAction->setText("...");
    BtnPropGridAction->setAccessibleName("Datei auswählen");
    connect(BtnPropGridAction, &QToolButton::clicked, this, &RuleGridPanel::BtnPropGridActionClick);
    HideOverlays();

    PropGripPopUp = new QMenu(this);
    PropGripPopUp->setObjectName("PropGripPopUp");
    pmNewEntry = PropGripPopUp->addAction("&Neuer Eintrag");
    pmNewEntry->setObjectName("pmNewEntry");
    connect(pmNewEntry, &QAction::triggered, this, &RuleGridPanel::cmNewEntryClick);
    pmDelEntry = PropGripPopUp->addAction("Eintrag entfernen");
    pmDelEntry->setObjectName("pmDelEntry");
    connect(pmDelEntry, &QAction::triggered, this, &RuleGridPanel::cmDelEntryClick);
    PropGrid->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(PropGrid, &QWidget::customContextMenuRequested, this,
            &RuleGridPanel::PropGripPopUpPopup);
    for (QWidget* overlay : {static_cast<QWidget*>(TimePicker), static_cast<QWidget*>(cbAction),
                             static_cast<QWidget*>(BtnPropGridAction)})
        UseGridMenu(overlay);
}

void RuleGridPanel::UseGridMenu(QWidget* w) {
    // Every cell offers the grid's menu, the ones under a control too: not
    // the time field's or the text editor's own.
    QList<QWidget*> targets{w};
    for (QLineEdit* line : w->findChildren<QLineEdit*>()) targets << line;
    for (QWidget* target : targets) {
        target->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(
            target, &QWidget::customContextMenuRequested, this, [this, target](const QPoint& pos) {
                PropGripPopUpPopup(PropGrid->viewport()->mapFromGlobal(target->mapToGlobal(pos)));
            });
    }
}

void RuleGridPanel::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    // The third column takes what the first two and the scroll bar leave.
    const int arrow = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, PropGrid);
    PropGrid->setColumnWidth(2, std::max(0, width() - scale_.X(kColumnWidths[0]) -
                                                scale_.X(kColumnWidths[1]) - arrow - 7));
    PlaceOverlays();
}

void RuleGridPanel::Refresh() {
    HideOverlays();
    const QModelIndex current = PropGrid->currentIndex();
    const int row = current.isValid() ? current.row() : 0;
    if (current.isValid()) currentColumn_ = current.column();
    quiet_ = true;
    model_->SetEditable(false);
    model_->Reset();
    const RuleEditor* editor = EditorOf(form_);
    PropGrid->setVisible(editor && editor->Entries());
    if (const int rows = model_->rowCount(); rows > 0)
        PropGrid->selectionModel()->setCurrentIndex(
            model_->index(std::min(row, rows - 1), currentColumn_),
            QItemSelectionModel::ClearAndSelect);
    quiet_ = false;
}

void RuleGridPanel::HideOverlays() {
    overlaid_ = QPersistentModelIndex();
    overlay_ = {};
    TimePicker->hide();
    cbAction->hide();
    BtnPropGridAction->hide();
}

std::optional<std::size_t> RuleGridPanel::CurrentEntry() const {
    const QModelIndex current = PropGrid->currentIndex();
    if (!PropGrid->isVisibleTo(this) || !current.isValid()) return std::nullopt;
    return static_cast<std::size_t>(current.row());
}

void RuleGridPanel::PropGridSelectCell(const QModelIndex& index) {
    HideOverlays();
    model_->SetEditable(false);
    const RuleEditor* editor = EditorOf(form_);
    if (!editor || !index.isValid()) return;
    currentColumn_ = index.column();
    overlay_ = editor->SelectCell(static_cast<std::size_t>(index.row()), index.column());
    overlaid_ = index;
    {
        const QSignalBlocker quietPicker(TimePicker);
        const QSignalBlocker quietList(cbAction);
        if (overlay_.timePicker)
            TimePicker->setTime(QTime::fromMSecsSinceStartOfDay(static_cast<int>(
                std::llround((overlay_.startTime - std::floor(overlay_.startTime)) * kMsPerDay) %
                86400000)));
        if (overlay_.actionList) cbAction->setCurrentIndex(overlay_.action);
    }
    model_->SetEditable(overlay_.textEditing);
    PlaceOverlays();
}

// Over the cell, as far as it is in view; scrolling takes them along.
void RuleGridPanel::PlaceOverlays() {
    const QRect cell = overlaid_.isValid() ? PropGrid->visualRect(overlaid_) : QRect();
    const bool inView = cell.isValid() && PropGrid->viewport()->rect().contains(cell.topLeft());
    const QPoint at = PropGrid->viewport()->mapTo(this, cell.topLeft());
    const int w = cell.width();
    const int h = cell.height();
    TimePicker->setGeometry(at.x() + 1, at.y() + 1, w + 2, h + 1);
    cbAction->setGeometry(at.x() + 1, at.y() + 1, w + 2, h - 2);
    const int button = scale_.X(19);
    BtnPropGridAction->setGeometry(at.x() + w - button + 1, at.y() + 2, button,
                                   scale_.Y(kRowHeight) - 1);
    TimePicker->setVisible(inView && overlay_.timePicker);
    cbAction->setVisible(inView && overlay_.actionList);
    BtnPropGridAction->setVisible(inView && overlay_.fileButton);
    for (QWidget* overlay : {static_cast<QWidget*>(TimePicker), static_cast<QWidget*>(cbAction),
                             static_cast<QWidget*>(BtnPropGridAction)})
        if (overlay->isVisibleTo(this)) overlay->raise();
}

void RuleGridPanel::OnOverlaidEntry(const std::function<void(RuleEditor&, std::size_t)>& fn) {
    if (!overlaid_.isValid()) return;
    const int row = overlaid_.row();
    if (Edit(form_, [&](RuleEditor& editor) { fn(editor, static_cast<std::size_t>(row)); }))
        model_->RowChanged(row);
}

void RuleGridPanel::TimePickerChange() {
    const double time = TimePicker->time().msecsSinceStartOfDay() / kMsPerDay;
    OnOverlaidEntry(
        [time](RuleEditor& editor, std::size_t entry) { editor.SetStartTime(entry, time); });
}

void RuleGridPanel::cbActionChange(int index) {
    if (index < 0) return;
    OnOverlaidEntry(
        [index](RuleEditor& editor, std::size_t entry) { editor.SetAction(entry, index); });
}

void RuleGridPanel::BtnPropGridActionClick() {
    Dialogs* dialogs = form_.WindowDialogs();
    if (!dialogs) return;
    const std::string folder = U(QCoreApplication::applicationDirPath());
    std::optional<std::string> warning;
    OnOverlaidEntry([&](RuleEditor& editor, std::size_t entry) {
        const auto choice = editor.FileChoiceFor(entry, folder);
        if (!choice) return;
        if (const auto path = dialogs->ChooseFile(*choice))
            warning = editor.FileChosen(entry, *path);
    });
    if (warning) dialogs->MessageBox(Dialogs::Kind::Warning, *warning);
}

void RuleGridPanel::ParamEdited(const QModelIndex& index, const QString& text) {
    if (!index.isValid()) return;
    if (Edit(form_, [&](RuleEditor& editor) {
            editor.SetParam(static_cast<std::size_t>(index.row()), U(text));
        }))
        model_->RowChanged(index.row());
}

void RuleGridPanel::cmNewEntryClick() {
    HideOverlays();
    bool added = false;
    Edit(form_, [&](RuleEditor& editor) { added = editor.NewEntry(); });
    if (!added) return;
    quiet_ = true;
    model_->Follow(std::nullopt);
    quiet_ = false;
}

void RuleGridPanel::cmDelEntryClick() {
    HideOverlays();
    const auto entry = CurrentEntry();
    bool deleted = false;
    Edit(form_, [&](RuleEditor& editor) { deleted = editor.DeleteEntry(entry); });
    if (!deleted) return;
    quiet_ = true;
    model_->Follow(entry);
    quiet_ = false;
}

void RuleGridPanel::PropGripPopUpPopup(const QPoint& pos) {
    const RuleEditor* editor = EditorOf(form_);
    if (!editor) return;
    const EntryMenuItems items = editor->GridPopup(CurrentEntry());
    pmNewEntry->setVisible(items.newEntry);
    pmDelEntry->setVisible(items.delEntry);
    PropGripPopUp->popup(PropGrid->viewport()->mapToGlobal(pos));
}

}  // namespace tolvar
