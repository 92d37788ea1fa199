// The SMS data call through the engine on a fake CAPI and virtual time: the
// page's checks, the call's messages in order, the chunks, the timers that
// guard it, the automatic SMS of a missed call, and the trace list.

#include <gtest/gtest.h>

#include "calls/call_message.h"
#include "sms/ucp.h"
#include "support/test_host.h"

namespace tolvar {
namespace {

using test::Message;
using test::U16;
using test::U32;

constexpr const char* kHeader = "Windows Registry Editor Version 5.00\n\n";
constexpr const char* kCentre = "01712521002";

std::string Providers(const std::string& protocol = "UCP") {
    std::string table = "\"XlateTable\"=hex:00";
    for (int i = 1; i < 256; ++i) table += "," + Hex(static_cast<std::uint32_t>(i), 2);
    return "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\SMS\\Prefix]\n\"0171\"=\"Netz\"\n\n"
           "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\SMS\\Provider\\Netz]\n"
           "\"Phone\"=\"" +
           std::string(kCentre) + "\"\n\"Protocol\"=\"" + protocol + "\"\n" + table + "\n\n";
}

// Providers for 0172 without a table and for 0173 with one that leaves out every byte.
std::string ProvidersWithoutUsableTable() {
    std::string zeros = "\"XlateTable\"=hex:00";
    for (int i = 1; i < 256; ++i) zeros += ",00";
    return "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\SMS\\Prefix]\n\"0172\"=\"Ohne\"\n"
           "\"0173\"=\"Leer\"\n\n"
           "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\SMS\\Provider\\Ohne]\n"
           "\"Phone\"=\"01722521002\"\n\n"
           "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\SMS\\Provider\\Leer]\n"
           "\"Phone\"=\"01732521002\"\n" +
           zeros + "\n\n";
}

std::vector<std::uint8_t> With(std::vector<std::uint8_t> a, const std::vector<std::uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class SmsCall : public ::testing::Test {
  protected:
    static constexpr std::uint32_t kPlci = 0x0201;
    static constexpr std::uint32_t kNcci = 0x10201;

    void Start(const std::string& keys = Providers()) {
        host.WriteHive(kHeader + keys);
        host.eventLogPath = (host.dir / "Tolvar.txt").string();
        host.Start();
        mark = host.capi.puts.size();
    }
    Sms& sms() { return host.engine->SMS(); }
    void Type(const std::string& receiver, const std::string& text) {
        host.ui.texts[Control::cbSMSReceiver] = receiver;
        host.ui.texts[Control::MemoSMS] = text;
    }
    // What the program put since the last look: name and parameters in
    // hexadecimal; a DATA_B3_REQ with its data as text.
    std::vector<std::string> Puts() {
        std::vector<std::string> out;
        for (; mark < host.capi.puts.size(); ++mark) {
            const auto& p = host.capi.puts[mark];
            std::string line = TraceName(p.CommandWord());
            if (p.CommandWord() == cmd::DATA_B3_REQ)
                line += " " + std::string(p.data.begin(), p.data.end());
            else
                line += " " + test::HexBytes({p.message.begin() + 6, p.message.end()});
            out.push_back(line);
        }
        return out;
    }
    std::vector<std::string> Trace() { return host.ui.status[StatusList::SmsTrace]; }
    bool Usable() {
        return host.ui.enabledState[Control::PageControl] &&
               host.ui.enabledState[Control::BtnSendSMS];
    }

    void Receive(std::uint16_t command, std::uint16_t number, std::vector<std::uint8_t> params,
                 std::vector<std::uint8_t> data = {}) {
        host.Receive(Message(command, number, std::move(params)), std::move(data));
    }
    void ConnectConf(std::uint16_t kind, std::uint16_t info = 0, std::uint32_t plci = kPlci) {
        Receive(cmd::CONNECT_CONF, kind, With(U32(plci), U16(info)));
    }
    void DisconnectInd(std::uint16_t reason, std::uint32_t plci = kPlci) {
        host.Receive(test::DisconnectInd(plci, reason));
    }
    void DataB3Ind(const std::string& data) {
        Receive(cmd::DATA_B3_IND, 5, With(U32(kNcci), {0, 0, 0, 0, 0, 0, 0x21, 0, 0, 0}),
                {data.begin(), data.end()});
    }
    void DataB3Conf() { Receive(cmd::DATA_B3_CONF, 0, With(U32(kNcci), {0xCD, 0xAB, 0, 0})); }
    // Dialled (kind 7 or 6) up to the B3 link; what was put is dropped.
    void BringUp(std::uint16_t kind = 7) {
        ConnectConf(kind);
        host.Receive(test::ConnectActiveInd(kPlci));
        Receive(cmd::CONNECT_B3_CONF, 0, With(U32(kNcci), U16(0)));
        Receive(cmd::CONNECT_B3_ACTIVE_IND, 4, With(U32(kNcci), {0}));
        Puts();
    }
    // Confirms every chunk; all the data that went out.
    std::string Drain() {
        std::string all;
        for (int guard = 0; guard < 100; ++guard) {
            const auto puts = Puts();
            if (puts.empty()) break;
            for (const auto& p : puts) all += p.substr(std::string("DATA_B3_REQ ").size());
            DataB3Conf();
        }
        return all;
    }

    test::TestHost host;
    std::size_t mark = 0;
};

TEST_F(SmsCall, PageSendFromDialToEnd) {
    Start();
    Type("0171234567 Anna", "Hallo\nWelt");
    sms().BtnSendSMSClick();
    // CONNECT_REQ #7: controller 1, CIP 2, the centre's digits, no own number, nothing else.
    EXPECT_EQ(Puts(), (std::vector<std::string>{
                          "CONNECT_REQ 07 00 01 00 00 00 02 00 0C 80 30 31 37 31 32 35 32 31 30 "
                          "30 32 02 00 80 00 00 00 00 00 00 00"}));
    EXPECT_EQ(host.ui.events.back(), "sms-clear: ");
    ConnectConf(7);
    EXPECT_TRUE(host.ui.busy);
    // Another receiver typed meanwhile is not what gets remembered.
    host.ui.texts[Control::cbSMSReceiver] = "0999";
    host.Receive(test::ConnectActiveInd(kPlci));
    EXPECT_EQ(Puts(), (std::vector<std::string>{"CONNECT_ACTIVE_RESP 03 00 01 02 00 00",
                                                "CONNECT_B3_REQ 00 00 01 02 00 00 00"}));
    Receive(cmd::CONNECT_B3_CONF, 0, With(U32(kNcci), U16(0)));
    Receive(cmd::CONNECT_B3_ACTIVE_IND, 4, With(U32(kNcci), {0}));
    EXPECT_EQ(Puts(), (std::vector<std::string>{"CONNECT_B3_ACTIVE_RESP 04 00 01 02 01 00"}));
    host.time.Advance(199);
    EXPECT_TRUE(Puts().empty());
    host.time.Advance(1);
    EXPECT_EQ(Drain(), BuildUcpFrame("0171234567", "0", "Hallo Welt"));
    DataB3Ind(
        "\x02"
        "01/00045/R/51/A//0171234567:071226113927/1C\x03");
    EXPECT_EQ(Puts(), (std::vector<std::string>{"DATA_B3_RESP 00 00 01 02 01 00 21 00"}));
    host.time.Advance(200);
    EXPECT_EQ(Puts(), (std::vector<std::string>{"DISCONNECT_B3_REQ 00 00 01 02 01 00 00"}));
    EXPECT_NE(host.ReadHive().find("SMS\\Subscriber]\n\"0171234567 Anna\"=\"\""),
              std::string::npos);
    Receive(cmd::DISCONNECT_B3_IND, 6, With(U32(kNcci), {0, 0, 0}));
    EXPECT_EQ(Puts(), (std::vector<std::string>{"DISCONNECT_B3_RESP 06 00 01 02 01 00",
                                                "DISCONNECT_REQ 00 00 01 02 00 00 00"}));
    EXPECT_FALSE(sms().ProtocolTaskState().Enabled());
    DisconnectInd(reason::kNormalClearing);
    EXPECT_EQ(Trace(), (std::vector<std::string>{"Wähle SMS Center 01712521002...", "Verbunden.",
                                                 "0171234567:071226113927",
                                                 "Nachricht erfolgreich verschickt.", "beendet."}));
    EXPECT_FALSE(host.ui.busy);
    EXPECT_TRUE(Usable());
    EXPECT_EQ(host.engine->ConnectionList().Count(), 0u);
}

TEST_F(SmsCall, FrameOf95BytesGoesInTenByteChunksEachAfterItsConfirmation) {
    Start();
    Type("017123", std::string(18, 'x'));  // 59 + 2 * 18 = 95 bytes
    sms().BtnSendSMSClick();
    BringUp();
    host.time.Advance(200);
    std::vector<std::size_t> sizes;
    std::string all;
    for (int i = 0; i < 12; ++i) {
        const auto puts = Puts();
        ASSERT_LE(puts.size(), 1u) << "a chunk went before the last one was confirmed";
        if (puts.empty()) break;
        sizes.push_back(puts[0].size() - 12);
        all += puts[0].substr(12);
        DataB3Conf();
    }
    EXPECT_EQ(sizes, (std::vector<std::size_t>{10, 10, 10, 10, 10, 10, 10, 10, 10, 5}));
    EXPECT_EQ(all, BuildUcpFrame("017123", "0", std::string(18, 'x')));
}

TEST_F(SmsCall, BytesQueuedWhileAChunkIsUnconfirmedFollowIt) {
    Start();
    Type("0171", "x");
    sms().BtnSendSMSClick();
    BringUp();
    sms().SendB3Data(kNcci, "0123456789AB");
    sms().SendB3Data(kNcci, "XY");
    EXPECT_EQ(Puts(), (std::vector<std::string>{"DATA_B3_REQ 0123456789"}));
    DataB3Conf();
    EXPECT_EQ(Puts(), (std::vector<std::string>{"DATA_B3_REQ ABXY"}));
    DataB3Conf();
    EXPECT_TRUE(Puts().empty());
}

TEST_F(SmsCall, SettingsThatCannotBeWrittenDoNotStopTheDialogue) {
    Start();
    Type("0171234567 Anna", "x");
    sms().BtnSendSMSClick();
    BringUp();
    host.time.Advance(200);
    Drain();
    DataB3Ind(
        "\x02"
        "01/00020/R/51/A//ok/00\x03");
    Puts();
    {
        test::DiskFull full;
        host.time.Advance(200);
    }
    EXPECT_EQ(Puts(), (std::vector<std::string>{"DISCONNECT_B3_REQ 00 00 01 02 01 00 00"}));
    EXPECT_EQ(host.ui.errors.size(), 1u);
    EXPECT_EQ(Trace().back(), "Nachricht erfolgreich verschickt.");
}

TEST_F(SmsCall, EndOfThePageCallByReason) {
    Start();
    const std::pair<std::uint16_t, const char*> cases[] = {
        {reason::kNone, "beendet."},
        {reason::kNormalClearing, "beendet."},
        {reason::kUserBusy, "SMS Center besetzt."},
        {reason::kNoChannel, "SMS Center besetzt."},
        {0x3481, "beendet. Reason : 0x3481"},
        {0x34D8, "beendet. Reason : 0x34D8"},
    };
    for (const auto& [why, line] : cases) {
        SCOPED_TRACE(line);
        Type("0171", "x");
        sms().BtnSendSMSClick();
        ConnectConf(7);
        DisconnectInd(why);
        EXPECT_EQ(Trace(), (std::vector<std::string>{"Wähle SMS Center 01712521002...", line}));
        EXPECT_FALSE(host.ui.busy);
        EXPECT_TRUE(Usable());
        EXPECT_FALSE(sms().WatchDogState().Enabled());
    }
    // A refused CONNECT_REQ: page and cursor back, a line, no record.
    sms().BtnSendSMSClick();
    ConnectConf(7, 0x2002);
    EXPECT_EQ(Trace(), std::vector<std::string>{"Fehler. Kann SMS Center nicht anwählen."});
    EXPECT_TRUE(Usable());
    EXPECT_FALSE(host.ui.busy);
    EXPECT_EQ(host.engine->ConnectionList().Count(), 0u);
}

TEST_F(SmsCall, PageChecksBeforeItDials) {
    Start(Providers() + ProvidersWithoutUsableTable());
    struct Case {
        const char* receiver;
        const char* memo;
        std::string box;
        Control focus;
    };
    const Case refused[] = {
        {"0171", "", "Keine SMS Nachricht angegeben", Control::MemoSMS},
        {"+49171", "x", kSmsReceiverFormatWarning, Control::cbSMSReceiver},
        {" 0171", "x", kSmsReceiverFormatWarning, Control::cbSMSReceiver},
        {"0171a Anna", "x", kSmsReceiverFormatWarning, Control::cbSMSReceiver},
        {"", "x", kSmsReceiverFormatWarning, Control::cbSMSReceiver},
        {"0999 Otto", "x", NoProviderMessage("0999"), Control::PageControl},
        // The centre would get an empty text and accept it.
        {"0172345 Pager", "x",
         "Keine Zeichentabelle \"XlateTable\" für Provider \"Ohne\" gefunden !\r\rBitte tragen "
         "Sie die Zeichentabelle für diesen Provider in die Registrierung "
         "ein:\r\\\\HKEY_CURRENT_USER\\\\Software\\Brenwick\\Tolvar\\SMS\\Provider\\Ohne",
         Control::PageControl},
        {"0173456", "x",
         "Die Zeichentabelle \"XlateTable\" des Providers \"Leer\" lässt alle Zeichen der "
         "Nachricht weg !\r\rBitte tragen Sie die Zeichentabelle für diesen Provider in die "
         "Registrierung "
         "ein:\r\\\\HKEY_CURRENT_USER\\\\Software\\Brenwick\\Tolvar\\SMS\\Provider\\Leer",
         Control::PageControl},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.receiver);
        host.ui.focused.reset();
        Type(c.receiver, c.memo);
        sms().BtnSendSMSClick();
        EXPECT_EQ(host.ui.Boxes().back(), c.box);
        if (c.focus != Control::PageControl) {
            EXPECT_EQ(host.ui.focused, c.focus);
        }
        EXPECT_EQ(sms().Job().SMSReceiver, "");
        EXPECT_TRUE(Puts().empty());
    }
    // Digits alone are a receiver; 160 characters are a message.
    Type("0171", std::string(160, 'a'));
    sms().BtnSendSMSClick();
    EXPECT_EQ(Puts().size(), 1u);
    EXPECT_EQ(sms().Job().SMSText.size(), 160u);
    EXPECT_EQ(host.ui.Boxes().size(), std::size(refused));
}

TEST_F(SmsCall, WatchDogGivesUpACallThatDoesNotComeUp) {
    Start();
    Type("0171", "x");
    // Still ringing after 20 s: the call is cleared as a whole.
    sms().BtnSendSMSClick();
    ConnectConf(7);
    Puts();
    host.time.Advance(19999);
    EXPECT_TRUE(Puts().empty());
    host.time.Advance(1);
    EXPECT_EQ(Puts(), (std::vector<std::string>{"DISCONNECT_REQ 00 00 01 02 00 00 00"}));
    EXPECT_TRUE(Usable());
    DisconnectInd(reason::kNormalClearing);
    // Connected, B3 link confirmed but not active: the B3 link is ended.
    sms().BtnSendSMSClick();
    ConnectConf(7);
    host.Receive(test::ConnectActiveInd(kPlci));
    Receive(cmd::CONNECT_B3_CONF, 0, With(U32(kNcci), U16(0)));
    Puts();
    host.time.Advance(20000);
    EXPECT_EQ(Puts(), (std::vector<std::string>{"DISCONNECT_B3_REQ 00 00 01 02 01 00 00"}));
    DisconnectInd(reason::kNormalClearing);
    // Another call's end leaves it running; after a refused B3 link there is
    // no link to end, and the call is cleared as a whole.
    sms().BtnSendSMSClick();
    ConnectConf(7);
    DisconnectInd(reason::kNormalClearing, 0x0999);
    host.Receive(test::ConnectActiveInd(kPlci));
    Receive(cmd::CONNECT_B3_CONF, 0, With(U32(kNcci), U16(0x2001)));
    Puts();
    host.time.Advance(20000);
    EXPECT_EQ(Puts(), (std::vector<std::string>{"DISCONNECT_REQ 00 00 01 02 00 00 00"}));
    DisconnectInd(reason::kNormalClearing);
    // Its own call's end stops it.
    sms().BtnSendSMSClick();
    ConnectConf(7);
    DisconnectInd(reason::kUserBusy);
    Puts();
    host.time.Advance(30000);
    EXPECT_TRUE(Puts().empty());
    // A record dropped from a full list: nothing to give up.
    sms().BtnSendSMSClick();
    ConnectConf(7, 0, 0x0301);
    for (std::uint32_t i = 0; i < Connections::kMaxRecords; ++i) {
        TConnection other;
        other.PLCI = 0x1000 + i;
        host.engine->ConnectionList().Add(other);
    }
    Puts();
    host.time.Advance(20000);
    EXPECT_TRUE(Puts().empty());
}

TEST_F(SmsCall, LostLinkEndsTheDialogueTick) {
    Start();
    Type("0171", "x");
    sms().BtnSendSMSClick();
    BringUp();
    EXPECT_TRUE(sms().ProtocolTaskState().Enabled());
    host.engine->Router().EndAllCalls(reason::kLinkLost);
    EXPECT_FALSE(sms().ProtocolTaskState().Enabled());
    EXPECT_EQ(Trace().back(), "beendet. Reason : 0x3301");
}

TEST_F(SmsCall, ResultForAGoneCallRemembersNothing) {
    Start();
    sms().ReportSMSResult(0x4711, true, "Nachricht erfolgreich verschickt.");
    EXPECT_EQ(Trace(), (std::vector<std::string>{"Nachricht erfolgreich verschickt."}));
    EXPECT_EQ(host.ReadHive().find("SMS\\Subscriber]\n\""), std::string::npos);
}

TEST_F(SmsCall, TapWakeUpFollowsTheSystemTickAcrossItsWrap) {
    host.time.SetTickBase(0xFFFFFF00u);
    Start(Providers("TAP"));
    Type("0171", "x");
    sms().BtnSendSMSClick();
    BringUp();
    host.time.Advance(200);  // tick 0xFFFFFFC8 + ...: the first CR at the first step
    EXPECT_EQ(Puts(), (std::vector<std::string>{"DATA_B3_REQ \r"}));
    DataB3Conf();
    host.time.Advance(1000);
    EXPECT_TRUE(Puts().empty());
    host.time.Advance(200);
    EXPECT_EQ(Puts(), (std::vector<std::string>{"DATA_B3_REQ \r"}));
}

// A missed call whose rule says "SMS an".
class AutomaticSms : public SmsCall {
  protected:
    void SetUp() override {
        Start(Providers() +
              "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\MSN\\5551234\\0301234 "
              "Mutter\\00:00]\n\"Action\"=dword:00000004\n\"Param\"=\"0171234567 Handy\"\n\n");
    }
    void MissedCall(std::uint16_t why = reason::kNormalClearing) {
        test::CallSetup call;
        call.caller = "301234";
        call.plci = 0x0101;
        host.Receive(test::ConnectInd(call));
        DisconnectInd(why, 0x0101);
    }
    std::size_t Dials() {
        std::size_t n = 0;
        for (const auto& p : Puts()) n += p.rfind("CONNECT_REQ 06 00", 0) == 0;
        return n;
    }
};

TEST_F(AutomaticSms, MissedCallSendsAndBusyCentreIsRedialledUntilItsCallIsActive) {
    MissedCall(reason::kNonSelectedUser);  // answered by another telephone: no SMS
    EXPECT_EQ(Dials(), 0u);
    MissedCall();
    EXPECT_EQ(
        host.engine->Log().Lines().back().substr(host.engine->Log().Lines().back().size() - 12),
        "  sende SMS.");
    EXPECT_EQ(sms().Job().SMSText, "Tolvar: Anruf von 0301234 Mutter");
    EXPECT_EQ(sms().Job().SMSReceiver, "0171234567");  // the number part of the rule's receiver
    EXPECT_EQ(Dials(), 1u);
    EXPECT_FALSE(Usable());
    ConnectConf(6);
    DisconnectInd(reason::kUserBusy);
    EXPECT_TRUE(Trace().empty());  // automatic calls add no lines of their own
    EXPECT_FALSE(Usable());
    host.time.Advance(29999);
    EXPECT_EQ(Dials(), 0u);
    host.time.Advance(1);
    EXPECT_EQ(Dials(), 1u);
    ConnectConf(6, 0x3008);  // refused: no record, redialling goes on
    host.time.Advance(30000);
    EXPECT_EQ(Dials(), 1u);
    // An unrelated call that becomes active changes nothing.
    host.Receive(test::ConnectActiveInd(0x0777));
    EXPECT_FALSE(Usable());
    host.time.Advance(30000);
    EXPECT_EQ(Dials(), 1u);
    // The centre answers: the job's message goes out, and no more redials.
    BringUp(6);
    host.time.Advance(200);
    EXPECT_EQ(Drain(), BuildUcpFrame("0171234567", "0", "Tolvar: Anruf von 0301234 Mutter"));
    host.time.Advance(90000);
    EXPECT_EQ(Dials(), 0u);
}

TEST_F(SmsCall, AutomaticJobThatCannotGoOutIsGivenUpAloud) {
    std::string rules;
    const std::pair<const char*, const char*> receivers[] = {{"0301", "0999 Otto"},
                                                             {"0302", "0171-234 Handy"},
                                                             {"0303", "0172345"},
                                                             {"0304", "0173456"},
                                                             {"0305", "0171234567"}};
    for (const auto& [caller, receiver] : receivers)
        rules += "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\MSN\\5551234\\" +
                 std::string(caller) + " A\\00:00]\n\"Action\"=dword:00000004\n\"Param\"=\"" +
                 receiver + "\"\n\n";
    Start(Providers() + ProvidersWithoutUsableTable() + rules);
    const std::pair<const char*, std::string> cases[] = {
        {"301555", "Keinen Provider für Teilnehmer \"0999\" gefunden !"},
        {"302555",
         "Das Eingabeformat für den Empfänger \"0171-234 Handy\" muß \"Telefonnummer + "
         "[ Text]\" sein."},
        {"303555", "Keine Zeichentabelle \"XlateTable\" für Provider \"Ohne\" gefunden !"},
        {"304555",
         "Die Zeichentabelle \"XlateTable\" des Providers \"Leer\" lässt alle Zeichen "
         "der Nachricht weg !"},
    };
    std::uint32_t plci = 0x0100;
    const auto missed = [&](const std::string& caller) {
        test::CallSetup call;
        call.caller = caller;
        call.plci = ++plci;
        host.Receive(test::ConnectInd(call));
        DisconnectInd(reason::kNormalClearing, plci);
    };
    // A job whose centre is busy is being redialled; the first job given up
    // overwrote it, so the redialling ends with it.
    missed("305555");
    ConnectConf(6);
    DisconnectInd(reason::kUserBusy);
    EXPECT_FALSE(Usable());
    Puts();
    for (const auto& [caller, why] : cases) {
        SCOPED_TRACE(caller);
        missed(caller);
        const std::string line(host.engine->Log().Lines().back());
        EXPECT_EQ(line.substr(line.find(" A  ") + 2), "  SMS nicht verschickt.");
        EXPECT_EQ(Trace(),
                  (std::vector<std::string>{why, "Fehler beim Verschicken der Nachricht !"}));
        for (const auto& p : Puts()) EXPECT_NE(p.rfind("CONNECT_REQ", 0), 0u) << p;
        EXPECT_TRUE(Usable());
    }
    host.time.Advance(60000);
    for (const auto& p : Puts()) EXPECT_NE(p.rfind("CONNECT_REQ", 0), 0u) << p;
}

TEST_F(AutomaticSms, ActiveCallEndingWithoutResultGivesThePageBack) {
    MissedCall();
    BringUp(6);
    EXPECT_FALSE(Usable());
    EXPECT_FALSE(sms().ConnectRetryState().Enabled());
    Receive(cmd::DISCONNECT_B3_IND, 6, With(U32(kNcci), {0, 0, 0}));
    DisconnectInd(reason::kNormalClearing);
    EXPECT_TRUE(Usable());
    EXPECT_EQ(Trace(), (std::vector<std::string>{"Verbunden."}));
    // Automatic jobs never add receivers.
    EXPECT_EQ(host.ReadHive().find("0171234567 Handy\"=\"\""), std::string::npos);
}

TEST_F(SmsCall, RemovingAReceiverRewritesBothLists) {
    Start(Providers() +
          "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\SMS\\Subscriber]\n\"0171 A\"=\"\"\n"
          "\"0172 B\"=\"\"\n\n[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\DMail\\Subscriber]\n"
          "\"5559 C\"=\"\"\n\n");
    const std::string before = host.ReadHive();
    sms().cmDelSMSReceiverEntryClick(std::nullopt);
    EXPECT_EQ(host.ReadHive(), before);
    sms().cmDelSMSReceiverEntryClick("0171 A");
    const std::string after = host.ReadHive();
    EXPECT_EQ(after.find("0171 A"), std::string::npos);
    EXPECT_NE(after.find("\"0172 B\"=\"\""), std::string::npos);
    EXPECT_NE(after.find("\"5559 C\"=\"\""), std::string::npos);
    EXPECT_EQ(host.ui.items[Control::cbSMSReceiver], (std::vector<std::string>{"0172 B"}));
}

}  // namespace
}  // namespace tolvar
