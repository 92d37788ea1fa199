#pragma once
// The program's one path to CAPI: registration data, the shared send buffer,
// every builder, sending with its trace line, fetching and dispatching.

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "capi/capi_driver.h"
#include "capi/capi_message.h"

namespace tolvar {

class FrontEnd;

// Purpose tags carried as the message number of CONNECT_REQ.
inline constexpr std::uint16_t kTagAutomaticSms = 6;
inline constexpr std::uint16_t kTagUserSms = 7;
inline constexpr std::uint16_t kTagDMail = 8;

struct ConnectReqParams {
    std::uint16_t purposeTag = kTagUserSms;
    std::uint16_t cipValue = 2;
    std::string calledNumber;   // digits to dial
    std::string callingNumber;  // own number; empty: structure 02 00 80
    std::optional<std::string> calledSubaddress;
    std::optional<std::string> callingSubaddress;
};

// The command words that have a handler; every other message is traced only.
inline constexpr std::array<std::uint16_t, 11> kDispatchedCommands = {
    cmd::ALERT_CONF,        cmd::CONNECT_CONF, cmd::CONNECT_B3_CONF,
    cmd::DATA_B3_CONF,      cmd::CONNECT_IND,  cmd::CONNECT_ACTIVE_IND,
    cmd::DISCONNECT_IND,    cmd::INFO_IND,     cmd::CONNECT_B3_ACTIVE_IND,
    cmd::DISCONNECT_B3_IND, cmd::DATA_B3_IND};

class CapiSession {
  public:
    using Handler = std::function<void(const CapiMessageView&)>;

    CapiSession(CapiDriver& driver, FrontEnd& ui);

    // Registration with (3881, 2, 8, 130); the result is the driver's.
    std::uint32_t Register();
    std::uint32_t Release();
    std::uint32_t ApplID() const { return applId_; }

    // The ISDN trace is written only while its tab is shown.
    void SetTraceEnabled(bool on) { traceEnabled_ = on; }
    bool TraceEnabled() const { return traceEnabled_; }

    // Installs the handler of one of kDispatchedCommands.
    void SetHandler(std::uint16_t commandWord, Handler handler);

    // Fetches exactly one message and dispatches it. False when CAPI had none.
    bool WMCapiSignal();

    // While held, messages are still fetched one per signal but kept, in
    // order, and traced and dispatched only at Resume, as if their handling
    // had waited for the handler that holds. A handler that waits one second
    // uses this instead of blocking the event loop.
    void Hold() { ++holds_; }
    void Resume();
    bool Held() const { return holds_ > 0; }

    // Hands a built message to CAPI and traces it; the caller is not told of
    // a failure.
    void SendCapiMessage(const TCapiMessage& msg, const std::string& name, Bytes data = {});

    // Builders. Each raises TolvarError and sends nothing when its parameters
    // do not fit.
    void SendListenReq();
    void SendConnectReq(const ConnectReqParams& p);
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
    // Builds a message whose parameters are the first parameter (32-bit) alone.
    void Dispatch(const CapiMessageView& msg);
    void SendFirstParameterOnly(TCapiMessage& buffer, std::uint16_t messageNumber,
                                std::uint16_t command, std::uint32_t value, const char* name);

    CapiDriver& driver_;
    FrontEnd& ui_;
    std::uint32_t applId_ = 0;
    bool traceEnabled_ = false;
    TCapiMessage SendBuffer;
    std::array<Handler, kDispatchedCommands.size()> handlers_;
    int holds_ = 0;
    struct Kept {
        std::vector<std::uint8_t> message, data;
    };
    std::deque<Kept> kept_;
};

}  // namespace tolvar
