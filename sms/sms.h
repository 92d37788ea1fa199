#pragma once
// SMS: the job of the page "SMS senden" and of the rule action "SMS an", the
// data call that carries it to the SMS centre (kinds AutomaticSms and
// UserSms), and the UCP or TAP dialogue driven on a 200 ms tick.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "calls/call_monitor.h"
#include "capi/call_router.h"
#include "core/timer.h"
#include "sms/dialogue.h"
#include "sms/sms_job.h"

namespace tolvar {

class CapiSession;
class Clock;
class Connections;
class Dialogs;
class FrontEnd;
class ReceiverLists;
class Registry;

struct SmsHost {
    CapiSession& capi;
    Connections& connections;
    TimerService& timers;
    Clock& clock;
    FrontEnd& ui;
    Dialogs& dialogs;
    ReceiverLists& receivers;
    // The settings; only asked for once the program has started.
    std::function<Registry&()> registry;
    // A send is over: its result, or its call's end with no result and no
    // redial to come. to: the receiver; line: the result's line, else the last one shown.
    std::function<void(const std::string& to, bool ok, const std::string& line)> sendFinished;
};

class Sms final : public CallOwner, public AutomaticSms {
  public:
    static constexpr std::uint32_t kWatchDogMs = 20000;
    static constexpr std::uint32_t kProtocolTaskMs = 200;
    static constexpr std::uint32_t kConnectRetryMs = 30000;
    // The tag ConnectRetry carries while it redials an automatic SMS.
    static constexpr int kRetryTag = static_cast<int>(CallKind::AutomaticSms);

    explicit Sms(SmsHost host);

    // The router hands this object the SMS kinds and the moments of every call.
    void Install(CallRouter& router);

    // The page.
    void BtnSendSMSClick();
    // "Eintrag entfernen" of the receiver box: the selected entry, if any.
    void cmDelSMSReceiverEntryClick(const std::optional<std::string>& selected);
    // The fields filled as typing would fill them: the receiver box drops
    // "/", "." and ","; the message field drops control characters (no line
    // can be typed) and keeps its first kMaxSmsCharacters characters.
    void TypeReceiver(const std::string& text);
    void TypeMessage(const std::string& text);
    // Whether "SMS &senden" can be pressed (an automatic job disables it).
    bool SendEnabled() const { return sendEnabled_; }

    // The rule action "SMS an": the receiver in the form "Telefonnummer + [ Text]".
    void PrepareSMSJob(const std::string& receiver, const std::string& text) override;
    bool StartAutomaticSMS() override;

    // The data call.
    void DialSMSCenter(CallKind kind);
    // Queues bytes for the B3 link; one chunk of at most kChunkSize bytes is
    // on its way at a time, the next follows its DATA_B3_CONF.
    void SendB3Data(std::uint32_t ncci, const std::string& bytes);
    void ReportSMSResult(std::uint32_t ncci, bool success, const std::string& text);
    static constexpr std::size_t kChunkSize = 10;

    // CallOwner, for AutomaticSms and UserSms.
    void ConnectConf(TConnection& call, std::uint16_t info) override;
    void ConnectActive(TConnection& call) override;
    void ConnectB3Conf(TConnection& call) override;
    bool ConnectB3Active(TConnection& call) override;
    void DataB3Ind(TConnection& call, Bytes data) override;
    void DataB3Conf(TConnection& call) override;
    void DisconnectB3Ind(TConnection& call) override;
    void Disconnected(TConnection& call, std::uint16_t reason) override;

    // Timer handlers.
    void WatchDogTimer();
    void ProtocolTaskTimer();
    void ConnectRetryTimer();

    // State, for the window and tests.
    const SmsJob& Job() const { return job_; }
    const DialogueFields& Dialogue() const { return dialogue_; }
    const Timer& WatchDogState() const { return WatchDog; }
    const Timer& ProtocolTaskState() const { return ProtocolTask; }
    const Timer& ConnectRetryState() const { return ConnectRetry; }

  private:
    void SetPageUsable(bool usable);
    // An automatic job that cannot go out: said in the trace list, and the
    // redialling of the job it overwrote ends.
    void GiveUpAutomaticSMS(const std::string& why);
    void Run(const DialogueActions& actions, std::uint32_t ncci);
    void SendNextChunk(std::uint32_t ncci);
    void Trace(const std::string& line);
    void SendOver();
    // A timer's handler: an error it raises is reported, not thrown into the loop.
    void Guarded(const std::function<void()>& fn);

    SmsHost h_;
    SmsJob job_;
    DialogueFields dialogue_;
    std::string TxPending;
    // The chunk of the latest DATA_B3_REQ, until its DATA_B3_CONF.
    std::optional<std::string> TxChunk;
    Timer WatchDog;
    Timer ProtocolTask;
    Timer ConnectRetry;
    // The call WatchDog guards (its PLCI: records may be gone by the time it
    // fires) and the B3 link ProtocolTask drives.
    std::uint32_t watchDogPlci_ = 0;
    std::uint32_t protocolNcci_ = 0;
    // The receiver entry of the latest page send, remembered once it succeeds.
    std::string sentEntry_;
    // Why the job the rule prepared cannot go out ("": reported already);
    // nothing when it can.
    std::optional<std::string> jobProblem_;
    bool sendEnabled_ = true;
    // Of the call being made: its result, and the last line shown.
    std::optional<std::pair<bool, std::string>> result_;
    std::string lastLine_;
};

}  // namespace tolvar
