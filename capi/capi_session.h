#pragma once
// The program's one path to CAPI: registration data, the shared send buffer,
// every builder, sending with its trace line, fetching and dispatching.

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "capi/capi_codes.h"
#include "capi/capi_driver.h"
#include "capi/capi_message.h"
#include "core/line_store.h"

namespace tolvar {

class FrontEnd;

// Purpose tags carried as the message number of CONNECT_REQ.
inline constexpr std::uint16_t kTagAutomaticSms = PurposeTag(CallKind::AutomaticSms);
inline constexpr std::uint16_t kTagUserSms = PurposeTag(CallKind::UserSms);
inline constexpr std::uint16_t kTagDMail = PurposeTag(CallKind::DMailOut);

struct ConnectReqParams {
    std::uint16_t purposeTag = kTagUserSms;
    std::uint16_t cipValue = cip::kUnrestrictedDigital;
    std::string calledNumber;   // digits to dial
    std::string callingNumber;  // own number; empty: structure 02 00 80
    std::optional<std::string> calledSubaddress;
    std::optional<std::string> callingSubaddress;
};

// The command words that have a handler; every other message is traced only.
inline constexpr std::array<std::uint16_t, 12> kDispatchedCommands = {
    cmd::ALERT_CONF,        cmd::CONNECT_CONF, cmd::CONNECT_B3_CONF,
    cmd::DATA_B3_CONF,      cmd::CONNECT_IND,  cmd::CONNECT_ACTIVE_IND,
    cmd::DISCONNECT_IND,    cmd::INFO_IND,     cmd::CONNECT_B3_ACTIVE_IND,
    cmd::DISCONNECT_B3_IND, cmd::DATA_B3_IND,  cmd::LISTEN_CONF};

class CapiSession {
  public:
    using Handler = std::function<void(const CapiMessageView&)>;

    CapiSession(CapiDriver& driver, FrontEnd& ui);

    // Registration with (3881, 2, 8, 130); the result is the driver's. A
    // failed registration leaves ApplID 0.
    std::uint32_t Register();
    // Releases the registration (if any) and forgets the ApplID.
    std::uint32_t Release();
    std::uint32_t ApplID() const { return applId_; }

    // The ISDN trace is written only while its tab is shown.
    void SetTraceEnabled(bool on) { traceEnabled_ = on; }
    bool TraceEnabled() const { return traceEnabled_; }
    // Appends a line to the ISDN trace, while it is written.
    void TraceLine(std::string_view line);
    // Every trace line written, kept for the run (the trace is never cleared).
    const LineStore& IsdnTrace() const { return trace_; }

    // Installs the handler of one of kDispatchedCommands.
    void SetHandler(std::uint16_t commandWord, Handler handler);
    // Told of every put that failed, with the driver's result.
    std::function<void(std::uint32_t)> OnPutFailed;

    // Fetches exactly one message and dispatches it. False when CAPI had
    // none; LastFetchResult() then says why. A message that does not fit what
    // CAPI delivered (shorter than its header, or a Length past the delivered
    // bytes) is dropped with one trace line; it counts as fetched.
    bool WMCapiSignal();
    std::uint32_t LastFetchResult() const { return lastFetch_; }

    // Hands a built message to CAPI and traces it; false when CAPI did not
    // take it (OnPutFailed is told why).
    bool SendCapiMessage(const TCapiMessage& msg, const std::string& name, Bytes data = {});

    // Builders. Each raises TolvarError and sends nothing when its parameters
    // do not fit.
    // LISTEN_REQ for one controller; masks 0 end listening there.
    void SendListenReq(std::uint32_t controller = 1, bool listen = true);
    // The controller of the program's own calls.
    void SetOutgoingController(std::uint32_t controller) { outgoingController_ = controller; }
    // False when CAPI did not take it: then no CONNECT_CONF will come.
    bool SendConnectReq(const ConnectReqParams& p);
    void SendConnectResp(std::uint32_t plci, std::uint16_t reject);
    void SendAlertReq(std::uint32_t plci);
    void SendConnectActiveResp(std::uint16_t messageNumber, std::uint32_t plci);
    void SendDisconnectReq(std::uint32_t plci);
    void SendDisconnectResp(std::uint16_t messageNumber, std::uint32_t plci);
    void SendInfoResp(std::uint16_t messageNumber, std::uint32_t plci);
    void SendConnectB3Req(std::uint32_t plci);
    void SendConnectB3ActiveResp(std::uint16_t messageNumber, std::uint32_t ncci);
    void SendDataB3Req(std::uint32_t ncci, Bytes data);
    void SendDataB3Resp(std::uint32_t ncci, std::uint16_t dataHandle);
    void SendDisconnectB3Req(std::uint32_t ncci);
    void SendDisconnectB3Resp(std::uint16_t messageNumber, std::uint32_t ncci);

  private:
    void Dispatch(const CapiMessageView& msg);
    void Drop(Bytes delivered, const std::string& why);
    // A message whose parameters are the first parameter (32-bit) alone.
    void SendFirstParameterOnly(TCapiMessage& buffer, std::uint16_t messageNumber,
                                std::uint16_t command, std::uint32_t value, const char* name);

    CapiDriver& driver_;
    FrontEnd& ui_;
    std::uint32_t applId_ = 0;
    bool traceEnabled_ = false;
    LineStore trace_;
    std::uint32_t lastFetch_ = 0;
    std::uint32_t outgoingController_ = 1;
    TCapiMessage SendBuffer;
    std::array<Handler, kDispatchedCommands.size()> handlers_;
};

}  // namespace tolvar
