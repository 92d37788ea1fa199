// The control commands of the exchange: their table, the waits on the log,
// and placing calls and setting up far ends, terminals and delays.
#include "line/control.h"

#include <cctype>

#include "line/command_words.h"

namespace tolvar::line {

namespace {

const char* kHelp[] = {
    "call FROM TO [cip=N] [sub=TEXT] [called-sub=TEXT] [pres=allowed|restricted|unavailable]",
    "     [screen=network|user|verified|failed] [ton=unknown|international|national|subscriber]",
    "     [ring=DUR] [talk=DUR]            place a scripted call (FROM - for no number)",
    "answer CALL                           another terminal on the line answers",
    "hangup CALL                           the caller (or far end) hangs up",
    "calls                                 list the calls in progress",
    "log [FROM]                            log lines from sequence number FROM on",
    "wait TEXT [timeout=DUR] [from=SEQ]    wait for a log line containing TEXT",
    "smsc NUMBER ucp|tap [outcome=accept|reject|silence] [message=TEXT] [error=NN]",
    "     [answer=nak|rs] [logon=accept|reject|silence] [busy=yes|no]",
    "accepted [NUMBER]                     messages the SMS centres accepted",
    "phone NUMBER busy|ring|answer|reject|absent [cause=0xNNNN]",
    "terminal LINE NAME [msn=A,B] [cip=1,4,16] [answer=DUR|never]",
    "set NAME=DUR ...                      change a delay (see delays)",
    "delays                                list the delays",
    "lines                                 list the lines",
    "quit                                  stop the exchange",
};

Reply Error(const std::string& text) {
    return Reply{false, {}, text};
}

}  // namespace

void Control::OnLog(const LogEntry& entry) {
    for (std::size_t i = 0; i < waiters_.size();) {
        if (entry.text.find(waiters_[i].pattern) != std::string::npos) {
            Waiter w = std::move(waiters_[i]);
            waiters_.erase(waiters_.begin() + static_cast<long>(i));
            sched_.Cancel(w.timer);
            w.done(Reply{
                true, {std::to_string(entry.seq) + " " + entry.text}, std::to_string(entry.seq)});
        } else {
            ++i;
        }
    }
}

void Control::Wait(const std::vector<std::string>& w, std::function<void(Reply)> done) {
    Args a = ParseArgs(w);
    if (a.pos.size() != 1) return done(Error("usage: wait TEXT [timeout=DUR] [from=SEQ]"));
    if (auto u = Unknown(a, {"timeout", "from"}); !u.empty()) return done(Error(u));
    std::uint64_t timeout = 10000, from = 0;
    if (auto* t = a.Get("timeout")) {
        auto d = ParseDuration(*t);
        if (!d) return done(Error("bad timeout " + *t));
        timeout = *d;
    }
    if (auto* f = a.Get("from")) {
        auto v = ParseInt(*f);
        if (!v || *v < 0) return done(Error("bad sequence number " + *f));
        from = static_cast<std::uint64_t>(*v);
    }
    for (const auto& e : ex_.log())
        if (e.seq >= from && e.text.find(a.pos[0]) != std::string::npos)
            return done(Reply{true, {std::to_string(e.seq) + " " + e.text}, std::to_string(e.seq)});
    std::uint64_t id = next_waiter_++;
    Waiter waiter{id, a.pos[0], std::move(done), 0};
    waiter.timer = sched_.After(timeout, [this, id] {
        for (auto it = waiters_.begin(); it != waiters_.end(); ++it)
            if (it->id == id) {
                auto fn = std::move(it->done);
                waiters_.erase(it);
                fn(Error("timeout"));
                return;
            }
    });
    waiters_.push_back(std::move(waiter));
}

void Control::Execute(const std::string& line, std::function<void(Reply)> done) {
    std::string err;
    auto w = Tokenize(line, err);
    if (!err.empty()) return done(Error(err));
    if (w.empty()) return done(Reply{});
    const std::string& cmd = w[0];
    Args a = ParseArgs(w);
    if (cmd == "wait") return Wait(w, std::move(done));
    Reply r;
    if (cmd == "help") {
        for (const char* h : kHelp) r.lines.push_back(h);
    } else if (cmd == "call") {
        r = Call(w);
    } else if (cmd == "answer" || cmd == "hangup") {
        auto id = a.pos.size() == 1 ? ParseInt(a.pos[0]) : std::nullopt;
        if (!id) return done(Error("usage: " + cmd + " CALL"));
        std::string e = cmd == "answer" ? ex_.AnswerElsewhere(static_cast<int>(*id))
                                        : ex_.Hangup(static_cast<int>(*id));
        if (!e.empty()) r = Error(e);
    } else if (cmd == "calls") {
        r.lines = ex_.DescribeCalls();
    } else if (cmd == "log") {
        std::uint64_t from = 0;
        if (!a.pos.empty()) {
            auto v = ParseInt(a.pos[0]);
            if (!v || *v < 0) return done(Error("bad sequence number " + a.pos[0]));
            from = static_cast<std::uint64_t>(*v);
        }
        std::uint64_t next = from;
        for (const auto& e : ex_.log())
            if (e.seq >= from) {
                r.lines.push_back(std::to_string(e.seq) + " " + std::to_string(e.time_ms) + " " +
                                  e.text);
                next = e.seq + 1;
            }
        r.text = std::to_string(next);
    } else if (cmd == "smsc") {
        r = Smsc(w);
    } else if (cmd == "accepted") {
        for (const auto& m : ex_.Accepted(a.pos.empty() ? "" : a.pos[0]))
            r.lines.push_back(m.centre + " " + m.recipient + " " +
                              (m.originator.empty() ? "-" : m.originator) + " " + Escape(m.text));
    } else if (cmd == "phone") {
        r = Phone(w);
    } else if (cmd == "terminal") {
        r = Terminal(w);
    } else if (cmd == "set") {
        if (a.opt.empty() || !a.pos.empty()) return done(Error("usage: set NAME=DUR ..."));
        Delays d = ex_.delays();
        for (auto& [k, v] : a.opt) {
            auto ms = ParseDuration(v);
            if (!ms || *ms > 0xFFFFFFFFu) return done(Error("bad duration " + v));
            if (!SetDelay(d, k, static_cast<std::uint32_t>(*ms)))
                return done(Error("unknown delay " + k));
        }
        ex_.delays() = d;
    } else if (cmd == "delays") {
        for (auto& [k, v] : ListDelays(ex_.delays()))
            r.lines.push_back(k + "=" + std::to_string(v) + "ms");
    } else if (cmd == "lines") {
        for (std::size_t i = 0; i < ex_.lines().size(); ++i) {
            const auto& l = ex_.lines()[i];
            std::string msns;
            for (auto& m : l.msns) msns += (msns.empty() ? "" : ",") + m;
            r.lines.push_back(
                l.name + " 127.0.0.1:" + std::to_string(i < ports.size() ? ports[i] : l.port) +
                " area=" + l.area + " msn=" + msns + " channels=" + std::to_string(l.channels) +
                " controller=" + std::to_string(l.controller));
        }
    } else if (cmd == "quit") {
        if (on_quit) on_quit();
    } else {
        r = Error("unknown command " + cmd + " (try help)");
    }
    done(r);
}

Reply Control::Call(const std::vector<std::string>& w) {
    Args a = ParseArgs(w);
    if (a.pos.size() != 2) return Error("usage: call FROM TO [options]");
    if (auto u = Unknown(a, {"cip", "sub", "called-sub", "pres", "screen", "ton", "ring", "talk"});
        !u.empty())
        return Error(u);
    CallRequest r;
    r.from = a.pos[0] == "-" ? "" : a.pos[0];
    r.to = a.pos[1];
    if (auto* v = a.Get("cip")) {
        auto n = ParseInt(*v);
        if (!n || *n < 0 || *n > 63) return Error("bad CIP value " + *v);
        r.cip = static_cast<int>(*n);
    }
    if (auto* v = a.Get("sub")) r.calling_subaddress = ToBytes(*v);
    if (auto* v = a.Get("called-sub")) r.called_subaddress = ToBytes(*v);
    if (auto* v = a.Get("pres")) {
        if (*v != "allowed" && *v != "restricted" && *v != "unavailable")
            return Error("bad presentation " + *v);
        r.presentation = *v;
    }
    if (auto* v = a.Get("screen")) {
        if (*v != "network" && *v != "user" && *v != "verified" && *v != "failed")
            return Error("bad screening " + *v);
        r.screening = *v;
    }
    if (auto* v = a.Get("ton")) {
        if (*v != "unknown" && *v != "international" && *v != "national" && *v != "subscriber")
            return Error("bad type of number " + *v);
        r.ton = *v;
    }
    for (const char* key : {"ring", "talk"})
        if (auto* v = a.Get(key)) {
            auto d = ParseDuration(*v);
            if (!d || *d > 0x7FFFFFFF) return Error(std::string("bad ") + key + " time " + *v);
            (std::string(key) == "ring" ? r.ring_ms : r.talk_ms) = static_cast<int>(*d);
        }
    if (r.calling_subaddress && r.calling_subaddress->size() > 20)
        return Error("a subaddress carries at most 20 characters");
    for (std::size_t i = 0; i < r.from.size(); ++i)
        if (!std::isdigit(static_cast<unsigned char>(r.from[i])) && !(r.from[i] == '+' && i == 0))
            return Error("bad calling number " + r.from);
    auto result = ex_.PlaceCall(r);
    if (auto* e = std::get_if<std::string>(&result)) return Error(*e);
    return Reply{true, {}, "call " + std::to_string(std::get<int>(result))};
}

Reply Control::Smsc(const std::vector<std::string>& w) {
    Args a = ParseArgs(w);
    if (a.pos.size() != 2 || (a.pos[1] != "ucp" && a.pos[1] != "tap"))
        return Error("usage: smsc NUMBER ucp|tap [options]");
    if (auto u = Unknown(a, {"outcome", "message", "error", "answer", "logon", "busy"}); !u.empty())
        return Error(u);
    SmscConfig c;
    c.number = a.pos[0];
    c.protocol = a.pos[1] == "ucp" ? SmscProtocol::Ucp : SmscProtocol::Tap;
    auto outcome = [](const std::string& v) -> std::optional<SmscOutcome> {
        if (v == "accept") return SmscOutcome::Accept;
        if (v == "reject") return SmscOutcome::Reject;
        if (v == "silence") return SmscOutcome::Silence;
        return std::nullopt;
    };
    if (auto* v = a.Get("outcome")) {
        auto o = outcome(*v);
        if (!o) return Error("bad outcome " + *v);
        c.outcome = *o;
    }
    if (auto* v = a.Get("logon")) {
        auto o = outcome(*v);
        if (!o) return Error("bad logon outcome " + *v);
        c.logon = *o;
    }
    if (auto* v = a.Get("message")) c.message = *v;
    if (auto* v = a.Get("error")) {
        if (v->size() != 2 || !std::isdigit(static_cast<unsigned char>((*v)[0])) ||
            !std::isdigit(static_cast<unsigned char>((*v)[1])))
            return Error("an error code has two digits");
        c.error_code = *v;
    }
    if (auto* v = a.Get("answer")) {
        if (*v != "nak" && *v != "rs") return Error("bad answer " + *v);
        c.tap_reject_with_rs = *v == "rs";
    }
    if (auto* v = a.Get("busy")) c.busy = *v == "yes";
    ex_.AddSmsc(c);
    return Reply{};
}

Reply Control::Phone(const std::vector<std::string>& w) {
    Args a = ParseArgs(w);
    if (a.pos.size() != 2) return Error("usage: phone NUMBER busy|ring|answer|reject|absent");
    PhoneConfig p;
    p.number = a.pos[0];
    const std::string& b = a.pos[1];
    using B = PhoneConfig::Behaviour;
    if (b == "busy")
        p.behaviour = B::Busy;
    else if (b == "ring")
        p.behaviour = B::Ring;
    else if (b == "answer")
        p.behaviour = B::Answer;
    else if (b == "reject")
        p.behaviour = B::Reject;
    else if (b == "absent")
        p.behaviour = B::Absent;
    else
        return Error("bad behaviour " + b);
    if (auto* v = a.Get("cause")) {
        auto n = ParseInt(*v);
        if (!n || *n < 0 || *n > 0xFFFF) return Error("bad cause " + *v);
        p.reject_cause = static_cast<std::uint16_t>(*n);
    }
    ex_.AddPhone(p);
    return Reply{};
}

Reply Control::Terminal(const std::vector<std::string>& w) {
    Args a = ParseArgs(w);
    if (a.pos.size() != 2) return Error("usage: terminal LINE NAME [msn=..] [cip=..] [answer=..]");
    auto line = ex_.FindLine(a.pos[0]);
    if (!line) return Error("no line " + a.pos[0]);
    TerminalConfig t;
    t.name = a.pos[1];
    if (auto* v = a.Get("msn")) t.msns = SplitList(*v);
    if (auto* v = a.Get("cip")) {
        t.cips.clear();
        for (auto& s : SplitList(*v)) {
            auto n = ParseInt(s);
            if (!n) return Error("bad CIP value " + s);
            t.cips.push_back(static_cast<int>(*n));
        }
    }
    if (auto* v = a.Get("answer"); v && *v != "never") {
        auto d = ParseDuration(*v);
        if (!d || *d > 0x7FFFFFFF) return Error("bad answer time " + *v);
        t.answer_after_ms = static_cast<int>(*d);
    }
    ex_.AddTerminal(*line, t);
    return Reply{};
}

}  // namespace tolvar::line
