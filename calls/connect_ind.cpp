#include "calls/connect_ind.h"

#include <algorithm>

#include "capi/capi_codes.h"
#include "capi/params.h"
#include "rules/rule_store.h"

namespace tolvar {

namespace {

std::string Chars(Bytes content, std::size_t skip) {
    if (content.size() <= skip) return "";
    return std::string(content.begin() + static_cast<std::ptrdiff_t>(skip), content.end());
}

}  // namespace

std::optional<ConnectIndication> DecodeConnectInd(const CapiMessageView& msg) {
    // The message is its Length bytes, however much buffer lies behind them.
    ParamReader r(msg.bytes().first(std::min<std::size_t>(msg.bytes().size(), msg.Length())));
    const auto plci = r.U32();
    const auto cip = r.U16();
    if (!plci || !cip) return std::nullopt;
    ConnectIndication ind;
    ind.plci = *plci;
    ind.cip = *cip;
    // Each structure by its own length octet; the first that does not fit
    // ends the decoding, and the fields from there on stay empty.
    const auto called = r.Struct();
    const auto calling = r.Struct();
    const auto calledSub = r.Struct();
    const auto callingSub = r.Struct();
    if (called) ind.calledNumber = Chars(*called, 1);
    if (calling) {
        ind.callingNumber = Chars(*calling, 2);
        // Type of number: bits 7 to 5 of the first octet; 1 is international.
        ind.callingInternational = !calling->empty() && (((*calling)[0] >> 4) & 0x07) == 1;
    }
    if (callingSub) ind.subaddressText = Chars(*callingSub, 2);
    const char* const names[] = {"Called party number", "Calling party number",
                                 "Called party subaddress", "Calling party subaddress"};
    const bool read[] = {called.has_value(), calling.has_value(), calledSub.has_value(),
                         callingSub.has_value()};
    for (std::size_t i = 0; i < 4; ++i)
        if (!read[i]) {
            ind.fault = names[i];
            ind.faultKind = r.Fault();
            break;
        }
    return ind;
}

std::string ShownCallingNumber(const std::string& digits, bool international) {
    if (digits.empty()) return kUnknownCaller;
    if (international) return "00" + digits;
    if (digits.size() >= 6 && digits.front() != '0') return "0" + digits;
    return digits;
}

std::string FormerCallingNumber(const std::string& digits, bool international) {
    if (!international || digits.empty()) return "";
    return ShownCallingNumber(digits, false);
}

std::string ServiceText(std::uint16_t cip) {
    switch (cip) {
        case cip::kSpeech:
        case cip::kAudio31kHz:
        case cip::kTelephony:
        case cip::kDMail:
            return "";
        case cip::kUnrestrictedDigital:
            return " (Daten)";
        case cip::kFaxG3:
            return " (FAX G3)";
        case cip::kFaxG4:
            return " (FAX G4)";
        default:
            return " (CIP:" + std::to_string(cip) + ")";
    }
}

}  // namespace tolvar
