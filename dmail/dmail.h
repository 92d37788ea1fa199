#pragma once
// D-Mail: texts that travel in the calling party subaddress of call set-ups
// that are never answered. A message goes out 19 characters per call; the
// receiving copy alerts and rejects each call, collects the packets up to the
// end mark and calls back with "OK". This class owns the D-Mail calls
// (outgoing packets and acknowledgements, incoming calls taken as D-Mail),
// the sender's and the receiver's state and their timers (dmail.cpp), and
// what the page "D-Mail senden" does with them (dmail_user.cpp).

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "calls/call_monitor.h"
#include "capi/call_router.h"
#include "core/front_end.h"
#include "core/timer.h"

namespace tolvar {

class CapiSession;
class Clock;
class Connections;
class EventLog;
class ReceiverLists;
class Registry;
struct DMailSettings;

// Fixed values of the protocol.
inline constexpr std::size_t kDMailPacketChars = 19;
inline constexpr char kDMailEndMark = '\r';
inline constexpr const char* kDMailAckText = "OK";
inline constexpr std::uint32_t kDMailCollectMs = 10000;
inline constexpr int kDMailAckAttempts = 3;
inline constexpr std::size_t kDMailMaxMessageChars = 64;  // the message field's limit
inline constexpr std::size_t kDMailMaxOwnMsnChars = 9;    // the own MSN field's limit
// The longest message with its end mark fills this many packets.
inline constexpr std::size_t kDMailMaxPackets =
    (kDMailMaxMessageChars + 1 + kDMailPacketChars - 1) / kDMailPacketChars;

// The states of both sides.
enum DMailState : int {
    kSendIdle = 0,
    kSendingPackets = 1,
    kWaitingForAck = 2,
    kRecvReady = 3,
    kCollecting = 4,
    kAcknowledging = 5,
};

// What the status list shows before the first send.
inline constexpr std::array<const char*, 5> kDMailExplanation = {
    "D-Mail Textnachrichten werden durch kurzes \"Anklingeln\" ",
    "des Empfängers kostenlos über den ISDN D-Kanal verschickt.  ",
    "Auf der Empfängerseite muss ein Tolvar aktiv sein.",
    "Achtung: Öffentliche Netzbetreiber erlauben Anrufe, ohne den ",
    "Willen eine Verbindung aufzubauen, in ihrer AGB nicht.",
};

// Status lines.
namespace dmail_text {
inline constexpr const char* kSending = "Nachrichtenübertragung über D-Kanal...";
inline constexpr const char* kWaiting = "Warten auf Quittung des Teilnehmers...";
inline constexpr const char* kAcknowledged = "Quittiert. Nachricht erfolgreich verschickt.";
inline constexpr const char* kNoAck = "Gegenstelle reagiert nicht. (Kein Tolvar 2.7 aktiv ?)";
inline constexpr const char* kBusy = "Teilnehmer besetzt.";
inline constexpr const char* kNoChannel = "Kein Kanal verfügbar.";
inline constexpr const char* kNotAuthorized = "Teilnehmer unterstützt den D-Kanal Empfang nicht.";
// Without its closing parenthesis, unlike kNoAck: users know the two apart.
inline constexpr const char* kNotAvailable = "Gegenstelle reagiert nicht. (Kein Tolvar 2.7 aktiv ?";
inline constexpr const char* kCannotDial = "Fehler. Kann Empfänger nicht anwählen.";
inline constexpr const char* kConnected = "Fehler. DMail Ruf wurde kostenpflichtig angenommen.";
// Message boxes of the send checks.
inline constexpr const char* kNoMessage = "Keine D-Mail Nachricht angegeben";
inline constexpr const char* kReceiverFormat =
    "Das Eingabeformat für den Empfänger muß \"Telefonnummer + [ Text]\" sein.\r\r"
    "Beispiel:  017812345  Mutter";
}  // namespace dmail_text

// The status line a refused packet call gives, by the Reason of its end;
// nothing for a Reason that counts as delivered.
std::optional<std::string> RefusalText(std::uint16_t reason);

struct DMailHost {
    CapiSession& capi;
    Connections& connections;
    TimerService& timers;
    Clock& clock;
    FrontEnd& ui;
    Dialogs& dialogs;
    EventLog& log;
    ReceiverLists& receivers;
    const DMailSettings& settings;
    // The registry access object; none before start-up made it.
    std::function<Registry*()> registry;
    std::function<bool()> windowVisible;
    std::function<Page()> activePage;
    std::function<void(bool)> setAttention;
    // A message delivered while the message log is not in view: its line there.
    std::function<void(const std::string&)> notify;
    // A send ended with this status line: to the number dialled, ok when acknowledged.
    std::function<void(const std::string& to, bool ok, const std::string& line)> sendFinished;
};

class DMail final : public CallOwner, public DMailReception {
  public:
    explicit DMail(DMailHost host);

    // Sender idle, receiver ready, both texts empty (start-up).
    void Reset();

    // The page "D-Mail senden": the send button, the Escape key, "Eintrag
    // &entfernen" on the selected receiver entry, "Log &löschen".
    void BtnSendDMailClick();
    void FormKeyDownEscape();
    void cmDelDMailReceiverEntryClick(const std::string& selectedEntry);
    void ClearMessageLog();

    // The CAPI link was lost: a send whose packet call can no longer end is
    // given up.
    void CapiLost();

    // Every call with D-Mail's CIP value, before it is alerted.
    void Receive(TConnection& call) override;

    // CallOwner, for DMailOut and DMailIn.
    void ConnectConf(TConnection& call, std::uint16_t info) override;
    void AlertConf(TConnection& call) override;
    void InfoInd(TConnection& call, std::uint16_t infoNumber) override;
    void ConnectActive(TConnection& call) override;
    void Disconnected(TConnection& call, std::uint16_t reason) override;

    int SendState() const { return DMailSendState; }
    int RecvState() const { return DMailRecvState; }
    // What is still to be sent, as it goes on the wire (Windows-1252, end
    // mark included).
    const std::string& SendText() const { return DMailSendText; }
    // What has been collected, as the program keeps text (UTF-8).
    const std::string& RecvText() const { return DMailRecvText; }
    const std::string& Sender() const { return DMailSender; }
    const Timer& SendTimer() const { return DMailSendTimer; }
    const Timer& RecvTimer() const { return DMailRecvTimer; }

  private:
    // The protocol (dmail.cpp).
    void SendPacket();
    // packet: a packet of the message being sent; otherwise an acknowledgement.
    void PlaceDMailCall(bool packet, const std::string& called, const std::string& calling,
                        const std::string& wireText);
    void PacketEnded(std::uint16_t reason);
    void ReceiverEnded(const TConnection& call);
    void ReceiverReady();
    void DMailSendTimerTimer();
    void DMailRecvTimerTimer();
    void Guarded(const std::function<void()>& fn);

    // The user's side (dmail_user.cpp).
    void StatusLine(const std::string& text);
    void SenderReset();
    void Acknowledged();
    void AckTimedOut();
    void Deliver(const std::string& sender, const std::string& text);
    void Notify();

    DMailHost h_;
    int DMailSendState = kSendIdle;
    int DMailRecvState = kRecvReady;
    std::string DMailSendText;
    std::string DMailReceiverNumber;
    std::string DMailReceiverName;
    std::string DMailOwnNumber;
    std::string DMailSender;
    std::string DMailRecvText;
    Timer DMailSendTimer;
    Timer DMailRecvTimer;  // Tag: acknowledgement attempts left
    // Packets collected from DMailSender.
    std::size_t recvPackets_ = 0;
    // The incoming call that acknowledged the message being sent: its end,
    // and no other call's, ends the send.
    std::optional<std::uint32_t> ackPlci_;

    // Packet calls and acknowledgement calls share one message number, so
    // CAPI's confirmations, which come in the order of the requests, tell
    // them apart: one entry per CONNECT_REQ not yet confirmed.
    struct Dial {
        bool packet;
        unsigned send;  // the send a packet belongs to
    };
    std::deque<Dial> dials_;
    unsigned sendSerial_ = 0;
    // The current packet's call, and the acknowledgement calls on their way.
    std::optional<std::uint32_t> packetPlci_;
    std::vector<std::uint32_t> ackCallPlcis_;
};

}  // namespace tolvar
