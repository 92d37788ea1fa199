#include "app/sms_page.h"

#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QPushButton>
#include <QTextBlock>

#include "app/font_scale.h"
#include "app/main_form.h"
#include "app/qt_text.h"
#include "app/receiver_box.h"
#include "engine/engine.h"
#include "sms/sms_job.h"

namespace tolvar {

namespace {

int CodePoints(const QString& s) {
    int n = 0;
    for (int i = 0; i < s.size(); ++i)
        if (!s[i].isLowSurrogate()) ++n;
    return n;
}

// The first n characters of s, a surrogate pair never split.
QString FirstCharacters(const QString& s, int n) {
    int i = 0;
    for (int count = 0; i < s.size() && count < n; ++count)
        i += s[i].isHighSurrogate() && i + 1 < s.size() && s[i + 1].isLowSurrogate() ? 2 : 1;
    return s.left(i);
}

bool Unsendable(const QString& character) {
    return !CharactersWithoutCp1252(U(character)).empty();
}

}  // namespace

SmsMemo::SmsMemo() {
    setObjectName("MemoSMS");
    setAccessibleName("SMS Nachricht");
    setTabChangesFocus(true);
    connect(this, &QPlainTextEdit::textChanged, this, &SmsMemo::Enforce);
}

int SmsMemo::Characters() const {
    return CodePoints(toPlainText());
}

int SmsMemo::Room() const {
    return kMaxCharacters - Characters() + CodePoints(textCursor().selectedText());
}

void SmsMemo::keyPressEvent(QKeyEvent* event) {
    const QString text = event->text();
    const bool shortcut = event->modifiers() & (Qt::ControlModifier | Qt::MetaModifier);
    if (!text.isEmpty() && !shortcut) {
        // Below 32 only backspace types; the rest (Return among them) is dropped.
        if (text[0].unicode() < 0x20 && text[0].unicode() != 0x08) return;
        if (text[0].unicode() >= 0x20 && CodePoints(text) > Room()) return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

void SmsMemo::insertFromMimeData(const QMimeData* source) {
    // A pasted text gets what room is left; its line breaks stay and go out as blanks.
    if (!source->hasText()) return;
    insertPlainText(FirstCharacters(source->text(), std::max(0, Room())));
}

void SmsMemo::Enforce() {
    // Whatever way text came in (an input method, a drop), the field keeps
    // its first 160 characters.
    const QString text = toPlainText();
    if (CodePoints(text) <= kMaxCharacters) return;
    QTextCursor cursor(document());
    cursor.setPosition(FirstCharacters(text, kMaxCharacters).size());
    cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
}

SmsPage::SmsPage(TMainForm& form) : form_(form) {
    setObjectName("tsSMS");
    const FontScale scale = FontScale::Application();
    auto* grid = new QGridLayout(this);

    auto* lbReceiver = new QLabel("SMS &Empfänger:");
    lbReceiver->setObjectName("lbReceiver");
    cbSMSReceiver = new ReceiverBox("cbSMSReceiver", "SMS Empfänger");
    cbSMSReceiver->setFixedWidth(scale.X(150));
    lbReceiver->setBuddy(cbSMSReceiver->Edit());

    auto* lbSMSMessage = new QLabel("S&MS Nachricht:");
    lbSMSMessage->setObjectName("lbSMSMessage");
    MemoSMS = new SmsMemo;
    lbSMSMessage->setBuddy(MemoSMS);

    lbSMSCharset = new QLabel;
    lbSMSCharset->setObjectName("lbSMSCharset");
    lbSMSCharset->setStyleSheet("color: #b00000;");
    lbSMSCharset->setWordWrap(true);

    BtnSendSMS = new QPushButton("SMS &senden");
    BtnSendSMS->setObjectName("BtnSendSMS");

    auto* Label13 = new QLabel("&Trace:");
    Label13->setObjectName("Label13");
    LBSMSTrace = new QListWidget;
    LBSMSTrace->setObjectName("LBSMSTrace");
    LBSMSTrace->setAccessibleName("SMS Trace");
    LBSMSTrace->setFocusPolicy(Qt::NoFocus);
    LBSMSTrace->setStyleSheet("QListWidget { background-color: #c0c0c0; }");
    LBSMSTrace->setFixedHeight(scale.Y(76));
    Label13->setBuddy(LBSMSTrace);

    grid->addWidget(lbReceiver, 0, 0);
    grid->addWidget(lbSMSMessage, 0, 1, 1, 2);
    grid->addWidget(cbSMSReceiver, 1, 0, 2, 1);
    grid->addWidget(MemoSMS, 1, 1, 1, 2);
    grid->addWidget(lbSMSCharset, 2, 1);
    grid->addWidget(BtnSendSMS, 2, 2, Qt::AlignRight | Qt::AlignTop);
    grid->addWidget(Label13, 3, 0, 1, 3);
    grid->addWidget(LBSMSTrace, 4, 0, 1, 3);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(1, 1);

    form_.RegisterControl(Control::cbSMSReceiver, cbSMSReceiver->Edit());
    form_.RegisterControl(Control::MemoSMS, MemoSMS);
    form_.RegisterControl(Control::BtnSendSMS, BtnSendSMS);
    form_.RegisterStatusList(StatusList::SmsTrace, LBSMSTrace);
    form_.RegisterItemList(Control::cbSMSReceiver, [this](const std::vector<std::string>& items) {
        cbSMSReceiver->SetItems(items);
    });

    connect(BtnSendSMS, &QPushButton::clicked, this, [this] {
        if (Engine* engine = form_.EngineOrNull())
            engine->Guard([engine] { engine->SMS().BtnSendSMSClick(); });
    });
    cbSMSReceiver->OnRemove = [this] {
        if (Engine* engine = form_.EngineOrNull())
            engine->Guard([this, engine] {
                engine->SMS().cmDelSMSReceiverEntryClick(cbSMSReceiver->Selected());
            });
    };
    connect(MemoSMS, &QPlainTextEdit::textChanged, this, &SmsPage::MarkUnsendable);
}

QString SmsPage::CharsetNote() const {
    return lbSMSCharset->text();
}

void SmsPage::MarkUnsendable() {
    // Each character Windows-1252 lacks is underlaid in the field, and named
    // below it, before anything is sent.
    const QString text = MemoSMS->toPlainText();
    QList<QTextEdit::ExtraSelection> marks;
    QStringList named;
    for (int i = 0; i < text.size();) {
        const int n = text[i].isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const QString character = text.mid(i, n);
        if (character != "\n" && Unsendable(character)) {
            QTextEdit::ExtraSelection mark;
            mark.cursor = QTextCursor(MemoSMS->document());
            mark.cursor.setPosition(i);
            mark.cursor.setPosition(i + n, QTextCursor::KeepAnchor);
            mark.format.setBackground(QColor(0xff, 0xc0, 0xc0));
            marks << mark;
            if (!named.contains(character)) named << character;
        }
        i += n;
    }
    MemoSMS->setExtraSelections(marks);
    lbSMSCharset->setText(named.isEmpty() ? QString()
                                          : "Wird als \"?\" gesendet: " + named.join(' '));
}

}  // namespace tolvar
