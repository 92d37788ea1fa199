#include "dmail/dmail.h"

#include <algorithm>
#include <exception>

#include "capi/capi_codes.h"
#include "capi/capi_session.h"
#include "capi/connection.h"
#include "core/charset.h"
#include "core/error.h"
#include "dmail/dmail_settings.h"

namespace tolvar {

namespace {

bool AllDigits(const std::string& s) {
    return !s.empty() &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

std::optional<std::string> RefusalText(std::uint16_t reasonValue) {
    switch (reasonValue) {
        case reason::kUserBusy:
            return dmail_text::kBusy;
        case reason::kNoChannel:
            return dmail_text::kNoChannel;
        case reason::kBearerNotAuthorized:
            return dmail_text::kNotAuthorized;
        case reason::kServiceNotAvailable:
            return dmail_text::kNotAvailable;
        default:
            return std::nullopt;
    }
}

DMail::DMail(DMailHost host)
    : h_(std::move(host)), DMailSendTimer(h_.timers), DMailRecvTimer(h_.timers, kDMailCollectMs) {
    DMailSendTimer.OnTimer = [this] { Guarded([this] { DMailSendTimerTimer(); }); };
    DMailRecvTimer.OnTimer = [this] { Guarded([this] { DMailRecvTimerTimer(); }); };
}

void DMail::Guarded(const std::function<void()>& fn) {
    // A timer's handler runs outside any other handler: what it raises is
    // reported here, as the framework's error dialog would.
    try {
        fn();
    } catch (const std::exception& e) {
        h_.ui.ReportError(e.what());
    }
}

void DMail::Reset() {
    DMailSendText.clear();
    DMailRecvText.clear();
    DMailSendState = kSendIdle;
    DMailRecvState = kRecvReady;
    DMailSendTimer.SetEnabled(false);
    DMailRecvTimer.SetEnabled(false);
    recvPackets_ = 0;
    ackPlci_.reset();
    dials_.clear();
    packetPlci_.reset();
    ackCallPlcis_.clear();
}

// --- Sending -------------------------------------------------------------

void DMail::PlaceDMailCall(bool packet, const std::string& called, const std::string& calling,
                           const std::string& wireText) {
    ConnectReqParams p;
    p.purposeTag = kTagDMail;
    p.cipValue = cip::kDMail;
    p.calledNumber = Utf8ToCp1252(called);
    p.callingNumber = Utf8ToCp1252(calling);
    p.calledSubaddress = "";
    p.callingSubaddress = wireText;
    // A request CAPI did not take is never confirmed.
    if (h_.capi.SendConnectReq(p)) dials_.push_back({packet, sendSerial_});
}

void DMail::SendPacket() {
    if (DMailReceiverNumber.empty()) return;
    try {
        PlaceDMailCall(true, h_.settings.Suffix + DMailReceiverNumber, DMailOwnNumber,
                       DMailSendText.substr(0, kDMailPacketChars));
    } catch (...) {
        // A number too long for the message: nothing went out, so nothing
        // will ever end the send; the page is released before the error is
        // reported.
        SenderReset();
        throw;
    }
}

void DMail::InfoInd(TConnection& call, std::uint16_t infoNumber) {
    // The far end of a D-Mail call rings: the packet has arrived, hang up.
    if (call.Kind == CallKind::DMailOut && infoNumber == info::kAlerting)
        h_.capi.SendDisconnectReq(call.PLCI);
}

void DMail::ConnectConf(TConnection& call, std::uint16_t infoValue) {
    if (call.Kind != CallKind::DMailOut || dials_.empty()) return;
    const Dial dial = dials_.front();
    dials_.pop_front();
    if (!dial.packet) {
        // An acknowledgement call that cannot be set up is simply tried
        // again at the next timer expiry.
        if (infoValue == 0) ackCallPlcis_.push_back(call.PLCI);
        return;
    }
    const bool current = dial.send == sendSerial_ && DMailSendState == kSendingPackets;
    if (infoValue != 0) {
        // A packet call that cannot be set up ends the send.
        if (current) {
            StatusLine(dmail_text::kCannotDial);
            SenderReset();
        }
        return;
    }
    if (current)
        packetPlci_ = call.PLCI;
    else
        h_.capi.SendDisconnectReq(call.PLCI);  // its send was given up (Escape) meanwhile
}

void DMail::PacketEnded(std::uint16_t reasonValue) {
    if (const auto refusal = RefusalText(reasonValue)) {
        StatusLine(*refusal);
        SenderReset();
        return;
    }
    // Delivered: the next packet after PacketDelay, or the wait for "OK".
    DMailSendText.erase(0, std::min(DMailSendText.size(), kDMailPacketChars));
    if (!DMailSendText.empty()) {
        DMailSendTimer.SetEnabled(false);
        DMailSendTimer.SetInterval(h_.settings.PacketDelay);
        DMailSendTimer.SetEnabled(true);
        return;
    }
    DMailSendState = kWaitingForAck;
    ackPlci_.reset();
    DMailSendTimer.SetEnabled(false);
    DMailSendTimer.SetInterval(h_.settings.ACKTimeOut);
    DMailSendTimer.SetEnabled(true);
    StatusLine(dmail_text::kWaiting);
}

void DMail::DMailSendTimerTimer() {
    DMailSendTimer.SetEnabled(false);  // one-shot
    if (DMailSendState == kSendingPackets) {
        StatusLine(dmail_text::kSending);
        SendPacket();
    } else if (DMailSendState == kWaitingForAck) {
        AckTimedOut();
    }
}

void DMail::CapiLost() {
    // Without CAPI the packet call on its way is neither confirmed nor
    // ended: the send would wait for ever with the page disabled.
    // No confirmation comes for the requests on their way.
    dials_.clear();
    if (DMailSendState != kSendingPackets) return;
    StatusLine(dmail_text::kCannotDial);
    SenderReset();
}

// --- Receiving -----------------------------------------------------------

void DMail::Receive(TConnection& call) {
    // 1. With an own D-Mail MSN, calls to the line's other numbers are not ours.
    const std::string own = h_.ui.ControlText(Control::edDMailOwnMSN);
    if (!own.empty() && own != call.CalledNumber) return;
    // 2. Taken: alerted, then refused at its ALERT_CONF.
    call.Kind = CallKind::DMailIn;
    // 3. The acknowledgement of the message being sent, from any number. It
    //    is "OK" and nothing else: a packet is 19 characters or ends in the
    //    end mark, so a message that begins with "OK" is no acknowledgement.
    if (DMailSendState == kWaitingForAck && call.SubaddressText == kDMailAckText) {
        ackPlci_ = call.PLCI;
        Acknowledged();
        return;
    }
    // 4. A packet: the first of a message, the next from the same sender, or lost.
    if (DMailRecvState == kRecvReady && !call.SubaddressText.empty()) {
        DMailSender = call.CallingNumber;
        DMailRecvText = call.SubaddressText;
        DMailRecvState = kCollecting;
        recvPackets_ = 1;
        DMailRecvTimer.SetInterval(kDMailCollectMs);
        DMailRecvTimer.Restart();
    } else if (DMailRecvState == kCollecting && call.CallingNumber == DMailSender &&
               recvPackets_ < kDMailMaxPackets) {
        DMailRecvText += call.SubaddressText;
        ++recvPackets_;
        // Four packets make the longest message: without the end mark by
        // then, no message will come of them, however long the sender goes on.
        if (recvPackets_ == kDMailMaxPackets &&
            DMailRecvText.find(kDMailEndMark) == std::string::npos) {
            ReceiverReady();
            return;
        }
        DMailRecvTimer.Restart();
    }
}

void DMail::AlertConf(TConnection& call) {
    // An incoming D-Mail call is refused once it has been alerted: the text
    // has arrived, and no connection (and no charge) may come of it.
    if (call.Kind == CallKind::DMailIn)
        h_.capi.SendConnectResp(call.PLCI, reject::kIncompatibleDestination);
}

void DMail::ReceiverEnded(const TConnection& call) {
    // The end of the acknowledgement call ends the send. Only that call's:
    // a packet of another sender ending meanwhile is received as usual.
    if (DMailSendState == kWaitingForAck && ackPlci_ == call.PLCI) {
        ackPlci_.reset();
        SenderReset();
        return;
    }
    if (DMailRecvState != kCollecting) return;
    const auto end = DMailRecvText.find(kDMailEndMark);
    if (end == std::string::npos) return;
    // Complete: delivered, then acknowledged after ACKDelay, at most three
    // times. A sender without a number cannot be called back.
    const std::string text = DMailRecvText.substr(0, end);
    const std::string sender = DMailSender;
    Deliver(sender, text);
    DMailRecvTimer.SetEnabled(false);
    if (!AllDigits(sender)) {
        ReceiverReady();
    } else {
        DMailRecvTimer.SetInterval(h_.settings.ACKDelay);
        DMailRecvTimer.Tag = kDMailAckAttempts;
        DMailRecvTimer.SetEnabled(true);
        DMailRecvState = kAcknowledging;
    }
    Notify();
}

void DMail::ReceiverReady() {
    DMailRecvState = kRecvReady;
    DMailRecvText.clear();
    recvPackets_ = 0;
    DMailRecvTimer.SetEnabled(false);
}

void DMail::DMailRecvTimerTimer() {
    if (DMailRecvState == kCollecting) {
        // No end mark within 10 s of the last packet: the part is dropped.
        ReceiverReady();
        return;
    }
    if (DMailRecvState != kAcknowledging) {
        DMailRecvTimer.SetEnabled(false);
        return;
    }
    DMailRecvText.clear();
    if (DMailRecvTimer.Tag < 1) {
        ReceiverReady();
        return;
    }
    --DMailRecvTimer.Tag;
    // The timer keeps running: the next attempt follows unless this call ends.
    try {
        PlaceDMailCall(false, h_.settings.Suffix + DMailSender,
                       h_.ui.ControlText(Control::edDMailOwnMSN), kDMailAckText);
    } catch (const TolvarError&) {
        // A caller number too long for a call set-up cannot be called back,
        // at this attempt or any other: the message stays delivered.
        ReceiverReady();
    }
}

// --- Both ----------------------------------------------------------------

void DMail::ConnectActive(TConnection& call) {
    // A D-Mail call must never be connected: it would cost a charge.
    h_.capi.SendDisconnectReq(call.PLCI);
    StatusLine(dmail_text::kConnected);
    SenderReset();
    ReceiverReady();
}

void DMail::Disconnected(TConnection& call, std::uint16_t reasonValue) {
    if (call.Kind == CallKind::DMailIn) {
        ReceiverEnded(call);
        return;
    }
    // An outgoing call: the current packet, or an acknowledgement call
    // (without a channel that is tried again), each known by its CONNECT_CONF.
    if (packetPlci_ == call.PLCI) {
        packetPlci_.reset();
        if (DMailSendState == kSendingPackets) PacketEnded(reasonValue);
        return;
    }
    const auto ack = std::find(ackCallPlcis_.begin(), ackCallPlcis_.end(), call.PLCI);
    if (ack == ackCallPlcis_.end()) return;
    ackCallPlcis_.erase(ack);
    if (DMailRecvState == kAcknowledging && reasonValue != reason::kNoChannel) ReceiverReady();
}

}  // namespace tolvar
