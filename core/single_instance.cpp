#include "core/single_instance.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace tolvar {

namespace {

constexpr const char kShowRequest[] = "show\n";

// The abstract socket address of one settings file for this user: the file's
// full path (links resolved, also when it does not exist yet), hashed so any
// path fits.
sockaddr_un AddressOf(const std::string& settingsPath, socklen_t& length) {
    std::error_code ec;
    std::filesystem::path path =
        std::filesystem::weakly_canonical(std::filesystem::absolute(settingsPath, ec), ec);
    if (ec) path = settingsPath;
    std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
    for (unsigned char c : path.string()) hash = (hash ^ c) * 1099511628211ull;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const int n =
        std::snprintf(addr.sun_path + 1, sizeof addr.sun_path - 1, "tolvar-%u-%016llx",
                      static_cast<unsigned>(getuid()), static_cast<unsigned long long>(hash));
    length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + n);
    return addr;
}

int ConnectTo(const std::string& settingsPath) {
    socklen_t length = 0;
    const sockaddr_un addr = AddressOf(settingsPath, length);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (connect(fd, reinterpret_cast<const sockaddr*>(&addr), length) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

std::unique_ptr<SingleInstance> SingleInstance::Claim(const std::string& settingsPath,
                                                      pid_t& holder) {
    holder = 0;
    socklen_t length = 0;
    const sockaddr_un addr = AddressOf(settingsPath, length);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return nullptr;
    if (bind(fd, reinterpret_cast<const sockaddr*>(&addr), length) == 0 && listen(fd, 4) == 0)
        return std::unique_ptr<SingleInstance>(new SingleInstance(fd));
    close(fd);
    // Taken: the holder's process id, from the connection's credentials.
    const int peer = ConnectTo(settingsPath);
    if (peer >= 0) {
        ucred cred{};
        socklen_t size = sizeof cred;
        if (getsockopt(peer, SOL_SOCKET, SO_PEERCRED, &cred, &size) == 0) holder = cred.pid;
        close(peer);
    }
    return nullptr;
}

bool SingleInstance::AskToShow(const std::string& settingsPath) {
    const int fd = ConnectTo(settingsPath);
    if (fd < 0) return false;
    const bool sent = write(fd, kShowRequest, sizeof kShowRequest - 1) ==
                      static_cast<ssize_t>(sizeof kShowRequest - 1);
    close(fd);
    return sent;
}

SingleInstance::~SingleInstance() {
    close(fd_);
}

bool SingleInstance::TakeRequest() {
    const int peer = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (peer < 0) return false;
    // The asking start writes at once and goes; a silent one is not waited for long.
    pollfd p{peer, POLLIN, 0};
    char buf[16] = {};
    ssize_t n = 0;
    if (poll(&p, 1, 200) > 0) n = read(peer, buf, sizeof buf - 1);
    close(peer);
    return n > 0 && std::strncmp(buf, kShowRequest, sizeof kShowRequest - 1) == 0;
}

std::string AlreadyRunningText(pid_t holder) {
    return "Tolvar läuft bereits (PID " + std::to_string(holder) + ")";
}

}  // namespace tolvar
