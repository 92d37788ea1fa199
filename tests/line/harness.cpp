#include "harness.h"

#include <arpa/inet.h>
#include <capi20.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <thread>

namespace tolvar::line::test {

LineProcess::LineProcess(const std::string& scenario, std::vector<std::string> extra) {
    char path[] = "/tmp/tolvar-line-test-XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0) throw std::runtime_error("mkstemp");
    close(fd);
    scenario_path_ = path;
    std::ofstream(scenario_path_) << scenario;
    int out[2];
    if (pipe(out) != 0) throw std::runtime_error("pipe");
    pid_ = fork();
    if (pid_ == 0) {
        dup2(out[1], 1);
        close(out[0]);
        close(out[1]);
        std::vector<std::string> args{TOLVAR_LINE_EXE, "--port",     "0",
                                      "--fast",        "--scenario", scenario_path_};
        args.insert(args.end(), extra.begin(), extra.end());
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    FILE* in = fdopen(out[0], "r");
    char line[256];
    while (std::fgets(line, sizeof line, in)) {
        unsigned p = 0;
        if (std::sscanf(line, "listening 127.0.0.1:%u", &p) == 1)
            ports_.push_back(static_cast<std::uint16_t>(p));
        if (std::sscanf(line, "control 127.0.0.1:%u", &p) == 1)
            control_ = static_cast<std::uint16_t>(p);
        if (std::strncmp(line, "ready", 5) == 0) break;
    }
    std::fclose(in);  // nothing more is printed on standard output
    if (ports_.empty() || control_ == 0) throw std::runtime_error("tolvar-line did not start");
}

LineProcess::~LineProcess() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        int status = 0;
        waitpid(pid_, &status, 0);
    }
    unlink(scenario_path_.c_str());
}

int ConnectTcp(std::uint16_t port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

std::string LineProcess::Ctl(const std::string& command) const {
    int fd = ConnectTcp(control_);
    if (fd < 0) return "error: no control";
    std::string line = command + "\n";
    send(fd, line.data(), line.size(), MSG_NOSIGNAL);
    std::string buf, reply;
    char chunk[4096];
    for (;;) {
        std::size_t nl;
        while ((nl = buf.find('\n')) != std::string::npos) {
            std::string l = buf.substr(0, nl);
            buf.erase(0, nl + 1);
            if (l.rfind("- ", 0) == 0) {
                reply += l.substr(2) + "\n";
            } else {
                close(fd);
                return reply + l;
            }
        }
        ssize_t n = recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0) break;
        buf.append(chunk, static_cast<std::size_t>(n));
    }
    close(fd);
    return reply + "error: closed";
}

bool LineProcess::CtlOk(const std::string& command) const {
    std::string r = Ctl(command);
    auto last = r.rfind('\n');
    return r.compare(last == std::string::npos ? 0 : last + 1, 2, "ok") == 0;
}

bool LineProcess::WaitLog(const std::string& text, int timeout_ms) const {
    std::string q = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') q += '\\';
        q += c;
    }
    return CtlOk("wait " + q + "\" timeout=" + std::to_string(timeout_ms));
}

std::uint32_t Msg::Dword(std::size_t at) const {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | params.at(at + static_cast<std::size_t>(i));
    return v;
}

std::uint16_t Msg::Word(std::size_t at) const {
    return static_cast<std::uint16_t>(params.at(at) | (params.at(at + 1) << 8));
}

CapiApp::CapiApp(std::uint16_t port, unsigned blocks, unsigned size) {
    char driver[] = "rcapi", host[] = "127.0.0.1";
    capi20ext_set_driver(driver);
    capi20ext_set_host(host);
    capi20ext_set_port(port);
    capi20ext_set_tracelevel(0);
    if (capi20_register(2, blocks, size, &id_) != 0) id_ = 0;
}

CapiApp::~CapiApp() {
    if (id_) capi20_release(id_);
}

unsigned CapiApp::Put(std::uint16_t cmd, std::uint16_t num, const Bytes& params,
                      const Bytes& data) {
    Bytes m;
    Writer w;
    w.U16(static_cast<std::uint16_t>(8 + params.size()))
        .U16(static_cast<std::uint16_t>(id_))
        .U8(static_cast<std::uint8_t>(cmd))
        .U8(static_cast<std::uint8_t>(cmd >> 8))
        .U16(num)
        .Raw(params)
        .Raw(data);
    m = w.Take();
    m.resize(m.size() + 16, 0);
    return capi20_put_message(id_, m.data());
}

std::optional<Msg> CapiApp::Get(int timeout_ms) {
    if (!held_.empty()) {
        Msg m = held_.front();
        held_.erase(held_.begin());
        return m;
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (std::chrono::steady_clock::now() < deadline) {
        timeval tv{0, 50000};
        if (capi20_waitformessage(id_, &tv) != 0) continue;
        unsigned char* buf = nullptr;
        if (capi20_get_message(id_, &buf) != 0 || !buf) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
        }
        Msg m;
        std::size_t len = buf[0] | (buf[1] << 8);
        m.cmd = static_cast<std::uint16_t>(buf[4] | (buf[5] << 8));
        m.num = static_cast<std::uint16_t>(buf[6] | (buf[7] << 8));
        m.params.assign(buf + 8, buf + len);
        if (m.cmd == 0x8286) {
            std::size_t dlen = buf[16] | (buf[17] << 8);
            m.data.assign(buf + len, buf + len + dlen);
        }
        return m;
    }
    return std::nullopt;
}

std::optional<Msg> CapiApp::Expect(std::uint16_t cmd, int timeout_ms) {
    for (std::size_t i = 0; i < held_.size(); ++i)
        if (held_[i].cmd == cmd) {
            Msg m = held_[i];
            held_.erase(held_.begin() + static_cast<long>(i));
            return m;
        }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    std::vector<Msg> keep;
    std::swap(keep, held_);
    while (std::chrono::steady_clock::now() < deadline) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now())
                        .count();
        auto m = Get(static_cast<int>(left > 0 ? left : 1));
        if (!m) break;
        if (m->cmd == cmd) {
            held_ = keep;
            return m;
        }
        keep.push_back(*m);
    }
    held_ = keep;
    return std::nullopt;
}

void CapiApp::Listen(std::uint32_t cip_mask, std::uint32_t info_mask) {
    Put(0x8005, 0, Writer().U32(1).U32(info_mask).U32(cip_mask).U32(1).Empty().Empty().bytes());
}

}  // namespace tolvar::line::test
