#pragma once
// Reading and writing the parameters of CAPI messages. Every decoder reads
// through ParamReader and every builder writes through ParamWriter, so no
// field is read past its message nor written past the parameter area, and no
// Length is counted by hand.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "capi/capi_message.h"

namespace tolvar {

// Why a read stopped.
enum class ParamFault {
    None,
    FieldPastEnd,        // a fixed-size field runs past the message
    LengthOctetMissing,  // a structure's length octet lies past the message
    StructPastEnd,       // a structure's content runs past the message
};
std::string_view ParamFaultText(ParamFault fault);

// Reads a received message's parameters in order. The message ends at its
// bytes and never beyond the 180-byte parameter area. After the first fault
// every further read fails with it.
class ParamReader {
  public:
    explicit ParamReader(Bytes message, std::size_t at = kHeaderSize);

    std::optional<std::uint16_t> U16();
    std::optional<std::uint32_t> U32();
    // A structure's content (without its length octet).
    std::optional<Bytes> Struct();

    ParamFault Fault() const { return fault_; }
    std::size_t Position() const { return at_; }

  private:
    std::optional<Bytes> Take(std::size_t n, ParamFault fault);

    Bytes msg_;
    std::size_t at_;
    ParamFault fault_ = ParamFault::None;
};

// Builds a message in a 192-byte record: the header, then the parameters,
// never past byte 187. Done() writes the Length from what was written. A
// field that does not fit raises TolvarError; the message is then not sent.
class ParamWriter {
  public:
    ParamWriter(TCapiMessage& msg, std::uint32_t applId, std::uint16_t messageNumber,
                std::uint16_t commandWord);

    void U16(std::uint16_t v);
    void U32(std::uint32_t v);
    void Byte(std::uint8_t v);
    void Empty() { Byte(0); }
    // A structure: its length octet (below 256), then the content.
    void Struct(std::string_view content);

    // The finished message, its Length set.
    const TCapiMessage& Done();

  private:
    void Room(std::size_t n) const;

    TCapiMessage& msg_;
    std::size_t pos_ = kHeaderSize;
};

}  // namespace tolvar
