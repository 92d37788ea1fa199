// The page "D-Mail senden" in the real window, driven headless through its
// object names.

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>

#include "app/dmail_page.h"
#include "app/main_form.h"
#include "dmail/dmail.h"
#include "support/test_host.h"
#include "support/window_host.h"

namespace tolvar {
namespace {

class DMailPageTest : public ::testing::Test, public test::WindowHost {
  protected:
    void SetUp() override {
        test::WriteAll(registry,
                       "Windows Registry Editor Version 5.00\n\n"
                       "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\DMail\\Subscriber]\n"
                       "\"0301234 Zentrale\"=\"\"\n\"017812345 Mutter\"=\"\"\n\n");
        Start("", std::nullopt);
        engine->ShowWindow(Page::DMail);
        page = form->findChild<DMailPage*>("tsDMail");
        ASSERT_NE(page, nullptr);
    }
    template <typename W>
    W* Find(const char* name) {
        W* w = form->findChild<W*>(name);
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    QImage Line(int row) {
        QListWidget* log = page->MessageLog();
        return log->viewport()->grab(log->visualItemRect(log->item(row))).toImage();
    }
    // The darkest channel value drawn in a message-log line.
    int Darkest(int row) {
        const QImage image = Line(row);
        int darkest = 255;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const QColor c = image.pixelColor(x, y);
                darkest = std::min({darkest, c.red(), c.green(), c.blue()});
            }
        return darkest;
    }

    DMailPage* page = nullptr;
};

TEST_F(DMailPageTest, ControlsCaptionsAndTheExplanation) {
    QStringList captions;
    for (QLabel* l : page->findChildren<QLabel*>())
        if (l->buddy()) captions << l->text() + "=" + l->buddy()->objectName();
    captions.sort();
    EXPECT_EQ(captions, (QStringList{"&D-Mail Nachricht:=edDMailSend", "&Trace:=LBDMailTrace",
                                     "D-Mail &Empfänger:=cbDMailReceiver",
                                     "D-Mail &Nachrichten Log:=LBDMailRecv",
                                     "Eigene D-Mail &MSN:=edDMailOwnMSN"}));
    EXPECT_EQ(Find<QPushButton>("BtnSendDMail")->text(), "D-Mail &senden");
    EXPECT_EQ(Find<QLineEdit>("edDMailSend")->maxLength(), 64);
    EXPECT_EQ(Find<QLineEdit>("edDMailOwnMSN")->maxLength(), 9);
    QStringList explanation;
    for (int i = 0; i < page->StatusList()->count(); ++i)
        explanation << page->StatusList()->item(i)->text();
    EXPECT_EQ(explanation,
              (QStringList{"D-Mail Textnachrichten werden durch kurzes \"Anklingeln\" ",
                           "des Empfängers kostenlos über den ISDN D-Kanal verschickt.  ",
                           "Auf der Empfängerseite muss ein Tolvar aktiv sein.",
                           "Achtung: Öffentliche Netzbetreiber erlauben Anrufe, ohne den ",
                           "Willen eine Verbindung aufzubauen, in ihrer AGB nicht."}));
    // The receivers, sorted, always in view.
    QListView* list = page->ReceiverList();
    ASSERT_EQ(list->model()->rowCount(), 2);
    EXPECT_EQ(list->model()->index(0, 0).data().toString(), "017812345 Mutter");
    for (QWidget* w : std::initializer_list<QWidget*>{list, page->StatusList(), page->MessageLog()})
        EXPECT_FALSE(w->accessibleName().isEmpty()) << w->objectName().toStdString();
}

TEST_F(DMailPageTest, SendDisablesThePagesUntilEscape) {
    QComboBox* receiver = page->Receiver();
    // "/", "." and "," typed into the receiver field are swallowed.
    receiver->lineEdit()->setFocus();
    for (const char* key : {"0", "/", "1", ".", ",", "7"}) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, key);
        QApplication::sendEvent(receiver->lineEdit(), &press);
    }
    EXPECT_EQ(receiver->currentText(), "017");
    receiver->setEditText("017812345 Mutter");
    // Characters Windows-1252 lacks are named before anything is sent.
    Find<QLineEdit>("edDMailSend")->setText(QString::fromUtf8("Łódź für 5 €"));
    EXPECT_EQ(page->CharsetNote(), QString::fromUtf8("Wird als \"?\" gesendet: Ł ź"));
    Find<QLineEdit>("edDMailSend")->setText("Hallo");
    EXPECT_TRUE(page->CharsetNote().isEmpty());
    // Enter in a field presses "D-Mail &senden".
    emit Find<QLineEdit>("edDMailSend")->returnPressed();
    EXPECT_EQ(capi.puts.back().CommandWord(), cmd::CONNECT_REQ);
    EXPECT_FALSE(form->Pages()->isEnabled());
    EXPECT_FALSE(Find<QPushButton>("BtnSendDMail")->isEnabled());
    ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
    EXPECT_EQ(page->StatusList()->count(), 1);  // the explanation is gone
    EXPECT_EQ(page->MessageLog()->item(0)->text(), "017812345 < Hallo");

    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(form.get(), &escape);
    EXPECT_TRUE(form->Pages()->isEnabled());
    EXPECT_TRUE(Find<QPushButton>("BtnSendDMail")->isEnabled());
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_EQ(engine->DMailState().SendState(), kSendIdle);
}

TEST_F(DMailPageTest, MessageLogDrawsSentLinesGreyAndIsCleared) {
    form->AppendStatusLine(StatusList::DMailLog, "017812345 < Hallo", true);
    form->AppendStatusLine(StatusList::DMailLog, "0301234 > Antwort", false);
    EXPECT_NEAR(Darkest(0), 0x80, 0x10);  // grey text on the button face
    EXPECT_LT(Darkest(1), 0x40);          // black text
    // On the button face, the selected line too: no highlight.
    const QColor face = page->MessageLog()->palette().color(QPalette::Button);
    EXPECT_TRUE(page->MessageLog()->item(1)->isSelected());
    for (int row : {0, 1}) EXPECT_EQ(Line(row).pixelColor(Line(row).width() - 2, 1), face);
    Find<QAction>("cmClearDMailLog")->trigger();
    EXPECT_EQ(page->MessageLog()->count(), 0);
}

TEST_F(DMailPageTest, RemovingTheSelectedReceiverEntry) {
    QAction* remove = Find<QAction>("cmDelDMailReceiverEntry");
    remove->trigger();  // nothing selected: nothing happens
    EXPECT_EQ(page->ReceiverList()->model()->rowCount(), 2);
    page->Receiver()->setEditText("0301234 Zentrale");  // typed in full: selected
    remove->trigger();
    EXPECT_EQ(page->ReceiverList()->model()->rowCount(), 1);
    EXPECT_EQ(engine->DMailReceivers(), std::vector<std::string>{"017812345 Mutter"});
    EXPECT_EQ(test::ReadAll(registry).find("Zentrale"), std::string::npos);
}

}  // namespace
}  // namespace tolvar

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
