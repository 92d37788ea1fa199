#include "support/line_fixture.h"

#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "support/files.h"

namespace tolvar::test {

LineFixture::LineFixture(std::vector<std::string> extraArgs) : extraArgs_(std::move(extraArgs)) {
    std::string tmpl = (std::filesystem::temp_directory_path() / "tolvar-e2e-XXXXXX").string();
    if (mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    dir_ = tmpl;
    Launch("0", "");
}

void LineFixture::Launch(const std::string& port, const std::string& control) {
    std::vector<std::string> argv = {BinDir() + "/tolvar-line",   "--port", port, "--fast", "--log",
                                     (dir_ / "line.log").string()};
    if (!control.empty()) argv.insert(argv.end(), {"--control", control});
    argv.insert(argv.end(), extraArgs_.begin(), extraArgs_.end());
    line_ = std::make_unique<Process>(argv, dir_.string(), (dir_ / "line.err").string());
    ports_.clear();
    control_.clear();
    while (auto l = line_->ReadLine(std::chrono::seconds(10))) {
        if (l->rfind("listening 127.0.0.1:", 0) == 0) ports_.push_back(std::stoi(l->substr(20)));
        if (l->rfind("control ", 0) == 0) control_ = l->substr(8);
        if (l->rfind("fritzbox 127.0.0.1:", 0) == 0) router_ = std::stoi(l->substr(19));
        if (*l == "ready") break;
    }
    if (ports_.empty() || control_.empty()) throw std::runtime_error("tolvar-line did not start");
}

void LineFixture::Stop() {
    line_.reset();
}

void LineFixture::StartAgain() {
    const std::string port = std::to_string(ports_.at(0));
    const std::string control = control_.substr(control_.rfind(':') + 1);
    // The router comes back on its port too.
    const auto fritzbox = std::find(extraArgs_.begin(), extraArgs_.end(), "--fritzbox");
    if (fritzbox != extraArgs_.end() && fritzbox + 1 != extraArgs_.end())
        *(fritzbox + 1) = std::to_string(router_);
    // So does every line of a scenario: --port alone would put the second
    // line on the first one's port + 1, a port the system may have handed to
    // any other socket meanwhile.
    const auto scenario = std::find(extraArgs_.begin(), extraArgs_.end(), "--scenario");
    if (ports_.size() > 1 && scenario != extraArgs_.end() && scenario + 1 != extraArgs_.end()) {
        std::istringstream in(ReadAll(*(scenario + 1)));
        const std::filesystem::path again = dir_ / "again.scn";
        std::ofstream out(again);
        std::size_t line = 0;
        for (std::string text; std::getline(in, text);) {
            const auto first = text.find_first_not_of(" \t");
            if (first != std::string::npos && text.compare(first, 5, "line ") == 0) {
                if (text.find("port=") == std::string::npos && line < ports_.size())
                    text += " port=" + std::to_string(ports_[line]);
                ++line;
            }
            out << text << '\n';
        }
        *(scenario + 1) = again.string();
    }
    // The old ports may linger a moment after the kill.
    for (int attempt = 0;; ++attempt) {
        try {
            Launch(port, control);
            return;
        } catch (const std::runtime_error&) {
            if (attempt == 50) throw;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
}

LineFixture::~LineFixture() {
    line_.reset();
    std::error_code ec;
    if (!std::getenv("TOLVAR_KEEP_E2E")) std::filesystem::remove_all(dir_, ec);
}

std::vector<std::string> LineFixture::Ctl(const std::vector<std::string>& command) {
    std::vector<std::string> argv = {BinDir() + "/tolvar-linectl", "--control", control_};
    argv.insert(argv.end(), command.begin(), command.end());
    Process p(argv);
    std::vector<std::string> out;
    while (auto l = p.ReadLine(std::chrono::seconds(30))) out.push_back(*l);
    p.Wait(std::chrono::seconds(5));
    return out;
}

std::unique_ptr<Process> LineFixture::StartTolvar(const std::string& name, const std::string& hive,
                                                  std::size_t line) {
    return StartTolvarOn(name, hive, CapiArg(line));
}

std::unique_ptr<Process> LineFixture::StartTolvarOn(const std::string& name,
                                                    const std::string& hive,
                                                    const std::string& capiArg) {
    const auto home = dir_ / name;
    std::filesystem::create_directories(home);
    const auto registry = home / "registry.reg";
    if (!hive.empty()) std::ofstream(registry) << kHiveHeader << hive;
    return std::make_unique<Process>(
        std::vector<std::string>{BinDir() + "/tolvar", "--console", "--capi", capiArg, "--registry",
                                 registry.string()},
        home.string(), (home / "stderr.txt").string());
}

}  // namespace tolvar::test
