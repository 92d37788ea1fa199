// Placing calls and routing them: scripted callers and CONNECT_REQ, the
// calling number and bearer a network delivers, and where a dialled number
// leads (another line, an SMS centre, a far-end phone).
#include <algorithm>

#include "line/exchange_impl.h"

namespace tolvar::line {

using namespace capi;

namespace {

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

}  // namespace tolvar::line
