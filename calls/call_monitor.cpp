#include "calls/call_monitor.h"

#include <algorithm>
#include <filesystem>

#include "calls/connect_ind.h"
#include "calls/event_log.h"
#include "capi/capi_codes.h"
#include "capi/capi_link.h"
#include "capi/capi_session.h"
#include "capi/connection.h"
#include "core/charset.h"
#include "core/clock.h"
#include "core/front_end.h"
#include "core/program_start.h"
#include "desktop/phone_number.h"
#include "desktop/tray.h"
#include "rules/rule_editor.h"
#include "rules/rule_store.h"

namespace tolvar {

namespace {
constexpr std::uint32_t kSoundDelayMs = 1000;

// Text from the line, as the program keeps it: UTF-8 (bytes that are no
// digits taken as Windows-1252) without control characters.
std::string FromLine(const std::string& bytes, std::string_view keep = {}) {
    return ReplaceControlCharacters(Cp1252ToUtf8(bytes), keep);
}

// " (Daten)" as a word of its own: "Daten".
std::string ServiceWord(std::uint16_t cip) {
    std::string text = ServiceText(cip);
    if (text.size() >= 3 && text.compare(0, 2, " (") == 0 && text.back() == ')')
        text = text.substr(2, text.size() - 3);
    return text;
}

// The caption of an action code; empty for the pick-up, which has none.
const char* ActionCaption(CallKind kind) {
    const auto code = static_cast<std::size_t>(kind);
    return code < kActionTexts.size() ? kActionTexts[code] : "";
}
}  // namespace

CallMonitor::CallMonitor(CallMonitorHost host)
    : h_(std::move(host)), soundDelay_(h_.timers, kSoundDelayMs) {
    soundDelay_.OnTimer = [this] { SoundDelayElapsed(); };
}

void CallMonitor::ConnectInd(const CapiMessageView& msg) {
    // 8. Every call is alerted before any rule is looked at, and before the
    //    program's own bookkeeping (steps 1-7): the caller is told at once.
    //    Alerting needs the PLCI and the CIP value alone. A D-Mail call goes
    //    to D-Mail reception first (6) and is alerted below; so is every call
    //    while the ISDN trace is written, whose lines about a malformed
    //    message come before the ALERT_REQ's.
    const bool early = AlertEarly(msg);
    const auto ind = DecodeConnectInd(msg);
    if (!ind) {
        if (h_.capi.TraceEnabled())
            h_.capi.TraceLine(
                "CONNECT_IND zu kurz (" +
                std::to_string(std::min<std::size_t>(msg.Length(), msg.bytes().size())) +
                " Bytes), nicht bearbeitet");
        return;
    }
    if (!ind->fault.empty() && h_.capi.TraceEnabled())
        h_.capi.TraceLine("CONNECT_IND: " + ind->fault + " passt nicht in die Nachricht (" +
                          std::string(ParamFaultText(ind->faultKind)) + "), ab hier leer");
    const bool dmailCall = ind->cip == cip::kDMail;
    if (!dmailCall && !early) h_.capi.SendAlertReq(ind->plci);

    // 1. The call's record.
    TConnection record;
    record.PLCI = ind->plci;
    record.ArrivalTime = h_.clock.Now().timeOfDay;
    // 2.-4. Numbers and subaddress; nothing from the line may start a new line
    // anywhere the program shows or stores it. The subaddress keeps its CR,
    // which ends a D-Mail.
    record.CalledNumber = FromLine(ind->calledNumber);
    const std::string callingDigits = FromLine(ind->callingNumber);
    record.CallingNumber = ShownCallingNumber(callingDigits, ind->callingInternational);
    record.SubaddressText = FromLine(ind->subaddressText, "\r");
    record.CIPValue = ind->cip;
    TConnection& call = h_.connections.Add(std::move(record));

    // 5.-7. The line: time, caller, service, MSN.
    std::string line = FormatLongTime(call.ArrivalTime) + "   " + call.CallingNumber +
                       ServiceText(ind->cip) + " -> " + call.CalledNumber;
    // 6. A D-Mail call goes to D-Mail reception before it is alerted; 9. it
    //    is no monitored call.
    if (dmailCall) {
        if (h_.dmail) h_.dmail->Receive(call);
        h_.capi.SendAlertReq(call.PLCI);
        return;
    }

    // 10.-11. The rule.
    const RuleNode* msn = h_.rules.FindMsnNode(call.CalledNumber);
    const RuleNode* caller =
        msn ? RuleStore::FindCallerNode(
                  *msn, call.CallingNumber,
                  FormerCallingNumber(callingDigits, ind->callingInternational))
            : nullptr;
    if (caller == nullptr) {
        FinishArrival(call.PLCI, line, false, "", false);
        return;
    }
    // 12. The caller's name.
    const std::string name = SplitNumberText(caller->Text()).text;
    // 13. The entry in force and its at-arrival step.
    const auto index = RuleStore::SelectEntry(*caller, call.ArrivalTime);
    if (!index) {
        FinishArrival(call.PLCI, line, true, name, true);
        return;
    }
    const TActionItem& entry = (*caller->Entries())[*index];
    // A code outside the action list, from a hive edited by hand, only logs
    // the call, like "Aus": as a kind of call it would name another
    // subsystem's call (DMailIn would even reject this one).
    call.Kind = CallKindOfAction(entry.Action).value_or(CallKind::Aus);
    if (!name.empty()) line += "  " + name;
    switch (call.Kind) {
        case CallKind::Ausfuehren:
            // A program that cannot be started is not reported; its name goes
            // to the line all the same.
            h_.devices.programs.Start(entry.Param);
            line += " (" + FileNamePart(entry.Param) + ")";
            break;
        case CallKind::Sound: {  // one second after the call arrived
            std::error_code ec;
            if (std::filesystem::is_regular_file(entry.Param, ec)) {
                PlayDelayedSound(call.PLCI, line, entry.Param, name);
                return;
            }
            break;
        }
        case CallKind::Abfangen:
        case CallKind::Abheben:
            h_.capi.SendConnectResp(call.PLCI, reject::kAccept);
            break;
        case CallKind::SmsAn: {  // prepared now, sent if the call is missed
            std::string text = "Tolvar: Anruf von " + call.CallingNumber;
            if (!name.empty()) text += " " + name;
            if (h_.sms) h_.sms->PrepareSMSJob(entry.Param, text);
            break;
        }
        default:
            break;
    }
    FinishArrival(call.PLCI, line, true, name,
                  call.Kind != CallKind::Sound && call.Kind != CallKind::Abfangen,
                  ActionCaption(call.Kind));
}

bool CallMonitor::AlertEarly(const CapiMessageView& msg) {
    if (h_.capi.TraceEnabled()) return false;
    const Bytes wire = msg.bytes().first(std::min<std::size_t>(msg.bytes().size(), msg.Length()));
    const auto plci = ReadU32(wire, 8);
    const auto cip = ReadU16(wire, 12);
    // Without both the message is no call (see DecodeConnectInd).
    if (!plci || !cip || *cip == cip::kDMail) return false;
    h_.capi.SendAlertReq(*plci);
    return true;
}

void CallMonitor::PlayDelayedSound(std::uint32_t plci, std::string line, std::string path,
                                   std::string name) {
    // Whatever CAPI reports meanwhile waits, as it would behind a handler that slept.
    h_.link.Hold();
    pendingSound_ = PendingSound{plci, std::move(line), std::move(path), std::move(name)};
    soundDelay_.Restart();
}

void CallMonitor::SoundDelayElapsed() {
    soundDelay_.SetEnabled(false);
    if (!pendingSound_) return;
    const PendingSound p = std::move(*pendingSound_);
    pendingSound_.reset();
    // Messages that waited are fetched once this handler is over, even if it fails.
    struct ResumeAfter {
        CapiLink& link;
        ~ResumeAfter() { link.Resume(); }
    } resume{h_.link};
    PlaySoundFile(h_.devices.sound, p.path);
    FinishArrival(p.plci, p.line + " (" + FileNamePart(p.path) + ")", true, p.name, false,
                  ActionCaption(CallKind::Sound));
}

void CallMonitor::FinishArrival(std::uint32_t plci, std::string line, bool callerFound,
                                const std::string& name, bool announce, const char* action) {
    TConnection* call = h_.connections.FindConnectionByPLCI(plci);
    if (call == nullptr) return;
    // 14. Contact lookup, whenever a caller node was found.
    if (callerFound && h_.useOutlook && h_.useOutlook() && h_.desktop)
        h_.desktop->LookUpContact(call->CallingNumber);
    // 15. Announcement of a known caller.
    if (callerFound && announce && !name.empty() && h_.useAgent && h_.useAgent() && h_.desktop)
        h_.desktop->AnnounceCaller(name);
    // 16. The line, after a date header when the day changed.
    h_.log.DateHeaderRule();
    call->LogLine = h_.log.AppendLine(line);
    if (h_.desktop) h_.desktop->CallArrived(plci, line);
    if (h_.events)
        h_.events->CallRinging(
            {.plci = plci,
             .caller = IsDialledNumber(call->CallingNumber) ? call->CallingNumber : std::string(),
             .called = call->CalledNumber,
             .service = ServiceWord(call->CIPValue),
             .name = name,
             .action = action});
}

void CallMonitor::ConnectActive(TConnection& call) {
    // A picked-up call stays connected; every other accepted call was
    // intercepted and is cut off here.
    if (call.Kind != CallKind::Abheben) h_.capi.SendDisconnectReq(call.PLCI);
    if (h_.events) h_.events->CallConnected(call.PLCI);
}

void CallMonitor::AppendToLine(const TConnection& call, const std::string& text) {
    if (call.LogLine < 0 || static_cast<std::size_t>(call.LogLine) >= h_.log.Lines().size()) return;
    h_.log.ReplaceLine(call.LogLine,
                       std::string(h_.log.Lines()[static_cast<std::size_t>(call.LogLine)]) + text);
}

void CallMonitor::Finished(const TConnection& call, const std::string& ending, bool missed) {
    if (!ending.empty()) AppendToLine(call, ending);
    if (h_.desktop) h_.desktop->CallFinished(call.PLCI, ending, missed);
    if (h_.events) {
        const auto& lines = h_.log.Lines();
        const bool hasLine =
            call.LogLine >= 0 && static_cast<std::size_t>(call.LogLine) < lines.size();
        h_.events->CallEnded(
            call.PLCI, missed,
            hasLine ? std::string(lines[static_cast<std::size_t>(call.LogLine)]) : std::string());
    }
}

void CallMonitor::Disconnected(TConnection& call, std::uint16_t reasonValue) {
    const bool answeredElsewhere = reason::AnsweredElsewhere(reasonValue);
    // Another terminal took the call: for this program that is its connection
    // (an observer told of it before keeps the first).
    if (answeredElsewhere && h_.events) h_.events->CallConnected(call.PLCI);
    switch (call.Kind) {
        case CallKind::Abfangen:
            Finished(call, "  abgefangen.", false);
            break;
        case CallKind::SmsAn:
            if (answeredElsewhere) {
                Finished(call, "  verbunden.", false);
            } else {
                // A job given up before it is dialled is not claimed as sent.
                const bool sending = h_.sms == nullptr || h_.sms->StartAutomaticSMS();
                Finished(call, sending ? "  sende SMS." : "  SMS nicht verschickt.", true);
            }
            break;
        case CallKind::Abheben: {
            // The duration modulo one day; the line reaches the file with the next write.
            double elapsed = h_.clock.Now().timeOfDay - call.ArrivalTime;
            if (elapsed < 0) elapsed += 1.0;
            Finished(call, "  abgehoben " + FormatLongTime(elapsed), false);
            return;
        }
        default:  // "Aus", "Ausführen", "Sound"
            Finished(call, answeredElsewhere ? "  verbunden." : "", !answeredElsewhere);
            break;
    }
    h_.log.WriteFile();
}

}  // namespace tolvar
