// Scenario files: lines, settings and the commands to run at start, at a
// time or again and again.
#include <memory>
#include <sstream>

#include "line/command_words.h"
#include "line/control.h"

namespace tolvar::line {

std::optional<std::string> ParseScenario(const std::string& text, Scenario& out) {
    std::istringstream in(text);
    std::string line;
    int n = 0;
    while (std::getline(in, line)) {
        ++n;
        auto where = "line " + std::to_string(n) + ": ";
        std::string err;
        auto w = Tokenize(line, err);
        if (!err.empty()) return where + err;
        if (w.empty() || w[0][0] == '#') continue;
        if (w[0] == "manufacturer") {
            if (w.size() != 2) return where + "usage: manufacturer \"TEXT\"";
            out.manufacturer = w[1];
            continue;
        }
        if (w[0] == "line") {
            Args a = ParseArgs(w);
            if (a.pos.size() != 1)
                return where + "usage: line NAME msn=A,B [port=N] [area=N] [controller=N]";
            if (auto u = Unknown(a, {"msn", "port", "area", "channels", "apps", "controller"});
                !u.empty())
                return where + u;
            LineConfig l;
            l.name = a.pos[0];
            for (auto& other : out.lines)
                if (other.name == l.name) return where + "line " + l.name + " defined twice";
            if (auto* v = a.Get("msn")) l.msns = SplitList(*v);
            if (auto* v = a.Get("area")) l.area = *v;
            bool port_given = false;
            if (auto* v = a.Get("port")) {
                auto p = ParseInt(*v);
                if (!p || *p < 0 || *p > 65535) return where + "bad port " + *v;
                l.port = static_cast<std::uint16_t>(*p);
                port_given = true;
            }
            if (auto* v = a.Get("channels")) {
                auto c = ParseInt(*v);
                if (!c || *c < 1 || *c > 30) return where + "bad channel count " + *v;
                l.channels = static_cast<int>(*c);
            }
            if (auto* v = a.Get("controller")) {
                auto c = ParseInt(*v);
                if (!c || *c < 1 || *c > 127) return where + "bad controller " + *v;
                l.controller = static_cast<int>(*c);
            }
            if (auto* v = a.Get("apps")) {
                auto c = ParseInt(*v);
                if (!c || *c < 1 || *c > 64) return where + "bad application count " + *v;
                l.max_apps = static_cast<int>(*c);
            }
            out.lines.push_back(l);
            out.port_given.push_back(port_given);
            continue;
        }
        Scenario::Timed t;
        t.line_number = n;
        std::size_t first = 0;
        if (w[0] == "at" || w[0] == "every") {
            if (w.size() < 3) return where + "usage: " + w[0] + " DUR COMMAND";
            auto d = ParseDuration(w[1]);
            if (!d) return where + "bad duration " + w[1];
            first = 2;
            if (w[0] == "at") {
                t.at_ms = *d;
            } else {
                if (*d == 0) return where + "every needs a duration above 0";
                t.every_ms = *d;
                t.at_ms = *d;
                while (first < w.size() &&
                       (w[first].rfind("start=", 0) == 0 || w[first].rfind("count=", 0) == 0)) {
                    std::string v = w[first].substr(6);
                    if (w[first][0] == 's') {
                        auto s = ParseDuration(v);
                        if (!s) return where + "bad start " + v;
                        t.at_ms = *s;
                    } else {
                        auto c = ParseInt(v);
                        if (!c || *c < 1) return where + "bad count " + v;
                        t.count = static_cast<std::uint64_t>(*c);
                    }
                    ++first;
                }
            }
        }
        if (first >= w.size()) return where + "no command";
        // Keep the command's own text, quotes included: find where it starts.
        std::size_t pos = 0;
        for (std::size_t i = 0; i < first; ++i) {
            pos = line.find(w[i], pos);
            pos += w[i].size();
        }
        pos = line.find_first_not_of(" \t", pos);
        t.command = line.substr(pos == std::string::npos ? line.size() : pos);
        out.commands.push_back(t);
    }
    return std::nullopt;
}

void RunScenario(const Scenario& scenario, Control& control, Scheduler& scheduler,
                 Exchange& exchange) {
    for (const auto& t : scenario.commands) {
        auto run = std::make_shared<std::function<void(std::uint64_t)>>();
        std::weak_ptr<std::function<void(std::uint64_t)>> weak = run;
        *run = [&control, &scheduler, &exchange, t, weak](std::uint64_t done_count) {
            control.Execute(t.command, [&exchange, t](Reply r) {
                if (!r.ok)
                    exchange.Log("scenario line " + std::to_string(t.line_number) + ": " + r.text);
            });
            if (t.every_ms == 0 || (t.count && done_count + 1 >= t.count)) return;
            auto self = weak.lock();
            if (!self) return;
            scheduler.After(t.every_ms, [self, done_count] { (*self)(done_count + 1); });
        };
        scheduler.After(t.at_ms, [run] { (*run)(0); });
    }
}

}  // namespace tolvar::line
