// The group "MQTT" on the page "Desktop", on the real window and a real
// broker: its texts, the masked password, the settings it stores, and the
// link's state in words.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QTabWidget>
#include <chrono>
#include <thread>

#include "app/main_form.h"
#include "engine/engine.h"
#include "registry/registry.h"
#include "support/broker.h"
#include "support/fake_capi.h"
#include "support/files.h"
#include "support/test_host.h"
#include "support/window_host.h"

namespace tolvar {
namespace {

class MqttGroupTest : public ::testing::Test, public test::WindowHost {
  protected:
    // Runs what the link thread posted until the state label shows text.
    bool StateBecomes(const QString& text) {
        for (int i = 0; i < 250; ++i) {
            RunPosted();
            if (Find<QLabel>("lbMqttState")->text() == text) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }
    std::string Value(const char* name) {
        Registry reg(registry);
        auto key = reg.OpenKey("\\Software\\Brenwick\\Tolvar\\MQTT", false);
        if (!key || !key->ValueExists(name)) return "(none)";
        try {
            return key->ReadString(name);
        } catch (const RegistryError&) {
            return std::to_string(key->ReadInteger(name));
        }
    }
};

TEST_F(MqttGroupTest, SwitchedOnItStoresTheSettingsPrivatelyAndShowsTheLink) {
    test::Broker broker(dir.File("broker"));
    Start("[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar]\n\"ShowISDNTab\"=dword:00000000\n\n");
    chmod(registry.c_str(), 0644);
    engine->ShowWindow(Page::Desktop);
    EXPECT_EQ(Find<QGroupBox>("gbMqtt")->title(), "MQTT");
    auto* enabled = Find<QCheckBox>("cbMqttEnabled");
    EXPECT_EQ(enabled->text(), "An MQTT-Broker &senden");
    EXPECT_FALSE(enabled->isChecked());
    EXPECT_EQ(Find<QLineEdit>("edMqttHost")->text(), "localhost");
    EXPECT_EQ(Find<QLineEdit>("edMqttPort")->text(), "1883");
    EXPECT_EQ(Find<QLineEdit>("edMqttTopic")->text(), "tolvar");
    EXPECT_EQ(Find<QLineEdit>("edMqttPassword")->echoMode(), QLineEdit::Password);
    EXPECT_EQ(Find<QLabel>("lbMqttState")->text(), "");
    // Off by default, and nothing is written for it.
    EXPECT_EQ(Value("Enabled"), "(none)");

    Find<QLineEdit>("edMqttHost")->setText("127.0.0.1");
    Find<QLineEdit>("edMqttPort")->setText(QString::number(broker.Port()));
    Find<QLineEdit>("edMqttUser")->setText("anna");
    Find<QLineEdit>("edMqttPassword")->setText("geheim");
    Find<QLineEdit>("edMqttTopic")->setText("haus/tolvar");
    enabled->click();
    EXPECT_EQ(Value("Enabled"), "1");
    EXPECT_EQ(Value("Host"), "127.0.0.1");
    EXPECT_EQ(Value("Port"), std::to_string(broker.Port()));
    EXPECT_EQ(Value("Password"), "geheim");
    EXPECT_EQ(Value("Topic"), "haus/tolvar");
    EXPECT_EQ(Value("Discovery"), "1");
    struct stat st {};
    ASSERT_EQ(stat(registry.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_TRUE(StateBecomes("verbunden"));

    broker.Stop();
    EXPECT_TRUE(StateBecomes("keine Verbindung: Verbindung verloren"))
        << Find<QLabel>("lbMqttState")->text().toStdString();
    // Without the password the file stays as private as it was.
    Find<QLineEdit>("edMqttPassword")->setText("");
    Find<QTabWidget>("PageControl")->setCurrentIndex(static_cast<int>(Page::Info));
    EXPECT_EQ(Value("Password"), "");
    ASSERT_EQ(stat(registry.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    // Switched off: no link, no words.
    engine->ShowWindow(Page::Desktop);
    enabled->click();
    EXPECT_EQ(Value("Enabled"), "0");
    EXPECT_EQ(Find<QLabel>("lbMqttState")->text(), "");
}

}  // namespace
}  // namespace tolvar
