#pragma once
// Test helpers: a tolvar-line subprocess, its control interface, and a CAPI
// application speaking through the real libcapi20.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "line/wire.h"

namespace tolvar::line::test {

// Starts tolvar-line --port 0 --fast with the scenario text; stops it again.
class LineProcess {
  public:
    explicit LineProcess(const std::string& scenario, std::vector<std::string> extra = {});
    ~LineProcess();
    std::uint16_t port(std::size_t line = 0) const { return ports_.at(line); }
    // One control command; returns the reply, data lines first, one per line.
    std::string Ctl(const std::string& command) const;
    bool CtlOk(const std::string& command) const;
    // Waits (on the exchange) for a log line containing text.
    bool WaitLog(const std::string& text, int timeout_ms = 3000) const;
    int pid() const { return pid_; }
    std::uint16_t control_port() const { return control_; }

  private:
    int pid_ = -1;
    std::vector<std::uint16_t> ports_;
    std::uint16_t control_ = 0;
    std::string scenario_path_;
};

// Raw TCP client for hostile tests.
int ConnectTcp(std::uint16_t port);

struct Msg {
    std::uint16_t cmd = 0;  // command + 256 * subcommand, e.g. 0x8202 CONNECT_IND
    std::uint16_t num = 0;
    Bytes params;  // after the 8-byte header
    Bytes data;    // DATA_B3_IND data
    std::uint32_t Dword(std::size_t at) const;
    std::uint16_t Word(std::size_t at) const;
};

// One CAPI application through libcapi20's rcapi module.
class CapiApp {
  public:
    explicit CapiApp(std::uint16_t port, unsigned blocks = 8, unsigned size = 130);
    ~CapiApp();
    unsigned id() const { return id_; }
    bool registered() const { return id_ != 0; }
    unsigned Put(std::uint16_t cmd, std::uint16_t num, const Bytes& params, const Bytes& data = {});
    std::optional<Msg> Get(int timeout_ms = 2000);
    // Gets messages until one with command word cmd arrives (others kept in order).
    std::optional<Msg> Expect(std::uint16_t cmd, int timeout_ms = 2000);
    void Listen(std::uint32_t cip_mask = 0x1FFF03FF, std::uint32_t info_mask = 0x3FF);

  private:
    unsigned id_ = 0;
    std::vector<Msg> held_;
};

}  // namespace tolvar::line::test
