#include "capi/params.h"

#include <algorithm>

#include "core/error.h"

namespace tolvar {

std::string_view ParamFaultText(ParamFault fault) {
    switch (fault) {
        case ParamFault::None:
            return "";
        case ParamFault::FieldPastEnd:
            return "Feld reicht über das Nachrichtenende";
        case ParamFault::LengthOctetMissing:
            return "Längenbyte fehlt";
        case ParamFault::StructPastEnd:
            return "Struktur reicht über das Nachrichtenende";
    }
    return "";
}

ParamReader::ParamReader(Bytes message, std::size_t at)
    : msg_(message.first(std::min(message.size(), kParameterAreaEnd))), at_(at) {}

std::optional<Bytes> ParamReader::Take(std::size_t n, ParamFault fault) {
    if (fault_ != ParamFault::None) return std::nullopt;
    if (at_ > msg_.size() || n > msg_.size() - at_) {
        fault_ = fault;
        return std::nullopt;
    }
    const Bytes field = msg_.subspan(at_, n);
    at_ += n;
    return field;
}

std::optional<std::uint16_t> ParamReader::U16() {
    const auto f = Take(2, ParamFault::FieldPastEnd);
    if (!f) return std::nullopt;
    return ReadU16(*f, 0);
}

std::optional<std::uint32_t> ParamReader::U32() {
    const auto f = Take(4, ParamFault::FieldPastEnd);
    if (!f) return std::nullopt;
    return ReadU32(*f, 0);
}

std::optional<Bytes> ParamReader::Struct() {
    const auto length = Take(1, ParamFault::LengthOctetMissing);
    if (!length) return std::nullopt;
    return Take((*length)[0], ParamFault::StructPastEnd);
}

ParamWriter::ParamWriter(TCapiMessage& msg, std::uint32_t applId, std::uint16_t messageNumber,
                         std::uint16_t commandWord)
    : msg_(msg) {
    InitMessageHeader(msg_, applId, messageNumber, commandWord, 0);
}

void ParamWriter::Room(std::size_t n) const {
    if (n > kParameterAreaEnd - pos_)
        throw TolvarError("CAPI-Nachricht passt nicht in den Parameterbereich");
}

void ParamWriter::U16(std::uint16_t v) {
    Room(2);
    PutU16(&msg_.bytes[pos_], v);
    pos_ += 2;
}

void ParamWriter::U32(std::uint32_t v) {
    Room(4);
    PutU32(&msg_.bytes[pos_], v);
    pos_ += 4;
}

void ParamWriter::Byte(std::uint8_t v) {
    Room(1);
    msg_.bytes[pos_++] = v;
}

void ParamWriter::Struct(std::string_view content) {
    if (content.size() > 255)
        throw TolvarError("CAPI-Struktur zu lang: " + std::to_string(content.size()) + " Bytes");
    Room(1 + content.size());
    msg_.bytes[pos_++] = static_cast<std::uint8_t>(content.size());
    std::copy(content.begin(), content.end(),
              msg_.bytes.begin() + static_cast<std::ptrdiff_t>(pos_));
    pos_ += content.size();
}

const TCapiMessage& ParamWriter::Done() {
    PutU16(&msg_.bytes[0], static_cast<std::uint16_t>(pos_));
    return msg_;
}

}  // namespace tolvar
