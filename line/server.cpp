#include "line/server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <iostream>

namespace tolvar::line {

namespace {

constexpr std::size_t kMaxFrame = 4096;       // libcapi20 reads frames into 4 KiB
constexpr std::size_t kMaxOutput = 4u << 20;  // a peer that stops reading is dropped
constexpr std::size_t kMaxControlLine = 8192;
constexpr std::size_t kMaxConnections = 256;
constexpr int kControlConn = -1, kRouterConn = -2;  // Conn::line of the other ports

void NonBlocking(int fd) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

int ListenTcp(std::uint16_t port, std::uint16_t& bound, std::string& error) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = std::strerror(errno);
        return -1;
    }
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, 64) != 0) {
        error = "127.0.0.1:" + std::to_string(port) + ": " + std::strerror(errno);
        close(fd);
        return -1;
    }
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    bound = ntohs(a.sin_port);
    NonBlocking(fd);
    return fd;
}

}  // namespace

struct Server::Conn {
    int fd = -1;
    int line = kControlConn;  // a line's index, or kControlConn, kRouterConn
    int session = 0;
    FrameReader frames{kMaxFrame};
    RouterFrameReader router_frames{kMaxFrame};
    std::string in_text;
    Bytes out;
    bool dead = false;
    bool close_after_flush = false;
    std::uint64_t id = 0;
};

Server::Server(Exchange& exchange, Scheduler& scheduler, Control& control, ServerOptions options)
    : ex_(exchange), sched_(scheduler), control_(control), opt_(std::move(options)) {
    start_ns_ = std::chrono::duration_cast<std::chrono::nanoseconds>(
                    std::chrono::steady_clock::now().time_since_epoch())
                    .count();
}

Server::~Server() {
    for (auto& c : conns_)
        if (c->fd >= 0) close(c->fd);
    for (int fd : line_fds_) close(fd);
    if (control_fd_ >= 0) close(control_fd_);
    if (router_fd_ >= 0) close(router_fd_);
    if (!unix_path_.empty()) unlink(unix_path_.c_str());
    ex_.on_log = nullptr;
}

std::uint64_t Server::NowMs() const {
    auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                  std::chrono::steady_clock::now().time_since_epoch())
                  .count();
    return static_cast<std::uint64_t>((ns - start_ns_) / 1000000);
}

std::string Server::Start() {
    if (!opt_.log_file.empty()) {
        log_.open(opt_.log_file, std::ios::app);
        if (!log_) return "cannot write the log file " + opt_.log_file;
    }
    ex_.on_log = [this](const LogEntry& e) {
        if (log_.is_open()) log_ << e.time_ms << ' ' << e.text << '\n' << std::flush;
        if (opt_.verbose) std::cerr << e.time_ms << ' ' << e.text << '\n';
        control_.OnLog(e);
    };
    for (std::size_t i = 0; i < ex_.lines().size(); ++i) {
        std::string error;
        std::uint16_t bound = 0;
        int fd = ListenTcp(ex_.lines()[i].port, bound, error);
        if (fd < 0) return "line " + ex_.lines()[i].name + ": " + error;
        line_fds_.push_back(fd);
        ports_.push_back(bound);
    }
    control_.ports = ports_;
    control_.on_quit = [this] { stop_ = true; };
    if (opt_.fritzbox >= 0) {
        std::string error;
        router_fd_ = ListenTcp(static_cast<std::uint16_t>(opt_.fritzbox), router_port_, error);
        if (router_fd_ < 0) return "fritzbox: " + error;
    }
    if (opt_.control.empty()) return "";
    bool numeric = opt_.control.find_first_not_of("0123456789") == std::string::npos;
    if (numeric) {
        std::string error;
        std::uint16_t bound = 0;
        unsigned long want = std::stoul(opt_.control);
        if (want > 65535) return "bad control port " + opt_.control;
        control_fd_ = ListenTcp(static_cast<std::uint16_t>(want), bound, error);
        if (control_fd_ < 0) return "control: " + error;
        control_endpoint_ = "127.0.0.1:" + std::to_string(bound);
    } else {
        sockaddr_un a{};
        if (opt_.control.size() >= sizeof a.sun_path) return "control path too long";
        control_fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        a.sun_family = AF_UNIX;
        std::strncpy(a.sun_path, opt_.control.c_str(), sizeof a.sun_path - 1);
        unlink(opt_.control.c_str());
        if (bind(control_fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            listen(control_fd_, 16) != 0)
            return "control " + opt_.control + ": " + std::strerror(errno);
        NonBlocking(control_fd_);
        unix_path_ = opt_.control;
        control_endpoint_ = opt_.control;
    }
    return "";
}

void Server::Accept(int listen_fd, int line) {
    for (;;) {
        int fd = accept4(listen_fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) return;
        if (conns_.size() >= kMaxConnections) {
            ex_.Log("connection refused: " + std::to_string(kMaxConnections) + " connections open");
            close(fd);
            continue;
        }
        int one = 1;
        if (line != kControlConn) setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        auto c = std::make_unique<Conn>();
        c->id = next_conn_id_++;
        c->fd = fd;
        c->line = line;
        Conn* raw = c.get();
        if (line >= 0) {
            // Whole frames go out in one piece: libcapi20 reads the 2-byte
            // length and the payload with separate calls and cannot resume.
            c->session = ex_.OpenSession(
                line,
                [this, raw](const Bytes& payload) {
                    if (raw->dead) return;
                    Bytes f = Frame(payload);
                    raw->out.insert(raw->out.end(), f.begin(), f.end());
                    Flush(*raw);
                },
                [raw] { raw->close_after_flush = true; });
        } else if (line == kRouterConn) {
            auto sender = [this, raw](Bytes (*frame)(const Bytes&)) {
                return [this, raw, frame](const Bytes& payload) {
                    if (raw->dead) return;
                    Bytes f = frame(payload);
                    raw->out.insert(raw->out.end(), f.begin(), f.end());
                    Flush(*raw);
                };
            };
            c->session = ex_.OpenRouterSession(sender(&RouterFrame), sender(&RouterShortFrame),
                                               [raw] { raw->close_after_flush = true; });
        }
        conns_.push_back(std::move(c));
    }
}

void Server::Flush(Conn& c) {
    while (!c.out.empty() && !c.dead) {
        ssize_t n = send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL);
        if (n > 0) {
            c.out.erase(c.out.begin(), c.out.begin() + n);
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            break;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            c.dead = true;
        }
    }
    if (c.out.size() > kMaxOutput) {
        ex_.Log("connection " + std::to_string(c.session) + " does not read; dropped");
        c.dead = true;
    }
}

void Server::ControlLine(Conn& c, const std::string& line) {
    std::uint64_t id = c.id;
    control_.Execute(line, [this, id](Reply r) {
        // The connection may be gone by the time a wait ends.
        Conn* raw = nullptr;
        for (auto& k : conns_)
            if (k->id == id && !k->dead) raw = k.get();
        if (!raw) return;
        std::string text;
        for (auto& l : r.lines) text += "- " + l + "\n";
        text +=
            r.ok ? (r.text.empty() ? "ok\n" : "ok " + r.text + "\n") : "error: " + r.text + "\n";
        raw->out.insert(raw->out.end(), text.begin(), text.end());
        Flush(*raw);
    });
}

void Server::ReadFrom(Conn& c) {
    std::uint8_t buf[8192];
    for (;;) {
        ssize_t n = recv(c.fd, buf, sizeof buf, 0);
        if (n == 0) {
            c.dead = true;
            return;
        }
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK) c.dead = true;
            return;
        }
        if (c.line == kControlConn) {
            c.in_text.append(reinterpret_cast<char*>(buf), static_cast<std::size_t>(n));
            std::size_t nl;
            while ((nl = c.in_text.find('\n')) != std::string::npos) {
                std::string line = c.in_text.substr(0, nl);
                c.in_text.erase(0, nl + 1);
                ControlLine(c, line);
                if (c.dead) return;
            }
            if (c.in_text.size() > kMaxControlLine) {
                c.in_text.clear();
                std::string e = "error: line too long\n";
                c.out.insert(c.out.end(), e.begin(), e.end());
            }
            continue;
        }
        const bool router = c.line == kRouterConn;
        if (router)
            c.router_frames.Feed(buf, static_cast<std::size_t>(n));
        else
            c.frames.Feed(buf, static_cast<std::size_t>(n));
        Bytes payload;
        for (;;) {
            auto st = router ? c.router_frames.Next(payload) : c.frames.Next(payload);
            if (st == FrameReader::Status::NeedMore) break;
            if (st == FrameReader::Status::Bad) {
                ex_.Log((router ? std::string("router")
                                : ex_.lines()[static_cast<std::size_t>(c.line)].name) +
                        " conn " + std::to_string(c.session) +
                        " bad frame: length out of range; connection closed");
                c.dead = true;
                return;
            }
            ex_.OnPayload(c.session, payload);
            if (c.close_after_flush || c.dead) return;
        }
    }
}

void Server::Drop(Conn& c) {
    if (c.line != kControlConn) ex_.CloseSession(c.session);
    close(c.fd);
    c.fd = -1;
}

void Server::Run() {
    while (!stop_) {
        sched_.AdvanceTo(NowMs());
        std::vector<pollfd> fds;
        for (int fd : line_fds_) fds.push_back({fd, POLLIN, 0});
        if (control_fd_ >= 0) fds.push_back({control_fd_, POLLIN, 0});
        if (router_fd_ >= 0) fds.push_back({router_fd_, POLLIN, 0});
        std::size_t first_conn = fds.size();
        for (auto& c : conns_)
            fds.push_back({c->fd, static_cast<short>(POLLIN | (c->out.empty() ? 0 : POLLOUT)), 0});
        int timeout = 200;
        if (auto due = sched_.NextDue()) {
            std::uint64_t now = NowMs();
            timeout = *due <= now ? 0 : static_cast<int>(std::min<std::uint64_t>(*due - now, 200));
        }
        int n = poll(fds.data(), fds.size(), timeout);
        if (n < 0 && errno != EINTR) break;
        sched_.AdvanceTo(NowMs());
        if (n <= 0) continue;
        for (std::size_t i = 0; i < line_fds_.size(); ++i)
            if (fds[i].revents & POLLIN) Accept(line_fds_[i], static_cast<int>(i));
        std::size_t at = line_fds_.size();
        if (control_fd_ >= 0 && (fds[at++].revents & POLLIN)) Accept(control_fd_, kControlConn);
        if (router_fd_ >= 0 && (fds[at].revents & POLLIN)) Accept(router_fd_, kRouterConn);
        // Connections accepted just now are not in fds; index by position.
        std::size_t polled = fds.size() - first_conn;
        for (std::size_t i = 0; i < polled && i < conns_.size(); ++i) {
            Conn& c = *conns_[i];
            short re = fds[first_conn + i].revents;
            if (re & (POLLIN | POLLHUP | POLLERR)) ReadFrom(c);
            if (!c.dead && (re & POLLOUT)) Flush(c);
        }
        for (auto it = conns_.begin(); it != conns_.end();) {
            Conn& c = **it;
            if (c.close_after_flush && !c.dead) {
                Flush(c);
                c.dead = true;
            }
            if (c.dead) {
                Drop(c);
                it = conns_.erase(it);
            } else {
                ++it;
            }
        }
    }
}

}  // namespace tolvar::line
