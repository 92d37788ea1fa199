// The page "Desktop", the contact window and the spoken announcement on the
// real widgets, headless.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>
#include <QApplication>
#include <QCheckBox>
#include <QEventLoop>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>

#include <cmath>
#include <cstdio>
#include <filesystem>

#include "app/contact_window.h"
#include "app/desktop_page.h"
#include "app/espeak_speaker.h"
#include "app/main_form.h"
#include "desktop/autostart.h"
#include "engine/engine.h"
#include "registry/registry.h"
#include "support/fake_capi.h"
#include "support/files.h"
#include "support/process.h"
#include "support/test_host.h"
#include "support/window_host.h"

namespace tolvar {
namespace {

class DesktopPageTest : public ::testing::Test, public test::WindowHost {
  protected:
    void SetUp() override {
        setenv("ESPEAK_DATA_PATH", "/sprache", 1);
        setenv("XDG_DATA_HOME", "/daten", 1);
        Start("", std::nullopt);
    }
    template <class W>
    W* Find(const char* name) {
        auto* w = form->findChild<W*>(name);
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    std::string AgentValue(const char* name) {
        Registry reg(registry);
        auto key = reg.OpenKey("\\Software\\Brenwick\\Tolvar\\Agent", false);
        if (!key || !key->ValueExists(name)) return "(none)";
        try {
            return key->ReadString(name);
        } catch (const RegistryError&) {
            return std::to_string(key->ReadInteger(name));
        }
    }
};

TEST_F(DesktopPageTest, ControlsCaptionsAndNames) {
    auto* tabs = Find<QTabWidget>("PageControl");
    EXPECT_EQ(tabs->tabText(static_cast<int>(Page::Desktop)), "Desktop");
    EXPECT_EQ(tabs->widget(static_cast<int>(Page::Desktop))->objectName(), "tsDesktop");
    EXPECT_EQ(Find<QGroupBox>("gbAddressBook")->title(), "Adressbuch");
    EXPECT_EQ(Find<QGroupBox>("gbAnnouncement")->title(), "Ansage");
    EXPECT_EQ(Find<QGroupBox>("gbNotification")->title(), "Benachrichtigung");
    EXPECT_EQ(Find<QCheckBox>("CBUseOutlook")->text(), "Kontakt des Anrufers anzeigen. ");
    EXPECT_EQ(Find<QLabel>("lbAddressBookNote")->text(),
              "Die Kontakte liegen als vCard-Dateien im Adressbuch-Ordner. Der Anrufer muss mit "
              "Rufnummer als Kontakt gespeichert sein.");
    EXPECT_EQ(Find<QCheckBox>("CBUseAgent")->text(), "&Anrufer ansagen lassen");
    EXPECT_EQ(Find<QCheckBox>("CBNotify")->text(), "&Benachrichtigung bei jedem Anruf");
    EXPECT_TRUE(Find<QLineEdit>("edAgentPath")->isReadOnly());
    EXPECT_FALSE(Find<QLineEdit>("edAgentName")->isReadOnly());
    // Every field is named by its label, for the keyboard and screen readers.
    QStringList labels;
    for (auto* label : form->PageWidget(Page::Desktop)->findChildren<QLabel*>())
        if (label->buddy()) labels << label->text() + "=" + label->buddy()->objectName();
    labels.sort();
    EXPECT_EQ(labels, (QStringList{"Adressbuch-&Ordner:=edContactsPath",
                                   "Stimme &Datei:=edAgentPath", "Stimme &Name:=edAgentName"}));
    EXPECT_EQ(Find<QPushButton>("BtnSelectPath")->accessibleName(), "Stimme auswählen");
    EXPECT_EQ(Find<QPushButton>("BtnSelectContacts")->accessibleName(),
              "Adressbuch-Ordner auswählen");
}

TEST_F(DesktopPageTest, TheWidgetsDriveTheOptions) {
    engine->ShowWindow(Page::Desktop);
    auto* name = Find<QLineEdit>("edAgentName");
    auto* path = Find<QLineEdit>("edAgentPath");
    EXPECT_EQ(path->text(), "/sprache/espeak-ng-data/lang/gmw/de");
    EXPECT_EQ(name->text(), "de");
    EXPECT_EQ(Find<QLineEdit>("edContactsPath")->text(), "/daten/contacts");
    EXPECT_TRUE(Find<QCheckBox>("CBUseOutlook")->isChecked());
    EXPECT_TRUE(Find<QCheckBox>("CBNotify")->isChecked());

    Find<QCheckBox>("CBUseOutlook")->click();
    EXPECT_EQ(AgentValue("UseOutlook"), "0");
    Find<QCheckBox>("CBUseAgent")->click();
    EXPECT_EQ(AgentValue("UseAgent"), "(none)");
    EXPECT_TRUE(engine->UseAgent());

    dialogs.chosenFiles = {std::string("/stimmen/Merlin.acs")};
    Find<QPushButton>("BtnSelectPath")->click();
    EXPECT_EQ(path->text(), "/stimmen/Merlin.acs");
    EXPECT_EQ(name->text(), "Merlin");
    Find<QTabWidget>("PageControl")->setCurrentIndex(static_cast<int>(Page::Info));
    EXPECT_EQ(AgentValue("AgentName"), "Merlin");
    EXPECT_EQ(AgentValue("UseAgent"), "1");

    // An emptied name is repaired when the page is left, the lookup switched on.
    Find<QTabWidget>("PageControl")->setCurrentIndex(static_cast<int>(Page::Desktop));
    name->clear();
    Find<QTabWidget>("PageControl")->setCurrentIndex(static_cast<int>(Page::Protokoll));
    EXPECT_EQ(AgentValue("AgentName"), "de");
    EXPECT_EQ(AgentValue("AgentPath"), "/sprache/espeak-ng-data/lang/gmw/de");
    EXPECT_EQ(AgentValue("UseOutlook"), "1");
    Find<QTabWidget>("PageControl")->setCurrentIndex(static_cast<int>(Page::Desktop));
    EXPECT_EQ(name->text(), "de");
    EXPECT_TRUE(Find<QCheckBox>("CBUseOutlook")->isChecked());
}

TEST_F(DesktopPageTest, StartAtLoginWritesAndRemovesTheAutostartEntry) {
    const std::string entry = dir.File("autostart/tolvar.desktop");
    form->DesktopOptions()->AddAutostartOption(Autostart(entry, "/usr/bin/tolvar", registry));
    engine->ShowWindow(Page::Desktop);
    auto* box = Find<QCheckBox>("cbAutostart");
    ASSERT_EQ(box->parentWidget(), Find<QGroupBox>("gbNotification"));
    EXPECT_EQ(box->text(), "Beim &Anmelden starten");
    EXPECT_FALSE(box->isChecked());
    box->click();
    EXPECT_NE(test::ReadAll(entry).find("Exec=/usr/bin/tolvar --registry"), std::string::npos);
    box->click();
    EXPECT_FALSE(std::filesystem::exists(entry));
}

TEST(ContactWindowTest, ShowsTheWholeCardWithoutWaiting) {
    ContactCard card;
    card.formattedName = "Erika Muster";
    card.organisation = "Muster & Co.";
    card.phones = {{"(030) 1234567", "geschäftlich", "0301234567"}, {"+49 171 555", "mobil", ""}};
    card.emails = {"erika@example.org"};
    const std::string gif =
        QByteArray::fromBase64("R0lGODlhAQABAIAAAAAAAP///yH5BAEAAAAALAAAAAABAAEAAAIBRAA7")
            .toStdString();
    card.photo.assign(gif.begin(), gif.end());
    ContactWindows windows;
    windows.ShowContact(card, "/k/erika.vcf");
    ASSERT_EQ(windows.Open().size(), 1u);
    QWidget* w = windows.Open()[0];
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(w->windowModality(), Qt::NonModal);
    EXPECT_EQ(w->findChild<QLabel*>("lbContactName")->text(), "Erika Muster");
    EXPECT_EQ(w->findChild<QLabel*>("lbContactOrganisation")->text(), "Muster & Co.");
    auto* numbers = w->findChild<QTreeWidget*>("tvContactNumbers");
    EXPECT_EQ(numbers->accessibleName(), "Rufnummern");
    ASSERT_EQ(numbers->topLevelItemCount(), 2);
    EXPECT_EQ(numbers->topLevelItem(0)->text(0), "(030) 1234567");
    EXPECT_EQ(numbers->topLevelItem(0)->text(1), "geschäftlich");
    EXPECT_EQ(numbers->topLevelItem(1)->text(1), "mobil");
    auto* mails = w->findChild<QListWidget*>("lbContactMail");
    EXPECT_EQ(mails->accessibleName(), "E-Mail-Adressen");
    EXPECT_EQ(mails->item(0)->text(), "erika@example.org");
    EXPECT_FALSE(w->findChild<QLabel*>("lbContactPhoto")->pixmap().isNull());
    // A second contact gets a window of its own; closing one frees it.
    card.photo = {'n', 'o'};
    windows.ShowContact(card, "/k/zwei.vcf");
    EXPECT_EQ(windows.Open().size(), 2u);
    EXPECT_EQ(windows.Open()[1]->findChild<QLabel*>("lbContactPhoto"), nullptr);
    w->findChild<QPushButton*>("BtnCloseContact")->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(windows.Open().size(), 1u);
}

// The wave file's samples, if it is one espeak-ng wrote.
std::vector<std::int16_t> Samples(const std::string& path) {
    const std::string bytes = test::ReadAll(path);
    if (bytes.size() < 44 || bytes.compare(0, 4, "RIFF") != 0 || bytes.compare(36, 4, "data") != 0)
        return {};
    std::vector<std::int16_t> s;
    for (std::size_t i = 44; i + 1 < bytes.size(); i += 2)
        s.push_back(static_cast<std::int16_t>(static_cast<std::uint8_t>(bytes[i]) |
                                              static_cast<std::uint8_t>(bytes[i + 1]) << 8));
    return s;
}

TEST(Speech, TheHelperSpeaksIntoAWaveFileAndABadVoiceIsSilent) {
    unsetenv("ESPEAK_DATA_PATH");
    test::TempDir dir;
    const std::string voice = SystemAgentDefaults().voiceFile;
    test::Process good(
        {test::BinDir() + "/tolvar-speak", voice, dir.File("gut.wav"), "Anruf von Mutter"});
    ASSERT_EQ(good.Wait(std::chrono::seconds(20)), 0);
    const auto samples = Samples(dir.File("gut.wav"));
    ASSERT_GT(samples.size(), 11025u);  // more than half a second at 22050 Hz
    double sum = 0;
    for (auto v : samples) sum += static_cast<double>(v) * v;
    EXPECT_GT(std::sqrt(sum / static_cast<double>(samples.size())), 500.0);  // not silence

    // Something that is no voice: the helper fails, no file, nothing said.
    test::WriteAll(dir.File("keine-stimme"), "root:x:0:0:root:/root:/bin/bash\nkaputt\n");
    for (const std::string& bad :
         {dir.File("keine-stimme"), dir.File("fehlt"), dir.Path().string()}) {
        test::Process p({test::BinDir() + "/tolvar-speak", bad, dir.File("schlecht.wav"), "Anruf"});
        const auto code = p.Wait(std::chrono::seconds(20));
        EXPECT_NE(code, std::optional<int>(0)) << bad;
        EXPECT_FALSE(std::filesystem::exists(dir.File("schlecht.wav"))) << bad;
    }
}

TEST(Speech, TheSpeakerRunsTheHelperWithoutBlocking) {
    unsetenv("ESPEAK_DATA_PATH");
    EspeakSpeaker speaker(QString::fromStdString(test::BinDir() + "/tolvar-speak"));
    QString spoken;
    QEventLoop loop;
    speaker.OnSpoken = [&](const QString& wav) {
        spoken = wav;
        loop.quit();
    };
    speaker.Speak("Anruf von Mutter", {SystemAgentDefaults().voiceFile, "de"});
    EXPECT_TRUE(spoken.isEmpty());  // Speak returned before anything was said
    QTimer::singleShot(20000, &loop, &QEventLoop::quit);
    loop.exec();
    EXPECT_EQ(spoken, speaker.WavPath());
    EXPECT_FALSE(Samples(spoken.toStdString()).empty());
}

// What the helper prints (the sound libraries' complaints) never reaches the
// terminal the program was started from.
TEST(Speech, TheHelpersNoiseStaysOutOfTheTerminal) {
    test::TempDir dir;
    const std::string helper = dir.File("laut");
    test::WriteAll(helper,
                   "#!/bin/sh\necho 'ALSA lib pcm.c:2666:(snd_pcm_open_noupdate) Unknown PCM' >&2\n"
                   "echo 'auf stdout'\nprintf RIFF > \"$2\"\n");
    std::filesystem::permissions(helper, std::filesystem::perms::owner_all);
    // The test's own stderr and stdout stand for the terminal.
    std::fflush(stdout);
    std::fflush(stderr);
    const int savedOut = dup(1);
    const int savedErr = dup(2);
    const int terminal = open(dir.File("terminal.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(terminal, 1);
    dup2(terminal, 2);
    bool spoken = false;
    {
        EspeakSpeaker speaker(QString::fromStdString(helper));
        QEventLoop loop;
        speaker.OnSpoken = [&](const QString&) {
            spoken = true;
            loop.quit();
        };
        speaker.Speak("Anruf von Mutter", {"/stimme", "de"});
        QTimer::singleShot(20000, &loop, &QEventLoop::quit);
        loop.exec();
    }
    std::fflush(stdout);
    std::fflush(stderr);
    dup2(savedOut, 1);
    dup2(savedErr, 2);
    close(savedOut);
    close(savedErr);
    close(terminal);
    EXPECT_TRUE(spoken);
    EXPECT_EQ(test::ReadAll(dir.File("terminal.txt")), "");
}

}  // namespace
}  // namespace tolvar
