#include "capi/controllers.h"

#include <algorithm>
#include <optional>

#include "capi/capi_driver.h"
#include "capi/capi_session.h"
#include "capi/connection.h"
#include "core/bytes.h"
#include "core/front_end.h"

namespace tolvar {

namespace {

// A controller number has seven bits; bit 7 of the byte marks an external
// equipment, which is no controller of its own.
constexpr std::uint32_t kHighestController = 127;
constexpr std::uint16_t kIllegalController = 0x2002;

std::string_view Trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

std::optional<std::uint32_t> ControllerNumber(std::string_view entry) {
    if (entry.empty() || entry.size() > 3) return std::nullopt;
    std::uint32_t n = 0;
    for (char c : entry) {
        if (c < '0' || c > '9') return std::nullopt;
        n = n * 10 + static_cast<std::uint32_t>(c - '0');
    }
    if (n == 0 || n > kHighestController) return std::nullopt;
    return n;
}

}  // namespace

ControllerChoice ParseControllerValue(std::string_view text) {
    ControllerChoice choice;
    text = Trimmed(text);
    if (text == "*") {
        choice.all = true;
        return choice;
    }
    while (!text.empty()) {
        const auto comma = text.find(',');
        const std::string_view entry = Trimmed(text.substr(0, comma));
        text = comma == std::string_view::npos ? std::string_view{} : text.substr(comma + 1);
        if (entry.empty()) continue;
        if (const auto n = ControllerNumber(entry)) {
            if (std::find(choice.numbers.begin(), choice.numbers.end(), *n) == choice.numbers.end())
                choice.numbers.push_back(*n);
        } else {
            choice.notNumbers.emplace_back(entry);
        }
    }
    return choice;
}

ControllerListener::ControllerListener(CapiDriver& driver, CapiSession& capi,
                                       Connections& connections, FrontEnd& ui)
    : driver_(driver), capi_(capi), connections_(connections), ui_(ui) {}

void ControllerListener::SetValue(const std::string& value) {
    if (value == value_) return;
    value_ = value;
    reported_.clear();
}

void ControllerListener::Report(const std::string& entry, const std::string& text) {
    if (!reported_.insert(entry).second) return;
    ui_.ReportError(text);
}

void ControllerListener::Listen() {
    const ControllerChoice choice = ParseControllerValue(value_);
    for (const std::string& entry : choice.notNumbers)
        Report(entry, "Controller " + entry + " ist der CAPI nicht bekannt.");
    std::vector<std::uint32_t> numbers = choice.numbers;
    CapiDriver::Profile profile{};
    if (choice.all && driver_.GetProfile(0, profile) == 0) {
        const std::uint16_t count = ReadU16(Bytes(profile), 0).value_or(0);
        for (std::uint32_t n = 1; n <= std::min<std::uint32_t>(count, kHighestController); ++n)
            numbers.push_back(n);
    }
    // Without one usable controller the program still listens where it
    // always did, rather than hearing no call at all.
    if (numbers.empty()) numbers.push_back(1);

    for (std::uint32_t old : listened_)
        if (std::find(numbers.begin(), numbers.end(), old) == numbers.end()) {
            stopping_.insert(old);
            capi_.SendListenReq(old, false);
        }
    std::size_t calls = ControllerListener::kOwnCalls;
    for (std::uint32_t n : numbers) {
        stopping_.erase(n);
        capi_.SendListenReq(n);
        if (driver_.GetProfile(n, profile) == 0) calls += ReadU16(Bytes(profile), 2).value_or(0);
    }
    listened_ = numbers;
    connections_.SetCapacity(calls);
    capi_.SetOutgoingController(numbers.front());
}

void ControllerListener::ListenConf(const CapiMessageView& msg) {
    const auto info = ReadU16(msg.bytes(), 12);
    if (!info) return;
    const std::uint32_t controller = msg.FirstParameter();
    if (stopping_.erase(controller) > 0) return;
    if (*info == 0) return;
    const std::string entry = std::to_string(controller);
    if (*info == kIllegalController)
        Report(entry, "Controller " + entry + " ist der CAPI nicht bekannt.");
    else
        Report(entry, "Controller " + entry + " nimmt keine Anrufe an (LISTEN_CONF Info 0x" +
                          Hex(*info, 4) + ").");
}

}  // namespace tolvar
