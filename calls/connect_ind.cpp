#include "calls/connect_ind.h"

#include <algorithm>

#include "rules/rule_store.h"

namespace tolvar {

namespace {

// Walks the structures of a message, never past its Length nor past the
// 180-byte parameter area of the message record.
class StructReader {
  public:
    StructReader(Bytes msg, std::size_t at)
        : msg_(msg.first(std::min(msg.size(), kParameterAreaEnd))), at_(at) {}

    // The content of the next structure; nothing when its length octet or its
    // content lies outside the message.
    std::optional<Bytes> Next() {
        if (at_ >= msg_.size()) return std::nullopt;
        const std::size_t len = msg_[at_];
        if (len > msg_.size() - at_ - 1) return std::nullopt;
        Bytes content = msg_.subspan(at_ + 1, len);
        at_ += 1 + len;
        return content;
    }

  private:
    Bytes msg_;
    std::size_t at_;
};

std::string Chars(Bytes content, std::size_t skip) {
    if (content.size() <= skip) return "";
    return std::string(content.begin() + static_cast<std::ptrdiff_t>(skip), content.end());
}

}  // namespace

std::optional<ConnectIndication> DecodeConnectInd(const CapiMessageView& msg) {
    // The message is its Length bytes, however much buffer lies behind them.
    const Bytes bytes = msg.bytes().first(std::min<std::size_t>(msg.bytes().size(), msg.Length()));
    const auto plci = ReadU32(bytes, 8);
    const auto cip = ReadU16(bytes, 12);
    if (!plci || !cip) return std::nullopt;
    ConnectIndication ind;
    ind.plci = *plci;
    ind.cip = *cip;

    StructReader r(bytes, 14);
    const auto called = r.Next();
    if (!called) {
        ind.fault = "Called party number";
        return ind;
    }
    ind.calledNumber = Chars(*called, 1);
    const auto calling = r.Next();
    if (!calling) {
        ind.fault = "Calling party number";
        return ind;
    }
    ind.callingNumber = Chars(*calling, 2);
    if (!r.Next()) {
        ind.fault = "Called party subaddress";
        return ind;
    }
    const auto sub = r.Next();
    if (!sub) {
        ind.fault = "Calling party subaddress";
        return ind;
    }
    ind.subaddressText = Chars(*sub, 2);
    return ind;
}

std::string ShownCallingNumber(const std::string& digits) {
    if (digits.empty()) return kUnknownCaller;
    if (digits.size() >= 6 && digits.front() != '0') return "0" + digits;
    return digits;
}

std::string ServiceText(std::uint16_t cip) {
    switch (cip) {
        case 1:
        case 4:
        case 16:
        case 24:
            return "";
        case 2:
            return " (Daten)";
        case 17:
            return " (FAX G3)";
        case 18:
            return " (FAX G4)";
        default:
            return " (CIP:" + std::to_string(cip) + ")";
    }
}

}  // namespace tolvar
