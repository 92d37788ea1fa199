// Clearing calls: DISCONNECT_IND and what it settles, DISCONNECT_REQ, an
// offer dropped or refused, a caller or far end hanging up, and the calls of
// an application that went away.
#include <algorithm>

#include "line/exchange_impl.h"

namespace tolvar::line {

using namespace capi;

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

}  // namespace tolvar::line
