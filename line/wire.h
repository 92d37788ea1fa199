#pragma once
// Byte-level helpers of the exchange: little-endian fields of CAPI messages,
// CAPI structures (a length octet and its content), and the 2-byte
// big-endian framing of the remote-CAPI stream. Self-contained so that the
// exchange links nothing of the program it tests.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolvar::line {

using Bytes = std::vector<std::uint8_t>;

Bytes ToBytes(std::string_view text);
std::string ToString(const Bytes& bytes);
// Printable ASCII as is, everything else as \xNN (and the backslash doubled).
std::string Escape(const Bytes& bytes);
std::string HexDump(const Bytes& bytes);  // "01 0A FF"
std::string Hex4(std::uint32_t value);    // "0x3491"

// Appends fields; a structure longer than 255 octets is refused by Struct().
class Writer {
  public:
    Writer& U8(std::uint8_t v);
    Writer& U16(std::uint16_t v);
    Writer& U32(std::uint32_t v);
    Writer& Raw(const Bytes& b);
    // A CAPI structure: length octet, then the content. Throws when too long.
    Writer& Struct(const Bytes& content);
    Writer& Empty() { return U8(0); }
    const Bytes& bytes() const { return out_; }
    Bytes Take() { return std::move(out_); }

  private:
    Bytes out_;
};

// Reads fields of one message; every read is checked against the end.
// After the first failure every further read fails as well.
class Reader {
  public:
    Reader(const Bytes& b, std::size_t from = 0, std::size_t to = SIZE_MAX);
    std::optional<std::uint8_t> U8();
    std::optional<std::uint16_t> U16();
    std::optional<std::uint32_t> U32();
    // The content of a structure (without its length octet).
    std::optional<Bytes> Struct();
    std::size_t pos() const { return pos_; }
    std::size_t left() const { return end_ - pos_; }
    bool ok() const { return ok_; }

  private:
    const Bytes& b_;
    std::size_t pos_;
    std::size_t end_;
    bool ok_ = true;
};

// The remote-CAPI stream: each frame is a 2-byte big-endian length that counts
// itself, then the payload. Pure: fed bytes, hands out whole payloads.
class FrameReader {
  public:
    explicit FrameReader(std::size_t max_frame) : max_frame_(max_frame) {}
    void Feed(const std::uint8_t* data, std::size_t n);
    enum class Status { Frame, NeedMore, Bad };
    // Frame: payload holds the next frame's payload. Bad: a length below 2
    // or above the limit; the stream cannot be resynchronised.
    Status Next(Bytes& payload);
    std::size_t buffered() const { return buf_.size() - start_; }

  private:
    std::size_t max_frame_;
    Bytes buf_;
    std::size_t start_ = 0;
};

Bytes Frame(const Bytes& payload);

// A router's CAPI over TCP: each frame is a type byte (0x80, a CAPI message),
// a 2-byte little-endian length of what follows, then the payload. Pure, like
// FrameReader.
class RouterFrameReader {
  public:
    explicit RouterFrameReader(std::size_t max_frame) : max_frame_(max_frame) {}
    void Feed(const std::uint8_t* data, std::size_t n);
    // Bad: another type, or a length below a CAPI header or above the limit.
    FrameReader::Status Next(Bytes& payload);

  private:
    std::size_t max_frame_;
    Bytes buf_;
    std::size_t start_ = 0;
};

Bytes RouterFrame(const Bytes& payload);
// libcapi20 reads the answers to register and profile requests with a
// one-byte length after the type.
Bytes RouterShortFrame(const Bytes& payload);

}  // namespace tolvar::line
