#include "app/dmail_page.h"

#include <QComboBox>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

#include "app/font_scale.h"
#include "app/main_form.h"
#include "app/qt_text.h"
#include "dmail/dmail.h"
#include "dmail/receiver_lists.h"
#include "engine/engine.h"
#include "sms/sms_job.h"

namespace tolvar {

namespace {

constexpr int kReceiverLines = 9;

// The message log draws its lines itself: on the button face, 2 pixels in
// from the left, grey for a sent message, black otherwise, and a selected
// line no differently.
class MessageLogDelegate final : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        painter->save();
        painter->fillRect(option.rect, option.palette.color(QPalette::Button));
        const QVariant marked = index.data(Qt::ForegroundRole);
        painter->setPen(marked.isValid() ? marked.value<QBrush>().color() : QColor(Qt::black));
        painter->setFont(option.font);
        painter->drawText(option.rect.adjusted(2, 0, 0, 0), Qt::AlignLeft | Qt::AlignTop,
                          index.data(Qt::DisplayRole).toString());
        painter->restore();
    }
};

QLabel* Caption(const char* text, QWidget* buddy) {
    auto* label = new QLabel(QString::fromUtf8(text));
    label->setBuddy(buddy);
    return label;
}

}  // namespace

DMailPage::DMailPage(TMainForm& form) : form_(form) {
    setObjectName("tsDMail");
    BuildReceiver();

    edDMailSend = new QLineEdit;
    edDMailSend->setObjectName("edDMailSend");
    edDMailSend->setMaxLength(static_cast<int>(kDMailMaxMessageChars));
    lbDMailCharset = new QLabel;
    lbDMailCharset->setObjectName("lbDMailCharset");
    lbDMailCharset->setStyleSheet("color: #b00000;");
    lbDMailCharset->setWordWrap(true);
    connect(edDMailSend, &QLineEdit::textChanged, this, &DMailPage::NameUnsendable);
    edDMailOwnMSN = new QLineEdit;
    edDMailOwnMSN->setObjectName("edDMailOwnMSN");
    edDMailOwnMSN->setMaxLength(static_cast<int>(kDMailMaxOwnMsnChars));
    edDMailOwnMSN->setFixedWidth(FontScale::Application().X(90));
    BtnSendDMail = new QPushButton("D-Mail &senden");
    BtnSendDMail->setObjectName("BtnSendDMail");
    BtnSendDMail->setDefault(true);
    connect(BtnSendDMail, &QPushButton::clicked, this, &DMailPage::SendClicked);
    // The window's default button: Enter in a field of the page presses it.
    for (QLineEdit* field : {edDMailSend, edDMailOwnMSN, cbDMailReceiver->lineEdit()})
        connect(field, &QLineEdit::returnPressed, BtnSendDMail, &QPushButton::click);

    LBDMailTrace = new QListWidget;
    LBDMailTrace->setObjectName("LBDMailTrace");
    LBDMailTrace->setAccessibleName("Trace");
    LBDMailTrace->setSelectionMode(QAbstractItemView::SingleSelection);
    for (const char* line : kDMailExplanation) LBDMailTrace->addItem(QString::fromUtf8(line));

    LBDMailRecv = new QListWidget;
    LBDMailRecv->setObjectName("LBDMailRecv");
    LBDMailRecv->setAccessibleName("D-Mail Nachrichten Log");
    LBDMailRecv->setItemDelegate(new MessageLogDelegate(LBDMailRecv));
    QPalette face = LBDMailRecv->palette();
    face.setColor(QPalette::Base, face.color(QPalette::Button));
    LBDMailRecv->setPalette(face);
    auto* logMenu = new QMenu(this);
    logMenu->setObjectName("DMailLogPopupMenu");
    QAction* clear = logMenu->addAction("Log &löschen");
    clear->setObjectName("cmClearDMailLog");
    connect(clear, &QAction::triggered, this, [this] {
        if (Engine* engine = form_.EngineOrNull())
            engine->Guard([engine] { engine->DMailState().ClearMessageLog(); });
    });
    LBDMailRecv->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(LBDMailRecv, &QWidget::customContextMenuRequested, this,
            [this, logMenu](const QPoint& pos) {
                logMenu->popup(LBDMailRecv->viewport()->mapToGlobal(pos));
            });

    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(6, 6, 6, 6);
    grid->setVerticalSpacing(2);
    grid->addWidget(Caption("D-Mail &Empfänger:", cbDMailReceiver), 0, 0);
    grid->addWidget(cbDMailReceiver, 1, 0);
    grid->addWidget(receiverList_, 2, 0, 4, 1);
    grid->addWidget(Caption("&D-Mail Nachricht:", edDMailSend), 0, 1, 1, 2);
    auto* messageColumn = new QVBoxLayout;
    messageColumn->setSpacing(0);
    messageColumn->addWidget(edDMailSend);
    messageColumn->addWidget(lbDMailCharset);
    grid->addLayout(messageColumn, 1, 1, 1, 2);
    auto* msnRow = new QHBoxLayout;
    msnRow->addWidget(Caption("Eigene D-Mail &MSN:", edDMailOwnMSN));
    msnRow->addWidget(edDMailOwnMSN);
    msnRow->addStretch();
    msnRow->addWidget(BtnSendDMail);
    grid->addLayout(msnRow, 2, 1, 1, 2);
    grid->addWidget(Caption("&Trace:", LBDMailTrace), 3, 1, 1, 2);
    grid->addWidget(LBDMailTrace, 4, 1, 2, 2);
    grid->addWidget(Caption("D-Mail &Nachrichten Log:", LBDMailRecv), 6, 0, 1, 3);
    grid->addWidget(LBDMailRecv, 7, 0, 1, 3);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(5, 1);

    form_.RegisterControl(Control::cbDMailReceiver, cbDMailReceiver);
    form_.RegisterControl(Control::edDMailSend, edDMailSend);
    form_.RegisterControl(Control::edDMailOwnMSN, edDMailOwnMSN);
    form_.RegisterControl(Control::BtnSendDMail, BtnSendDMail);
    form_.RegisterStatusList(StatusList::DMailStatus, LBDMailTrace);
    form_.RegisterStatusList(StatusList::DMailLog, LBDMailRecv);
}

void DMailPage::BuildReceiver() {
    // An editable field whose list is always shown beneath it, sorted.
    cbDMailReceiver = new QComboBox;
    cbDMailReceiver->setObjectName("cbDMailReceiver");
    cbDMailReceiver->setEditable(true);
    cbDMailReceiver->setInsertPolicy(QComboBox::NoInsert);
    cbDMailReceiver->setAccessibleName("D-Mail Empfänger");
    // No drop-down button: the list is in view anyway.
    cbDMailReceiver->setStyleSheet(
        "QComboBox { padding-right: 2px; }"
        "QComboBox::drop-down { width: 0px; border: none; }"
        "QComboBox::down-arrow { image: none; width: 0px; height: 0px; }");
    cbDMailReceiver->lineEdit()->installEventFilter(this);
    sorted_ = new QSortFilterProxyModel(this);
    sorted_->setSourceModel(cbDMailReceiver->model());
    sorted_->setSortCaseSensitivity(Qt::CaseInsensitive);
    sorted_->setSortLocaleAware(true);
    sorted_->setDynamicSortFilter(true);
    sorted_->sort(0);
    receiverList_ = new QListView;
    receiverList_->setObjectName("lbDMailReceiverList");
    receiverList_->setAccessibleName("D-Mail Empfängerliste");
    receiverList_->setModel(sorted_);
    receiverList_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    receiverList_->setFixedHeight(receiverList_->fontMetrics().height() * kReceiverLines + 6);
    const int width = FontScale::Application().X(170);
    receiverList_->setFixedWidth(width);
    cbDMailReceiver->setFixedWidth(width);
    connect(receiverList_, &QListView::clicked, this, [this](const QModelIndex& index) {
        cbDMailReceiver->setEditText(index.data(Qt::DisplayRole).toString());
        receiverList_->setCurrentIndex(index);
    });
    connect(cbDMailReceiver, &QComboBox::editTextChanged, this, &DMailPage::SelectMatchingReceiver);

    auto* menu = new QMenu(this);
    menu->setObjectName("DMailReceiverPopupMenu");
    QAction* remove = menu->addAction("Eintrag &entfernen");
    remove->setObjectName("cmDelDMailReceiverEntry");
    connect(remove, &QAction::triggered, this, [this] {
        const std::string entry = SelectedReceiver();
        Engine* engine = form_.EngineOrNull();
        if (engine == nullptr || entry.empty()) return;
        engine->Guard(
            [engine, &entry] { engine->DMailState().cmDelDMailReceiverEntryClick(entry); });
    });
    for (QWidget* w : {static_cast<QWidget*>(receiverList_),
                       static_cast<QWidget*>(cbDMailReceiver->lineEdit())}) {
        w->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(w, &QWidget::customContextMenuRequested, this,
                [w, menu](const QPoint& pos) { menu->popup(w->mapToGlobal(pos)); });
    }
}

void DMailPage::SelectMatchingReceiver(const QString& text) {
    // The list follows the field: an entry typed in full is the selected one.
    const QModelIndexList hits =
        sorted_->match(sorted_->index(0, 0), Qt::DisplayRole, text, 1, Qt::MatchExactly);
    if (hits.isEmpty())
        receiverList_->clearSelection();
    else
        receiverList_->setCurrentIndex(hits.front());
}

void DMailPage::NameUnsendable(const QString& text) {
    // The message goes out in Windows-1252: each character it lacks is named
    // before anything is sent.
    QStringList named;
    for (const std::string& c : CharactersWithoutCp1252(U(text))) named << Q(c);
    lbDMailCharset->setText(named.isEmpty() ? QString()
                                            : "Wird als \"?\" gesendet: " + named.join(' '));
}

QString DMailPage::CharsetNote() const {
    return lbDMailCharset->text();
}

std::string DMailPage::SelectedReceiver() const {
    const QModelIndexList selected = receiverList_->selectionModel()->selectedIndexes();
    return selected.isEmpty() ? std::string() : U(selected.front().data().toString());
}

bool DMailPage::eventFilter(QObject* watched, QEvent* event) {
    // "/", "." and "," typed into the receiver field are swallowed.
    if (watched == cbDMailReceiver->lineEdit() && event->type() == QEvent::KeyPress) {
        const QString typed = static_cast<QKeyEvent*>(event)->text();
        if (typed.size() == 1 && typed.front().unicode() < 0x80 &&
            IsDiscardedReceiverChar(static_cast<char>(typed.front().unicode())))
            return true;
    }
    return QWidget::eventFilter(watched, event);
}

void DMailPage::SendClicked() {
    if (Engine* engine = form_.EngineOrNull())
        engine->Guard([engine] { engine->DMailState().BtnSendDMailClick(); });
}

}  // namespace tolvar
