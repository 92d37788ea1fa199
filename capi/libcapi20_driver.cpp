#include "capi/libcapi20_driver.h"

#include <capi20.h>
#include <sys/time.h>

#include <cstring>

namespace tolvar {

namespace {
constexpr std::uint32_t kCapiIllegalApplId = 0x1101;
constexpr std::uint32_t kCapiMessageLost = 0x1102;  // "not installed or unreachable"
}  // namespace

std::optional<RemoteCapi> ParseRemoteCapi(const std::string& text) {
    const auto first = text.find(':');
    const auto last = text.rfind(':');
    if (first == std::string::npos || first == last) return std::nullopt;
    RemoteCapi r{text.substr(0, first), text.substr(first + 1, last - first - 1), 0};
    const std::string port = text.substr(last + 1);
    if (r.driver.empty() || r.host.empty() || port.empty() || port.size() > 5) return std::nullopt;
    for (char c : port)
        if (c < '0' || c > '9') return std::nullopt;
    r.port = std::stoi(port);
    if (r.port < 1 || r.port > 65535) return std::nullopt;
    return r;
}

Libcapi20Driver::Libcapi20Driver(const std::optional<RemoteCapi>& remote) {
    // libcapi20 prints its own trace to stderr unless told otherwise.
    capi20ext_set_tracelevel(0);
    if (remote) {
        std::vector<char> driver(remote->driver.begin(), remote->driver.end());
        driver.push_back('\0');
        std::vector<char> host(remote->host.begin(), remote->host.end());
        host.push_back('\0');
        // libcapi20 keeps copies of these strings.
        capi20ext_set_driver(driver.data());
        capi20ext_set_host(host.data());
        capi20ext_set_port(remote->port);
    }
}

std::uint32_t Libcapi20Driver::Register(std::uint32_t, std::uint32_t maxLogicalConnection,
                                        std::uint32_t maxBDataBlocks, std::uint32_t maxBDataLen,
                                        std::uint32_t& applId) {
    unsigned id = 0;
    const unsigned result = capi20_register(maxLogicalConnection, maxBDataBlocks, maxBDataLen, &id);
    applId = id;
    // ApplID 0 is never valid: a full application table hands it out.
    if (result == 0 && id == 0) return kCapiIllegalApplId;
    return result;
}

std::uint32_t Libcapi20Driver::Release(std::uint32_t applId) {
    if (applId == 0) return kCapiIllegalApplId;
    return capi20_release(applId);
}

std::uint32_t Libcapi20Driver::PutMessage(std::uint32_t applId, Bytes message, Bytes data) {
    if (applId == 0) return kCapiIllegalApplId;
    // libcapi20 sends the data block of a DATA_B3_REQ from directly behind the
    // message, so both go into one buffer.
    putBuffer_.assign(message.begin(), message.end());
    putBuffer_.insert(putBuffer_.end(), data.begin(), data.end());
    // libcapi20's rcapi module copies a few dozen bytes past a short message's
    // end, so the buffer is kept as large as the message record it was built in.
    putBuffer_.resize(std::max(putBuffer_.size(), kMessageBufferSize), 0);
    return capi20_put_message(applId, putBuffer_.data());
}

std::uint32_t Libcapi20Driver::GetMessage(std::uint32_t applId, CapiMessageView& message) {
    if (applId == 0) return kCapiIllegalApplId;
    unsigned char* buf = nullptr;
    const unsigned result = capi20_get_message(applId, &buf);
    if (result != 0) return result;
    if (buf == nullptr) return kCapiMessageLost;
    const std::uint16_t length = static_cast<std::uint16_t>(buf[0] | (buf[1] << 8));
    if (length < 8) return kCapiMessageLost;
    Bytes bytes(buf, length);
    Bytes data;
    const std::uint16_t command = static_cast<std::uint16_t>(buf[4] | (buf[5] << 8));
    if (command == cmd::DATA_B3_IND && length >= 30) {
        // The 64-bit data pointer at offset 22 points at the block.
        std::uint64_t address = 0;
        for (int i = 0; i < 8; ++i) address |= static_cast<std::uint64_t>(buf[22 + i]) << (8 * i);
        const std::uint16_t dataLength = static_cast<std::uint16_t>(buf[16] | (buf[17] << 8));
        if (address != 0) data = Bytes(reinterpret_cast<const std::uint8_t*>(address), dataLength);
    }
    message = CapiMessageView(bytes, data);
    return 0;
}

std::uint32_t Libcapi20Driver::WaitForSignal(std::uint32_t applId, std::uint32_t timeoutMs) {
    if (applId == 0) return kCapiIllegalApplId;
    timeval tv{static_cast<time_t>(timeoutMs / 1000),
               static_cast<suseconds_t>(timeoutMs % 1000 * 1000)};
    return capi20_waitformessage(applId, &tv);
}

std::string Libcapi20Driver::GetManufacturer() {
    unsigned char buf[64] = {};
    if (capi20_get_manufacturer(1, buf) == nullptr) return "";
    return std::string(reinterpret_cast<const char*>(buf),
                       strnlen(reinterpret_cast<const char*>(buf), sizeof buf));
}

}  // namespace tolvar
