#include "support/broker.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <stdexcept>
#include <thread>

namespace tolvar::test {

namespace {

bool Accepts(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    close(fd);
    return ok;
}

}  // namespace

int FreeLoopbackPort() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        close(fd);
        throw std::runtime_error("no free port");
    }
    close(fd);
    return ntohs(addr.sin_port);
}

Broker::Broker(std::filesystem::path dir, std::string extraConfig, int port)
    : dir_(std::move(dir)),
      extra_(std::move(extraConfig)),
      port_(port ? port : FreeLoopbackPort()) {
    std::filesystem::create_directories(dir_);
    Start();
}

Broker::~Broker() {
    process_.reset();
}

void Broker::Start() {
    const auto conf = dir_ / "mosquitto.conf";
    {
        std::ofstream out(conf);
        // Run as whoever runs the test, also as root; keep sessions across a restart.
        if (getuid() == 0) out << "user root\n";
        out << "persistence true\npersistence_location " << dir_.string() << "/\n";
        if (extra_.find("listener ") == std::string::npos)
            out << "listener " << port_ << " 127.0.0.1\nallow_anonymous true\n";
        out << extra_;
    }
    process_ = std::make_unique<Process>(
        std::vector<std::string>{"/usr/sbin/mosquitto", "-c", conf.string()}, "",
        (dir_ / "broker.log").string());
    for (int i = 0; i < 250 && !Accepts(port_); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (!Accepts(port_)) throw std::runtime_error("mosquitto did not start");
}

void Broker::Stop() {
    if (!process_) return;
    process_->Signal(SIGTERM);
    process_->Wait(std::chrono::seconds(5));
    process_.reset();
}

std::unique_ptr<Process> Subscribe(int port, const std::vector<std::string>& args) {
    std::vector<std::string> argv = {"/usr/bin/mosquitto_sub", "-h", "127.0.0.1", "-p",
                                     std::to_string(port),     "-v", "-q",        "1"};
    argv.insert(argv.end(), args.begin(), args.end());
    return std::make_unique<Process>(argv);
}

int Run(const std::vector<std::string>& argv) {
    Process child(argv);
    return child.Wait(std::chrono::seconds(60)).value_or(-1);
}

}  // namespace tolvar::test
