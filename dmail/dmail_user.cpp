// The user's side of D-Mail: the send checks of the page "D-Mail senden",
// its status lines and message log, releasing the page, remembering the
// receiver, and the delivery of a received message.

#include <exception>

#include "calls/event_log.h"
#include "capi/capi_session.h"
#include "capi/connection.h"
#include "core/charset.h"
#include "core/clock.h"
#include "dmail/dmail.h"
#include "dmail/dmail_settings.h"
#include "dmail/receiver_lists.h"
#include "rules/number_text.h"

namespace tolvar {

void DMail::StatusLine(const std::string& text) {
    h_.ui.AppendStatusLine(StatusList::DMailStatus, text);
    // Every line but the two of progress ends a send; the time-out's comes
    // after the sender went idle.
    const bool progress = text == dmail_text::kSending || text == dmail_text::kWaiting;
    if (!progress && h_.sendFinished && (DMailSendState != kSendIdle || text == dmail_text::kNoAck))
        h_.sendFinished(h_.settings.Suffix + DMailReceiverNumber, text == dmail_text::kAcknowledged,
                        text);
}

void DMail::BtnSendDMailClick() {
    // The button is disabled while a send is on.
    if (DMailSendState != kSendIdle) return;
    FrontEnd& ui = h_.ui;
    // 1. A fresh start.
    DMailSendText.clear();
    DMailReceiverNumber.clear();
    DMailReceiverName.clear();
    DMailOwnNumber.clear();
    ui.ClearStatusList(StatusList::DMailStatus);
    // 2. A message, without anything that could end it early (the end mark)
    //    or start a new line at the receiver.
    const std::string message = ReplaceControlCharacters(ui.ControlText(Control::edDMailSend));
    if (message.empty()) {
        h_.dialogs.MessageBox(Dialogs::Kind::Error, dmail_text::kNoMessage);
        ui.FocusControl(Control::edDMailSend);
        return;
    }
    // 3. A receiver of the form "Telefonnummer + [ Text]".
    const NumberText receiver = SplitNumberText(ui.ControlText(Control::cbDMailReceiver));
    if (!receiver.valid) {
        h_.dialogs.MessageBox(Dialogs::Kind::Error, dmail_text::kReceiverFormat);
        ui.FocusControl(Control::cbDMailReceiver);
        return;
    }
    DMailReceiverNumber = receiver.number;
    DMailReceiverName = receiver.text;
    // 4. No page and no control responds during the send; the menu does.
    ui.SetControlEnabled(Control::BtnSendDMail, false);
    ui.SetControlEnabled(Control::PageControl, false);
    // 5.-7.
    DMailOwnNumber = ui.ControlText(Control::edDMailOwnMSN);
    ui.AppendStatusLine(StatusList::DMailLog,
                        h_.settings.Suffix + DMailReceiverNumber + " < " + message, true);
    StatusLine(dmail_text::kSending);
    // 8. The text goes on the wire in the program's 8-bit character set.
    DMailSendState = kSendingPackets;
    DMailSendText = Utf8ToCp1252(message) + kDMailEndMark;
    ui.SetBusyCursor(true);
    SendPacket();
}

void DMail::SenderReset() {
    DMailSendState = kSendIdle;
    DMailSendTimer.SetEnabled(false);
    DMailReceiverNumber.clear();
    DMailOwnNumber.clear();
    DMailSendText.clear();
    ackPlci_.reset();
    // A packet call still on its way belongs to a send that is over.
    packetPlci_.reset();
    ++sendSerial_;
    FrontEnd& ui = h_.ui;
    ui.SetBusyCursor(false);
    ui.SetControlEnabled(Control::PageControl, true);
    ui.SetControlEnabled(Control::BtnSendDMail, true);
    // Ready for the next message.
    if (h_.windowVisible() && h_.activePage() == Page::DMail)
        ui.FocusControl(Control::edDMailSend, true);
}

void DMail::FormKeyDownEscape() {
    if (DMailSendState == kSendIdle) return;
    // The packet call on its way is hung up (not an acknowledgement call
    // this copy places meanwhile); the page is released at once.
    if (packetPlci_ && *packetPlci_ != 0) h_.capi.SendDisconnectReq(*packetPlci_);
    SenderReset();
}

void DMail::AckTimedOut() {
    FrontEnd& ui = h_.ui;
    ui.SetBusyCursor(false);
    ui.SetControlEnabled(Control::PageControl, true);
    ui.SetControlEnabled(Control::BtnSendDMail, true);
    DMailSendState = kSendIdle;
    StatusLine(dmail_text::kNoAck);
}

void DMail::Acknowledged() {
    DMailSendTimer.SetEnabled(false);
    StatusLine(dmail_text::kAcknowledged);
    // The receiver is remembered. This runs before the acknowledgement call
    // is alerted: a settings file that cannot be written is reported, and
    // the call is still refused as it must be.
    try {
        if (Registry* registry = h_.registry())
            h_.receivers.Remember(*registry, ReceiverLists::Which::DMail,
                                  h_.ui.ControlText(Control::cbDMailReceiver));
    } catch (const std::exception& e) {
        h_.ui.ReportError(e.what());
    }
    // The page itself stays disabled until the acknowledgement call has ended.
    h_.ui.SetControlEnabled(Control::BtnSendDMail, true);
}

void DMail::Deliver(const std::string& sender, const std::string& text) {
    // 1. Where the user does not look at the page, the event log keeps it.
    if (!h_.windowVisible() || h_.activePage() != Page::DMail) {
        h_.log.DateHeaderRule();
        h_.log.AppendLine(FormatLongTime(h_.clock.Now().timeOfDay) + "   " + sender + " * " + text);
        h_.log.WriteFile();
        // And the desktop tells of it.
        if (h_.notify) h_.notify(sender + " > " + text);
    }
    // 2. The message log.
    h_.ui.AppendStatusLine(StatusList::DMailLog, sender + " > " + text, false);
}

void DMail::Notify() {
    // Once the acknowledgement is under way: the icon blinks unless the user
    // looks at the event log or the D-Mail page.
    const Page page = h_.activePage();
    if (!h_.windowVisible() || (page != Page::Protokoll && page != Page::DMail))
        h_.setAttention(true);
}

void DMail::cmDelDMailReceiverEntryClick(const std::string& selectedEntry) {
    if (Registry* registry = h_.registry())
        h_.receivers.Remove(*registry, ReceiverLists::Which::DMail, selectedEntry);
}

void DMail::ClearMessageLog() {
    // The message log is not stored: emptying the list is all.
    h_.ui.ClearStatusList(StatusList::DMailLog);
}

}  // namespace tolvar
