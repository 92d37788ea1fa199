#pragma once
// Runs a real tolvar-line and real tolvar processes for end-to-end tests.

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "support/hive_header.h"
#include "support/process.h"

namespace tolvar::test {

class LineFixture {
  public:
    // Starts tolvar-line on free ports with fast delays; extraArgs are added.
    explicit LineFixture(std::vector<std::string> extraArgs = {});
    ~LineFixture();

    // The rcapi port of line i.
    int Port(std::size_t i = 0) const { return ports_.at(i); }
    const std::string& ControlEndpoint() const { return control_; }
    std::string CapiArg(std::size_t i = 0) const {
        return "rcapi:127.0.0.1:" + std::to_string(Port(i));
    }
    // The router's CAPI over TCP, when started with --fritzbox.
    std::string RouterArg() const { return "fritzbox:127.0.0.1:" + std::to_string(router_); }
    // The exchange goes away (killed, as a crash would) and comes back on the
    // same ports after `down`.
    void Stop();
    void StartAgain();

    // Runs tolvar-linectl with a command; its output lines (the first is "ok ..." or "error: ...").
    std::vector<std::string> Ctl(const std::vector<std::string>& command);

    // A scratch folder removed at the end.
    const std::filesystem::path& Dir() const { return dir_; }

    // Starts "tolvar --console" on line i with the hive file text given (empty: no file).
    std::unique_ptr<Process> StartTolvar(const std::string& name, const std::string& hive,
                                         std::size_t line = 0);
    // The same with --capi capiArg.
    std::unique_ptr<Process> StartTolvarOn(const std::string& name, const std::string& hive,
                                           const std::string& capiArg);

  private:
    void Launch(const std::string& port, const std::string& control);

    std::vector<std::string> extraArgs_;
    std::filesystem::path dir_;
    std::unique_ptr<Process> line_;
    std::vector<int> ports_;
    int router_ = 0;
    std::string control_;
};

inline constexpr const char* kShowIsdnTab =
    "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar]\n\"ShowISDNTab\"=dword:00000001\n\n";

}  // namespace tolvar::test
