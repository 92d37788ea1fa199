// The B3 data path: connecting and clearing B3 links, data in both
// directions with the flow control of the registration, and the SMS centres
// at the far end of data calls.
#include <ctime>

#include "line/exchange_impl.h"

namespace tolvar::line {

using namespace capi;

std::string Exchange::Timestamp() const {
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[16];
    std::strftime(buf, sizeof buf, "%d%m%y%H%M%S", &tm);
    return buf;
}

void Exchange::OnConnectB3Req(Session& s, std::uint16_t num, Reader& r) {
    auto plci = r.U32();
    auto ncpi = r.Struct();
    std::uint16_t result = 0;
    Plci* p = plci ? FindPlci(s, *plci) : nullptr;
    Call* c = p ? FindCall(p->call) : nullptr;
    if (!plci || !ncpi) {
        Violation(s, "CONNECT_B3_REQ parameters malformed");
        result = 0x2007;
    } else if (!p) {
        Violation(s, "CONNECT_B3_REQ for unknown PLCI " + Hex8(*plci));
        result = 0x2002;
    } else if (p->st == Plci::St::Disconnecting) {
        Note(s, "CONNECT_B3_REQ crossed the DISCONNECT_IND of " + Hex8(*plci));
        result = 0x2001;
    } else if (p->st != Plci::St::Active || !c || p->b3 != Plci::B3::None) {
        Violation(s, "CONNECT_B3_REQ for " + Hex8(*plci) +
                         " that is not a connected call "
                         "without a B3 link");
        result = 0x2001;
    }
    if (result != 0) {
        SendMsg(s, kConnectB3, kConf, num, Writer().U32(plci.value_or(0)).U16(result).bytes(),
                "info " + Hex4(result));
        return;
    }
    p->ncci = (1u << 16) | p->id;
    p->b3 = Plci::B3::Requested;
    SendMsg(s, kConnectB3, kConf, num, Writer().U32(p->ncci).U16(0).bytes(),
            "ncci " + Hex8(p->ncci) + " info 0x0000");
    c->b3 = Call::B3::Setup;
    // The other side of the call: an application gets CONNECT_B3_IND;
    // every simulated far end accepts at once.
    bool peer_is_app = p->caller ? c->winner == Call::Winner::App : c->from_app;
    if (peer_is_app) {
        auto it = sessions_.find(p->caller ? c->b_session : c->a_session);
        Plci* q = it == sessions_.end() ? nullptr
                                        : FindPlci(*it->second, p->caller ? c->b_plci : c->a_plci);
        if (q && q->st == Plci::St::Active && q->b3 == Plci::B3::None) {
            q->ncci = (1u << 16) | q->id;
            q->b3 = Plci::B3::Offered;
            Indicate(*it->second, kConnectB3, q->ncci, Writer().U32(q->ncci).Empty().bytes(),
                     "ncci " + Hex8(q->ncci));
        }
        return;
    }
    int sid = s.id, id = c->id;
    std::uint32_t pid = p->id;
    sched_.After(delays_.net, [this, sid, pid, id] {
        auto it = sessions_.find(sid);
        Call* call = FindCall(id);
        if (it == sessions_.end() || !call) return;
        Plci* q = FindPlci(*it->second, pid);
        if (!q || q->b3 != Plci::B3::Requested) return;
        q->b3 = Plci::B3::Active;
        call->b3 = Call::B3::Active;
        if (call->to == Call::To::Smsc && call->smsc >= 0) {
            const SmscConfig& cfg = smscs_[static_cast<std::size_t>(call->smsc)];
            std::string who = "smsc " + cfg.number + ": ";
            call->dialog = MakeSmscDialog(
                cfg, [this, who](const std::string& t) { Log(who + t); },
                [this, who](AcceptedSms a) {
                    Log(who + "accepted message to " + a.recipient + ": " + Escape(a.text));
                    accepted_.push_back(std::move(a));
                },
                [this] { return Timestamp(); });
        }
        Indicate(*it->second, kConnectB3Active, q->ncci, Writer().U32(q->ncci).Empty().bytes(),
                 "ncci " + Hex8(q->ncci));
    });
}

void Exchange::OnConnectB3Resp(Session& s, std::uint16_t num, Reader& r) {
    auto ncci = r.U32();
    auto reject = r.U16();
    if (!ncci || !reject) return Violation(s, "CONNECT_B3_RESP parameters malformed");
    bool found = false;
    Resolve(s, kConnectB3, *ncci, num, 0, found);
    Plci* p = FindPlciByNcci(s, *ncci);
    if (!found || !p || p->b3 != Plci::B3::Offered)
        return Violation(
            s, "CONNECT_B3_RESP for " + Hex8(*ncci) + " without an outstanding CONNECT_B3_IND");
    Call* c = FindCall(p->call);
    auto it = c ? sessions_.find(p->caller ? c->b_session : c->a_session) : sessions_.end();
    Plci* q =
        it == sessions_.end() ? nullptr : FindPlci(*it->second, p->caller ? c->b_plci : c->a_plci);
    bool ok = *reject == 0;
    p->b3 = ok ? Plci::B3::Active : Plci::B3::Down;
    Indicate(
        s, ok ? kConnectB3Active : kDisconnectB3, p->ncci,
        ok ? Writer().U32(p->ncci).Empty().bytes() : Writer().U32(p->ncci).U16(0).Empty().bytes(),
        "ncci " + Hex8(p->ncci));
    if (q && q->b3 == Plci::B3::Requested) {
        q->b3 = ok ? Plci::B3::Active : Plci::B3::Down;
        Indicate(*it->second, ok ? kConnectB3Active : kDisconnectB3, q->ncci,
                 ok ? Writer().U32(q->ncci).Empty().bytes()
                    : Writer().U32(q->ncci).U16(0x3301).Empty().bytes(),
                 "ncci " + Hex8(q->ncci));
    }
    if (c) c->b3 = ok ? Call::B3::Active : Call::B3::None;
}

void Exchange::OnDisconnectB3Req(Session& s, std::uint16_t num, Reader& r) {
    auto ncci = r.U32();
    auto ncpi = r.Struct();
    std::uint16_t result = 0;
    Plci* p = ncci ? FindPlciByNcci(s, *ncci) : nullptr;
    if (!ncci || !ncpi) {
        Violation(s, "DISCONNECT_B3_REQ parameters malformed");
        result = 0x2007;
    } else if (!p) {
        Violation(s, "DISCONNECT_B3_REQ for unknown NCCI " + Hex8(*ncci));
        result = 0x2002;
    } else if (p->b3 == Plci::B3::Down) {
        Note(s, "DISCONNECT_B3_REQ crossed the DISCONNECT_B3_IND of " + Hex8(*ncci));
    }
    SendMsg(s, kDisconnectB3, kConf, num, Writer().U32(ncci.value_or(0)).U16(result).bytes(),
            "info " + Hex4(result));
    if (result != 0 || p->b3 == Plci::B3::Down) return;
    B3Down(FindCall(p->call), &s, p);
}

void Exchange::B3Down(Call* c, Session* s, Plci* p) {
    auto down = [this](Session& ss, Plci& pp, std::uint16_t reason) {
        if (pp.b3 == Plci::B3::None || pp.b3 == Plci::B3::Down) return;
        pp.b3 = Plci::B3::Down;
        pp.rx.clear();
        Indicate(ss, kDisconnectB3, pp.ncci, Writer().U32(pp.ncci).U16(reason).Empty().bytes(),
                 "ncci " + Hex8(pp.ncci) + " reason " + Hex4(reason));
    };
    if (s && p) down(*s, *p, 0);
    if (!c) return;
    c->dialog.reset();
    c->b3 = Call::B3::None;
    if (!p) return;
    bool peer_is_app = p->caller ? c->winner == Call::Winner::App : c->from_app;
    if (!peer_is_app) return;
    auto it = sessions_.find(p->caller ? c->b_session : c->a_session);
    if (it == sessions_.end()) return;
    if (Plci* q = FindPlci(*it->second, p->caller ? c->b_plci : c->a_plci))
        down(*it->second, *q, 0);
}

void Exchange::OnDataB3Req(Session& s, std::uint16_t num, Reader& r, const Bytes& data) {
    auto ncci = r.U32();
    r.U32();  // the 32-bit data pointer means nothing on the wire
    auto len = r.U16(), handle = r.U16(), flags = r.U16();
    std::uint16_t result = 0;
    Plci* p = ncci ? FindPlciByNcci(s, *ncci) : nullptr;
    if (!ncci || !len || !handle || !flags) {
        Violation(s, "DATA_B3_REQ parameters malformed");
        result = 0x2007;
    } else if (!p) {
        Violation(s, "DATA_B3_REQ for unknown NCCI " + Hex8(*ncci));
        result = 0x2002;
    } else if (p->b3 == Plci::B3::Down) {
        Note(s, "DATA_B3_REQ crossed the DISCONNECT_B3_IND of " + Hex8(*ncci));
        result = 0x2001;
    } else if (p->b3 != Plci::B3::Active) {
        Violation(s, "DATA_B3_REQ for " + Hex8(*ncci) + " before CONNECT_B3_ACTIVE_IND");
        result = 0x2001;
    } else if (*len > s.max_b3_size) {
        Violation(s, "DATA_B3_REQ of " + std::to_string(*len) + " bytes, registered for " +
                         std::to_string(s.max_b3_size));
        result = 0x300C;
    }
    SendMsg(s, kDataB3, kConf, num,
            Writer().U32(ncci.value_or(0)).U16(handle.value_or(0)).U16(result).bytes(),
            "handle " + Hex4(handle.value_or(0)) + " info " + Hex4(result));
    if (result != 0) return;
    Call* c = FindCall(p->call);
    if (!c) return;
    int id = c->id;
    bool to_caller = !p->caller;
    sched_.After(delays_.net, [this, id, to_caller, data] {
        if (Call* call = FindCall(id)) DeliverData(*call, to_caller, data);
    });
}

void Exchange::DeliverData(Call& c, bool to_caller, const Bytes& data) {
    bool to_app = to_caller ? c.from_app : c.winner == Call::Winner::App;
    if (to_app) {
        auto it = sessions_.find(to_caller ? c.a_session : c.b_session);
        if (it == sessions_.end()) return;
        Plci* q = FindPlci(*it->second, to_caller ? c.a_plci : c.b_plci);
        if (!q || q->b3 != Plci::B3::Active) return;
        q->rx.push_back(data);
        PumpData(*it->second, *q);
        return;
    }
    if (!to_caller && c.dialog) {
        Bytes reply = c.dialog->Receive(data);
        if (reply.empty()) return;
        int id = c.id;
        sched_.After(delays_.reply, [this, id, reply] { SmscReply(id, reply); });
        return;
    }
    Log("call " + std::to_string(c.id) + ": far end discards data " + Escape(data));
}

void Exchange::SmscReply(int id, const Bytes& reply) {
    Call* c = FindCall(id);
    if (!c || !c->from_app) return;
    Log("call " + std::to_string(id) + ": SMS centre sends " + Escape(reply));
    DeliverData(*c, true, reply);
}

void Exchange::PumpData(Session& s, Plci& p) {
    std::size_t window = s.max_b3_blocks ? s.max_b3_blocks : 1;
    std::size_t size = s.max_b3_size ? s.max_b3_size : 128;
    while (p.b3 == Plci::B3::Active && !p.rx.empty() && p.outstanding.size() < window) {
        Bytes chunk = std::move(p.rx.front());
        p.rx.pop_front();
        if (chunk.size() > size) {
            p.rx.emplace_front(chunk.begin() + static_cast<long>(size), chunk.end());
            chunk.resize(size);
        }
        std::uint16_t handle;
        do {
            handle = p.next_handle++;
        } while (handle == 0 || p.outstanding.count(handle));
        p.outstanding.insert(handle);
        Writer w;
        w.U32(p.ncci).U32(0).U16(static_cast<std::uint16_t>(chunk.size())).U16(handle).U16(0);
        Indicate(s, kDataB3, p.ncci, w.bytes(),
                 "ncci " + Hex8(p.ncci) + " handle " + Hex4(handle) + " " + Escape(chunk), chunk,
                 handle);
    }
}

void Exchange::OnDataB3Resp(Session& s, std::uint16_t num, Reader& r) {
    auto ncci = r.U32();
    auto handle = r.U16();
    if (!ncci || !handle) return Violation(s, "DATA_B3_RESP parameters malformed");
    bool found = false;
    Resolve(s, kDataB3, *ncci, num, *handle, found);
    if (!found)
        return Violation(s, "DATA_B3_RESP for " + Hex8(*ncci) + " with handle " + Hex4(*handle) +
                                " that is not outstanding");
    if (Plci* p = FindPlciByNcci(s, *ncci)) {
        p->outstanding.erase(*handle);
        PumpData(s, *p);
    }
}

}  // namespace tolvar::line
