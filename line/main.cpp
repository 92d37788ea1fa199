// tolvar-line: the simulated ISDN exchange.
#include <csignal>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

#include "line/control.h"
#include "line/server.h"

namespace {

tolvar::line::Server* g_server = nullptr;

void OnSignal(int) {
    if (g_server) g_server->Stop();
}

void Usage(std::ostream& out) {
    out << "usage: tolvar-line [--port N] [--scenario FILE] [--control PORT|PATH]\n"
           "                   [--fritzbox PORT] [--manufacturer TEXT] [--fast] [--log FILE]\n"
           "                   [--verbose]\n"
           "  --port N        port of the first line on 127.0.0.1 (default 2662; 0 picks\n"
           "                  free ports); further lines without port= get N+1, N+2, ...\n"
           "  --scenario FILE lines, far ends and timed calls (see line/README.md)\n"
           "  --control X     control interface: a TCP port on 127.0.0.1 or a Unix socket\n"
           "                  path (default 2660; with --port 0 a free port)\n"
           "  --fritzbox PORT also serve every line, each as its controller, as a\n"
           "                  router's CAPI over TCP (libcapi20's fritzbox module; 0 picks\n"
           "                  a free port)\n"
           "  --fast          short delays, for tests\n"
           "  --log FILE      append the exchange's log to FILE\n"
           "  --verbose       copy the log to standard error\n";
}

}  // namespace

int main(int argc, char** argv) {
    using namespace tolvar::line;
    long port = 2662;
    std::string scenario_file, manufacturer;
    bool fast = false, control_given = false;
    ServerOptions options;
    options.control = "2660";
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&](const char* name) -> std::string {
            if (i + 1 >= argc) {
                std::cerr << "tolvar-line: " << name << " needs a value\n";
                std::exit(2);
            }
            return argv[++i];
        };
        if (a == "--port") {
            std::string v = value("--port");
            char* end = nullptr;
            port = std::strtol(v.c_str(), &end, 10);
            if (v.empty() || *end || port < 0 || port > 65535) {
                std::cerr << "tolvar-line: bad port " << v << "\n";
                return 2;
            }
        } else if (a == "--scenario") {
            scenario_file = value("--scenario");
        } else if (a == "--control") {
            options.control = value("--control");
            control_given = true;
        } else if (a == "--fritzbox") {
            std::string v = value("--fritzbox");
            char* end = nullptr;
            long p = std::strtol(v.c_str(), &end, 10);
            if (v.empty() || *end || p < 0 || p > 65535) {
                std::cerr << "tolvar-line: bad port " << v << "\n";
                return 2;
            }
            options.fritzbox = static_cast<int>(p);
        } else if (a == "--manufacturer") {
            manufacturer = value("--manufacturer");
        } else if (a == "--fast") {
            fast = true;
        } else if (a == "--log") {
            options.log_file = value("--log");
        } else if (a == "--verbose") {
            options.verbose = true;
        } else if (a == "--help" || a == "-h") {
            Usage(std::cout);
            return 0;
        } else {
            std::cerr << "tolvar-line: unknown option " << a << "\n";
            Usage(std::cerr);
            return 2;
        }
    }
    if (port == 0 && !control_given) options.control = "0";

    Scenario scenario;
    if (!scenario_file.empty()) {
        std::ifstream in(scenario_file);
        if (!in) {
            std::cerr << "tolvar-line: cannot read " << scenario_file << "\n";
            return 2;
        }
        std::stringstream text;
        text << in.rdbuf();
        if (auto e = ParseScenario(text.str(), scenario)) {
            std::cerr << "tolvar-line: " << scenario_file << ": " << *e << "\n";
            return 2;
        }
    }
    if (scenario.lines.empty()) {
        LineConfig l;
        l.name = "line1";
        l.msns = {"5551234", "5551235"};
        scenario.lines.push_back(l);
        scenario.port_given.push_back(false);
    }

    // Behind the router's port every line is a controller of one CAPI.
    if (options.fritzbox >= 0)
        for (std::size_t i = 0; i < scenario.lines.size(); ++i)
            for (std::size_t j = 0; j < i; ++j)
                if (scenario.lines[i].controller == scenario.lines[j].controller) {
                    std::cerr << "tolvar-line: lines " << scenario.lines[j].name << " and "
                              << scenario.lines[i].name << " are both controller "
                              << scenario.lines[i].controller
                              << "; give them controller= for --fritzbox\n";
                    return 2;
                }

    Scheduler scheduler;
    Exchange exchange(scheduler, fast ? FastDelays() : RealisticDelays());
    if (scenario.manufacturer) exchange.manufacturer = *scenario.manufacturer;
    if (!manufacturer.empty()) exchange.manufacturer = manufacturer;
    for (std::size_t i = 0; i < scenario.lines.size(); ++i) {
        LineConfig l = scenario.lines[i];
        if (i == 0 && !scenario.port_given[0]) l.port = static_cast<std::uint16_t>(port);
        if (i > 0 && !scenario.port_given[i])
            l.port = port == 0 ? 0 : static_cast<std::uint16_t>(port + static_cast<long>(i));
        exchange.AddLine(l);
    }
    Control control(exchange, scheduler);
    Server server(exchange, scheduler, control, options);
    if (std::string e = server.Start(); !e.empty()) {
        std::cerr << "tolvar-line: " << e << "\n";
        return 1;
    }
    for (std::size_t i = 0; i < exchange.lines().size(); ++i)
        std::cout << "listening 127.0.0.1:" << server.port(static_cast<int>(i)) << " "
                  << exchange.lines()[i].name << "\n";
    if (options.fritzbox >= 0) std::cout << "fritzbox 127.0.0.1:" << server.fritzbox_port() << "\n";
    if (!server.control_endpoint().empty())
        std::cout << "control " << server.control_endpoint() << "\n";
    std::cout << "ready" << std::endl;

    g_server = &server;
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    RunScenario(scenario, control, scheduler, exchange);
    exchange.Log("exchange started");
    server.Run();
    exchange.Log("exchange stopped");
    g_server = nullptr;
    return 0;
}
