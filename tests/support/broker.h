#pragma once
// A real mosquitto broker on a free loopback port, and subscribers to it,
// for the tests and benchmarks of the MQTT publishing.

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "support/process.h"

namespace tolvar::test {

// A free TCP port on 127.0.0.1 (free when asked).
int FreeLoopbackPort();

class Broker {
  public:
    // dir: its configuration, persistence and log. extraConfig is added to
    // the configuration (listeners, passwords, TLS); without a listener line
    // of its own, the broker listens on Port() without a password. port: the
    // one to wait for (a free one when 0).
    explicit Broker(std::filesystem::path dir, std::string extraConfig = "", int port = 0);
    ~Broker();

    int Port() const { return port_; }
    // Stops the broker as its service would (it saves its sessions) and
    // starts it again on the same port.
    void Stop();
    void Start();

  private:
    std::filesystem::path dir_;
    std::string extra_;
    int port_;
    std::unique_ptr<Process> process_;
};

// mosquitto_sub on the broker, printing "TOPIC PAYLOAD" per message.
// args: further options (topics with -t, -i and -c for a session that lasts).
std::unique_ptr<Process> Subscribe(int port, const std::vector<std::string>& args);

// Runs a shell-free command and waits; its exit status.
int Run(const std::vector<std::string>& argv);

}  // namespace tolvar::test
