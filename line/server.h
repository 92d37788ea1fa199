#pragma once
// The socket side of tolvar-line: one listening TCP port per line on
// 127.0.0.1, one remote-CAPI session per accepted connection, and the control
// interface (TCP port or Unix socket). Single-threaded over poll(); time for
// the exchange comes from the monotonic clock.

#include <atomic>
#include <cstdint>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "line/control.h"
#include "line/exchange.h"

namespace tolvar::line {

struct ServerOptions {
    std::string control = "0";  // TCP port number, or a Unix socket path; "" for none
    int fritzbox = -1;          // port of the router's CAPI over TCP; -1 for none, 0 a free one
    std::string log_file;
    bool verbose = false;  // the log also goes to stderr
};

class Server {
  public:
    Server(Exchange& exchange, Scheduler& scheduler, Control& control, ServerOptions options);
    ~Server();
    // Binds every line's port (0 picks a free one) and the control endpoint.
    // Returns an error text, or "".
    std::string Start();
    std::uint16_t port(int line) const { return ports_[static_cast<std::size_t>(line)]; }
    std::string control_endpoint() const { return control_endpoint_; }
    std::uint16_t fritzbox_port() const { return router_port_; }
    // Runs until Stop() (from any thread or a signal handler) or "quit".
    void Run();
    void Stop() { stop_ = true; }

  private:
    struct Conn;
    void Accept(int listen_fd, int line);
    void ReadFrom(Conn& c);
    void Flush(Conn& c);
    void Drop(Conn& c);
    void ControlLine(Conn& c, const std::string& line);
    std::uint64_t NowMs() const;

    Exchange& ex_;
    Scheduler& sched_;
    Control& control_;
    ServerOptions opt_;
    std::vector<int> line_fds_;
    std::vector<std::uint16_t> ports_;
    int control_fd_ = -1;
    int router_fd_ = -1;
    std::uint16_t router_port_ = 0;
    std::string control_endpoint_;
    std::string unix_path_;
    std::vector<std::unique_ptr<Conn>> conns_;
    std::atomic<bool> stop_{false};
    std::ofstream log_;
    std::int64_t start_ns_ = 0;
    std::uint64_t next_conn_id_ = 1;
};

}  // namespace tolvar::line
