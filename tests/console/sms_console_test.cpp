// The console's SMS commands: fields filled as typing fills them, the button
// pressed, and every message box as a "box:" line.

#include <gtest/gtest.h>

#include <sstream>

#include "console/console_front_end.h"
#include "core/virtual_time.h"
#include "engine/engine.h"
#include "support/fake_capi.h"
#include "support/files.h"
#include "support/test_host.h"

namespace tolvar {
namespace {

class SmsConsole : public ::testing::Test {
  protected:
    void SetUp() override {
        test::WriteAll(dir.File("registry.reg"),
                       "Windows Registry Editor Version 5.00\n\n"
                       "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\SMS\\Prefix]\n"
                       "\"0171\"=\"Netz\"\n\n"
                       "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\SMS\\Provider\\Netz]\n"
                       "\"Phone\"=\"0190\"\n\"XlateTable\"=hex:00,01,02,03,04,05,06,07,08,09,0a,"
                       "0b,0c,0d,0e,0f,10,11,12,13,14,15,16,17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,"
                       "23,24,25,26,27,28,29,2a,2b,2c,2d,2e,2f,30,31,32,33,34,35,36,37,38,39,3a,"
                       "3b,3c,3d,3e,3f,40,41,42,43,44,45,46,47,48,49,4a,4b,4c,4d,4e,4f,50,51,52,"
                       "53,54,55,56,57,58,59,5a,5b,5c,5d,5e,5f,60,61,62,63,64,65,66,67,68,69,6a,"
                       "6b,6c,6d,6e,6f,70,71,72,73,74,75,76,77,78,79,7a\n\n");
        engine = std::make_unique<Engine>(EngineHost{.capi = capi,
                                                     .clock = time,
                                                     .timers = time,
                                                     .io = io,
                                                     .ui = ui,
                                                     .dialogs = ui,
                                                     .devices = devices.All(),
                                                     .registryPath = dir.File("registry.reg"),
                                                     .post = [](std::function<void()> fn) { fn(); },
                                                     .eventLogPath = dir.File("Tolvar.txt")});
        engine->FormCreate();
    }
    void TearDown() override { engine.reset(); }
    std::string Run(const std::string& command) {
        out.str("");
        ExecuteConsoleCommand(*engine, command, out);
        return out.str();
    }

    test::TempDir dir;
    std::ostringstream out;
    ConsoleFrontEnd ui{out, [] {}};
    ConsoleDevices devices{ui, [](const std::string&) { return true; }};
    test::FakeCapi capi;
    VirtualTime time;
    test::FakeIo io{capi, time};
    std::unique_ptr<Engine> engine;
};

TEST_F(SmsConsole, FieldsFilledAsTypingFillsThem) {
    EXPECT_EQ(Run("sms-to 0171/234.56,7 Anna"), "");
    EXPECT_EQ(ui.ControlText(Control::cbSMSReceiver), "0171234567 Anna");
    EXPECT_EQ(Run("sms-text Grüße\taus Berlin"), "");
    EXPECT_EQ(ui.ControlText(Control::MemoSMS), "Grüßeaus Berlin");
    const std::string longest(159, 'x');
    EXPECT_EQ(Run("sms-text " + longest + "ü"), "");
    EXPECT_EQ(Run("sms-text " + longest + "üx"),
              "error: the message field holds at most 160 characters\n");
    EXPECT_EQ(ui.ControlText(Control::MemoSMS), longest + "ü");
}

TEST_F(SmsConsole, EachMessageBoxIsALine) {
    Run("sms-to 0171");
    EXPECT_EQ(Run("sms-send"), "box: Keine SMS Nachricht angegeben\n");
    Run("sms-text x");
    Run("sms-to x0171");
    EXPECT_EQ(Run("sms-send"),
              "box: Das Eingabeformat für den Empfänger muß \"Telefonnummer + [ Text]\" "
              "sein.\\r\\rBeispiel:  017812345  Mutter\n");
    Run("sms-to 0999");
    EXPECT_EQ(Run("sms-send"),
              "box: Keinen Provider für Teilnehmer \"0999\" gefunden !\\r\\rBitte tragen Sie den "
              "Provider für diesen Teilnehmer in die Registrierung "
              "ein:\\r\\\\HKEY_CURRENT_USER\\\\Software\\Brenwick\\Tolvar\\SMS\n");
    Run("sms-to 0171");
    EXPECT_EQ(Run("sms-send"), "sms-clear: \n");
    EXPECT_EQ(Run("sms-send now"), "error: sms-send takes no argument\n");
}

TEST_F(SmsConsole, ButtonDisabledWhileAnAutomaticSmsGoesOut) {
    engine->SMS().PrepareSMSJob("0171 Anna", "Tolvar: Anruf von 030");
    engine->SMS().StartAutomaticSMS();
    Run("sms-to 0171");
    Run("sms-text x");
    EXPECT_EQ(Run("sms-send"), "error: \"SMS senden\" is disabled while an SMS goes out\n");
}

}  // namespace
}  // namespace tolvar
