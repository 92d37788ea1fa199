#include "calls/call_monitor.h"

#include <algorithm>
#include <filesystem>

#include "calls/connect_ind.h"
#include "calls/event_log.h"
#include "calls/program_start.h"
#include "capi/capi_session.h"
#include "capi/connection.h"
#include "core/charset.h"
#include "core/clock.h"
#include "core/front_end.h"
#include "desktop/tray.h"
#include "rules/rule_store.h"

namespace tolvar {

namespace {
constexpr std::uint32_t kSoundDelayMs = 1000;
}

CallMonitor::CallMonitor(CallMonitorHost host)
    : h_(std::move(host)), soundDelay_(h_.timers, kSoundDelayMs) {
    soundDelay_.OnTimer = [this] { SoundDelayElapsed(); };
}

void CallMonitor::ConnectInd(const CapiMessageView& msg) {
    const auto ind = DecodeConnectInd(msg);
    if (!ind) {
        if (h_.capi.TraceEnabled())
            h_.ui.AppendIsdnTrace(
                "CONNECT_IND zu kurz (" +
                std::to_string(std::min<std::size_t>(msg.Length(), msg.bytes().size())) +
                " Bytes), nicht bearbeitet");
        return;
    }
    if (!ind->fault.empty() && h_.capi.TraceEnabled())
        h_.ui.AppendIsdnTrace("CONNECT_IND: " + ind->fault +
                              " passt nicht in die Nachricht, ab hier leer");

    // 1. The call's record.
    TConnection record;
    record.PLCI = ind->plci;
    record.ArrivalTime = h_.clock.Now().timeOfDay;
    // 2.-4. Numbers and subaddress.
    // Numbers are digits; any other byte is taken as Windows-1252 so the log stays UTF-8.
    record.CalledNumber = Cp1252ToUtf8(ind->calledNumber);
    record.CallingNumber = ShownCallingNumber(Cp1252ToUtf8(ind->callingNumber));
    record.SubaddressText = ind->subaddressText;
    // 6. Service.
    record.CIPValue = ind->cip;
    TConnection& call = h_.connections.Add(std::move(record));

    // 5.-7. The line: time, caller, service, MSN.
    std::string line = FormatLongTime(call.ArrivalTime) + "   " + call.CallingNumber +
                       ServiceText(ind->cip) + " -> " + call.CalledNumber;
    // 8. Every call is alerted before any rule is looked at.
    h_.capi.SendAlertReq(call.PLCI);
    // 9. D-Mail calls are no monitored calls.
    if (ind->cip == 24) {
        if (h_.dmailReception) h_.dmailReception(call);
        return;
    }

    // 10.-11. The rule.
    const RuleNode* msn = h_.rules.FindMsnNode(call.CalledNumber);
    const RuleNode* caller = msn ? RuleStore::FindCallerNode(*msn, call.CallingNumber) : nullptr;
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
    // Codes above 5 name the other subsystems' calls (9 would reject this one
    // at ALERT_CONF); a code outside the action list, from a hive edited by
    // hand, only logs the call, like "Aus".
    const bool knownAction = entry.Action >= 0 && entry.Action <= 5;
    call.Kind = knownAction ? entry.Action : 0;
    if (!name.empty()) line += "  " + name;
    switch (call.Kind) {
        case 1:  // "Ausführen"
            if (h_.startProgram) h_.startProgram(entry.Param);
            h_.ui.ProgramStarted(entry.Param);
            line += " (" + FileNamePart(entry.Param) + ")";
            break;
        case 2: {  // "Sound", one second after the call arrived
            std::error_code ec;
            if (std::filesystem::is_regular_file(entry.Param, ec)) {
                PlayDelayedSound(call.PLCI, line, entry.Param, name);
                return;
            }
            break;
        }
        case 3:  // "Abfangen"
        case 5:  // pick up
            h_.capi.SendConnectResp(call.PLCI, 0);
            break;
        case 4: {  // "SMS an": prepared now, sent if the call is missed
            std::string text = "Tolvar: Anruf von " + call.CallingNumber;
            if (!name.empty()) text += " " + name;
            if (h_.prepareSms) h_.prepareSms(entry.Param, text);
            break;
        }
        default:
            break;
    }
    FinishArrival(call.PLCI, line, true, name, call.Kind != 2 && call.Kind != 3);
}

void CallMonitor::PlayDelayedSound(std::uint32_t plci, std::string line, std::string path,
                                   std::string name) {
    // Whatever CAPI reports meanwhile waits, as it would behind a handler that slept.
    h_.capi.Hold();
    pendingSound_ = PendingSound{plci, std::move(line), std::move(path), std::move(name)};
    soundDelay_.Restart();
}

void CallMonitor::SoundDelayElapsed() {
    soundDelay_.SetEnabled(false);
    if (!pendingSound_) return;
    const PendingSound p = std::move(*pendingSound_);
    pendingSound_.reset();
    PlaySoundFile(h_.ui, p.path);
    FinishArrival(p.plci, p.line + " (" + FileNamePart(p.path) + ")", true, p.name, false);
    // Messages kept meanwhile run now; one of them may be the next sound call.
    h_.capi.Resume();
}

void CallMonitor::FinishArrival(std::uint32_t plci, std::string line, bool callerFound,
                                const std::string& name, bool announce) {
    TConnection* call = h_.connections.FindConnectionByPLCI(plci);
    if (call == nullptr) return;
    // 14. Contact lookup, whenever a caller node was found.
    if (callerFound && h_.useOutlook && h_.useOutlook()) h_.ui.LookUpContact(call->CallingNumber);
    // 15. Announcement of a known caller.
    if (callerFound && announce && !name.empty() && h_.useAgent && h_.useAgent())
        h_.ui.AnnounceCaller("Anruf von " + name);
    // 16. The line, after a date header when the day changed.
    h_.log.DateHeaderRule();
    call->LogLine = h_.log.AppendLine(line);
}

void CallMonitor::InfoInd(const CapiMessageView& msg) {
    const std::uint32_t plci = msg.FirstParameter();
    h_.capi.SendInfoResp(msg.MessageNumber(), plci);
    const TConnection* call = h_.connections.FindConnectionByPLCI(plci);
    const auto info = ReadU16(msg.bytes(), 12);
    // The far end of a D-Mail call rings: the packet has arrived, hang up.
    if (call != nullptr && call->Kind == 8 && info == 0x8001) h_.capi.SendDisconnectReq(plci);
}

void CallMonitor::ConnectActiveInd(const CapiMessageView& msg) {
    const std::uint32_t plci = msg.FirstParameter();
    h_.capi.SendConnectActiveResp(msg.MessageNumber(), plci);
    if (h_.stopSmsConnectRetry) h_.stopSmsConnectRetry();
    TConnection* call = h_.connections.FindConnectionByPLCI(plci);
    if (call == nullptr) return;
    switch (call->Kind) {
        case 5:
            break;  // picked up: stays connected
        case 6:
        case 7:
            if (h_.smsConnected) h_.smsConnected(*call);
            break;
        case 8:
        case 9:
            h_.capi.SendDisconnectReq(plci);
            if (h_.dmailConnected) h_.dmailConnected(*call);
            break;
        default:
            h_.capi.SendDisconnectReq(plci);  // "Abfangen" cuts the caller off here
    }
}

void CallMonitor::AppendToLine(const TConnection& call, const std::string& text) {
    if (call.LogLine < 0 || static_cast<std::size_t>(call.LogLine) >= h_.log.Lines().size()) return;
    h_.log.ReplaceLine(call.LogLine, h_.log.Lines()[static_cast<std::size_t>(call.LogLine)] + text);
}

void CallMonitor::DisconnectInd(const CapiMessageView& msg) {
    const std::uint32_t plci = msg.FirstParameter();
    h_.capi.SendDisconnectResp(msg.MessageNumber(), plci);
    if (h_.stopSmsWatchDog) h_.stopSmsWatchDog();
    TConnection* call = h_.connections.FindConnectionByPLCI(plci);
    if (call == nullptr) return;
    const std::uint16_t reason = ReadU16(msg.bytes(), 12).value_or(0);
    const bool answeredElsewhere =
        reason == kReasonOtherApplication || reason == kReasonNonSelectedUser;
    switch (call->Kind) {
        case 0:
        case 1:
        case 2:
            if (answeredElsewhere) AppendToLine(*call, "  verbunden.");
            h_.log.WriteFile();
            break;
        case 3:
            AppendToLine(*call, "  abgefangen.");
            h_.log.WriteFile();
            break;
        case 4:
            if (answeredElsewhere) {
                AppendToLine(*call, "  verbunden.");
            } else {
                AppendToLine(*call, "  sende SMS.");
                if (h_.startAutomaticSms) h_.startAutomaticSms();
            }
            h_.log.WriteFile();
            break;
        case 5: {
            // The duration modulo one day; the line reaches the file with the next write.
            double elapsed = h_.clock.Now().timeOfDay - call->ArrivalTime;
            if (elapsed < 0) elapsed += 1.0;
            AppendToLine(*call, "  abgehoben " + FormatLongTime(elapsed));
            break;
        }
        case 6:
        case 7:
            if (h_.smsEnded) h_.smsEnded(*call, reason);
            break;
        case 8:
        case 9:
            if (h_.dmailEnded) h_.dmailEnded(*call, reason);
            break;
        default:
            break;
    }
    h_.connections.Remove(call);
    if (h_.releaseCharacter) h_.releaseCharacter();
}

}  // namespace tolvar
