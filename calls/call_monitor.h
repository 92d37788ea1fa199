#pragma once
// Incoming calls from their indication to their end: decoding, the rule that
// applies, the action's three moments and the event-log line. The monitor
// owns the calls of the kinds 0 to 5 (the rule actions).

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "capi/call_router.h"
#include "capi/capi_message.h"
#include "core/devices.h"
#include "core/timer.h"
#include "desktop/call_desktop.h"

namespace tolvar {

class CapiLink;
class CapiSession;
class Clock;
class Connections;
class EventLog;
class FrontEnd;
class RuleStore;
struct TConnection;

// D-Mail reception: sees every call with D-Mail's CIP value before it is alerted and may take
// it as D-Mail (its kind becomes DMailIn).
class DMailReception {
  public:
    virtual ~DMailReception() = default;
    virtual void Receive(TConnection& call) = 0;
};

// The SMS job of the action "SMS an": prepared while the call rings, sent
// when it ends unanswered.
class AutomaticSms {
  public:
    virtual ~AutomaticSms() = default;
    virtual void PrepareSMSJob(const std::string& receiver, const std::string& text) = 0;
    // False when the job was given up (and said so) instead of sent.
    virtual bool StartAutomaticSMS() = 0;
};

// What an incoming call is, as listeners outside the program are told of it.
struct CallInfo {
    std::uint32_t plci = 0;
    std::string caller;   // empty when withheld
    std::string called;   // the MSN
    std::string service;  // the log line's service text, without its brackets
    std::string name;     // the rule's name of the caller
    std::string action;   // the caption of the rule entry's action; empty without one
};

// The three moments of every monitored incoming call, for observers that
// publish them (they must not hold the call up).
class CallEvents {
  public:
    virtual ~CallEvents() = default;
    virtual void CallRinging(const CallInfo& call) = 0;
    // Answered here, or taken by another terminal (known at its end).
    virtual void CallConnected(std::uint32_t plci) = 0;
    // missed: answered neither here nor elsewhere; line: the finished event-log line.
    virtual void CallEnded(std::uint32_t plci, bool missed, const std::string& line) = 0;
};

struct CallMonitorHost {
    CapiSession& capi;
    CapiLink& link;
    Connections& connections;
    EventLog& log;
    RuleStore& rules;
    Clock& clock;
    TimerService& timers;
    FrontEnd& ui;
    Devices devices;
    // The options read at start: contact lookup and announcements.
    std::function<bool()> useOutlook;
    std::function<bool()> useAgent;
    // The subsystems that take part in incoming calls; none until they exist.
    DMailReception* dmail = nullptr;
    AutomaticSms* sms = nullptr;
    CallDesktop* desktop = nullptr;
    CallEvents* events = nullptr;
};

class CallMonitor final : public CallOwner {
  public:
    explicit CallMonitor(CallMonitorHost host);

    void ConnectInd(const CapiMessageView& msg);

    // CallOwner, for the kinds 0 to 5.
    void ConnectActive(TConnection& call) override;
    void Disconnected(TConnection& call, std::uint16_t reason) override;

  private:
    // Steps after the action's at-arrival step: lookup, announcement, log line.
    void FinishArrival(std::uint32_t plci, std::string line, bool callerFound,
                       const std::string& name, bool announce, const char* action = "");
    // Sends a plain call's ALERT_REQ straight from the message; false when
    // the call is to be alerted later (see ConnectInd).
    bool AlertEarly(const CapiMessageView& msg);
    void PlayDelayedSound(std::uint32_t plci, std::string line, std::string path, std::string name);
    void SoundDelayElapsed();
    void AppendToLine(const TConnection& call, const std::string& text);
    void Finished(const TConnection& call, const std::string& ending, bool missed);

    CallMonitorHost h_;
    Timer soundDelay_;
    // The call waiting for its sound; only one can, since CAPI is held meanwhile.
    struct PendingSound {
        std::uint32_t plci;
        std::string line, path, name;
    };
    std::optional<PendingSound> pendingSound_;
};

}  // namespace tolvar
