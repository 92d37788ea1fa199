// tolvar-linectl: sends one command to a running tolvar-line and prints the
// reply. Exit status 0 for "ok", 1 for "error:", 2 when the exchange cannot
// be reached.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

namespace {

int Connect(const std::string& endpoint) {
    std::string host = "127.0.0.1", port = endpoint;
    if (auto colon = endpoint.rfind(':'); colon != std::string::npos) {
        host = endpoint.substr(0, colon);
        port = endpoint.substr(colon + 1);
    }
    bool numeric = !port.empty() && port.find_first_not_of("0123456789") == std::string::npos;
    if (!numeric) {
        sockaddr_un a{};
        if (endpoint.size() >= sizeof a.sun_path) return -1;
        int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        a.sun_family = AF_UNIX;
        std::strncpy(a.sun_path, endpoint.c_str(), sizeof a.sun_path - 1);
        if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            close(fd);
            return -1;
        }
        return fd;
    }
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(std::stoul(port)));
    if (inet_pton(AF_INET, host.c_str(), &a.sin_addr) != 1 ||
        connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

std::string Quote(const std::string& word) {
    if (!word.empty() && word.find_first_of(" \t\"\\\r\n") == std::string::npos) return word;
    std::string out = "\"";
    for (char c : word) {
        if (c == '"' || c == '\\') out += '\\';
        if (c == '\r') {
            out += "\\r";
            continue;
        }
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        out += c;
    }
    return out + "\"";
}

}  // namespace

int main(int argc, char** argv) {
    const char* env = std::getenv("TOLVAR_LINE_CONTROL");
    std::string endpoint = env ? env : "127.0.0.1:2660";
    int i = 1;
    if (i + 1 < argc && std::string(argv[i]) == "--control") {
        endpoint = argv[i + 1];
        i += 2;
    }
    if (i >= argc || std::string(argv[i]) == "--help") {
        std::cerr << "usage: tolvar-linectl [--control HOST:PORT|PORT|PATH] COMMAND [ARGS...]\n"
                     "       (tolvar-linectl help lists the commands)\n";
        return i >= argc ? 2 : 0;
    }
    std::string line;
    for (; i < argc; ++i) line += (line.empty() ? "" : " ") + Quote(argv[i]);
    int fd = Connect(endpoint);
    if (fd < 0) {
        std::cerr << "tolvar-linectl: cannot reach tolvar-line at " << endpoint << "\n";
        return 2;
    }
    line += "\n";
    if (send(fd, line.data(), line.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(line.size())) {
        std::cerr << "tolvar-linectl: send failed\n";
        return 2;
    }
    std::string buf;
    char chunk[4096];
    for (;;) {
        std::size_t nl;
        while ((nl = buf.find('\n')) != std::string::npos) {
            std::string l = buf.substr(0, nl);
            buf.erase(0, nl + 1);
            if (l.rfind("- ", 0) == 0) {
                std::cout << l.substr(2) << "\n";
            } else {
                std::cout << l << std::endl;
                close(fd);
                return l.rfind("ok", 0) == 0 ? 0 : 1;
            }
        }
        ssize_t n = recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0) break;
        buf.append(chunk, static_cast<std::size_t>(n));
    }
    std::cerr << "tolvar-linectl: connection closed without a reply\n";
    close(fd);
    return 2;
}
