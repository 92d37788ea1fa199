// Calls once routed: PLCI bookkeeping, the offer to applications and
// terminals, alerting, answer and the connection of both sides.
#include <algorithm>

#include "line/exchange_impl.h"

namespace tolvar::line {

using namespace capi;

Exchange::Call* Exchange::FindCall(int id) {
    auto it = calls_.find(id);
    return it == calls_.end() ? nullptr : it->second.get();
}

Exchange::Plci* Exchange::FindPlci(Session& s, std::uint32_t plci) {
    auto it = s.plcis.find(plci);
    return it == s.plcis.end() ? nullptr : &it->second;
}

Exchange::Plci* Exchange::FindPlciByNcci(Session& s, std::uint32_t ncci) {
    if (ncci == 0) return nullptr;
    for (auto& [id, p] : s.plcis)
        if (p.ncci == ncci) return &p;
    return nullptr;
}

std::uint32_t Exchange::AllocPlci(int line) {
    auto& next = next_plci_[static_cast<std::size_t>(line)];
    // The low byte of a PLCI is its controller.
    const auto controller =
        static_cast<std::uint32_t>(line_configs_[static_cast<std::size_t>(line)].controller);
    for (int tries = 0; tries < 255; ++tries) {
        std::uint32_t id = (next << 8) | controller;
        next = next % 255 + 1;
        bool used = false;
        for (auto& [sid, s] : sessions_)
            if (std::find(s->lines.begin(), s->lines.end(), line) != s->lines.end() &&
                s->plcis.count(id))
                used = true;
        if (!used) return id;
    }
    return 0;
}

Exchange::Plci& Exchange::NewPlci(Session& s, int line, int call, bool caller) {
    Plci p;
    p.id = AllocPlci(line);
    p.call = call;
    p.caller = caller;
    return s.plcis[p.id] = p;
}

void Exchange::FreePlci(Session& s, std::uint32_t plci) {
    s.plcis.erase(plci);
    // Responses owed for a released PLCI or its NCCI are owed no more.
    for (auto it = s.pending.begin(); it != s.pending.end();) {
        if ((it->ident & 0xFFFF) == plci) {
            sched_.Cancel(it->timer);
            it = s.pending.erase(it);
        } else {
            ++it;
        }
    }
}

int Exchange::FreeChannels(int line) const {
    int used = 0;
    for (auto& [id, c] : calls_) {
        if (c->a_line == line && c->a_chan) ++used;
        if (c->b_line == line && c->b_chan) ++used;
    }
    return line_configs_[static_cast<std::size_t>(line)].channels - used;
}

void Exchange::Offer(Call& c) {
    std::string cid = "call " + std::to_string(c.id) + ": ";
    int id = c.id;
    for (auto& [sid, sp] : sessions_) {
        Session& s = *sp;
        const auto listening = s.listening.find(c.b_line);
        if (listening == s.listening.end() || !s.registered || s.closed) continue;
        const Session::Listening& l = listening->second;
        bool wanted = c.cip < 32 ? (l.cip_mask & (1u << c.cip)) != 0
                                 : (l.cip_mask2 & (1u << (c.cip - 32))) != 0;
        if (!wanted && !(l.cip_mask & 1u)) continue;
        if (s.plcis.size() >= kMaxPlciPerSession) {
            Log(cid + "not offered to " + Who(s) + ": too many PLCIs");
            continue;
        }
        Plci& p = NewPlci(s, c.b_line, c.id, false);
        if (p.id == 0) {
            s.plcis.erase(0);
            continue;
        }
        p.st = Plci::St::Offered;
        c.offers.emplace_back(s.id, p.id);
        Writer w;
        w.U32(p.id).U16(static_cast<std::uint16_t>(c.cip));
        w.Struct(c.called).Struct(c.calling).Struct(c.called_sub).Struct(c.calling_sub);
        w.Struct(c.bc).Struct(c.llc).Struct(c.hlc).Empty().Empty();
        Indicate(s, kConnect, p.id, w.bytes(),
                 "plci " + Hex8(p.id) + " cip " + std::to_string(c.cip) + " called [" +
                     HexDump(c.called) + "] calling [" + HexDump(c.calling) + "] subaddress [" +
                     HexDump(c.calling_sub) + "]");
    }
    for (std::size_t i = 0; i < terminals_.size(); ++i) {
        const Terminal& t = *terminals_[i];
        if (t.line != c.b_line) continue;
        if (!t.config.msns.empty() &&
            std::find(t.config.msns.begin(), t.config.msns.end(), c.msn) == t.config.msns.end())
            continue;
        if (!t.config.cips.empty() &&
            std::find(t.config.cips.begin(), t.config.cips.end(), c.cip) == t.config.cips.end())
            continue;
        c.ringing.push_back(static_cast<int>(i));
        Log(cid + "terminal " + t.config.name + " rings");
        if (t.config.answer_after_ms >= 0 && c.answer_timer == 0)
            c.answer_timer =
                sched_.After(static_cast<std::uint64_t>(t.config.answer_after_ms), [this, id] {
                    if (Call* call = FindCall(id)) {
                        call->answer_timer = 0;
                        AnswerElsewhere(id);
                    }
                });
    }
    Log(cid + "offered to " + std::to_string(c.offers.size()) + " application(s) and " +
        std::to_string(c.ringing.size()) + " terminal(s)");
    if (!c.ringing.empty()) CallerAlerted(c);
    c.no_answer_timer = sched_.After(delays_.no_answer, [this, id] {
        Call* call = FindCall(id);
        if (!call) return;
        call->no_answer_timer = 0;
        if (call->alert_reported || call->winner != Call::Winner::None) return;
        ClearOffers(*call, kNoUserResponding, nullptr);
        ClearCaller(*call, kNoUserResponding);
        EndCall(*call, "no user responding");
    });
}

void Exchange::CallerAlerted(Call& c) {
    if (c.alert_reported) return;
    c.alert_reported = true;
    c.st = Call::St::Alerting;
    int id = c.id;
    sched_.After(delays_.alert, [this, id] {
        Call* call = FindCall(id);
        if (!call || call->st == Call::St::Active) return;
        Log("call " + std::to_string(id) + ": alerting");
        if (!call->from_app) return;
        auto it = sessions_.find(call->a_session);
        if (it == sessions_.end()) return;
        Session& s = *it->second;
        Plci* p = FindPlci(s, call->a_plci);
        // Call progression (bit 4 of the info mask) includes network events.
        const auto listening = s.listening.find(call->a_line);
        if (!p || p->st != Plci::St::Outgoing || listening == s.listening.end() ||
            !(listening->second.info_mask & 0x10))
            return;
        Indicate(s, kInfo, p->id, Writer().U32(p->id).U16(0x8001).Empty().bytes(),
                 "plci " + Hex8(p->id) + " 0x8001 ALERTING");
    });
}

void Exchange::SendConnectActive(Session& s, Plci& p, const Bytes& connected) {
    p.st = Plci::St::Active;
    Indicate(s, kConnectActive, p.id, Writer().U32(p.id).Struct(connected).Empty().Empty().bytes(),
             "plci " + Hex8(p.id));
}

void Exchange::Connect(Call& c) {
    c.st = Call::St::Active;
    sched_.Cancel(c.ring_timer);
    sched_.Cancel(c.no_answer_timer);
    Log("call " + std::to_string(c.id) + ": connected");
    if (c.from_app) {
        auto it = sessions_.find(c.a_session);
        Plci* p = it == sessions_.end() ? nullptr : FindPlci(*it->second, c.a_plci);
        if (p && p->st == Plci::St::Outgoing) {
            Bytes connected{0x01, 0x83};
            std::string d = Digits(c.called, 1);
            connected.insert(connected.end(), d.begin(), d.end());
            SendConnectActive(*it->second, *p, connected);
        }
    } else {
        int id = c.id;
        c.talk_timer = sched_.After(c.talk_ms, [this, id] {
            if (Call* call = FindCall(id)) {
                call->talk_timer = 0;
                Log("call " + std::to_string(id) + ": caller hangs up after talking");
                Hangup(id);
            }
        });
    }
    if (c.winner == Call::Winner::App) {
        auto it = sessions_.find(c.b_session);
        Plci* p = it == sessions_.end() ? nullptr : FindPlci(*it->second, c.b_plci);
        if (p && p->st == Plci::St::Accepting) SendConnectActive(*it->second, *p, {});
    }
}

void Exchange::OnConnectResp(Session& s, std::uint16_t num, Reader& r) {
    auto plci = r.U32();
    auto reject = r.U16();
    auto bproto = r.Struct();
    if (!plci || !reject || !bproto) return Violation(s, "CONNECT_RESP parameters malformed");
    bool found = false;
    Resolve(s, kConnect, *plci, num, 0, found);
    Plci* p = FindPlci(s, *plci);
    if (p && p->st == Plci::St::Disconnecting)
        return Note(s, "CONNECT_RESP crossed the DISCONNECT_IND of " + Hex8(*plci));
    if (!found || !p || p->st != Plci::St::Offered)
        return Violation(s,
                         "CONNECT_RESP for " + Hex8(*plci) + " without an outstanding CONNECT_IND");
    Call* c = FindCall(p->call);
    if (!c) return Violation(s, "CONNECT_RESP for a call that has ended");
    std::string cid = "call " + std::to_string(c->id) + ": ";
    static const std::uint16_t kCauseOfReject[] = {0,      0,      0x3490, 0x3491, 0x34AC,
                                                   0x349D, 0x3486, 0x34D8, 0x349B};
    if (*reject == 0) {
        if (c->winner != Call::Winner::None)
            return Note(s, "CONNECT_RESP accept for a call already answered");
        if (FreeChannels(c->b_line) <= 0) {
            Log(cid + "accepted by " + Who(s) + " without a free B channel");
            return DropOffer(*c, s, *p, kNoChannel);
        }
        Log(cid + "accepted by " + Who(s));
        c->winner = Call::Winner::App;
        c->b_session = s.id;
        c->b_plci = p->id;
        c->b_chan = true;
        p->st = Plci::St::Accepting;
        ClearOffers(*c, kOtherApplication, p);
        int id = c->id;
        sched_.After(delays_.connect, [this, id] {
            if (Call* call = FindCall(id)) Connect(*call);
        });
        return;
    }
    std::uint16_t cause = kNormalClearing;
    if (*reject == 1) {
        Log(cid + "ignored by " + Who(s));
        cause = 0;
    } else if (*reject <= 8) {
        cause = kCauseOfReject[*reject];
        Log(cid + "rejected by " + Who(s) + " (reject " + std::to_string(*reject) + ", cause " +
            Hex4(cause) + ")");
    } else {
        Violation(s, "CONNECT_RESP with reject value " + std::to_string(*reject));
    }
    DropOffer(*c, s, *p, cause);
}

std::string Exchange::AnswerElsewhere(int id) {
    Call* c = FindCall(id);
    if (!c) return "no call " + std::to_string(id);
    if (c->to != Call::To::Line) return "call " + std::to_string(id) + " is not to a line";
    if (c->winner != Call::Winner::None) return "call " + std::to_string(id) + " is answered";
    Log("call " + std::to_string(id) + ": answered by another terminal");
    c->winner = Call::Winner::Terminal;
    c->b_chan = true;
    ClearOffers(*c, kAnsweredElsewhere, nullptr);
    sched_.After(delays_.connect, [this, id] {
        if (Call* call = FindCall(id)) Connect(*call);
    });
    return "";
}

std::vector<std::string> Exchange::DescribeCalls() const {
    std::vector<std::string> out;
    for (const auto& [id, c] : calls_) {
        const char* st = c->st == Call::St::Setup      ? "setup"
                         : c->st == Call::St::Alerting ? "alerting"
                                                       : "active";
        out.push_back(std::to_string(id) + " " + st + " " + c->desc);
    }
    return out;
}

}  // namespace tolvar::line
