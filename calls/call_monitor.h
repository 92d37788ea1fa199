#pragma once
// Incoming calls from their indication to their end: decoding, the rule that
// applies, the action's three moments, the event-log line, and the progress
// messages of every call (ALERT_CONF aside, which the engine answers).

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "capi/capi_message.h"
#include "core/timer.h"

namespace tolvar {

class CapiSession;
class Clock;
class Connections;
class EventLog;
class FrontEnd;
class RuleStore;
struct TConnection;
struct TActionItem;

// DISCONNECT_IND reasons that mean another terminal or application answered.
inline constexpr std::uint16_t kReasonOtherApplication = 0x3304;
inline constexpr std::uint16_t kReasonNonSelectedUser = 0x349A;

struct CallMonitorHost {
    CapiSession& capi;
    Connections& connections;
    EventLog& log;
    RuleStore& rules;
    Clock& clock;
    TimerService& timers;
    FrontEnd& ui;
    // Starts a command line detached; false when it cannot be started.
    std::function<bool(const std::string&)> startProgram;
    // The options read at start: contact lookup and announcements.
    std::function<bool()> useOutlook;
    std::function<bool()> useAgent;
    // The seats of the subsystems that own the other kinds of call.
    std::function<void(TConnection&)> dmailReception = {};  // CIP 24 at arrival
    std::function<void(const std::string&, const std::string&)> prepareSms = {};  // receiver, text
    std::function<void()> startAutomaticSms = {};
    std::function<void()> stopSmsConnectRetry = {};
    std::function<void()> stopSmsWatchDog = {};
    std::function<void(TConnection&)> smsConnected = {};             // Kind 6, 7 active
    std::function<void(TConnection&, std::uint16_t)> smsEnded = {};  // Kind 6, 7 disconnected
    std::function<void(TConnection&)> dmailConnected = {};           // Kind 8, 9 active (an error)
    std::function<void(TConnection&, std::uint16_t)> dmailEnded = {};  // Kind 8, 9 disconnected
    std::function<void()> releaseCharacter = {};
};

class CallMonitor {
  public:
    explicit CallMonitor(CallMonitorHost host);

    void ConnectInd(const CapiMessageView& msg);
    void InfoInd(const CapiMessageView& msg);
    void ConnectActiveInd(const CapiMessageView& msg);
    void DisconnectInd(const CapiMessageView& msg);

  private:
    // Steps after the action's at-arrival step: lookup, announcement, log line.
    void FinishArrival(std::uint32_t plci, std::string line, bool callerFound,
                       const std::string& name, bool announce);
    void PlayDelayedSound(std::uint32_t plci, std::string line, std::string path, std::string name);
    void SoundDelayElapsed();
    void AppendToLine(const TConnection& call, const std::string& text);

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
