#pragma once
// The CAPI message record: an 8-byte little-endian header and the parameters,
// built in 192-byte buffers with a 180-byte parameter area (bytes 8..187).

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "core/bytes.h"

namespace tolvar {

// Command words: Command + 256 * Subcommand.
namespace cmd {
inline constexpr std::uint16_t ALERT_REQ = 0x8001;
inline constexpr std::uint16_t CONNECT_REQ = 0x8002;
inline constexpr std::uint16_t DISCONNECT_REQ = 0x8004;
inline constexpr std::uint16_t LISTEN_REQ = 0x8005;
inline constexpr std::uint16_t CONNECT_B3_REQ = 0x8082;
inline constexpr std::uint16_t DISCONNECT_B3_REQ = 0x8084;
inline constexpr std::uint16_t DATA_B3_REQ = 0x8086;
inline constexpr std::uint16_t ALERT_CONF = 0x8101;
inline constexpr std::uint16_t CONNECT_CONF = 0x8102;
inline constexpr std::uint16_t LISTEN_CONF = 0x8105;
inline constexpr std::uint16_t CONNECT_B3_CONF = 0x8182;
inline constexpr std::uint16_t DATA_B3_CONF = 0x8186;
inline constexpr std::uint16_t CONNECT_IND = 0x8202;
inline constexpr std::uint16_t CONNECT_ACTIVE_IND = 0x8203;
inline constexpr std::uint16_t DISCONNECT_IND = 0x8204;
inline constexpr std::uint16_t INFO_IND = 0x8208;
inline constexpr std::uint16_t CONNECT_B3_ACTIVE_IND = 0x8283;
inline constexpr std::uint16_t DISCONNECT_B3_IND = 0x8284;
inline constexpr std::uint16_t DATA_B3_IND = 0x8286;
inline constexpr std::uint16_t CONNECT_RESP = 0x8302;
inline constexpr std::uint16_t CONNECT_ACTIVE_RESP = 0x8303;
inline constexpr std::uint16_t DISCONNECT_RESP = 0x8304;
inline constexpr std::uint16_t INFO_RESP = 0x8308;
inline constexpr std::uint16_t CONNECT_B3_ACTIVE_RESP = 0x8383;
inline constexpr std::uint16_t DISCONNECT_B3_RESP = 0x8384;
inline constexpr std::uint16_t DATA_B3_RESP = 0x8386;
}  // namespace cmd

inline constexpr std::size_t kMessageBufferSize = 192;
inline constexpr std::size_t kHeaderSize = 8;
inline constexpr std::size_t kParameterAreaEnd = 188;  // one past the last parameter byte

// A message being built. Bytes 188..191 always stay zero.
struct TCapiMessage {
    std::array<std::uint8_t, kMessageBufferSize> bytes{};

    std::uint16_t Length() const { return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8)); }
    std::uint16_t CommandWord() const {
        return static_cast<std::uint16_t>(bytes[4] | (bytes[5] << 8));
    }
    std::uint16_t MessageNumber() const {
        return static_cast<std::uint16_t>(bytes[6] | (bytes[7] << 8));
    }
    std::uint32_t FirstParameter() const { return *ReadU32(bytes, 8); }
    // The message as it goes on the wire: its first Length bytes.
    Bytes Wire() const { return Bytes(bytes.data(), Length()); }
};

// Fills the buffer with zeros, then the header. parameterLength counts every
// byte after the header. A Length or ApplID above 65535 raises TolvarError.
void InitMessageHeader(TCapiMessage& msg, std::uint32_t applId, std::uint16_t messageNumber,
                       std::uint16_t commandWord, std::uint32_t parameterLength);

// A received message, read in place: its Length bytes, and for DATA_B3_IND the
// data block the indication points to.
class CapiMessageView {
  public:
    CapiMessageView() = default;
    CapiMessageView(Bytes message, Bytes b3data = {}) : bytes_(message), data_(b3data) {}

    Bytes bytes() const { return bytes_; }
    Bytes b3data() const { return data_; }
    std::uint16_t Length() const { return ReadU16(bytes_, 0).value_or(0); }
    std::uint16_t ApplID() const { return ReadU16(bytes_, 2).value_or(0); }
    std::uint16_t CommandWord() const { return ReadU16(bytes_, 4).value_or(0); }
    std::uint16_t MessageNumber() const { return ReadU16(bytes_, 6).value_or(0); }
    // Controller, PLCI or NCCI; 0 when the message is too short to hold it.
    std::uint32_t FirstParameter() const { return ReadU32(bytes_, 8).value_or(0); }

  private:
    Bytes bytes_;
    Bytes data_;
};

// The trace name of a received command word, or four hex digits when the
// word has no name.
std::string TraceName(std::uint16_t commandWord);

// The ISDN trace lines.
std::string ReceivedTraceLine(const CapiMessageView& msg);
std::string SentTraceLine(Bytes msg, const std::string& name);

}  // namespace tolvar
