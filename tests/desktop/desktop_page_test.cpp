// The page "Desktop", the contact window and the spoken announcement on the
// real widgets, headless.

#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <fcntl.h>
#include <unistd.h>
#include <QApplication>
#include <QCheckBox>
#include <QEventLoop>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTextDocument>
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
    EXPECT_EQ(labels, (QStringList{"&Kennwort:=edMqttPassword", "&Port:=edMqttPort",
                                   "Adressbuch-&Ordner:=edContactsPath", "Ben&utzer:=edMqttUser",
                                   "Bro&ker:=edMqttHost", "Controller:=edController",
                                   "Stimme &Datei:=edAgentPath", "Stimme &Name:=edAgentName",
                                   "T&hema:=edMqttTopic"}));
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

TEST(ContactWindowTest, CardTextIsShownAsItStands) {
    // Taken for markup, these would load a local picture into the window.
    test::TempDir dir;
    QImage big(300, 300, QImage::Format_RGB32);
    big.fill(Qt::red);
    const std::string png = dir.File("gross.png");
    ASSERT_TRUE(big.save(QString::fromStdString(png)));
    const std::string img = "<img src=\"" + png + "\">";
    const std::string fileName = "<img src=gross.png width=300 height=300>.vcf";
    const std::string file = dir.File(fileName);
    ContactCard card;
    card.formattedName = img;
    card.organisation = "<b>Muster</b> & Co. " + img;
    ContactWindows windows;
    windows.ShowContact(card, file);
    QWidget* w = windows.Open()[0];
    const int line = w->fontMetrics().height() * 3;
    for (const char* name : {"lbContactName", "lbContactOrganisation", "lbContactFile"}) {
        SCOPED_TRACE(name);
        auto* label = w->findChild<QLabel*>(name);
        ASSERT_TRUE(label);
        EXPECT_LT(label->sizeHint().height(), line);  // one line of text, no picture
    }
    EXPECT_EQ(w->findChild<QLabel*>("lbContactName")->text().toStdString(), img);
    EXPECT_EQ(w->findChild<QLabel*>("lbContactFile")->text().toStdString(), fileName);
    // The tooltip shows the whole path, as a tooltip reads its text.
    const QString tip = w->findChild<QLabel*>("lbContactFile")->toolTip();
    QTextDocument shown;
    if (Qt::mightBeRichText(tip))
        shown.setHtml(tip);
    else
        shown.setPlainText(tip);
    EXPECT_EQ(shown.toPlainText().toStdString(), file);
    EXPECT_EQ(w->windowTitle().toStdString(), img + " - Kontakt");
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

// Whether the wave file holds speech: more than half a second at 22050 Hz,
// and not silence.
bool Spoken(const std::string& path) {
    const auto samples = Samples(path);
    if (samples.size() <= 11025u) return false;
    double sum = 0;
    for (auto v : samples) sum += static_cast<double>(v) * v;
    return std::sqrt(sum / static_cast<double>(samples.size())) > 500.0;
}

TEST(Speech, TheHelperSpeaksWithAnyVoicePathAndABadVoiceIsSilent) {
    unsetenv("ESPEAK_DATA_PATH");
    test::TempDir dir;
    const std::string voice = SystemAgentDefaults().voiceFile;
    const auto copy = [&](const std::string& name) {
        const auto path = dir.Path() / name;
        std::filesystem::create_directories(path.parent_path());
        std::filesystem::copy_file(voice, path);
        return path.string();
    };
    test::WriteAll(dir.File("keine-stimme"), "root:x:0:0:root:/root:/bin/bash\nkaputt\n");
    const struct {
        std::string file, name;
        bool speaks;
    } cases[] = {
        {voice, "de", true},
        // Chosen with "...": capitals, a "+", a path longer than 60 bytes.
        {copy("Stimmen/Deutsch"), "Deutsch", true},
        {copy("stimme+frau"), "stimme+frau", true},
        {copy("eine/recht/lange/ordnerkette/fuer/die/stimme/des/anrufers/de"), "de", true},
        // No file: the engine's voice of that name.
        {"", "de", true},
        {"", "", false},
        // Something that is no voice: the helper fails, no file, nothing said.
        {dir.File("keine-stimme"), "de", false},
        {dir.File("fehlt"), "de", false},
        {dir.Path().string(), "de", false},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file + " / " + c.name);
        const std::string wav = dir.File("ansage" + std::to_string(n++) + ".wav");
        test::Process p(
            {test::BinDir() + "/tolvar-speak", c.file, c.name, wav, "Anruf von Mutter"});
        const auto code = p.Wait(std::chrono::seconds(20));
        EXPECT_EQ(code == std::optional<int>(0), c.speaks);
        EXPECT_EQ(Spoken(wav), c.speaks);
        EXPECT_EQ(std::filesystem::exists(wav), c.speaks);
    }
    // Only the wave files are left: no half-written ones beside them.
    std::size_t left = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.Path()))
        left += e.path().filename().string().find(".wav") != std::string::npos;
    EXPECT_EQ(left, 5u);
}

TEST(Speech, WithoutARuntimeFolderTheWaveFileIsPrivate) {
    unsetenv("ESPEAK_DATA_PATH");
    test::TempDir dir;
    const char* oldTmp = std::getenv("TMPDIR");
    const std::string savedTmp = oldTmp ? oldTmp : "";
    const char* oldRuntime = std::getenv("XDG_RUNTIME_DIR");
    const std::string savedRuntime = oldRuntime ? oldRuntime : "";
    setenv("TMPDIR", dir.Path().c_str(), 1);
    unsetenv("XDG_RUNTIME_DIR");
    // What Qt would make the runtime folder is taken by a file.
    test::WriteAll(dir.File(std::string("runtime-") + getpwuid(geteuid())->pw_name), "");
    ASSERT_TRUE(QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation).isEmpty());
    // Links planted where a fixed name in the shared folder would be written.
    test::WriteAll(dir.File("opfer"), "wertvoll");
    const std::string fixed =
        dir.File("tolvar-announce-" + std::to_string(QCoreApplication::applicationPid()) + ".wav");
    std::filesystem::create_symlink(dir.File("opfer"), fixed);
    std::filesystem::create_symlink(dir.File("opfer"), fixed + ".part");
    {
        EspeakSpeaker speaker(QString::fromStdString(test::BinDir() + "/tolvar-speak"));
        const std::filesystem::path wav = speaker.WavPath().toStdString();
        EXPECT_NE(wav.parent_path(), dir.Path());
        EXPECT_EQ(std::filesystem::status(wav.parent_path()).permissions(),
                  std::filesystem::perms::owner_all);
        QEventLoop loop;
        speaker.OnSpoken = [&](const QString&) { loop.quit(); };
        speaker.Speak("Anruf von Mutter", {SystemAgentDefaults().voiceFile, "de"});
        QTimer::singleShot(20000, &loop, &QEventLoop::quit);
        loop.exec();
        EXPECT_TRUE(Spoken(wav.string()));
    }
    EXPECT_EQ(test::ReadAll(dir.File("opfer")), "wertvoll");
    if (oldTmp)
        setenv("TMPDIR", savedTmp.c_str(), 1);
    else
        unsetenv("TMPDIR");
    if (oldRuntime) setenv("XDG_RUNTIME_DIR", savedRuntime.c_str(), 1);
}

TEST(Speech, TheHelperIsFoundInstalledOrInTheBuildTree) {
    test::TempDir dir;
    const auto program = [&](const std::string& name) {
        const auto path = dir.Path() / name;
        std::filesystem::create_directories(path.parent_path());
        test::WriteAll(path, "#!/bin/sh\n");
        std::filesystem::permissions(path, std::filesystem::perms::owner_all);
        return QString::fromStdString(path.string());
    };
    const QString installed = program("usr/libexec/tolvar/tolvar-speak");
    std::filesystem::create_directories(dir.Path() / "usr/bin");
    EXPECT_EQ(EspeakSpeaker::FindHelper(QString::fromStdString(dir.File("usr/bin"))), installed);
    const QString built = program("build/bin/tolvar-speak");
    EXPECT_EQ(EspeakSpeaker::FindHelper(QString::fromStdString(dir.File("build/bin"))), built);
    // Neither: the installed place, where starting it fails and nothing is said.
    std::filesystem::create_directories(dir.Path() / "opt/bin");
    EXPECT_EQ(EspeakSpeaker::FindHelper(QString::fromStdString(dir.File("opt/bin"))),
              QString::fromStdString(dir.File("opt/libexec/tolvar/tolvar-speak")));
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
