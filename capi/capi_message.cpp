#include "capi/capi_message.h"

#include <algorithm>
#include <utility>

#include "core/error.h"

namespace tolvar {

void InitMessageHeader(TCapiMessage& msg, std::uint32_t applId, std::uint16_t messageNumber,
                       std::uint16_t commandWord, std::uint32_t parameterLength) {
    msg.bytes.fill(0);
    const std::uint32_t length = parameterLength + kHeaderSize;
    if (length > 0xFFFF) throw TolvarError("CAPI-Nachricht zu lang: " + std::to_string(length));
    if (applId > 0xFFFF) throw TolvarError("ApplID zu groß: " + std::to_string(applId));
    PutU16(&msg.bytes[0], static_cast<std::uint16_t>(length));
    PutU16(&msg.bytes[2], static_cast<std::uint16_t>(applId));
    PutU16(&msg.bytes[4], commandWord);
    PutU16(&msg.bytes[6], messageNumber);
}

namespace {

constexpr std::pair<std::uint16_t, const char*> kTraceNames[] = {
    {0x8002, "CONNECT_REQ"},
    {0x8004, "DISCONNECT_REQ"},
    {0x8005, "LISTEN_REQ"},
    {0x8008, "INFO_REQ"},
    {0x8082, "CONNECT_B3_REQ"},
    {0x8084, "DISCONNECT_B3_REQ"},
    {0x8086, "DATA_B3_REQ"},
    {0x8101, "ALERT_CONF"},
    {0x8102, "CONNECT_CONF"},
    {0x8104, "DISCONNECT_CONF"},
    {0x8105, "LISTEN_CONF"},
    {0x8108, "INFO_CONF"},
    {0x8182, "CONNECT_B3_CONF"},
    {0x8184, "DISCONNECT_B3_CONF"},
    {0x8186, "DATA_B3_CONF"},
    {0x81FF, "MANU_CONF"},
    {0x8202, "CONNECT_IND"},
    {0x8203, "CONNECT_ACTIVE_IND"},
    {0x8204, "DISCONNECT_IND"},
    {0x8205, "LISTEN_IND"},
    {0x8208, "INFO_IND"},
    {0x8282, "CONNECT_B3_IND"},
    {0x8283, "CONNECT_B3_ACTIVE_IND"},
    {0x8284, "DISCONNECT_B3_IND"},
    {0x8286, "DATA_B3_IND"},
    {0x82FF, "MANU_IND"},
    {0x8302, "CONNECT_RESP"},
    {0x8303, "CONNECT_ACTIVE_RESP"},
    {0x8304, "DISCONNECT_RESP"},
    {0x8305, "LISTEN_RESP"},
    {0x8308, "INFO_RESP"},
    {0x8382, "CONNECT_B3_RESP"},
    {0x8383, "CONNECT_B3_ACTIVE_RESP"},
    {0x8384, "DISCONNECT_B3_RESP"},
    {0x8386, "DATA_B3_RESP"},
};
static_assert(std::size(kTraceNames) == 35);

// number + "   " + first parameter + "   " + the parameter bytes 12 .. min(Length, 38) - 1.
std::string TraceTail(Bytes msg) {
    const std::uint16_t length = ReadU16(msg, 0).value_or(0);
    std::string line =
        Hex(ReadU16(msg, 6).value_or(0), 4) + "   " + Hex(ReadU32(msg, 8).value_or(0), 8) + "   ";
    const std::size_t end = std::min<std::size_t>({length, 38, msg.size()});
    for (std::size_t i = 12; i < end; ++i) line += Hex(msg[i], 2) + " ";
    return line;
}

}  // namespace

std::string TraceName(std::uint16_t commandWord) {
    for (const auto& [word, name] : kTraceNames)
        if (word == commandWord) return name;
    return Hex(commandWord, 4);
}

std::string ReceivedTraceLine(const CapiMessageView& msg) {
    return Hex(msg.Length(), 4) + " " + Hex(msg.ApplID(), 4) + " " + TraceName(msg.CommandWord()) +
           " " + TraceTail(msg.bytes());
}

std::string SentTraceLine(Bytes msg, const std::string& name) {
    return name + " " + TraceTail(msg);
}

}  // namespace tolvar
