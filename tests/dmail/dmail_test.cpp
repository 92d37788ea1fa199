// The D-Mail protocol and the page "D-Mail senden" on virtual time: the wire
// bytes, the packet split, both sides' states and timers, delivery.

#include <gtest/gtest.h>

#include <fstream>

#include "calls/call_message.h"
#include "capi/params.h"
#include "support/test_host.h"

namespace tolvar {
namespace {

using test::Message;
using test::U16;
using test::U32;

constexpr const char* kHive = "Windows Registry Editor Version 5.00\n\n";

std::vector<std::uint8_t> Cat(std::vector<std::uint8_t> a, const std::vector<std::uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class DMailTest : public ::testing::Test {
  protected:
    Engine& Start(const std::string& dmailValues = "") {
        host.WriteHive(std::string(kHive) +
                       "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\DMail]\n" + dmailValues +
                       "\n");
        host.eventLogPath = (host.dir / "Tolvar.txt").string();
        host.Start();
        return *host.engine;
    }
    DMail& D() { return host.engine->DMailState(); }
    void Send(const std::string& to, const std::string& text) {
        host.ui.texts[Control::cbDMailReceiver] = to;
        host.ui.texts[Control::edDMailSend] = text;
        D().BtnSendDMailClick();
    }
    // The CONNECT_REQs sent so far: whole messages.
    std::vector<std::vector<std::uint8_t>> ConnectReqs() const {
        std::vector<std::vector<std::uint8_t>> out;
        for (const auto& p : host.capi.puts)
            if (p.CommandWord() == cmd::CONNECT_REQ) out.push_back(p.message);
        return out;
    }
    // Called number and subaddress text of the newest CONNECT_REQ.
    std::pair<std::string, std::string> LastCall() const {
        const auto msg = ConnectReqs().back();
        ParamReader r(Bytes(msg.data(), msg.size()));
        r.U32(), r.U16();
        const auto called = r.Struct();
        r.Struct(), r.Struct();
        const auto sub = r.Struct();
        return {std::string(called->begin() + 1, called->end()),
                std::string(sub->begin() + 2, sub->end())};
    }
    void Conf(std::uint32_t plci, std::uint16_t info = 0) {
        host.Receive(Message(cmd::CONNECT_CONF, 8, Cat(U32(plci), U16(info))));
    }
    void End(std::uint32_t plci, std::uint16_t reason) {
        host.Receive(test::DisconnectInd(plci, reason));
    }
    // One packet call that the far end alerts and refuses.
    void Packet(std::uint32_t plci, std::uint16_t reason = 0x34D8) {
        Conf(plci);
        host.Receive(Message(cmd::INFO_IND, 5, Cat(Cat(U32(plci), U16(0x8001)), {0})));
        End(plci, reason);
    }
    // An incoming D-Mail call; returns its PLCI.
    std::uint32_t Incoming(const std::string& text, const std::string& from = "0301234567",
                           const std::string& msn = "5551234") {
        test::CallSetup c;
        c.plci = nextPlci++;
        c.cip = 24;
        c.msn = msn;
        c.caller = from;
        c.subaddress = text;
        host.Receive(test::ConnectInd(c));
        host.Receive(Message(cmd::ALERT_CONF, 0, Cat(U32(c.plci), U16(0))));
        return c.plci;
    }
    int Count(const std::string& event) const {
        return static_cast<int>(std::count(host.ui.events.begin(), host.ui.events.end(), event));
    }
    std::vector<std::string>& Status() { return host.ui.status[StatusList::DMailStatus]; }

    test::TestHost host;
    std::uint32_t nextPlci = 0x201;
};

TEST_F(DMailTest, AcknowledgementIsTheDescribedCallByteForByte) {
    Start();
    End(Incoming("Hallo\r", "017812345"), 0);
    host.time.Advance(2999);
    EXPECT_TRUE(ConnectReqs().empty());  // ACKDelay after the message is complete
    host.time.Advance(1);
    ASSERT_EQ(ConnectReqs().size(), 1u);
    EXPECT_EQ(test::HexBytes(ConnectReqs()[0]),
              "29 00 01 00 02 80 08 00 01 00 00 00 18 00 0A 80 30 31 37 38 31 32 33 34 35 02 00 "
              "80 02 80 50 04 80 50 4F 4B 00 00 00 00 00");
}

TEST_F(DMailTest, PacketsOf19CharactersEndMarkIncludedEachAfterPacketDelay) {
    const std::string x19 = "Grüße aus dem Büro!";  // 19 characters, 22 bytes of UTF-8
    const std::string c64 = x19 + x19 + x19 + "Tschüss";
    struct Case {
        std::string message;
        std::vector<std::string> packets;  // as they go on the wire
    } cases[] = {
        {x19,
         {"Gr\xFC\xDF"
          "e aus dem B\xFCro!",
          "\r"}},
        {x19 + "x",
         {"Gr\xFC\xDF"
          "e aus dem B\xFCro!",
          "x\r"}},
        {c64,
         {"Gr\xFC\xDF"
          "e aus dem B\xFCro!",
          "Gr\xFC\xDF"
          "e aus dem B\xFCro!",
          "Gr\xFC\xDF"
          "e aus dem B\xFCro!",
          "Tsch\xFCss\r"}},
    };
    Start("\"Suffix\"=\"0\"\n");
    for (const auto& c : cases) {
        host.capi.puts.clear();
        Send("301234 Mutter", c.message);
        EXPECT_EQ(host.ui.status[StatusList::DMailLog].back(), "> 0301234 < " + c.message);
        for (std::size_t i = 0; i < c.packets.size(); ++i) {
            ASSERT_EQ(ConnectReqs().size(), i + 1) << c.message;
            EXPECT_EQ(LastCall(), std::make_pair(std::string("0301234"), c.packets[i]));
            Packet(0x101 + static_cast<std::uint32_t>(i));
            if (i + 1 == c.packets.size()) break;
            host.time.Advance(19);
            EXPECT_EQ(ConnectReqs().size(), i + 1);
            host.time.Advance(1);
        }
        EXPECT_EQ(D().SendState(), kWaitingForAck);
        std::vector<std::string> expected(c.packets.size(), dmail_text::kSending);
        expected.push_back(dmail_text::kWaiting);
        EXPECT_EQ(Status(), expected);
        host.engine->FormKeyDownEscape();
    }
}

TEST_F(DMailTest, RefusalReasonsEndTheSendOthersDeliverThePacket) {
    const std::pair<std::uint16_t, const char*> cases[] = {
        {0x3491, "Teilnehmer besetzt."},
        {0x34A2, "Kein Kanal verfügbar."},
        {0x34B9, "Teilnehmer unterstützt den D-Kanal Empfang nicht."},
        {0x34BF, "Gegenstelle reagiert nicht. (Kein Tolvar 2.7 aktiv ?"},
        {0x34D8, nullptr},
        {0x3490, nullptr},
        {0x0000, nullptr},
    };
    Start();
    for (const auto& [reason, text] : cases) {
        host.capi.puts.clear();
        Send("017812345", "Hallo");
        EXPECT_TRUE(host.ui.busy);
        EXPECT_FALSE(host.ui.enabledState[Control::PageControl]);
        Packet(0x101, reason);
        if (text != nullptr) {
            EXPECT_EQ(Status().back(), text);
            EXPECT_EQ(D().SendState(), kSendIdle);
            EXPECT_FALSE(host.ui.busy);
            EXPECT_TRUE(host.ui.enabledState[Control::PageControl]);
            EXPECT_TRUE(host.ui.enabledState[Control::BtnSendDMail]);
        } else {
            EXPECT_EQ(Status().back(), dmail_text::kWaiting);
            host.time.Advance(11999);
            EXPECT_EQ(D().SendState(), kWaitingForAck);
            host.time.Advance(1);  // ACKTimeOut
            EXPECT_EQ(Status().back(), "Gegenstelle reagiert nicht. (Kein Tolvar 2.7 aktiv ?)");
            EXPECT_EQ(D().SendState(), kSendIdle);
            EXPECT_FALSE(host.ui.busy);
            EXPECT_TRUE(host.ui.enabledState[Control::PageControl]);
        }
        EXPECT_EQ(ConnectReqs().size(), 1u);
    }
}

TEST_F(DMailTest, SendChecksAndTheOwnSettings) {
    Start("\"PacketDelay\"=dword:00000064\n\"ACKTimeOut\"=dword:00004e20\n");
    host.ui.texts[Control::edDMailOwnMSN] = "5551234";
    Send("017812345", "");
    EXPECT_EQ(host.ui.Boxes().back(), "Keine D-Mail Nachricht angegeben");
    EXPECT_EQ(host.ui.focused, Control::edDMailSend);
    for (const char* bad : {"", "0178-12345", " 017812345", "+4917812345"}) {
        Send(bad, "Hallo");
        EXPECT_EQ(host.ui.Boxes().back(),
                  "Das Eingabeformat für den Empfänger muß \"Telefonnummer + [ Text]\" "
                  "sein.\r\rBeispiel:  017812345  Mutter");
        EXPECT_EQ(host.ui.focused, Control::cbDMailReceiver);
    }
    EXPECT_TRUE(ConnectReqs().empty());
    EXPECT_TRUE(Status().empty());
    // Control characters would end the text early at the receiver.
    Send("017812345", "a\rb\tc");
    EXPECT_EQ(LastCall().second, "a?b?c\r");
    Packet(0x101);
    host.time.Advance(19999);
    EXPECT_EQ(D().SendState(), kWaitingForAck);
    host.time.Advance(1);  // ACKTimeOut 20000
    EXPECT_EQ(D().SendState(), kSendIdle);
}

TEST_F(DMailTest, AcknowledgementRemembersTheReceiverAndItsEndReleasesThePage) {
    Start();
    host.engine->ShowWindow(Page::DMail);
    Send("017812345 Mutter", "Hallo");
    Packet(0x101);
    // A packet of someone else while waiting is received, and ends nothing.
    End(Incoming("Moin\r", "0401111"), 0);
    EXPECT_EQ(D().SendState(), kWaitingForAck);
    EXPECT_EQ(host.ui.status[StatusList::DMailLog].back(), "0401111 > Moin");
    EXPECT_EQ(D().RecvState(), kAcknowledging);
    // "OK" from any number.
    const auto ack = Incoming("OK", "0309999");
    EXPECT_EQ(Status().back(), "Quittiert. Nachricht erfolgreich verschickt.");
    EXPECT_EQ(host.engine->DMailReceivers(), std::vector<std::string>{"017812345 Mutter"});
    EXPECT_NE(host.ReadHive().find("\"017812345 Mutter\"=\"\""), std::string::npos);
    EXPECT_TRUE(host.ui.enabledState[Control::BtnSendDMail]);
    EXPECT_FALSE(host.ui.enabledState[Control::PageControl]);
    // Refused like every D-Mail call.
    EXPECT_EQ(host.capi.puts.back().CommandWord(), cmd::CONNECT_RESP);
    End(ack, 0);
    EXPECT_EQ(D().SendState(), kSendIdle);
    EXPECT_TRUE(host.ui.enabledState[Control::PageControl]);
    EXPECT_EQ(host.ui.focused, Control::edDMailSend);
    host.time.Advance(20000);
    EXPECT_EQ(Count("dmail: Gegenstelle reagiert nicht. (Kein Tolvar 2.7 aktiv ?)"), 0);
}

TEST_F(DMailTest, ReceiverCollectsOneSenderAndDropsTheRest) {
    Start();
    // An empty first packet is refused and starts nothing.
    Incoming("");
    EXPECT_EQ(D().RecvState(), kRecvReady);
    EXPECT_EQ(host.capi.puts.back().CommandWord(), cmd::CONNECT_RESP);
    Incoming(
        "Gr\xFC\xDF"
        "e aus dem B\xFCro!");
    EXPECT_EQ(D().RecvState(), kCollecting);
    host.time.Advance(9000);
    Incoming("Fremd\r", "0409999");  // another sender: refused and lost
    Incoming("Ende\rRest");          // the collection time restarts
    host.time.Advance(9999);
    EXPECT_EQ(D().RecvState(), kCollecting);
    EXPECT_EQ(D().RecvText(), "Grüße aus dem Büro!Ende\rRest");
    End(0x201, 0);  // any D-Mail call ending finds the end mark
    EXPECT_EQ(host.ui.status[StatusList::DMailLog],
              std::vector<std::string>{"0301234567 > Grüße aus dem Büro!Ende"});
    EXPECT_EQ(D().RecvState(), kAcknowledging);
    Incoming("Zu spät\r");  // while acknowledging: dropped
    EXPECT_EQ(D().RecvText().find("sp"), std::string::npos);
    // Hidden window: the event log has it, the file too, the icon blinks.
    EXPECT_EQ(host.ui.log.back(), "08:00:18   0301234567 * Grüße aus dem Büro!Ende");
    host.engine->Log().FinishWrites();
    EXPECT_NE(test::ReadAll(host.dir / "Tolvar.txt").find("Büro!Ende"), std::string::npos);
    EXPECT_TRUE(host.engine->Tray().Attention());
    EXPECT_EQ(host.ui.trayTip, "DMail eingetroffen");
}

TEST_F(DMailTest, IncompleteMessageIsDroppedTenSecondsAfterItsLastPacket) {
    Start();
    Incoming("Teil eins");
    host.time.Advance(9999);
    EXPECT_EQ(D().RecvState(), kCollecting);
    host.time.Advance(1);
    EXPECT_EQ(D().RecvState(), kRecvReady);
    EXPECT_EQ(D().RecvText(), "");
    EXPECT_TRUE(host.ui.status[StatusList::DMailLog].empty());
    EXPECT_FALSE(D().RecvTimer().Enabled());
}

TEST_F(DMailTest, AcknowledgementWithoutChannelIsTriedThreeTimesAtMost) {
    Start("\"ACKDelay\"=dword:000003e8\n");  // 1000 ms
    End(Incoming("Hi\r"), 0);
    for (std::uint32_t attempt = 0; attempt < 3; ++attempt) {
        host.time.Advance(999);
        EXPECT_EQ(ConnectReqs().size(), attempt);
        host.time.Advance(1);
        ASSERT_EQ(ConnectReqs().size(), attempt + 1);
        EXPECT_EQ(LastCall(), std::make_pair(std::string("0301234567"), std::string("OK")));
        Conf(0x301 + attempt);
        End(0x301 + attempt, 0x34A2);  // no channel: tried again
        EXPECT_EQ(D().RecvState(), kAcknowledging);
    }
    host.time.Advance(1000);
    EXPECT_EQ(D().RecvState(), kRecvReady);
    host.time.Advance(10000);
    EXPECT_EQ(ConnectReqs().size(), 3u);

    // An acknowledgement call that ends otherwise is done; one that cannot
    // be set up is silent and tried again.
    End(Incoming("Hi\r"), 0);
    host.time.Advance(1000);
    Conf(0x401, 0x2003);
    EXPECT_EQ(D().RecvState(), kAcknowledging);
    host.time.Advance(1000);
    Conf(0x402);
    End(0x402, 0x3490);
    EXPECT_EQ(D().RecvState(), kRecvReady);
    EXPECT_TRUE(Status().empty());
}

TEST_F(DMailTest, OwnMsnLeavesCallsToOtherNumbersAlone) {
    Start("\"MSN\"=\"5551234\"\n");
    EXPECT_EQ(host.ui.texts[Control::edDMailOwnMSN], "5551234");
    const auto other = Incoming("Hallo\r", "0301234567", "5551235");
    EXPECT_NE(host.capi.puts.back().CommandWord(), cmd::CONNECT_RESP);  // alerted, not refused
    End(other, 0);
    EXPECT_EQ(D().RecvState(), kRecvReady);
    EXPECT_TRUE(host.ui.log.empty());
    End(Incoming("Hallo\r"), 0);
    EXPECT_EQ(D().RecvState(), kAcknowledging);
}

TEST_F(DMailTest, MessageWhileThePageIsInViewGoesToTheMessageLogOnly) {
    Start();
    const struct {
        std::optional<Page> shown;  // nothing: hidden
        bool logged, blinks;
    } cases[] = {{Page::DMail, false, false},
                 {Page::Protokoll, true, false},
                 {Page::Ueberwachung, true, true},
                 {std::nullopt, true, true}};
    for (const auto& c : cases) {
        host.engine->SetAttention(false);
        if (c.shown)
            host.engine->ShowWindow(*c.shown);
        else
            host.engine->cmCloseClick();
        const auto before = host.ui.log.size();
        End(Incoming("Hallo\r", "01701234"), 0);
        host.time.Advance(3000);  // the acknowledgement, done
        Conf(0x501);
        End(0x501, 0);
        EXPECT_EQ(host.ui.log.size() > before, c.logged);
        EXPECT_EQ(host.engine->Tray().Attention(), c.blinks);
    }
    EXPECT_EQ(host.ui.status[StatusList::DMailLog].size(), 4u);
}

// The desktop tells of a message whose log is out of view, until the log
// comes into view.
TEST_F(DMailTest, AMessageOutOfViewIsNotifiedUntilItsLogIsInView) {
    Start();
    const auto notices = [this] {
        std::vector<std::string> out;
        for (const auto& e : host.ui.events)
            if (e.rfind("notify", 0) == 0) out.push_back(e);
        host.ui.events.clear();
        return out;
    };
    const auto receive = [&](const std::string& text, std::uint32_t ack) {
        End(Incoming(text + "\r", "01701234"), 0);
        host.time.Advance(3000);
        Conf(ack);
        End(ack, 0);
    };
    host.engine->cmCloseClick();
    receive("Hallo", 0x501);
    host.engine->ShowWindow(Page::Info);
    receive("Bist du da?", 0x502);
    EXPECT_EQ(notices(),
              (std::vector<std::string>{"notify: 2 DMail eingetroffen | 01701234 > Hallo",
                                        "notify: 3 DMail eingetroffen | 01701234 > Bist du da?"}));
    host.engine->SetActivePage(Page::DMail);
    EXPECT_EQ(notices(), (std::vector<std::string>{"notify-close: 2", "notify-close: 3"}));
    receive("Ja", 0x503);  // in view: the log alone
    EXPECT_TRUE(notices().empty());
    // Hidden on the page: out of view until the window is shown.
    host.engine->cmCloseClick();
    receive("Tschuess", 0x504);
    EXPECT_EQ(notices(),
              std::vector<std::string>{"notify: 4 DMail eingetroffen | 01701234 > Tschuess"});
    host.engine->ShowWindow();
    EXPECT_EQ(notices(), std::vector<std::string>{"notify-close: 4"});
}

TEST_F(DMailTest, NotifySoundAndAnzeigenOnAVisibleWindow) {
    const std::string wav = (host.dir / "dmail.wav").string();
    std::ofstream(wav) << "RIFF";
    Start("\"DMailNotifySound\"=\"" + wav + "\"\n");
    host.engine->ShowWindow(Page::Info);
    End(Incoming("Hallo\r"), 0);
    EXPECT_EQ(host.ui.sounds, std::vector<std::string>{wav});
    // "&Anzeigen" on the visible window: no FormShow, the icon goes on blinking.
    host.engine->ShowWindow();
    EXPECT_TRUE(host.engine->Tray().Attention());
    host.engine->cmCloseClick();
    host.engine->ShowWindow();
    EXPECT_FALSE(host.engine->Tray().Attention());
}

TEST_F(DMailTest, EscapeHangsUpThePacketCallWithoutStatusLine) {
    Start();
    Send("017812345", std::string(30, 'x'));
    Packet(0x101);
    host.time.Advance(20);
    Conf(0x102);  // the second packet is on its way
    host.engine->FormKeyDownEscape();
    EXPECT_EQ(host.capi.puts.back().CommandWord(), cmd::DISCONNECT_REQ);
    EXPECT_EQ(host.capi.puts.back().message[8], 0x02);
    EXPECT_EQ(D().SendState(), kSendIdle);
    EXPECT_TRUE(host.ui.enabledState[Control::PageControl]);
    End(0x102, 0);
    EXPECT_EQ(Status().back(), dmail_text::kSending);
    EXPECT_EQ(ConnectReqs().size(), 2u);
}

TEST_F(DMailTest, FailuresOfTheCallsThemselves) {
    Start();
    // A packet call that cannot be set up.
    Send("017812345", "Hallo");
    Conf(0x101, 0x2003);
    EXPECT_EQ(Status().back(), "Fehler. Kann Empfänger nicht anwählen.");
    EXPECT_EQ(D().SendState(), kSendIdle);
    // A D-Mail call that gets connected.
    Send("017812345", "Hallo");
    Incoming("Teil");
    Conf(0x102);
    host.Receive(test::ConnectActiveInd(0x102));
    EXPECT_EQ(host.capi.puts.back().CommandWord(), cmd::DISCONNECT_REQ);
    EXPECT_EQ(Status().back(), "Fehler. DMail Ruf wurde kostenpflichtig angenommen.");
    EXPECT_EQ(D().SendState(), kSendIdle);
    EXPECT_EQ(D().RecvState(), kRecvReady);
    // A number too long for the message: nothing goes out, the page is free.
    EXPECT_FALSE(host.engine->Guard([&] { Send(std::string(200, '1'), "Hallo"); }));
    EXPECT_EQ(host.ui.errors.size(), 1u);
    EXPECT_EQ(D().SendState(), kSendIdle);
    EXPECT_TRUE(host.ui.enabledState[Control::PageControl]);
    EXPECT_FALSE(host.ui.busy);
    // CAPI lost while a packet is on its way.
    Send("017812345", "Hallo");
    host.capi.getResult = kCapiOSResourceError;
    host.engine->WMCapiSignal();
    host.time.Advance(1);
    EXPECT_EQ(Status().back(), "Fehler. Kann Empfänger nicht anwählen.");
    EXPECT_EQ(D().SendState(), kSendIdle);
}

TEST_F(DMailTest, SenderWithoutNumberIsNotCalledBack) {
    Start();
    test::CallSetup c;
    c.cip = 24;
    c.subaddress = "Anonym\r";
    host.Receive(test::ConnectInd(c));
    End(c.plci, 0);
    EXPECT_EQ(host.ui.status[StatusList::DMailLog].back(), "Unbekannt/Analog > Anonym");
    host.time.Advance(20000);
    EXPECT_TRUE(ConnectReqs().empty());
    EXPECT_EQ(D().RecvState(), kRecvReady);
}

TEST_F(DMailTest, AcknowledgementCallsWhileSendingAreToldApartFromThePacketCall) {
    Start("\"ACKDelay\"=dword:000003e8\n");  // 1000 ms
    End(Incoming("Hi\r", "0401111"), 0);
    Send("017812345", std::string(30, 'x'));
    Conf(0x101);  // the first packet
    host.time.Advance(1000);
    ASSERT_EQ(ConnectReqs().size(), 2u);
    EXPECT_EQ(LastCall(), std::make_pair(std::string("0401111"), std::string("OK")));
    // An acknowledgement that cannot be set up leaves the send alone.
    Conf(0x102, 0x2003);
    EXPECT_EQ(D().SendState(), kSendingPackets);
    host.time.Advance(1000);
    Conf(0x103);
    // Its end is the acknowledgement done, not the packet delivered.
    End(0x103, 0x3490);
    EXPECT_EQ(D().RecvState(), kRecvReady);
    host.time.Advance(5000);
    EXPECT_EQ(ConnectReqs().size(), 3u);  // no early packet, no fourth "OK"
    EXPECT_EQ(Status(), std::vector<std::string>{dmail_text::kSending});
    // The packet's own end delivers it.
    host.Receive(Message(cmd::INFO_IND, 5, Cat(Cat(U32(0x101), U16(0x8001)), {0})));
    End(0x101, 0);
    host.time.Advance(20);
    ASSERT_EQ(ConnectReqs().size(), 4u);
    EXPECT_EQ(LastCall().second, std::string(11, 'x') + "\r");
    Conf(0x104);
    // Escape hangs up the packet call, not an acknowledgement call on its way.
    End(Incoming("Du\r", "0402222"), 0);
    host.time.Advance(1000);
    Conf(0x105);
    host.engine->FormKeyDownEscape();
    EXPECT_EQ(host.capi.puts.back().CommandWord(), cmd::DISCONNECT_REQ);
    EXPECT_EQ(test::HexBytes({host.capi.puts.back().message.begin() + 8,
                              host.capi.puts.back().message.begin() + 12}),
              "04 01 00 00");
    EXPECT_EQ(Status(), (std::vector<std::string>{dmail_text::kSending, dmail_text::kSending}));
    // A packet call confirmed after its send was given up is hung up then.
    Send("017812345", "Hallo");
    host.engine->FormKeyDownEscape();
    Conf(0x106);
    EXPECT_EQ(host.capi.puts.back().CommandWord(), cmd::DISCONNECT_REQ);
    EXPECT_EQ(host.capi.puts.back().message[8], 0x06);
}

TEST_F(DMailTest, WhatOneSenderCanMakeTheReceiverDo) {
    const std::string a19(19, 'a');
    // As long as a CONNECT_IND can carry it; with the own MSN too long for a request.
    const std::string longNumber(150, '1');
    const struct Case {
        const char* what;
        std::vector<std::string> packets;
        std::string from;
        std::string delivered;  // empty: nothing
    } cases[] = {
        {"the longest message", {a19, a19, a19, "b\r"}, "0401111", a19 + a19 + a19 + "b"},
        {"four packets without the end mark start no message",
         {a19, a19, a19, a19, "Ende\r"},
         "0401111",
         "Ende"},
        {"a caller number too long to call back", {"Lang\r"}, longNumber, "Lang"},
    };
    Start();
    host.ui.texts[Control::edDMailOwnMSN] = "5551234";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        host.ui.status[StatusList::DMailLog].clear();
        std::uint32_t last = 0;
        for (const auto& packet : c.packets) End(last = Incoming(packet, c.from), 0);
        if (c.delivered.empty()) {
            EXPECT_TRUE(host.ui.status[StatusList::DMailLog].empty());
        } else {
            ASSERT_EQ(host.ui.status[StatusList::DMailLog].size(), 1u);
            const std::string& line = host.ui.status[StatusList::DMailLog].back();
            EXPECT_EQ(line.substr(line.find(" > ") + 3), c.delivered);
        }
        // Acknowledged, or given up without an error from the timer.
        for (int i = 0; i < 4 && D().RecvState() == kAcknowledging; ++i) {
            host.time.Advance(3000);
            if (!host.capi.puts.empty() &&
                host.capi.puts.back().CommandWord() == cmd::CONNECT_REQ) {
                Conf(last + 0x100);
                End(last + 0x100, 0);
            }
        }
        EXPECT_EQ(D().RecvState(), kRecvReady);
        EXPECT_TRUE(host.ui.errors.empty());
    }
}

TEST_F(DMailTest, ReceiverEntryRemovedAndMessageLogCleared) {
    Start();
    host.WriteHive(std::string(kHive) +
                   "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\DMail\\Subscriber]\n"
                   "\"017812345 Mutter\"=\"\"\n\"0301234\"=\"\"\n\n");
    host.engine->Receivers().Load(*host.engine->RegistryAccess());
    D().cmDelDMailReceiverEntryClick("0301234");
    EXPECT_EQ(host.ui.items[Control::cbDMailReceiver],
              std::vector<std::string>{"017812345 Mutter"});
    EXPECT_EQ(host.ReadHive().find("0301234\""), std::string::npos);
    End(Incoming("Hallo\r"), 0);
    D().ClearMessageLog();
    EXPECT_TRUE(host.ui.status[StatusList::DMailLog].empty());
}

}  // namespace
}  // namespace tolvar
