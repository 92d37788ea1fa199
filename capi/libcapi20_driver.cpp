#include "capi/libcapi20_driver.h"

#include <capi20.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <cstring>

namespace tolvar {

namespace {

// Every receive buffer of libcapi20 holds at least this much (its modules use
// 2048 bytes, or 128 + maxBDataLen when that is more; the kernel path 2176).
constexpr std::size_t kReceiveBufferSize = 2048;

// A remote CAPI server that went away leaves its socket readable at end of
// file, which libcapi20 reports as an empty queue.
bool PeerClosed(int fd) {
    if (fd < 0) return false;
    char byte;
    const ssize_t n = recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    return n == 0;
}

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
    if (result == 0) {
        // A remote CAPI is a TCP connection: without this, a request sent
        // shortly after a response waits for the server's delayed ACK (about
        // 40 ms), which every D-Mail packet would pay. The kernel's CAPI
        // device is no socket and refuses the option harmlessly.
        const int one = 1;
        setsockopt(capi20_fileno(id), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    }
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
    // libcapi20's modules copy past a short message's end (the fritzbox
    // module a whole send buffer), so the buffer is kept that large.
    putBuffer_.resize(std::max<std::size_t>(putBuffer_.size(), SEND_BUFSIZ), 0);
    return capi20_put_message(applId, putBuffer_.data());
}

std::uint32_t Libcapi20Driver::GetMessage(std::uint32_t applId, CapiMessageView& message) {
    if (applId == 0) return kCapiIllegalApplId;
    unsigned char* buf = nullptr;
    const unsigned result = capi20_get_message(applId, &buf);
    if (result == kCapiReceiveQueueEmpty && PeerClosed(capi20_fileno(applId)))
        return kCapiOSResourceError;
    if (result != 0) return result;
    if (buf == nullptr) return kCapiReceiveQueueEmpty;
    // libcapi20 copies each message into a receive buffer of its own and says
    // nothing of how much it copied; the buffer is what was delivered. The
    // message's own Length is checked against it by the session.
    const Bytes delivered(buf, kReceiveBufferSize);
    Bytes data;
    const std::uint16_t length = ReadU16(delivered, 0).value_or(0);
    if (ReadU16(delivered, 4) == cmd::DATA_B3_IND && length >= 30) {
        // The block lies directly behind the message in the same buffer (the
        // 64-bit pointer at offset 22 says so); only a block that fits it is
        // taken.
        const std::uint16_t dataLength = ReadU16(delivered, 16).value_or(0);
        if (length <= kReceiveBufferSize && dataLength <= kReceiveBufferSize - length)
            data = delivered.subspan(length, dataLength);
    }
    message = CapiMessageView(delivered, data);
    return 0;
}

int Libcapi20Driver::Fileno(std::uint32_t applId) {
    if (applId == 0) return -1;
    return capi20_fileno(applId);
}

std::string Libcapi20Driver::GetManufacturer() {
    unsigned char buf[64] = {};
    if (capi20_get_manufacturer(1, buf) == nullptr) return "";
    return std::string(reinterpret_cast<const char*>(buf),
                       strnlen(reinterpret_cast<const char*>(buf), sizeof buf));
}

std::uint32_t Libcapi20Driver::GetProfile(std::uint32_t controller, Profile& profile) {
    profile.fill(0);
    // libcapi20 copies at most the 64 bytes of a profile into the buffer.
    return capi20_get_profile(controller, profile.data());
}

}  // namespace tolvar
