#pragma once
// Little-endian field access on byte buffers. Every access is checked against
// the buffer's size; there are no struct overlays on wire bytes.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace tolvar {

using Bytes = std::span<const std::uint8_t>;

inline std::optional<std::uint16_t> ReadU16(Bytes b, std::size_t at) {
    if (at > b.size() || b.size() - at < 2) return std::nullopt;
    return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

inline std::optional<std::uint32_t> ReadU32(Bytes b, std::size_t at) {
    if (at > b.size() || b.size() - at < 4) return std::nullopt;
    return static_cast<std::uint32_t>(b[at]) | (static_cast<std::uint32_t>(b[at + 1]) << 8) |
           (static_cast<std::uint32_t>(b[at + 2]) << 16) |
           (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

inline void PutU16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

inline void PutU32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// "0A1B" style upper-case hexadecimal, zero-padded to width digits.
std::string Hex(std::uint32_t value, int width);
// Upper-case hexadecimal without leading zeros ("0" for zero).
std::string HexNoPad(std::uint32_t value);

}  // namespace tolvar
