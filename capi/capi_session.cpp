#include "capi/capi_session.h"

#include <algorithm>
#include <iterator>

#include "core/error.h"
#include "core/front_end.h"

namespace tolvar {

namespace {

// Writes parameters after the header, never past byte 187.
class ParamWriter {
  public:
    explicit ParamWriter(TCapiMessage& msg) : msg_(msg) {}

    void U16(std::uint16_t v) {
        Room(2);
        PutU16(&msg_.bytes[pos_], v);
        pos_ += 2;
    }
    void U32(std::uint32_t v) {
        Room(4);
        PutU32(&msg_.bytes[pos_], v);
        pos_ += 4;
    }
    void Byte(std::uint8_t v) {
        Room(1);
        msg_.bytes[pos_++] = v;
    }
    void Empty() { Byte(0); }
    void Struct(const std::string& content) {
        Byte(static_cast<std::uint8_t>(content.size()));
        Room(content.size());
        std::copy(content.begin(), content.end(),
                  msg_.bytes.begin() + static_cast<std::ptrdiff_t>(pos_));
        pos_ += content.size();
    }

  private:
    void Room(std::size_t n) {
        if (n > kParameterAreaEnd - pos_)
            throw TolvarError("CAPI-Nachricht passt nicht in den Parameterbereich");
    }
    TCapiMessage& msg_;
    std::size_t pos_ = kHeaderSize;
};

// A structure's content; its length byte must stay below 256.
std::string StructContent(std::string prefix, const std::string& payload) {
    std::string s = std::move(prefix) + payload;
    if (s.size() > 255)
        throw TolvarError("CAPI-Struktur zu lang: " + std::to_string(s.size()) + " Bytes");
    return s;
}

std::string CalledPartyNumber(const std::string& digits) {
    return StructContent("\x80", digits);
}
std::string CallingPartyNumber(const std::string& digits) {
    return StructContent(std::string("\x00\x80", 2), digits);
}
std::string Subaddress(const std::string& chars) {
    return StructContent("\x80\x50", chars);
}

std::size_t StructSize(const std::optional<std::string>& content) {
    return content ? content->size() + 1 : 1;
}

}  // namespace

CapiSession::CapiSession(CapiDriver& driver, FrontEnd& ui) : driver_(driver), ui_(ui) {}

std::uint32_t CapiSession::Register() {
    applId_ = 0;
    return driver_.Register(3881, 2, 8, 130, applId_);
}

std::uint32_t CapiSession::Release() {
    return driver_.Release(applId_);
}

void CapiSession::SetHandler(std::uint16_t commandWord, Handler handler) {
    const auto it = std::find(kDispatchedCommands.begin(), kDispatchedCommands.end(), commandWord);
    if (it == kDispatchedCommands.end())
        throw TolvarError("no handler seat for " + Hex(commandWord, 4));
    handlers_[static_cast<std::size_t>(std::distance(kDispatchedCommands.begin(), it))] =
        std::move(handler);
}

bool CapiSession::WMCapiSignal() {
    CapiMessageView msg;
    if (driver_.GetMessage(applId_, msg) != 0) return false;
    if (Held()) {
        // CAPI's buffer is valid only until the next fetch.
        kept_.push_back(
            {{msg.bytes().begin(), msg.bytes().end()}, {msg.b3data().begin(), msg.b3data().end()}});
        return true;
    }
    Dispatch(msg);
    return true;
}

void CapiSession::Resume() {
    if (holds_ > 0) --holds_;
    while (!Held() && !kept_.empty()) {
        const Kept k = std::move(kept_.front());
        kept_.pop_front();
        Dispatch(CapiMessageView(k.message, k.data));
    }
}

void CapiSession::Dispatch(const CapiMessageView& msg) {
    if (traceEnabled_) ui_.AppendIsdnTrace(ReceivedTraceLine(msg));
    const auto it =
        std::find(kDispatchedCommands.begin(), kDispatchedCommands.end(), msg.CommandWord());
    if (it != kDispatchedCommands.end()) {
        const Handler& h =
            handlers_[static_cast<std::size_t>(std::distance(kDispatchedCommands.begin(), it))];
        if (h) h(msg);
    }
}

void CapiSession::SendCapiMessage(const TCapiMessage& msg, const std::string& name, Bytes data) {
    const std::uint32_t result = driver_.PutMessage(applId_, msg.Wire(), data);
    if (!traceEnabled_) return;
    if (result == 0)
        ui_.AppendIsdnTrace(SentTraceLine(msg.Wire(), name));
    else
        ui_.AppendIsdnTrace("Konnte " + name + " nicht schicken 0x" + HexNoPad(result));
}

void CapiSession::SendListenReq() {
    InitMessageHeader(SendBuffer, applId_, 0, cmd::LISTEN_REQ, 18);
    ParamWriter w(SendBuffer);
    w.U32(1);           // Controller
    w.U32(0x000003FF);  // Info mask
    w.U32(0x1FFF03FF);  // CIP mask
    w.U32(0x00000001);  // CIP mask 2
    w.Empty();          // Calling party number
    w.Empty();          // Calling party subaddress
    SendCapiMessage(SendBuffer, "LISTEN_REQ");
}

void CapiSession::SendConnectReq(const ConnectReqParams& p) {
    const std::string called = CalledPartyNumber(p.calledNumber);
    const std::string calling = CallingPartyNumber(p.callingNumber);
    std::optional<std::string> calledSub, callingSub;
    if (p.calledSubaddress) calledSub = Subaddress(*p.calledSubaddress);
    if (p.callingSubaddress) callingSub = Subaddress(*p.callingSubaddress);

    // Controller, CIP, both numbers, both subaddresses, B protocol, BC, LLC, HLC, Additional Info.
    const std::size_t paramLength = 4 + 2 + called.size() + 1 + calling.size() + 1 +
                                    StructSize(calledSub) + StructSize(callingSub) + 5;
    TCapiMessage msg;
    InitMessageHeader(msg, applId_, p.purposeTag, cmd::CONNECT_REQ,
                      static_cast<std::uint32_t>(paramLength));
    ParamWriter w(msg);
    w.U32(1);
    w.U16(p.cipValue);
    w.Struct(called);
    w.Struct(calling);
    calledSub ? w.Struct(*calledSub) : w.Empty();
    callingSub ? w.Struct(*callingSub) : w.Empty();
    for (int i = 0; i < 5; ++i) w.Empty();
    SendCapiMessage(msg, "CONNECT_REQ");
}

void CapiSession::SendConnectResp(std::uint32_t plci, std::uint16_t reject) {
    TCapiMessage msg;
    InitMessageHeader(msg, applId_, 0, cmd::CONNECT_RESP, 11);
    ParamWriter w(msg);
    w.U32(plci);
    w.U16(reject);
    for (int i = 0; i < 5; ++i)
        w.Empty();  // B protocol, connected number/subaddress, LLC, Additional Info
    SendCapiMessage(msg, "CONNECT_RESP");
}

void CapiSession::SendAlertReq(std::uint32_t plci) {
    TCapiMessage msg;
    InitMessageHeader(msg, applId_, 0, cmd::ALERT_REQ, 5);
    ParamWriter w(msg);
    w.U32(plci);
    w.Empty();
    SendCapiMessage(msg, "ALERT_REQ");
}

void CapiSession::SendFirstParameterOnly(TCapiMessage& buffer, std::uint16_t messageNumber,
                                         std::uint16_t command, std::uint32_t value,
                                         const char* name) {
    InitMessageHeader(buffer, applId_, messageNumber, command, 4);
    ParamWriter w(buffer);
    w.U32(value);
    SendCapiMessage(buffer, name);
}

void CapiSession::SendConnectActiveResp(std::uint16_t messageNumber, std::uint32_t plci) {
    TCapiMessage msg;
    SendFirstParameterOnly(msg, messageNumber, cmd::CONNECT_ACTIVE_RESP, plci,
                           "CONNECT_ACTIVE_RESP");
}

void CapiSession::SendDisconnectReq(std::uint32_t plci) {
    TCapiMessage msg;
    InitMessageHeader(msg, applId_, 0, cmd::DISCONNECT_REQ, 5);
    ParamWriter w(msg);
    w.U32(plci);
    w.Empty();
    SendCapiMessage(msg, "DISCONNECT_REQ");
}

void CapiSession::SendDisconnectResp(std::uint16_t messageNumber, std::uint32_t plci) {
    SendFirstParameterOnly(SendBuffer, messageNumber, cmd::DISCONNECT_RESP, plci,
                           "DISCONNECT_RESP");
}

void CapiSession::SendInfoResp(std::uint16_t messageNumber, std::uint32_t plci) {
    SendFirstParameterOnly(SendBuffer, messageNumber, cmd::INFO_RESP, plci, "INFO_RESP");
}

void CapiSession::SendConnectB3Req(std::uint32_t plci) {
    TCapiMessage msg;
    InitMessageHeader(msg, applId_, 0, cmd::CONNECT_B3_REQ, 5);
    ParamWriter w(msg);
    w.U32(plci);
    w.Empty();  // NCPI
    SendCapiMessage(msg, "CONNECT_B3_REQ");
}

void CapiSession::SendConnectB3ActiveResp(std::uint16_t messageNumber, std::uint32_t ncci) {
    SendFirstParameterOnly(SendBuffer, messageNumber, cmd::CONNECT_B3_ACTIVE_RESP, ncci,
                           "CONNECT_B3_ACTIVE_RESP");
}

void CapiSession::SendDataB3Req(std::uint32_t ncci, Bytes data) {
    if (data.size() > 0xFFFF)
        throw TolvarError("Datenblock zu lang: " + std::to_string(data.size()));
    TCapiMessage msg;
    InitMessageHeader(msg, applId_, 0, cmd::DATA_B3_REQ, 14);
    ParamWriter w(msg);
    w.U32(ncci);
    w.U32(0);  // 32-bit data pointer: unused here, the block travels beside the message
    w.U16(static_cast<std::uint16_t>(data.size()));
    w.U16(0xABCD);  // Data handle
    w.U16(0);       // Flags
    SendCapiMessage(msg, "DATA_B3_REQ", data);
}

void CapiSession::SendDataB3Resp(std::uint32_t ncci, std::uint16_t dataHandle) {
    InitMessageHeader(SendBuffer, applId_, 0, cmd::DATA_B3_RESP, 6);
    ParamWriter w(SendBuffer);
    w.U32(ncci);
    w.U16(dataHandle);
    SendCapiMessage(SendBuffer, "DATA_B3_RESP");
}

void CapiSession::SendDisconnectB3Req(std::uint32_t ncci) {
    InitMessageHeader(SendBuffer, applId_, 0, cmd::DISCONNECT_B3_REQ, 5);
    ParamWriter w(SendBuffer);
    w.U32(ncci);
    w.Empty();  // NCPI
    SendCapiMessage(SendBuffer, "DISCONNECT_B3_REQ");
}

void CapiSession::SendDisconnectB3Resp(std::uint16_t messageNumber, std::uint32_t ncci) {
    SendFirstParameterOnly(SendBuffer, messageNumber, cmd::DISCONNECT_B3_RESP, ncci,
                           "DISCONNECT_B3_RESP");
}

}  // namespace tolvar
