#pragma once
// The simulated exchange: lines with their MSNs and B channels, the
// applications attached to them (one remote-CAPI connection each), calls
// between applications, scripted callers, other terminals, far-end phones and
// SMS centres. Transport-free: the server hands it frame payloads and gives
// it a function to send payloads back; time comes from a Scheduler.

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "line/scheduler.h"
#include "line/smsc.h"
#include "line/wire.h"

namespace tolvar::line {

// Every delay of the network, in ms.
struct Delays {
    std::uint32_t net = 60;          // a message crossing the network
    std::uint32_t alert = 300;       // far end alerts -> caller learns of it
    std::uint32_t connect = 150;     // answer -> both sides connected
    std::uint32_t ring = 20000;      // a scripted caller rings this long
    std::uint32_t no_answer = 4000;  // nobody on the called line reacts
    std::uint32_t answer = 1500;     // SMS centres and phones answer after
    std::uint32_t reply = 200;       // an SMS centre's answer to data
    std::uint32_t response = 4000;   // a missing response is reported after
    std::uint32_t talk = 30000;      // a scripted caller talks this long once answered
};
Delays RealisticDelays();
Delays FastDelays();
// Sets one delay by its name ("alert", "ring", ...); false if unknown.
bool SetDelay(Delays& d, const std::string& name, std::uint32_t ms);
std::vector<std::pair<std::string, std::uint32_t>> ListDelays(const Delays& d);

struct LineConfig {
    std::string name;
    std::uint16_t port = 0;
    std::string area = "30";  // area code without the leading 0
    std::vector<std::string> msns;
    int channels = 2;
    int max_apps = 4;
    int controller = 1;  // the line's CAPI controller number
};

// Another terminal on a line (a telephone, a fax): rings for calls to its
// MSNs and services and may answer them.
struct TerminalConfig {
    std::string name;
    std::vector<std::string> msns;  // empty: every MSN of the line
    std::vector<int> cips{1, 4, 16};
    int answer_after_ms = -1;  // -1: rings until someone else acts
};

// A far end reached by an outgoing call.
struct PhoneConfig {
    std::string number;
    enum class Behaviour { Busy, Ring, Answer, Reject, Absent } behaviour = Behaviour::Ring;
    std::uint16_t reject_cause = 0x3495;  // call rejected
};

struct CallRequest {
    std::string from;  // as the user would dial it: 0301234, +4930..., empty
    std::string to;    // an MSN or a number that routes to one
    int cip = 1;
    std::string ton;  // unknown|international|national|subscriber; empty: from "from"
    std::string presentation = "allowed";     // allowed|restricted|unavailable
    std::string screening = "network";        // user|verified|failed|network
    std::optional<Bytes> calling_subaddress;  // information characters (IA5/NSAP 0x80 0x50)
    std::optional<Bytes> called_subaddress;
    int ring_ms = -1;  // -1: the default ring time
    int talk_ms = -1;  // -1: the default talk time
};

struct LogEntry {
    std::uint64_t seq;
    std::uint64_t time_ms;
    std::string text;
};

class Exchange {
  public:
    using SendFn = std::function<void(const Bytes& payload)>;
    using CloseFn = std::function<void()>;

    Exchange(Scheduler& scheduler, Delays delays);
    ~Exchange();
    Exchange(const Exchange&) = delete;
    Exchange& operator=(const Exchange&) = delete;

    // Configuration.
    std::string manufacturer = "tolvar-line simulated exchange";
    std::string serial = "0000001";
    Delays& delays() { return delays_; }
    int AddLine(LineConfig config);  // returns the line's index
    const std::vector<LineConfig>& lines() const { return line_configs_; }
    std::optional<int> FindLine(const std::string& name) const;
    void AddTerminal(int line, TerminalConfig config);
    void AddPhone(PhoneConfig config);
    void AddSmsc(SmscConfig config);
    const std::vector<SmscConfig>& smscs() const { return smscs_; }
    std::vector<AcceptedSms> Accepted(const std::string& centre) const;

    // Connections. Each remote-CAPI connection to a line's port is a session.
    int OpenSession(int line, SendFn send, CloseFn close);
    // A connection to the router's CAPI over TCP: every line, each as its
    // controller. Answers to register and profile requests go through
    // send_short, which frames them with a one-byte length.
    int OpenRouterSession(SendFn send, SendFn send_short, CloseFn close);
    // The number of controllers the router reports: its highest one.
    int RouterControllers() const;
    void OnPayload(int session, const Bytes& payload);
    void CloseSession(int session);  // the peer went away

    // Scripted far ends.
    // Returns the call's id, or an error text.
    std::variant<int, std::string> PlaceCall(const CallRequest& request);
    std::string AnswerElsewhere(int call);  // another terminal answers; "" or error
    std::string Hangup(int call);           // the caller gives up; "" or error
    std::vector<std::string> DescribeCalls() const;

    // The line's log.
    const std::deque<LogEntry>& log() const { return log_; }
    std::function<void(const LogEntry&)> on_log;
    void Log(const std::string& text);

  private:
    struct Session;
    struct Plci;
    struct Call;
    struct Pending;
    struct Terminal;

    // Sessions and messages (exchange_capi.cpp).
    void Handshake(Session& s, const Bytes& payload);
    void RouterRequest(Session& s, const Bytes& payload);
    Bytes ProfileOf(int line) const;
    // The session's line that is this controller.
    std::optional<int> LineOfController(const Session& s, std::uint32_t controller) const;
    void Message(Session& s, const Bytes& payload);
    void SendMsg(Session& s, std::uint8_t cmd, std::uint8_t sub, std::uint16_t msgnum,
                 const Bytes& params, const std::string& what, const Bytes& data = {});
    std::uint16_t Indicate(Session& s, std::uint8_t cmd, std::uint32_t ident, const Bytes& params,
                           const std::string& what, const Bytes& data = {},
                           std::uint16_t handle = 0);
    void Resolve(Session& s, std::uint8_t cmd, std::uint32_t ident, std::uint16_t msgnum,
                 std::uint16_t handle, bool& found);
    void Violation(Session& s, const std::string& text);
    void Note(Session& s, const std::string& text);
    std::string Who(const Session& s) const;
    void BadFrame(Session& s, const std::string& why);

    void OnListen(Session& s, std::uint16_t num, Reader& r);
    void OnConnectReq(Session& s, std::uint16_t num, Reader& r);
    void OnAlertReq(Session& s, std::uint16_t num, Reader& r);
    void OnConnectResp(Session& s, std::uint16_t num, Reader& r);
    void OnDisconnectReq(Session& s, std::uint16_t num, Reader& r);
    void OnInfoReq(Session& s, std::uint16_t num, Reader& r);
    void OnConnectB3Req(Session& s, std::uint16_t num, Reader& r);
    void OnConnectB3Resp(Session& s, std::uint16_t num, Reader& r);
    void OnDataB3Req(Session& s, std::uint16_t num, Reader& r, const Bytes& data);
    void OnDataB3Resp(Session& s, std::uint16_t num, Reader& r);
    void OnDisconnectB3Req(Session& s, std::uint16_t num, Reader& r);
    void OnSimpleResp(Session& s, std::uint8_t cmd, std::uint16_t num, Reader& r);
    void OnFacilityReq(Session& s, std::uint16_t num, Reader& r);

    // Calls (exchange_calls.cpp).
    Call* FindCall(int id);
    Plci* FindPlci(Session& s, std::uint32_t plci);
    Plci* FindPlciByNcci(Session& s, std::uint32_t ncci);
    std::uint32_t AllocPlci(int line);
    Plci& NewPlci(Session& s, int line, int call, bool caller);
    void FreePlci(Session& s, std::uint32_t plci);
    int FreeChannels(int line) const;
    void Route(int call);
    void Offer(Call& c);
    void CallerAlerted(Call& c);
    // A far end (SMS centre, answering phone) rings, then answers after the answer delay.
    void FarEndRingsThenAnswers(Call& c);
    void Connect(Call& c);
    void ClearCaller(Call& c, std::uint16_t reason);
    void ClearOffers(Call& c, std::uint16_t reason, const Plci* except);
    void ClearAnswered(Call& c, std::uint16_t reason);
    void SendDisconnectInd(Session& s, Plci& p, std::uint16_t reason);
    void SendConnectActive(Session& s, Plci& p, const Bytes& connected_number);
    void EndCall(Call& c, const std::string& why);
    void DropOffer(Call& c, Session& s, Plci& p, std::uint16_t cause);
    void CheckOffersLeft(Call& c);
    void ReleasePlciSide(Session& s, Plci& p, std::uint16_t reason_to_peer);
    void StopTerminals(Call& c);
    void AppClosed(Session& s);

    // B3 (exchange_b3.cpp).
    void B3Down(Call* c, Session* initiator, Plci* initiator_plci);
    void DeliverData(Call& c, bool to_caller, const Bytes& data);
    void PumpData(Session& s, Plci& p);
    void SmscReply(int call, const Bytes& reply);
    std::string Timestamp() const;

    Bytes CallingNumberFor(const CallRequest& r) const;
    std::optional<std::pair<int, std::string>> RouteToLine(const std::string& dialled,
                                                           int from_line) const;

    Scheduler& sched_;
    Delays delays_;
    std::vector<LineConfig> line_configs_;
    std::vector<std::uint32_t> next_plci_;
    std::vector<std::unique_ptr<Terminal>> terminals_;
    std::vector<PhoneConfig> phones_;
    std::vector<SmscConfig> smscs_;
    std::vector<AcceptedSms> accepted_;
    std::map<int, std::unique_ptr<Session>> sessions_;
    std::map<int, std::unique_ptr<Call>> calls_;
    int next_session_ = 1;
    std::uint16_t next_router_applid_ = 0;
    int next_call_ = 1;
    std::deque<LogEntry> log_;
    std::uint64_t next_seq_ = 1;
};

}  // namespace tolvar::line
