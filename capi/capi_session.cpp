#include "capi/capi_session.h"

#include <algorithm>
#include <iterator>
#include <limits>

#include "capi/params.h"
#include "core/error.h"
#include "core/front_end.h"

namespace tolvar {

namespace {

std::string CalledPartyNumber(const std::string& digits) {
    return "\x80" + digits;
}
std::string CallingPartyNumber(const std::string& digits) {
    return std::string("\x00\x80", 2) + digits;
}
std::string Subaddress(const std::string& chars) {
    return "\x80\x50" + chars;
}

std::optional<std::size_t> Seat(std::uint16_t commandWord) {
    const auto it = std::find(kDispatchedCommands.begin(), kDispatchedCommands.end(), commandWord);
    if (it == kDispatchedCommands.end()) return std::nullopt;
    return static_cast<std::size_t>(std::distance(kDispatchedCommands.begin(), it));
}

}  // namespace

CapiSession::CapiSession(CapiDriver& driver, FrontEnd& ui) : driver_(driver), ui_(ui) {}

std::uint32_t CapiSession::Register() {
    applId_ = 0;
    const std::uint32_t result = driver_.Register(3881, 2, 8, 130, applId_);
    if (result != 0) applId_ = 0;
    return result;
}

std::uint32_t CapiSession::Release() {
    const std::uint32_t result = driver_.Release(applId_);
    applId_ = 0;
    return result;
}

void CapiSession::SetHandler(std::uint16_t commandWord, Handler handler) {
    const auto seat = Seat(commandWord);
    if (!seat) throw TolvarError("no handler seat for " + Hex(commandWord, 4));
    handlers_[*seat] = std::move(handler);
}

bool CapiSession::WMCapiSignal() {
    CapiMessageView msg;
    lastFetch_ = driver_.GetMessage(applId_, msg);
    if (lastFetch_ != 0) return false;
    const Bytes delivered = msg.bytes();
    if (delivered.size() < kHeaderSize) {
        Drop(delivered, "zu kurz für den Kopf (" + std::to_string(delivered.size()) + " Bytes)");
        return true;
    }
    const std::uint16_t length = *ReadU16(delivered, 0);
    if (length < kHeaderSize) {
        Drop(delivered, "Length " + Hex(length, 4) + " zu kurz für den Kopf");
        return true;
    }
    if (length > delivered.size()) {
        Drop(delivered, "Length " + Hex(length, 4) + " passt nicht zu den gelieferten " +
                            std::to_string(delivered.size()) + " Bytes");
        return true;
    }
    Dispatch(CapiMessageView(delivered.first(length), msg.b3data()));
    return true;
}

void CapiSession::Drop(Bytes delivered, const std::string& why) {
    const auto command = ReadU16(delivered, 4);
    if (traceEnabled_)
        TraceLine((command ? TraceName(*command) : std::string("Nachricht")) +
                  " verworfen: " + why);
    // libcapi20 keeps a DATA_B3_IND's buffer until it is answered: even a
    // message dropped here gives it back, when it names its NCCI and handle.
    const auto ncci = ReadU32(delivered, 8);
    const auto handle = ReadU16(delivered, 18);
    if (command == cmd::DATA_B3_IND && ncci && handle) SendDataB3Resp(*ncci, *handle);
}

void CapiSession::TraceLine(std::string_view line) {
    if (!traceEnabled_) return;
    trace_.Append(line);
    ui_.AppendIsdnTrace(trace_);
}

void CapiSession::Dispatch(const CapiMessageView& msg) {
    if (traceEnabled_) TraceLine(ReceivedTraceLine(msg));
    if (const auto seat = Seat(msg.CommandWord()))
        if (const Handler& h = handlers_[*seat]) h(msg);
}

bool CapiSession::SendCapiMessage(const TCapiMessage& msg, const std::string& name, Bytes data) {
    const std::uint32_t result = driver_.PutMessage(applId_, msg.Wire(), data);
    if (traceEnabled_) {
        if (result == 0)
            TraceLine(SentTraceLine(msg.Wire(), name));
        else
            TraceLine("Konnte " + name + " nicht schicken 0x" + HexNoPad(result));
    }
    if (result != 0 && OnPutFailed) OnPutFailed(result);
    return result == 0;
}

void CapiSession::SendListenReq(std::uint32_t controller, bool listen) {
    ParamWriter w(SendBuffer, applId_, 0, cmd::LISTEN_REQ);
    w.U32(controller);
    w.U32(listen ? 0x000003FF : 0);  // Info mask
    w.U32(listen ? 0x1FFF03FF : 0);  // CIP mask
    w.U32(listen ? 0x00000001 : 0);  // CIP mask 2
    w.Empty();                       // Calling party number
    w.Empty();                       // Calling party subaddress
    SendCapiMessage(w.Done(), "LISTEN_REQ");
}

bool CapiSession::SendConnectReq(const ConnectReqParams& p) {
    TCapiMessage msg;
    ParamWriter w(msg, applId_, p.purposeTag, cmd::CONNECT_REQ);
    w.U32(outgoingController_);
    w.U16(p.cipValue);
    w.Struct(CalledPartyNumber(p.calledNumber));
    w.Struct(CallingPartyNumber(p.callingNumber));
    p.calledSubaddress ? w.Struct(Subaddress(*p.calledSubaddress)) : w.Empty();
    p.callingSubaddress ? w.Struct(Subaddress(*p.callingSubaddress)) : w.Empty();
    for (int i = 0; i < 5; ++i) w.Empty();  // B protocol, BC, LLC, HLC, Additional Info
    return SendCapiMessage(w.Done(), "CONNECT_REQ");
}

void CapiSession::SendConnectResp(std::uint32_t plci, std::uint16_t rejectValue) {
    TCapiMessage msg;
    ParamWriter w(msg, applId_, 0, cmd::CONNECT_RESP);
    w.U32(plci);
    w.U16(rejectValue);
    // B protocol, connected number and subaddress, LLC, Additional Info.
    for (int i = 0; i < 5; ++i) w.Empty();
    SendCapiMessage(w.Done(), "CONNECT_RESP");
}

void CapiSession::SendAlertReq(std::uint32_t plci) {
    TCapiMessage msg;
    ParamWriter w(msg, applId_, 0, cmd::ALERT_REQ);
    w.U32(plci);
    w.Empty();  // Additional Info
    SendCapiMessage(w.Done(), "ALERT_REQ");
}

void CapiSession::SendFirstParameterOnly(TCapiMessage& buffer, std::uint16_t messageNumber,
                                         std::uint16_t command, std::uint32_t value,
                                         const char* name) {
    ParamWriter w(buffer, applId_, messageNumber, command);
    w.U32(value);
    SendCapiMessage(w.Done(), name);
}

void CapiSession::SendConnectActiveResp(std::uint16_t messageNumber, std::uint32_t plci) {
    TCapiMessage msg;
    SendFirstParameterOnly(msg, messageNumber, cmd::CONNECT_ACTIVE_RESP, plci,
                           "CONNECT_ACTIVE_RESP");
}

void CapiSession::SendDisconnectReq(std::uint32_t plci) {
    TCapiMessage msg;
    ParamWriter w(msg, applId_, 0, cmd::DISCONNECT_REQ);
    w.U32(plci);
    w.Empty();  // Additional Info
    SendCapiMessage(w.Done(), "DISCONNECT_REQ");
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
    ParamWriter w(msg, applId_, 0, cmd::CONNECT_B3_REQ);
    w.U32(plci);
    w.Empty();  // NCPI
    SendCapiMessage(w.Done(), "CONNECT_B3_REQ");
}

void CapiSession::SendConnectB3ActiveResp(std::uint16_t messageNumber, std::uint32_t ncci) {
    SendFirstParameterOnly(SendBuffer, messageNumber, cmd::CONNECT_B3_ACTIVE_RESP, ncci,
                           "CONNECT_B3_ACTIVE_RESP");
}

void CapiSession::SendDataB3Req(std::uint32_t ncci, Bytes data) {
    if (data.size() > std::numeric_limits<std::uint16_t>::max())
        throw TolvarError("Datenblock zu lang: " + std::to_string(data.size()));
    TCapiMessage msg;
    ParamWriter w(msg, applId_, 0, cmd::DATA_B3_REQ);
    w.U32(ncci);
    w.U32(0);  // 32-bit data pointer: unused here, the block travels beside the message
    w.U16(static_cast<std::uint16_t>(data.size()));
    w.U16(kDataHandle);
    w.U16(0);  // Flags
    SendCapiMessage(w.Done(), "DATA_B3_REQ", data);
}

void CapiSession::SendDataB3Resp(std::uint32_t ncci, std::uint16_t dataHandle) {
    ParamWriter w(SendBuffer, applId_, 0, cmd::DATA_B3_RESP);
    w.U32(ncci);
    w.U16(dataHandle);
    SendCapiMessage(w.Done(), "DATA_B3_RESP");
}

void CapiSession::SendDisconnectB3Req(std::uint32_t ncci) {
    ParamWriter w(SendBuffer, applId_, 0, cmd::DISCONNECT_B3_REQ);
    w.U32(ncci);
    w.Empty();  // NCPI
    SendCapiMessage(w.Done(), "DISCONNECT_B3_REQ");
}

void CapiSession::SendDisconnectB3Resp(std::uint16_t messageNumber, std::uint32_t ncci) {
    SendFirstParameterOnly(SendBuffer, messageNumber, cmd::DISCONNECT_B3_RESP, ncci,
                           "DISCONNECT_B3_RESP");
}

}  // namespace tolvar
