// Reaction from CONNECT_IND to ALERT_REQ through libcapi20 and the remote-CAPI
// server tolvar-line: the real "tolvar --console" (with a "Tolvar.txt" of
// 100,000 call lines, written at every call's end) against a bare C client on
// libcapi20 that only alerts, on the same server in the same run. A proxy
// between client and server stamps each CONNECT_IND as it is handed to the
// client and takes the kernel's stamp of the ALERT_REQ's arrival from the
// client (so that neither what a client does after sending it nor how soon
// the proxy runs counts); the clients take turns.
// Then Tolvar's CPU time while idle: with a live line, and with the line gone.
//
//   reaction_bench [CALLS_PER_TURN] [TURNS]

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <thread>

#include "bench/bench_util.h"
#include "support/line_fixture.h"

using namespace tolvar::bench;
using namespace std::chrono_literals;

namespace {

int Listen(int& port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, 16) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        throw std::runtime_error("cannot listen");
    port = ntohs(a.sin_port);
    return fd;
}

int Connect(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
        throw std::runtime_error("cannot connect to port " + std::to_string(port));
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

// Between the CAPI clients and tolvar-line: passes the remote-CAPI frames
// (2-byte big-endian length counting itself, then the CAPI message) on
// whole, each with one send, and stamps CONNECT_IND and ALERT_REQ by PLCI.
class Proxy {
  public:
    explicit Proxy(int serverPort) : server_(serverPort), listen_(Listen(port_)) {
        thread_ = std::thread([this] { Run(); });
    }
    ~Proxy() {
        stop_ = true;
        thread_.join();
        close(listen_);
        for (auto& c : conns_) close(c.fd);
    }
    int Port() const { return port_; }

    // Waits for the ALERT_REQ of the next CONNECT_IND; its reaction in µs.
    std::optional<double> NextReaction(std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        if (!changed_.wait_for(lock, timeout, [this] { return !reactions_.empty(); }))
            return std::nullopt;
        const double r = reactions_.front();
        reactions_.erase(reactions_.begin());
        return r;
    }
    // Waits until a DISCONNECT_RESP has passed since the last call of this.
    bool CallEnded(std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        const bool ended = changed_.wait_for(lock, timeout, [this] { return disconnects_ > 0; });
        disconnects_ = 0;
        return ended;
    }

  private:
    struct Conn {
        int fd;
        int peer;  // index of the other side
        bool toClient;
        std::string buffer;
    };

    void Run() {
        while (!stop_) {
            std::vector<pollfd> fds{{listen_, POLLIN, 0}};
            for (const auto& c : conns_) fds.push_back({c.fd, POLLIN, 0});
            if (poll(fds.data(), fds.size(), 50) <= 0) continue;
            if (fds[0].revents & POLLIN) Accept();
            for (std::size_t i = 1; i < fds.size(); ++i)
                if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) Read(i - 1);
            // Both sides of a broken pair go.
            for (std::size_t i = 0; i < conns_.size();) {
                if (conns_[i].fd >= 0) {
                    ++i;
                    continue;
                }
                const std::size_t peer = static_cast<std::size_t>(conns_[i].peer);
                if (conns_[peer].fd >= 0) close(conns_[peer].fd);
                const std::size_t lo = std::min(i, peer), hi = std::max(i, peer);
                conns_.erase(conns_.begin() + static_cast<std::ptrdiff_t>(hi));
                conns_.erase(conns_.begin() + static_cast<std::ptrdiff_t>(lo));
                for (auto& c : conns_)
                    c.peer -= (c.peer > static_cast<int>(hi)) + (c.peer > static_cast<int>(lo));
                i = 0;
            }
        }
    }

    // The clock of the kernel's receive stamps.
    static std::chrono::nanoseconds RealNow() {
        timespec ts;
        clock_gettime(CLOCK_REALTIME, &ts);
        return std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec);
    }

    void Accept() {
        const int client = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) return;
        const int one = 1;
        setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        setsockopt(client, SOL_SOCKET, SO_TIMESTAMPNS, &one, sizeof one);
        int server;
        try {
            server = Connect(server_);
        } catch (const std::runtime_error&) {
            close(client);  // the exchange is gone: so is the client's connection
            return;
        }
        const int base = static_cast<int>(conns_.size());
        conns_.push_back({client, base + 1, false, {}});  // read from the client
        conns_.push_back({server, base, true, {}});       // read from the server
    }

    void Read(std::size_t i) {
        char buf[65536];
        // The kernel's stamp of the bytes' arrival: when the client put them
        // on the wire, not when this thread got round to reading them.
        alignas(cmsghdr) char control[256];
        iovec io{buf, sizeof buf};
        msghdr message{};
        message.msg_iov = &io;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t n = recvmsg(conns_[i].fd, &message, 0);
        if (n <= 0) {
            close(conns_[i].fd);
            conns_[i].fd = -1;
            return;
        }
        std::optional<std::chrono::nanoseconds> arrived;
        for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c))
            if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SO_TIMESTAMPNS) {
                timespec ts;
                std::memcpy(&ts, CMSG_DATA(c), sizeof ts);
                arrived = std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec);
            }
        std::string& b = conns_[i].buffer;
        b.append(buf, static_cast<std::size_t>(n));
        while (b.size() >= 2) {
            const std::size_t len =
                static_cast<std::uint8_t>(b[0]) << 8 | static_cast<std::uint8_t>(b[1]);
            if (len < 2 || b.size() < len) break;
            const Conn& to = conns_[static_cast<std::size_t>(conns_[i].peer)];
            const auto command = static_cast<std::uint8_t>(len >= 8 ? b[6] : 0) |
                                 static_cast<std::uint8_t>(len >= 8 ? b[7] : 0) << 8;
            const std::uint32_t plci =
                len >= 14 ? static_cast<std::uint32_t>(static_cast<std::uint8_t>(b[10]) |
                                                       static_cast<std::uint8_t>(b[11]) << 8 |
                                                       static_cast<std::uint8_t>(b[12]) << 16)
                          : 0;
            if (send(to.fd, b.data(), len, MSG_NOSIGNAL) != static_cast<ssize_t>(len)) break;
            const auto now = RealNow();
            std::lock_guard lock(mutex_);
            if (command == 0x8202) indications_[plci] = now;      // CONNECT_IND handed over
            if (command == 0x8001 && indications_.count(plci)) {  // ALERT_REQ back
                reactions_.push_back(std::chrono::duration<double, std::micro>(
                                         arrived.value_or(now) - indications_[plci])
                                         .count());
                indications_.erase(plci);
                changed_.notify_all();
            }
            if (command == 0x8304) {  // DISCONNECT_RESP
                ++disconnects_;
                changed_.notify_all();
            }
            b.erase(0, len);
        }
    }

    int server_;
    int port_ = 0;
    int listen_;
    std::vector<Conn> conns_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::map<std::uint32_t, std::chrono::nanoseconds> indications_;
    std::vector<double> reactions_;
    int disconnects_ = 0;
};

// tolvar-line's control interface on a connection of its own: no program
// started per call.
class Control {
  public:
    explicit Control(const std::string& endpoint)
        : fd_(Connect(std::stoi(endpoint.substr(endpoint.rfind(':') + 1)))) {}
    ~Control() { close(fd_); }
    std::string Command(const std::string& line) {
        const std::string out = line + "\n";
        if (send(fd_, out.data(), out.size(), MSG_NOSIGNAL) < 0)
            throw std::runtime_error("control");
        for (;;) {
            const auto nl = in_.find('\n');
            if (nl != std::string::npos) {
                const std::string reply = in_.substr(0, nl);
                in_.erase(0, nl + 1);
                if (reply.rfind("- ", 0) == 0) continue;
                return reply;
            }
            char buf[4096];
            const ssize_t n = recv(fd_, buf, sizeof buf, 0);
            if (n <= 0) throw std::runtime_error("control connection closed");
            in_.append(buf, static_cast<std::size_t>(n));
        }
    }

  private:
    int fd_;
    std::string in_;
};

std::vector<double> Calls(Proxy& proxy, Control& control, int count) {
    std::vector<double> reactions;
    for (int i = 0; i < count; ++i) {
        const std::string reply =
            control.Command("call 030" + std::to_string(1000000 + i) + " 5551234 ring=60ms");
        if (reply.rfind("ok", 0) != 0) throw std::runtime_error("call: " + reply);
        const auto r = proxy.NextReaction(5s);
        if (!r) throw std::runtime_error("no ALERT_REQ for a call");
        reactions.push_back(*r);
        if (!proxy.CallEnded(5s)) throw std::runtime_error("the call did not end");
        // The call's end is written to the log meanwhile; calls come apart.
        std::this_thread::sleep_for(40ms);
    }
    return reactions;
}

// The console line that shows the last line of the log at start-up.
std::string LastLogLine(const std::filesystem::path& log) {
    std::ifstream in(log, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return "protokoll " + std::to_string(std::count(text.begin(), text.end(), '\n') - 1) + ": ";
}

double IdleCpuMs(const Child& child, std::chrono::seconds span) {
    const long before = child.CpuTicks();
    std::this_thread::sleep_for(span);
    return static_cast<double>(child.CpuTicks() - before) * 1000.0 /
           static_cast<double>(sysconf(_SC_CLK_TCK));
}

// Both clients' reactions from one set-up: a line, the proxy, a home.
struct Reactions {
    std::vector<double> bare, tolvar;
    double idleLive = -1, idleLost = -1;  // ms of CPU; measured when asked for
};

Reactions Measure(int perTurn, int turns, bool idle) {
    tolvar::test::LineFixture line;
    Proxy proxy(line.Port());
    Control control(line.ControlEndpoint());
    Scratch home;
    WriteFile(home / "registry.reg",
              SettingsText(0, false) +
                  "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\MSN\\5551234\\"
                  "Sonstige\\00:00]\n\"Action\"=dword:00000000\n\"Param\"=\"\"\n\n");
    WriteFile(home / "Tolvar.txt", LogFileText(100000));
    const std::string capi = "127.0.0.1";
    const std::string port = std::to_string(proxy.Port());
    const std::vector<std::string> tolvarArgv = {
        BinDir() + "/tolvar",         "--console",  "--capi",
        "rcapi:" + capi + ":" + port, "--registry", (home / "registry.reg").string()};
    Reactions out;
    for (int turn = 0; turn < turns; ++turn) {
        {
            Child client({BinDir() + "/bare_capi_client", capi, port}, home.Path());
            if (!client.WaitFor("ready", 10s)) throw std::runtime_error("bare client not ready");
            const auto r = Calls(proxy, control, perTurn);
            out.bare.insert(out.bare.end(), r.begin(), r.end());
        }
        {
            Child tolvar(tolvarArgv, home.Path(), (home / "stderr.txt").string());
            // Listening once the loaded log is out (the "ISDN" page is off,
            // as it is unless asked for); start-up's own work done.
            if (!tolvar.WaitFor(LastLogLine(home / "Tolvar.txt"), 30s))
                throw std::runtime_error("tolvar did not start");
            std::this_thread::sleep_for(300ms);
            const auto r = Calls(proxy, control, perTurn);
            out.tolvar.insert(out.tolvar.end(), r.begin(), r.end());
            if (idle && turn + 1 == turns) {
                std::this_thread::sleep_for(500ms);
                out.idleLive = IdleCpuMs(tolvar, 3s);
            }
            tolvar.Send("quit");
            tolvar.Wait(20s);
        }
    }
    if (!idle) return out;
    // Idle without a line: the exchange goes away; Tolvar notices, tries
    // again every 2 s, and should cost nothing meanwhile.
    Child tolvar(tolvarArgv, home.Path(), (home / "stderr.txt").string());
    tolvar.WaitFor(LastLogLine(home / "Tolvar.txt"), 30s);
    std::this_thread::sleep_for(300ms);
    line.Stop();
    tolvar.WaitFor("capi: down", 10s);
    out.idleLost = IdleCpuMs(tolvar, 6s);
    tolvar.Send("quit");
    tolvar.Wait(20s);
    return out;
}

std::string Us(double v) {
    return std::to_string(static_cast<int>(v)) + " us";
}

// Calls whose wake-up took the slow way (see main).
std::string SlowShare(const std::vector<double>& v) {
    const auto slow = std::count_if(v.begin(), v.end(), [](double r) { return r >= 80; });
    return std::to_string(100 * slow / static_cast<long>(std::max<std::size_t>(1, v.size()))) +
           " % over 80 us";
}

}  // namespace

int main(int argc, char** argv) {
    const int perTurn = argc > 1 ? std::atoi(argv[1]) : 60;
    const int turns = argc > 2 ? std::atoi(argv[2]) : 6;
    try {
        // On all CPUs a client is woken either on the CPU that handed it the
        // message or, through an interrupt, on the other one; in a virtual
        // machine the second costs some 120 us more. Which way a process's
        // wake-ups go changes from one turn to the next, for the bare client
        // and Tolvar alike, so the medians there swing with the share of slow
        // wake-ups, not with what the clients do: shown, without a goal.
        const Reactions both = Measure(perTurn, turns, true);
        // On one CPU every wake-up goes the same way for both clients: what
        // is left to compare is what each does. Children and threads started
        // from here on inherit the CPU.
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(sched_getcpu() < 0 ? 0 : sched_getcpu(), &one);
        if (sched_setaffinity(0, sizeof one, &one) != 0)
            throw std::runtime_error("cannot keep to one CPU");
        const Reactions pinned = Measure(perTurn, turns, false);

        std::cout << "reaction CONNECT_IND -> ALERT_REQ through libcapi20 and tolvar-line, "
                  << pinned.bare.size() << " calls each, in " << turns
                  << " turns, on all CPUs and then on one\n";
        Note("all CPUs: bare client median " + Us(Median(both.bare)) + " (" + SlowShare(both.bare) +
             "), Tolvar median " + Us(Median(both.tolvar)) + " (" + SlowShare(both.tolvar) + ")");
        Note("one CPU: bare client median " + Us(Median(pinned.bare)) + ", 90% " +
             Us(Percentile(pinned.bare, 0.9)) + "; Tolvar median " + Us(Median(pinned.tolvar)) +
             ", 90% " + Us(Percentile(pinned.tolvar, 0.9)));
        Note("Tolvar idle: " + std::to_string(both.idleLive) + " ms CPU in 3 s with a live line, " +
             std::to_string(both.idleLost) + " ms CPU in 6 s with the line gone");
        const bool met =
            Report("reaction on one CPU, median", Median(pinned.tolvar), "us",
                   "bare C client on libcapi20, same server", Median(pinned.bare), 1.2);
        return met ? 0 : 1;
    } catch (const std::exception& e) {
        std::cerr << "reaction_bench: " << e.what() << "\n";
        return 2;
    }
}
