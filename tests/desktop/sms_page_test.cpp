// The page "SMS senden" of the real window, driven headless through its
// object names: its controls, the message field's limits and marks, the
// receiver box, and a send on a fake CAPI.

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>

#include "app/main_form.h"
#include "app/receiver_box.h"
#include "app/sms_page.h"
#include "calls/call_message.h"
#include "core/bytes.h"
#include "engine/engine.h"
#include "support/files.h"
#include "support/test_host.h"
#include "support/window_host.h"

namespace tolvar {
namespace {

using test::Message;
using test::U32;

// A provider whose table sends the small letters and the blank as they are.
const std::string kHive =
    "Windows Registry Editor Version 5.00\n\n"
    "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\SMS\\Prefix]\n\"0171\"=\"Netz\"\n\n"
    "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\SMS\\Provider\\Netz]\n"
    "\"Phone\"=\"0190\"\n\"Protocol\"=\"UCP\"\n\"XlateTable\"=hex:00" +
    [] {
        std::string table;
        for (int i = 1; i < 128; ++i) table += "," + Hex(static_cast<std::uint32_t>(i), 2);
        return table;
    }() +
    "\n\n"
    "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\SMS\\Subscriber]\n"
    "\"0172 bert\"=\"\"\n\"0171 Anna\"=\"\"\n\"0173 Carl\"=\"\"\n\n";

class SmsPageTest : public ::testing::Test, public test::WindowHost {
  protected:
    void SetUp() override {
        test::WriteAll(registry, kHive);
        Start("", std::nullopt);
        page = form->findChild<SmsPage*>("tsSMS");
        ASSERT_NE(page, nullptr);
    }
    void Key(QWidget* w, int key, const QString& text, Qt::KeyboardModifiers mods = {}) {
        QKeyEvent press(QEvent::KeyPress, key, mods, text);
        QApplication::sendEvent(w, &press);
    }
    void Type(QWidget* w, const QString& text) {
        for (QChar c : text) Key(w, 0, QString(c));
    }
    QStringList Items(QListWidget* list) {
        QStringList out;
        for (int i = 0; i < list->count(); ++i) out << list->item(i)->text();
        return out;
    }
    void Receive(std::uint16_t command, std::uint16_t number, std::vector<std::uint8_t> params,
                 std::vector<std::uint8_t> data = {}) {
        capi.Feed(Message(command, number, std::move(params)), std::move(data));
        io.Pump();
    }

    SmsPage* page = nullptr;
};

TEST_F(SmsPageTest, ControlsCaptionsAndNames) {
    const std::pair<const char*, const char*> labels[] = {{"lbReceiver", "SMS &Empfänger:"},
                                                          {"lbSMSMessage", "S&MS Nachricht:"},
                                                          {"Label13", "&Trace:"}};
    for (const auto& [name, caption] : labels)
        EXPECT_EQ(form->findChild<QLabel*>(name)->text(), QString(caption)) << name;
    EXPECT_EQ(form->findChild<QPushButton*>("BtnSendSMS")->text(), "SMS &senden");
    auto* trace = form->findChild<QListWidget*>("LBSMSTrace");
    EXPECT_EQ(trace->focusPolicy(), Qt::NoFocus);
    EXPECT_EQ(trace->accessibleName(), "SMS Trace");
    auto* list = form->findChild<QListWidget*>("cbSMSReceiverList");
    EXPECT_FALSE(list->accessibleName().isEmpty());
    // The remembered receivers, sorted whatever their letter case.
    EXPECT_EQ(Items(list), (QStringList{"0171 Anna", "0172 bert", "0173 Carl"}));
}

TEST_F(SmsPageTest, MessageFieldTakesNoLineBreakAndAtMost160Characters) {
    SmsMemo* memo = page->Memo();
    Type(memo, "ab");
    Key(memo, Qt::Key_Return, "\r");
    Key(memo, Qt::Key_Enter, "\r");
    Key(memo, Qt::Key_Tab, "\t");
    Type(memo, "c");
    Key(memo, Qt::Key_Backspace, "\b");
    EXPECT_EQ(memo->toPlainText(), "ab");
    // A paste keeps its line breaks (they go out as blanks) but gets only the room left.
    QGuiApplication::clipboard()->setText("x\ny" + QString(200, 'z'));
    memo->paste();
    EXPECT_EQ(memo->Characters(), 160);
    EXPECT_TRUE(memo->toPlainText().startsWith("abx\nyz"));
    Type(memo, "q");
    EXPECT_EQ(memo->Characters(), 160);
    // Characters outside the BMP count once each.
    memo->setPlainText(QString(159, 'a') + QString::fromUtf8("😀😀"));
    EXPECT_EQ(memo->Characters(), 160);
}

TEST_F(SmsPageTest, CharactersWithoutAByteAreNamedBeforeSending) {
    SmsMemo* memo = page->Memo();
    memo->setPlainText(QString::fromUtf8("Grüße €"));
    EXPECT_EQ(page->CharsetNote(), "");
    EXPECT_TRUE(memo->extraSelections().isEmpty());
    memo->setPlainText(QString::fromUtf8("Łódź ω Ł"));
    EXPECT_EQ(page->CharsetNote(), QString::fromUtf8("Wird als \"?\" gesendet: Ł ź ω"));
    EXPECT_EQ(memo->extraSelections().size(), 4);
}

TEST_F(SmsPageTest, ReceiverBoxFilterPickAndRemove) {
    ReceiverBox* box = page->Receiver();
    Type(box->Edit(), "0171/2.3,4");
    EXPECT_EQ(box->Edit()->text(), "0171234");
    box->Edit()->clear();
    // Typing an entry in full selects it; picking one fills the line.
    Type(box->Edit(), "0173 carl");
    ASSERT_TRUE(box->Selected());
    EXPECT_EQ(*box->Selected(), "0173 Carl");
    box->List()->setCurrentRow(0);
    emit box->List()->itemClicked(box->List()->item(0));
    EXPECT_EQ(box->Edit()->text(), "0171 Anna");
    box->RemoveAction()->trigger();
    EXPECT_EQ(Items(box->List()), (QStringList{"0172 bert", "0173 Carl"}));
    EXPECT_EQ(test::ReadAll(registry).find("0171 Anna"), std::string::npos);
    // With nothing selected nothing is removed.
    box->List()->clearSelection();
    box->RemoveAction()->trigger();
    EXPECT_EQ(box->List()->count(), 2);
}

TEST_F(SmsPageTest, SendThroughTheWindow) {
    page->Receiver()->Edit()->setText("0171 Neu");
    page->Memo()->setPlainText("abc");
    form->findChild<QPushButton*>("BtnSendSMS")->click();
    ASSERT_EQ(capi.puts.size(), 2u);  // LISTEN_REQ, CONNECT_REQ
    Receive(cmd::CONNECT_CONF, 7, {0x01, 0x02, 0, 0, 0, 0});
    EXPECT_TRUE(QGuiApplication::overrideCursor() != nullptr);
    Receive(cmd::DISCONNECT_IND, 2, {0x01, 0x02, 0, 0, 0x91, 0x34});
    auto* trace = page->Trace();
    EXPECT_EQ(Items(trace), (QStringList{"Wähle SMS Center 0190...", "SMS Center besetzt."}));
    EXPECT_EQ(trace->currentRow(), 1);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(form->findChild<QPushButton*>("BtnSendSMS")->isEnabled());
    // An automatic SMS disables the page control until it is over.
    engine->SMS().PrepareSMSJob("0171", "Tolvar: Anruf von 030");
    engine->SMS().StartAutomaticSMS();
    EXPECT_FALSE(form->findChild<QTabWidget*>("PageControl")->isEnabled());
    EXPECT_TRUE(Items(trace).isEmpty());
}

}  // namespace
}  // namespace tolvar
