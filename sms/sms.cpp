#include "sms/sms.h"

#include <exception>
#include <limits>

#include "capi/capi_session.h"
#include "capi/connection.h"
#include "core/charset.h"
#include "core/clock.h"
#include "core/front_end.h"
#include "dmail/receiver_lists.h"
#include "rules/number_text.h"
#include "sms/tap.h"
#include "sms/ucp.h"

namespace tolvar {

Sms::Sms(SmsHost host)
    : h_(std::move(host)),
      WatchDog(h_.timers, kWatchDogMs),
      ProtocolTask(h_.timers, kProtocolTaskMs),
      ConnectRetry(h_.timers, kConnectRetryMs) {
    WatchDog.OnTimer = [this] { Guarded([this] { WatchDogTimer(); }); };
    ProtocolTask.OnTimer = [this] { Guarded([this] { ProtocolTaskTimer(); }); };
    ConnectRetry.OnTimer = [this] { Guarded([this] { ConnectRetryTimer(); }); };
}

void Sms::Install(CallRouter& router) {
    router.SetOwner(CallKind::AutomaticSms, *this);
    router.SetOwner(CallKind::UserSms, *this);
    router.OnEvery(EveryCall::ConnectB3Active, [this] {
        WatchDog.SetEnabled(false);
        dialogue_.Reset();
        TxPending.clear();
        TxChunk.reset();
    });
    router.OnEvery(EveryCall::DisconnectB3, [this] { ProtocolTask.SetEnabled(false); });
}

void Sms::Guarded(const std::function<void()>& fn) {
    try {
        fn();
    } catch (const std::exception& e) {
        h_.ui.ReportError(e.what());
    }
}

void Sms::SetPageUsable(bool usable) {
    sendEnabled_ = usable;
    h_.ui.SetControlEnabled(Control::PageControl, usable);
    h_.ui.SetControlEnabled(Control::BtnSendSMS, usable);
}

void Sms::Trace(const std::string& line) {
    h_.ui.AppendStatusLine(StatusList::SmsTrace, line);
    lastLine_ = line;
}

void Sms::SendOver() {
    const bool ok = result_ && result_->first;
    const std::string line = result_ ? result_->second : lastLine_;
    result_.reset();
    if (h_.sendFinished) h_.sendFinished(job_.SMSReceiver, ok, line);
}

// --- The job ---------------------------------------------------------------

void Sms::BtnSendSMSClick() {
    if (!sendEnabled_) return;
    dialogue_.ProtocolState = 0;
    const std::string memo = h_.ui.ControlText(Control::MemoSMS);
    if (memo.empty()) {
        h_.dialogs.MessageBox(Dialogs::Kind::Error, kNoSmsMessage);
        h_.ui.FocusControl(Control::MemoSMS);
        return;
    }
    const std::string entry = h_.ui.ControlText(Control::cbSMSReceiver);
    const NumberText receiver = SplitNumberText(entry);
    if (!receiver.valid) {
        job_.SMSReceiver.clear();
        h_.dialogs.MessageBox(Dialogs::Kind::Warning, kSmsReceiverFormatWarning);
        h_.ui.FocusControl(Control::cbSMSReceiver);
        return;
    }
    jobProblem_.reset();
    tolvar::PrepareSMSJob(h_.registry(), job_, receiver.number, JoinLines(memo));
    if (job_.SMSCenterPhone.empty()) {
        h_.dialogs.MessageBox(Dialogs::Kind::Error, NoProviderMessage(job_.SMSReceiver));
        job_.SMSReceiver.clear();
        return;
    }
    // The centre would get an empty text and accept it.
    if (XlateTableProblem(job_)) {
        h_.dialogs.MessageBox(Dialogs::Kind::Error, XlateTableMessage(job_));
        job_.SMSReceiver.clear();
        return;
    }
    // What the user sent to is remembered once the centre accepts it, even
    // if the box holds other text by then.
    sentEntry_ = entry;
    h_.ui.ClearStatusList(StatusList::SmsTrace);
    DialSMSCenter(CallKind::UserSms);
}

void Sms::TypeReceiver(const std::string& text) {
    std::string typed;
    for (char c : text)
        if (!IsDiscardedReceiverChar(c)) typed += c;
    h_.ui.SetControlText(Control::cbSMSReceiver, typed);
}

void Sms::TypeMessage(const std::string& text) {
    std::string typed;
    std::size_t characters = 0;
    for (char c : text) {
        if (static_cast<std::uint8_t>(c) < 0x20) continue;
        // A character starts at every byte that does not continue one.
        if ((static_cast<std::uint8_t>(c) & 0xC0) != 0x80 && ++characters > kMaxSmsCharacters)
            break;
        typed += c;
    }
    h_.ui.SetControlText(Control::MemoSMS, typed);
}

void Sms::cmDelSMSReceiverEntryClick(const std::optional<std::string>& selected) {
    if (selected) h_.receivers.Remove(h_.registry(), ReceiverLists::Which::Sms, *selected);
}

void Sms::PrepareSMSJob(const std::string& receiver, const std::string& text) {
    // Called while an incoming call is being handled: a failure here must not
    // end that handling, and leaves a job that dials nothing.
    jobProblem_.reset();
    try {
        // The rule's parameter names the receiver as "Telefonnummer + [ Text]";
        // only its number goes to the centre.
        const NumberText split = SplitNumberText(receiver);
        if (!split.valid) {
            job_.SMSReceiver.clear();
            job_.SMSCenterPhone.clear();
            jobProblem_ = ReceiverFormatLine(receiver);
            return;
        }
        tolvar::PrepareSMSJob(h_.registry(), job_, split.number, text);
        if (job_.SMSCenterPhone.empty())
            jobProblem_ = NoProviderLine(job_.SMSReceiver);
        else
            jobProblem_ = XlateTableProblem(job_);
    } catch (const std::exception& e) {
        job_.SMSCenterPhone.clear();
        jobProblem_ = "";
        h_.ui.ReportError(e.what());
    }
}

void Sms::GiveUpAutomaticSMS(const std::string& why) {
    h_.ui.ClearStatusList(StatusList::SmsTrace);
    if (!why.empty()) Trace(why);
    Trace(kSmsFailed);
    SendOver();
    // There is one job: the one still being redialled was overwritten by this one.
    ConnectRetry.SetEnabled(false);
    if (h_.connections.FindNewestOfKind(CallKind::AutomaticSms) == nullptr) SetPageUsable(true);
}

bool Sms::StartAutomaticSMS() {
    // A rule's job is never dropped without a word.
    if (jobProblem_ || job_.SMSCenterPhone.empty()) {
        GiveUpAutomaticSMS(jobProblem_.value_or(""));
        return false;
    }
    h_.ui.ClearStatusList(StatusList::SmsTrace);
    SetPageUsable(false);
    ConnectRetry.Tag = kRetryTag;
    ConnectRetry.SetInterval(kConnectRetryMs);
    ConnectRetry.SetEnabled(true);
    try {
        DialSMSCenter(CallKind::AutomaticSms);
    } catch (const std::exception& e) {
        // A number the request cannot carry will not fit at the next try either.
        ConnectRetry.SetEnabled(false);
        SetPageUsable(true);
        h_.ui.ReportError(e.what());
        Trace(kSmsFailed);
        SendOver();
        return false;
    }
    return true;
}

// --- The data call ---------------------------------------------------------

void Sms::DialSMSCenter(CallKind kind) {
    ConnectReqParams p;
    p.purposeTag = PurposeTag(kind);
    p.cipValue = cip::kUnrestrictedDigital;
    p.calledNumber = job_.SMSCenterPhone;  // no own number, no subaddresses
    result_.reset();
    lastLine_.clear();
    h_.capi.SendConnectReq(p);
}

void Sms::ConnectConf(TConnection& call, std::uint16_t info) {
    const bool user = call.Kind == CallKind::UserSms;
    if (info != 0) {
        if (user) {
            h_.ui.SetBusyCursor(false);
            SetPageUsable(true);
            Trace(kSmsCannotDial);
            SendOver();
        }
        return;
    }
    call.NCCI = kNcciPending;
    watchDogPlci_ = call.PLCI;
    WatchDog.SetInterval(kWatchDogMs);
    WatchDog.Restart();
    if (user) {
        h_.ui.SetBusyCursor(true);
        Trace("Wähle SMS Center " + ReplaceControlCharacters(job_.SMSCenterPhone) + "...");
    }
}

void Sms::ConnectActive(TConnection& call) {
    // The centre answered: no more redials. Only an SMS call stops them; an
    // unrelated call taken meanwhile does not.
    ConnectRetry.SetEnabled(false);
    Trace("Verbunden.");
    h_.capi.SendConnectB3Req(call.PLCI);
}

void Sms::ConnectB3Conf(TConnection& call) {
    protocolNcci_ = call.NCCI;
}

bool Sms::ConnectB3Active(TConnection&) {
    ProtocolTask.SetInterval(kProtocolTaskMs);
    ProtocolTask.SetEnabled(true);
    return true;
}

void Sms::DataB3Ind(TConnection&, Bytes data) {
    dialogue_.RxBuffer.append(data.begin(), data.end());
}

void Sms::SendB3Data(std::uint32_t ncci, const std::string& bytes) {
    // Appended, not replacing: bytes of a frame still being sent stay.
    TxPending += bytes;
    if (!TxChunk) SendNextChunk(ncci);
}

void Sms::SendNextChunk(std::uint32_t ncci) {
    if (TxPending.empty()) return;
    const std::size_t n = std::min(kChunkSize, TxPending.size());
    TxChunk = TxPending.substr(0, n);
    TxPending.erase(0, n);
    h_.capi.SendDataB3Req(
        ncci, Bytes(reinterpret_cast<const std::uint8_t*>(TxChunk->data()), TxChunk->size()));
}

void Sms::DataB3Conf(TConnection& call) {
    TxChunk.reset();
    SendNextChunk(call.NCCI);
}

void Sms::DisconnectB3Ind(TConnection& call) {
    h_.capi.SendDisconnectReq(call.PLCI);
}

void Sms::Disconnected(TConnection& call, std::uint16_t reasonValue) {
    // The call WatchDog guards has ended; other calls' ends leave it running.
    if (call.PLCI == watchDogPlci_) WatchDog.SetEnabled(false);
    // A B3 link does not outlive its call (the CAPI link may have gone
    // without a DISCONNECT_B3_IND).
    if (call.NCCI != 0 && call.NCCI != kNcciPending && call.NCCI == protocolNcci_)
        ProtocolTask.SetEnabled(false);
    if (call.Kind == CallKind::UserSms) {
        h_.ui.SetBusyCursor(false);
        SetPageUsable(true);
        if (reasonValue == reason::kNone || reasonValue == reason::kNormalClearing)
            Trace("beendet.");
        else if (reasonValue == reason::kUserBusy || reasonValue == reason::kNoChannel)
            Trace("SMS Center besetzt.");
        else
            Trace("beendet. Reason : 0x" + Hex(reasonValue, 4));
        SendOver();
        return;
    }
    // An automatic call that ends with no redial to come (it became active,
    // or its redialling was stopped) gives the page back, result or not.
    if (ConnectRetry.Enabled()) return;
    for (std::size_t i = 0; i < h_.connections.Count(); ++i) {
        const TConnection& other = h_.connections[i];
        if (&other != &call && other.Kind == CallKind::AutomaticSms) return;
    }
    SetPageUsable(true);
    SendOver();
}

void Sms::ReportSMSResult(std::uint32_t ncci, bool success, const std::string& text) {
    Trace(text);
    result_ = {success, text};
    SetPageUsable(true);
    if (!success) return;
    const TConnection* call = h_.connections.FindConnectionByNCCI(ncci);
    // Automatic jobs never add receivers.
    if (call == nullptr || call->Kind != CallKind::UserSms || sentEntry_.empty()) return;
    // A settings file that cannot be written is reported; the dialogue goes
    // on and ends its link.
    try {
        h_.receivers.Remember(h_.registry(), ReceiverLists::Which::Sms, sentEntry_);
    } catch (const std::exception& e) {
        h_.ui.ReportError(e.what());
    }
}

// --- Timers ----------------------------------------------------------------

void Sms::WatchDogTimer() {
    WatchDog.SetEnabled(false);
    TConnection* call = h_.connections.FindConnectionByPLCI(watchDogPlci_);
    if (call == nullptr || !IsSmsKind(call->Kind)) return;
    SetPageUsable(true);
    // Before CONNECT_B3_CONF, or after one that refused the link, there is
    // no B3 link to end, and the call may still be ringing: it is cleared as
    // a whole.
    if (call->NCCI == kNcciPending || call->NCCI == 0)
        h_.capi.SendDisconnectReq(call->PLCI);
    else
        h_.capi.SendDisconnectB3Req(call->NCCI);
}

void Sms::ProtocolTaskTimer() {
    if (dialogue_.SilenceTime <=
        std::numeric_limits<std::int32_t>::max() - static_cast<std::int32_t>(kProtocolTaskMs))
        dialogue_.SilenceTime += static_cast<std::int32_t>(kProtocolTaskMs);
    if (job_.SMSProtocol == kProtocolUcp)
        Run(UCPStep(job_)(dialogue_), protocolNcci_);
    else if (job_.SMSProtocol == kProtocolTap)
        Run(TAPStep(job_)(dialogue_, h_.clock.TickCount()), protocolNcci_);
}

void Sms::Run(const DialogueActions& actions, std::uint32_t ncci) {
    for (const auto& a : actions) {
        switch (a.kind) {
            case DialogueAction::Kind::Send:
                SendB3Data(ncci, a.bytes);
                break;
            case DialogueAction::Kind::Trace:
                // The centre's text: Windows-1252, and never a new line.
                Trace(ReplaceControlCharacters(Cp1252ToUtf8(a.bytes)));
                break;
            case DialogueAction::Kind::Result:
                ReportSMSResult(ncci, a.success, a.bytes);
                break;
            case DialogueAction::Kind::EndB3:
                h_.capi.SendDisconnectB3Req(ncci);
                break;
        }
    }
}

void Sms::ConnectRetryTimer() {
    // A job prepared meanwhile that cannot go out is reported when its call ends.
    if (ConnectRetry.Tag != kRetryTag || job_.SMSText.empty() || job_.SMSCenterPhone.empty() ||
        jobProblem_ || XlateTableProblem(job_))
        return;
    dialogue_.ProtocolState = 0;
    h_.ui.ClearStatusList(StatusList::SmsTrace);
    try {
        DialSMSCenter(CallKind::AutomaticSms);
    } catch (const std::exception&) {
        ConnectRetry.SetEnabled(false);
        SetPageUsable(true);
        throw;
    }
}

}  // namespace tolvar
