// Calls: set-up, routing between lines and far ends, alerting, answer,
// rejection and clearing, as a network shows them to the applications.
#include <algorithm>

#include "line/exchange_impl.h"

namespace tolvar::line {

using namespace capi;

namespace {

// A primary-rate line offers dozens of calls at once; a session holding as
// many PLCIs as one controller can number only collects calls it never releases.
constexpr std::size_t kMaxPlciPerSession = 255;
constexpr std::uint16_t kNormalClearing = 0x3490, kBusy = 0x3491, kNoUserResponding = 0x3492,
                        kNoChannel = 0x34A2, kUnallocated = 0x3481, kInvalidNumber = 0x349C,
                        kIncompatible = 0x34D8, kAnsweredElsewhere = 0x349A,
                        kOtherApplication = 0x3304;

std::string Hex8(std::uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%X", v);
    return buf;
}

std::string Digits(const Bytes& number_struct, std::size_t skip) {
    if (number_struct.size() <= skip) return "";
    return std::string(number_struct.begin() + static_cast<long>(skip), number_struct.end());
}

bool ValidDigits(const std::string& d) {
    if (d.empty()) return false;
    return std::all_of(d.begin(), d.end(),
                       [](char c) { return (c >= '0' && c <= '9') || c == '*' || c == '#'; });
}

// Bearer capability and high layer compatibility a network delivers for a CIP
// value (information element contents, octet 3 on).
std::pair<Bytes, Bytes> BearerFor(int cip) {
    const Bytes speech{0x80, 0x90, 0xA3}, digital{0x88, 0x90}, audio{0x90, 0x90, 0xA3},
        audio7{0x91, 0x90};
    switch (cip) {
        case 1:
            return {speech, {}};
        case 2:
            return {digital, {}};
        case 3:
            return {{0x89, 0x90}, {}};
        case 4:
            return {audio, {}};
        case 5:
            return {audio7, {}};
        case 6:
            return {{0x98, 0x90}, {}};
        case 7:
            return {{0x88, 0xC0, 0xC6, 0xE6}, {}};
        case 8:
            return {{0x88, 0x90, 0x21, 0x8F}, {}};
        case 9:
            return {{0x8C, 0x90}, {}};
        case 16:
            return {speech, {0x91, 0x81}};
        case 17:
            return {audio, {0x91, 0x84}};
        case 18:
            return {digital, {0x91, 0xA1}};
        case 19:
            return {digital, {0x91, 0xA4}};
        case 20:
            return {digital, {0x91, 0xA8}};
        case 21:
            return {digital, {0x91, 0xB1}};
        case 22:
            return {digital, {0x91, 0xB2}};
        case 23:
            return {digital, {0x91, 0xB5}};
        case 24:
            return {digital, {0x91, 0xB8}};
        case 25:
            return {digital, {0x91, 0xC1}};
        case 26:
            return {audio7, {0x91, 0x81}};
        case 27:
            return {digital, {0x91, 0xE0}};
        case 28:
            return {digital, {0x91, 0xE0}};
        default:
            return {{}, {}};
    }
}

bool DefaultBProtocol(const Bytes& b) {
    if (b.empty()) return true;
    if (b.size() < 6) return false;
    return b[0] == 0 && b[1] == 0 && b[2] == 0 && b[3] == 0 && b[4] == 0 && b[5] == 0;
}

Bytes Subaddress(const Bytes& text) {
    Bytes out{0x80, 0x50};
    out.insert(out.end(), text.begin(), text.end());
    return out;
}

}  // namespace

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

std::optional<std::pair<int, std::string>> Exchange::RouteToLine(const std::string& dialled,
                                                                 int from_line) const {
    std::string n = dialled;
    if (!n.empty() && n[0] == '+') n = "00" + n.substr(1);
    if (n.rfind("0049", 0) == 0) n = "0" + n.substr(4);
    if (n.rfind("00", 0) == 0) return std::nullopt;
    for (std::size_t i = 0; i < line_configs_.size(); ++i) {
        const auto& l = line_configs_[i];
        for (const auto& msn : l.msns) {
            bool national = n == "0" + l.area + msn;
            bool local =
                n == msn && (from_line < 0 ||
                             line_configs_[static_cast<std::size_t>(from_line)].area == l.area);
            if (national || local) return std::make_pair(static_cast<int>(i), msn);
        }
    }
    // A bare MSN reaches its line from anywhere in scripted calls.
    if (from_line < 0) return std::nullopt;
    return std::nullopt;
}

Bytes Exchange::CallingNumberFor(const CallRequest& r) const {
    std::string digits = r.from;
    int ton = 0;
    if (!r.ton.empty()) {
        ton = r.ton == "international" ? 1
              : r.ton == "national"    ? 2
              : r.ton == "subscriber"  ? 4
                                       : 0;
    } else if (digits.rfind("+", 0) == 0) {
        ton = 1;
        digits = digits.substr(1);
    } else if (digits.rfind("00", 0) == 0) {
        ton = 1;
        digits = digits.substr(2);
    } else if (digits.rfind("0", 0) == 0) {
        ton = 2;
        digits = digits.substr(1);
    } else if (!digits.empty()) {
        ton = 4;
    }
    int pres = r.presentation == "restricted" ? 1 : r.presentation == "unavailable" ? 2 : 0;
    int screen = r.screening == "user"       ? 0
                 : r.screening == "verified" ? 1
                 : r.screening == "failed"   ? 2
                                             : 3;
    if (pres == 0 && digits.empty()) pres = 2;
    Bytes out{static_cast<std::uint8_t>((ton << 4) | 1),
              static_cast<std::uint8_t>(0x80 | (pres << 5) | screen)};
    // A withheld or unavailable number is not delivered to the called user.
    if (pres == 0) out.insert(out.end(), digits.begin(), digits.end());
    return out;
}

std::variant<int, std::string> Exchange::PlaceCall(const CallRequest& r) {
    if (r.cip < 0 || r.cip > 63) return std::string("CIP value out of range");
    std::optional<std::pair<int, std::string>> dest;
    for (std::size_t i = 0; i < line_configs_.size() && !dest; ++i)
        for (const auto& msn : line_configs_[i].msns)
            if (msn == r.to) dest = std::make_pair(static_cast<int>(i), msn);
    if (!dest) dest = RouteToLine(r.to, -1);
    if (!dest) return "no line has the number " + r.to;
    auto c = std::make_unique<Call>();
    c->id = next_call_++;
    c->from_app = false;
    c->to = Call::To::Line;
    c->b_line = dest->first;
    c->msn = dest->second;
    c->cip = r.cip;
    c->called = Bytes{0x81};
    c->called.insert(c->called.end(), c->msn.begin(), c->msn.end());
    c->calling = CallingNumberFor(r);
    if (r.calling_subaddress) c->calling_sub = Subaddress(*r.calling_subaddress);
    if (r.called_subaddress) c->called_sub = Subaddress(*r.called_subaddress);
    std::tie(c->bc, c->hlc) = BearerFor(r.cip);
    c->ring_ms = r.ring_ms >= 0 ? static_cast<std::uint32_t>(r.ring_ms) : delays_.ring;
    c->talk_ms = r.talk_ms >= 0 ? static_cast<std::uint32_t>(r.talk_ms) : delays_.talk;
    c->desc = (r.from.empty() ? std::string("(no number)") : r.from) + " -> " + c->msn + " on " +
              line_configs_[static_cast<std::size_t>(c->b_line)].name + " CIP " +
              std::to_string(r.cip);
    int id = c->id;
    calls_[id] = std::move(c);
    Log("call " + std::to_string(id) + ": placed " + calls_[id]->desc);
    sched_.After(delays_.net, [this, id] { Route(id); });
    calls_[id]->ring_timer = sched_.After(calls_[id]->ring_ms + delays_.net, [this, id] {
        if (Call* call = FindCall(id); call && call->st != Call::St::Active) {
            call->ring_timer = 0;
            Log("call " + std::to_string(id) + ": caller gives up after " +
                std::to_string(call->ring_ms) + " ms");
            Hangup(id);
        }
    });
    return id;
}

void Exchange::OnConnectReq(Session& s, std::uint16_t num, Reader& r) {
    auto ctrl = r.U32();
    auto cip = r.U16();
    auto called = r.Struct(), calling = r.Struct(), called_sub = r.Struct(),
         calling_sub = r.Struct(), bproto = r.Struct(), bc = r.Struct(), llc = r.Struct(),
         hlc = r.Struct(), add = r.Struct();
    std::uint16_t result = 0;
    std::uint32_t plci_id = ctrl.value_or(0);
    const std::optional<int> line = ctrl ? LineOfController(s, *ctrl) : std::nullopt;
    if (!add) {
        Violation(s, "CONNECT_REQ parameters malformed");
        result = 0x2007;
    } else if (!line) {
        Violation(s, "CONNECT_REQ for controller " + std::to_string(*ctrl));
        result = 0x2002;
    } else if (*cip > 28 && *cip != 0) {
        Violation(s, "CONNECT_REQ with CIP value " + std::to_string(*cip));
        result = 0x3009;
    } else if (!bproto->empty() && bproto->size() < 6) {
        Violation(s,
                  "CONNECT_REQ with a B protocol of " + std::to_string(bproto->size()) + " octets");
        result = 0x2007;
    } else if (s.plcis.size() >= kMaxPlciPerSession) {
        Log(Who(s) + " CONNECT_REQ refused: no PLCI left");
        result = 0x2003;
    }
    std::uint32_t new_plci = result == 0 ? AllocPlci(*line) : 0;
    if (result == 0 && new_plci == 0) result = 0x2003;
    if (result != 0) {
        SendMsg(s, kConnect, kConf, num, Writer().U32(plci_id).U16(result).bytes(),
                "info " + Hex4(result));
        return;
    }
    auto c = std::make_unique<Call>();
    c->id = next_call_++;
    c->from_app = true;
    c->a_session = s.id;
    c->a_line = *line;
    c->cip = *cip;
    c->called = *called;
    c->calling = *calling;
    c->called_sub = *called_sub;
    c->calling_sub = *calling_sub;
    c->bproto = *bproto;
    c->bc = *bc;
    c->llc = *llc;
    c->hlc = *hlc;
    Plci p;
    p.id = new_plci;
    p.call = c->id;
    p.caller = true;
    s.plcis[p.id] = p;
    c->a_plci = p.id;
    c->desc = Who(s) + " -> " + Digits(*called, 1) + " CIP " + std::to_string(*cip);
    int id = c->id;
    calls_[id] = std::move(c);
    SendMsg(s, kConnect, kConf, num, Writer().U32(new_plci).U16(0).bytes(),
            "plci " + Hex8(new_plci) + " info 0x0000");
    Log("call " + std::to_string(id) + ": placed " + calls_[id]->desc);
    sched_.After(delays_.net, [this, id] { Route(id); });
}

void Exchange::FarEndRingsThenAnswers(Call& c) {
    CallerAlerted(c);
    const int id = c.id;
    c.answer_timer = sched_.After(delays_.answer, [this, id] {
        if (Call* call = FindCall(id)) {
            call->answer_timer = 0;
            call->winner = Call::Winner::Far;
            Connect(*call);
        }
    });
}

void Exchange::Route(int id) {
    Call* c = FindCall(id);
    if (!c) return;
    std::string cid = "call " + std::to_string(id) + ": ";
    if (!c->from_app) return Offer(*c);
    if (FreeChannels(c->a_line) <= 0) {
        Log(cid + "no B channel free on " +
            line_configs_[static_cast<std::size_t>(c->a_line)].name);
        ClearCaller(*c, kNoChannel);
        return EndCall(*c, "no channel");
    }
    c->a_chan = true;
    std::string dialled = Digits(c->called, 1);
    if (!ValidDigits(dialled)) {
        ClearCaller(*c, kInvalidNumber);
        return EndCall(*c, "invalid number \"" + Escape(ToBytes(dialled)) + "\"");
    }
    for (std::size_t i = 0; i < smscs_.size(); ++i) {
        if (smscs_[i].number != dialled) continue;
        c->to = Call::To::Smsc;
        c->smsc = static_cast<int>(i);
        if (smscs_[i].busy) {
            ClearCaller(*c, kBusy);
            return EndCall(*c, "SMS centre " + dialled + " busy");
        }
        if (c->cip != 2 || !DefaultBProtocol(c->bproto)) {
            ClearCaller(*c, kIncompatible);
            return EndCall(
                *c, "SMS centre " + dialled + " takes only CIP 2 with the default B protocols");
        }
        Log(cid + "SMS centre " + dialled + " rings");
        FarEndRingsThenAnswers(*c);
        return;
    }
    for (std::size_t i = 0; i < phones_.size(); ++i) {
        if (phones_[i].number != dialled) continue;
        c->to = Call::To::Phone;
        c->phone = static_cast<int>(i);
        switch (phones_[i].behaviour) {
            case PhoneConfig::Behaviour::Busy:
                ClearCaller(*c, kBusy);
                return EndCall(*c, dialled + " busy");
            case PhoneConfig::Behaviour::Reject:
                ClearCaller(*c, phones_[i].reject_cause);
                return EndCall(*c, dialled + " rejects");
            case PhoneConfig::Behaviour::Absent:
                c->no_answer_timer = sched_.After(delays_.no_answer, [this, id] {
                    if (Call* call = FindCall(id)) {
                        call->no_answer_timer = 0;
                        ClearCaller(*call, kNoUserResponding);
                        EndCall(*call, "no user responding");
                    }
                });
                return;
            case PhoneConfig::Behaviour::Ring:
                CallerAlerted(*c);
                return;
            case PhoneConfig::Behaviour::Answer:
                FarEndRingsThenAnswers(*c);
                return;
        }
    }
    auto dest = RouteToLine(dialled, c->a_line);
    if (!dest) {
        ClearCaller(*c, kUnallocated);
        return EndCall(*c, "unknown number " + dialled);
    }
    c->to = Call::To::Line;
    c->b_line = dest->first;
    c->msn = dest->second;
    if (FreeChannels(c->b_line) <= 0) {
        ClearCaller(*c, kBusy);
        return EndCall(
            *c, line_configs_[static_cast<std::size_t>(c->b_line)].name + " has no free B channel");
    }
    // The network screens the calling number: one of the caller's own MSNs
    // passes as given, anything else is replaced by the line's first MSN.
    const LineConfig& from = line_configs_[static_cast<std::size_t>(c->a_line)];
    std::string given = Digits(c->calling, 2);
    std::uint8_t pres = c->calling.size() >= 2 ? (c->calling[1] & 0x60) : 0;
    std::string own;
    std::uint8_t screen = 0x03;
    for (const auto& msn : from.msns)
        if (given == msn || given == "0" + from.area + msn) {
            own = msn;
            screen = 0x01;
        }
    if (own.empty() && !from.msns.empty()) own = from.msns.front();
    Bytes calling{0x21, static_cast<std::uint8_t>(0x80 | pres | screen)};
    if (own.empty()) {
        calling = {0x01, 0xC3};
    } else if (pres == 0) {
        std::string national = from.area + own;
        calling.insert(calling.end(), national.begin(), national.end());
    }
    c->calling = calling;
    c->called = Bytes{0x81};
    c->called.insert(c->called.end(), c->msn.begin(), c->msn.end());
    if (c->bc.empty() && c->hlc.empty()) std::tie(c->bc, c->hlc) = BearerFor(c->cip);
    Offer(*c);
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

void Exchange::SendDisconnectInd(Session& s, Plci& p, std::uint16_t reason) {
    if (p.st == Plci::St::Disconnecting) return;
    if (p.b3 == Plci::B3::Active || p.b3 == Plci::B3::Requested || p.b3 == Plci::B3::Offered) {
        p.b3 = Plci::B3::Down;
        p.rx.clear();
        Indicate(s, kDisconnectB3, p.ncci, Writer().U32(p.ncci).U16(0).Empty().bytes(),
                 "ncci " + Hex8(p.ncci) + " reason 0x0000");
    }
    // An unanswered CONNECT_IND is settled by the DISCONNECT_IND.
    for (auto it = s.pending.begin(); it != s.pending.end(); ++it)
        if (it->cmd == kConnect && it->ident == p.id) {
            s.pending.erase(it);
            break;
        }
    p.st = Plci::St::Disconnecting;
    Indicate(s, kDisconnect, p.id, Writer().U32(p.id).U16(reason).bytes(),
             "plci " + Hex8(p.id) + " reason " + Hex4(reason));
}

void Exchange::ClearCaller(Call& c, std::uint16_t reason) {
    if (!c.from_app) {
        Log("call " + std::to_string(c.id) + ": caller cleared with " + Hex4(reason));
        return;
    }
    auto it = sessions_.find(c.a_session);
    if (it == sessions_.end()) return;
    if (Plci* p = FindPlci(*it->second, c.a_plci)) SendDisconnectInd(*it->second, *p, reason);
}

void Exchange::ClearOffers(Call& c, std::uint16_t reason, const Plci* except) {
    for (auto [sid, plci] : c.offers) {
        auto it = sessions_.find(sid);
        if (it == sessions_.end()) continue;
        Plci* p = FindPlci(*it->second, plci);
        if (p && p != except) SendDisconnectInd(*it->second, *p, reason);
    }
    c.offers.clear();
    StopTerminals(c);
}

void Exchange::ClearAnswered(Call& c, std::uint16_t reason) {
    if (c.winner != Call::Winner::App) return;
    auto it = sessions_.find(c.b_session);
    if (it == sessions_.end()) return;
    if (Plci* p = FindPlci(*it->second, c.b_plci)) SendDisconnectInd(*it->second, *p, reason);
}

void Exchange::StopTerminals(Call& c) {
    c.ringing.clear();
    sched_.Cancel(c.answer_timer);
}

void Exchange::EndCall(Call& c, const std::string& why) {
    Log("call " + std::to_string(c.id) + ": ended (" + why + ")");
    sched_.Cancel(c.ring_timer);
    sched_.Cancel(c.no_answer_timer);
    sched_.Cancel(c.answer_timer);
    sched_.Cancel(c.talk_timer);
    calls_.erase(c.id);
}

void Exchange::CheckOffersLeft(Call& c) {
    if (c.winner != Call::Winner::None || !c.offers.empty() || !c.ringing.empty()) return;
    std::uint16_t cause = c.cause ? c.cause : kNoUserResponding;
    ClearCaller(c, cause);
    EndCall(c, "every called party refused");
}

void Exchange::DropOffer(Call& c, Session& s, Plci& p, std::uint16_t cause) {
    c.offers.erase(std::remove(c.offers.begin(), c.offers.end(), std::make_pair(s.id, p.id)),
                   c.offers.end());
    if (cause) c.cause = cause;
    SendDisconnectInd(s, p, 0);
    CheckOffersLeft(c);
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

void Exchange::ReleasePlciSide(Session& s, Plci& p, std::uint16_t reason_to_peer) {
    Call* c = FindCall(p.call);
    if (!c) return;
    if (p.caller) {
        ClearOffers(*c, reason_to_peer, nullptr);
        ClearAnswered(*c, reason_to_peer);
        EndCall(*c, "caller hung up");
    } else if (c->winner == Call::Winner::App && c->b_session == s.id && c->b_plci == p.id) {
        ClearCaller(*c, reason_to_peer);
        EndCall(*c, "called party hung up");
    } else {
        DropOffer(*c, s, p, kNormalClearing);
    }
}

void Exchange::OnDisconnectReq(Session& s, std::uint16_t num, Reader& r) {
    auto plci = r.U32();
    auto add = r.Struct();
    std::uint16_t result = 0;
    Plci* p = plci ? FindPlci(s, *plci) : nullptr;
    if (!plci || !add) {
        Violation(s, "DISCONNECT_REQ parameters malformed");
        result = 0x2007;
    } else if (!p) {
        Violation(s, "DISCONNECT_REQ for unknown PLCI " + Hex8(*plci));
        result = 0x2002;
    } else if (p->st == Plci::St::Disconnecting) {
        Note(s, "DISCONNECT_REQ crossed the DISCONNECT_IND of " + Hex8(*plci));
    }
    SendMsg(s, kDisconnect, kConf, num, Writer().U32(plci.value_or(0)).U16(result).bytes(),
            "info " + Hex4(result));
    if (result != 0 || p->st == Plci::St::Disconnecting) return;
    std::uint32_t id = p->id;
    Call* c = FindCall(p->call);
    if (c && !p->caller && p->st == Plci::St::Offered) {
        Log("call " + std::to_string(c->id) + ": refused by " + Who(s) + " with DISCONNECT_REQ");
        return DropOffer(*c, s, *p, kNormalClearing);
    }
    ReleasePlciSide(s, *p, kNormalClearing);
    if (Plci* again = FindPlci(s, id)) SendDisconnectInd(s, *again, 0);
}

void Exchange::AppClosed(Session& s) {
    std::vector<std::uint32_t> ids;
    for (auto& [id, p] : s.plcis) ids.push_back(id);
    for (auto id : ids) {
        Plci* p = FindPlci(s, id);
        if (!p || p->st == Plci::St::Disconnecting) continue;
        p->st = Plci::St::Disconnecting;  // nothing more is sent to a closed session
        Call* c = FindCall(p->call);
        if (!c) continue;
        if (p->caller) {
            ClearOffers(*c, kNormalClearing, nullptr);
            ClearAnswered(*c, kNormalClearing);
            EndCall(*c, "caller's application went away");
        } else if (c->winner == Call::Winner::App && c->b_session == s.id) {
            ClearCaller(*c, kNormalClearing);
            EndCall(*c, "called application went away");
        } else {
            c->offers.erase(
                std::remove(c->offers.begin(), c->offers.end(), std::make_pair(s.id, id)),
                c->offers.end());
            CheckOffersLeft(*c);
        }
    }
    s.plcis.clear();
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

std::string Exchange::Hangup(int id) {
    Call* c = FindCall(id);
    if (!c) return "no call " + std::to_string(id);
    if (c->from_app) {
        // The far end of an application's call hangs up.
        ClearCaller(*c, kNormalClearing);
        EndCall(*c, "far end hung up");
        return "";
    }
    ClearOffers(*c, kNormalClearing, nullptr);
    ClearAnswered(*c, kNormalClearing);
    EndCall(*c, "caller hung up");
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
