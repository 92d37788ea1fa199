// The application side of the exchange: message names and checks, the
// responses owed by applications, and the requests they send outside a call's
// set-up, clearing and B3 data.
#include <cstdio>

#include "line/exchange_impl.h"

namespace tolvar::line {

using namespace capi;

std::string capi::Name(std::uint8_t cmd, std::uint8_t sub) {
    const char* c = nullptr;
    switch (cmd) {
        case kAlert:
            c = "ALERT";
            break;
        case kConnect:
            c = "CONNECT";
            break;
        case kConnectActive:
            c = "CONNECT_ACTIVE";
            break;
        case kDisconnect:
            c = "DISCONNECT";
            break;
        case kListen:
            c = "LISTEN";
            break;
        case kInfo:
            c = "INFO";
            break;
        case kFacility:
            c = "FACILITY";
            break;
        case kSelectB:
            c = "SELECT_B_PROTOCOL";
            break;
        case kConnectB3:
            c = "CONNECT_B3";
            break;
        case kConnectB3Active:
            c = "CONNECT_B3_ACTIVE";
            break;
        case kDisconnectB3:
            c = "DISCONNECT_B3";
            break;
        case kDataB3:
            c = "DATA_B3";
            break;
        case kResetB3:
            c = "RESET_B3";
            break;
        case kManufacturer:
            c = "MANUFACTURER";
            break;
        default:
            break;
    }
    const char* s = sub == kReq    ? "REQ"
                    : sub == kConf ? "CONF"
                    : sub == kInd  ? "IND"
                    : sub == kResp ? "RESP"
                                   : nullptr;
    char buf[64];
    if (c && s)
        std::snprintf(buf, sizeof buf, "%s_%s", c, s);
    else
        std::snprintf(buf, sizeof buf, "0x%02X%02X", sub, cmd);
    return buf;
}

void Exchange::SendMsg(Session& s, std::uint8_t cmd, std::uint8_t sub, std::uint16_t msgnum,
                       const Bytes& params, const std::string& what, const Bytes& data) {
    if (s.closed) return;
    Writer w;
    w.U16(static_cast<std::uint16_t>(8 + params.size())).U16(s.applid).U8(cmd).U8(sub).U16(msgnum);
    w.Raw(params).Raw(data);
    Log(Who(s) + " <- " + Name(cmd, sub) + " #" + std::to_string(msgnum) + " " + what);
    s.send(w.Take());
}

std::uint16_t Exchange::Indicate(Session& s, std::uint8_t cmd, std::uint32_t ident,
                                 const Bytes& params, const std::string& what, const Bytes& data,
                                 std::uint16_t handle) {
    std::uint16_t num = s.next_msgnum++;
    if (s.next_msgnum == 0) s.next_msgnum = 1;
    SendMsg(s, cmd, kInd, num, params, what, data);
    Pending p{cmd, ident, num, handle, 0, false};
    // An application may leave an incoming call alerting as long as it likes.
    if (cmd != kConnect) {
        int sid = s.id;
        p.timer = sched_.After(delays_.response, [this, sid, cmd, ident, num, handle] {
            auto it = sessions_.find(sid);
            if (it == sessions_.end()) return;
            for (auto& q : it->second->pending)
                if (q.cmd == cmd && q.ident == ident && q.msgnum == num && q.handle == handle) {
                    q.timer = 0;
                    q.overdue = true;
                    Violation(*it->second, "no " + Name(cmd, kResp) + " to " + Name(cmd, kInd) +
                                               " #" + std::to_string(num) + " (" + Hex8(ident) +
                                               ") within " + std::to_string(delays_.response) +
                                               " ms");
                }
        });
    }
    s.pending.push_back(p);
    return num;
}

void Exchange::Resolve(Session& s, std::uint8_t cmd, std::uint32_t ident, std::uint16_t msgnum,
                       std::uint16_t handle, bool& found) {
    found = false;
    for (auto it = s.pending.begin(); it != s.pending.end(); ++it) {
        if (it->cmd != cmd || it->ident != ident || it->handle != handle) continue;
        found = true;
        sched_.Cancel(it->timer);
        if (it->overdue) Note(s, Name(cmd, kResp) + " for " + Hex8(ident) + " came late");
        // The standard wants the indication's number echoed; programs that
        // send 0 work with every driver, so this is only noted.
        if (msgnum != it->msgnum && msgnum != 0)
            Note(s, Name(cmd, kResp) + " #" + std::to_string(msgnum) + " answers " +
                        Name(cmd, kInd) + " #" + std::to_string(it->msgnum));
        s.pending.erase(it);
        return;
    }
}

void Exchange::Message(Session& s, const Bytes& payload) {
    std::size_t len = payload[0] | (payload[1] << 8);
    if (len < 8 || len > payload.size())
        return BadFrame(s, "message length " + std::to_string(len) + " in a frame of " +
                               std::to_string(payload.size()));
    std::uint16_t applid = static_cast<std::uint16_t>(payload[2] | (payload[3] << 8));
    std::uint8_t cmd = payload[4], sub = payload[5];
    std::uint16_t num = static_cast<std::uint16_t>(payload[6] | (payload[7] << 8));
    Bytes data;
    if (cmd == kDataB3 && sub == kReq) {
        if (len < 18) return BadFrame(s, "DATA_B3_REQ of length " + std::to_string(len));
        std::size_t dlen = payload[16] | (payload[17] << 8);
        if (payload.size() != len + dlen)
            return BadFrame(s, "DATA_B3_REQ announces " + std::to_string(dlen) +
                                   " data bytes, frame carries " +
                                   std::to_string(payload.size() - len));
        data.assign(payload.begin() + static_cast<long>(len), payload.end());
    } else if (payload.size() != len) {
        return BadFrame(s, Name(cmd, sub) + " of length " + std::to_string(len) +
                               " in a frame of " + std::to_string(payload.size()));
    }
    if (!s.registered) return BadFrame(s, "CAPI message before registration");
    if (s.applid == 0) s.applid = applid;
    Log(Who(s) + " -> " + Name(cmd, sub) + " #" + std::to_string(num) + " " +
        HexDump(Bytes(payload.begin() + 8, payload.begin() + static_cast<long>(len))));
    if (applid != s.applid)
        Violation(s, "ApplID " + std::to_string(applid) + " in a message of application " +
                         std::to_string(s.applid));
    Reader r(payload, 8, len);
    switch (sub == kReq ? cmd | 0x100 : sub == kResp ? cmd | 0x200 : 0) {
        case kListen | 0x100:
            return OnListen(s, num, r);
        case kConnect | 0x100:
            return OnConnectReq(s, num, r);
        case kAlert | 0x100:
            return OnAlertReq(s, num, r);
        case kDisconnect | 0x100:
            return OnDisconnectReq(s, num, r);
        case kInfo | 0x100:
            return OnInfoReq(s, num, r);
        case kFacility | 0x100:
            return OnFacilityReq(s, num, r);
        case kConnectB3 | 0x100:
            return OnConnectB3Req(s, num, r);
        case kDataB3 | 0x100:
            return OnDataB3Req(s, num, r, data);
        case kDisconnectB3 | 0x100:
            return OnDisconnectB3Req(s, num, r);
        case kConnect | 0x200:
            return OnConnectResp(s, num, r);
        case kConnectB3 | 0x200:
            return OnConnectB3Resp(s, num, r);
        case kDataB3 | 0x200:
            return OnDataB3Resp(s, num, r);
        case kConnectActive | 0x200:
        case kDisconnect | 0x200:
        case kInfo | 0x200:
        case kConnectB3Active | 0x200:
        case kDisconnectB3 | 0x200:
            return OnSimpleResp(s, cmd, num, r);
        default:
            Violation(s, "unsupported message " + Name(cmd, sub));
    }
}

void Exchange::OnListen(Session& s, std::uint16_t num, Reader& r) {
    auto ctrl = r.U32();
    auto info = r.U32(), cip = r.U32(), cip2 = r.U32();
    auto calling = r.Struct(), sub = r.Struct();
    std::uint16_t result = 0;
    if (!ctrl || !info || !cip || !cip2 || !calling || !sub) {
        Violation(s, "LISTEN_REQ parameters malformed");
        result = 0x2007;
    } else if (auto line = LineOfController(s, *ctrl); !line) {
        Violation(s, "LISTEN_REQ for controller " + std::to_string(*ctrl));
        result = 0x2002;
    } else if (*info == 0 && *cip == 0 && *cip2 == 0) {
        s.listening.erase(*line);
        Log(Who(s) + " stops listening on controller " + std::to_string(*ctrl));
    } else {
        s.listening[*line] = {*info, *cip, *cip2};
        Log(Who(s) + " listens on controller " + std::to_string(*ctrl) + ": info mask " +
            Hex8(*info) + ", CIP mask " + Hex8(*cip));
    }
    SendMsg(s, kListen, kConf, num, Writer().U32(ctrl.value_or(1)).U16(result).bytes(),
            "info " + Hex4(result));
}

void Exchange::OnAlertReq(Session& s, std::uint16_t num, Reader& r) {
    auto plci = r.U32();
    auto add = r.Struct();
    std::uint16_t result = 0;
    Plci* p = plci ? FindPlci(s, *plci) : nullptr;
    Call* c = p ? FindCall(p->call) : nullptr;
    if (!plci || !add) {
        Violation(s, "ALERT_REQ parameters malformed");
        result = 0x2007;
    } else if (!p) {
        Violation(s, "ALERT_REQ for unknown PLCI " + Hex8(*plci));
        result = 0x2002;
    } else if (p->st == Plci::St::Disconnecting) {
        Note(s, "ALERT_REQ crossed the DISCONNECT_IND of " + Hex8(*plci));
        result = 0x2001;
    } else if (p->st != Plci::St::Offered || !c) {
        Violation(s, "ALERT_REQ for " + Hex8(*plci) + " that is not an offered call");
        result = 0x2001;
    } else if (p->alerted) {
        Violation(s, "ALERT_REQ twice for " + Hex8(*plci));
    } else {
        p->alerted = true;
        // "Alert already sent by another application".
        if (c->alert_reported) result = 0x0003;
        Log("call " + std::to_string(c->id) + ": alerted by " + Who(s));
        CallerAlerted(*c);
    }
    SendMsg(s, kAlert, kConf, num, Writer().U32(plci.value_or(0)).U16(result).bytes(),
            "info " + Hex4(result));
}

void Exchange::OnSimpleResp(Session& s, std::uint8_t cmd, std::uint16_t num, Reader& r) {
    auto ident = r.U32();
    if (!ident) return Violation(s, Name(cmd, kResp) + " without PLCI/NCCI");
    bool found = false;
    Resolve(s, cmd, *ident, num, 0, found);
    if (!found)
        return Violation(s, Name(cmd, kResp) + " for " + Hex8(*ident) + " without an outstanding " +
                                Name(cmd, kInd));
    if (cmd == kDisconnect) {
        FreePlci(s, *ident);
    } else if (cmd == kDisconnectB3) {
        if (Plci* p = FindPlciByNcci(s, *ident)) {
            p->ncci = 0;
            p->b3 = Plci::B3::None;
            p->rx.clear();
            p->outstanding.clear();
        }
    }
}

void Exchange::OnInfoReq(Session& s, std::uint16_t num, Reader& r) {
    auto ident = r.U32();
    auto called = r.Struct(), add = r.Struct();
    std::uint16_t result = 0;
    if (!ident || !called || !add) {
        Violation(s, "INFO_REQ parameters malformed");
        result = 0x2007;
    } else if ((*ident & 0xFF00) != 0 && !FindPlci(s, *ident)) {
        Violation(s, "INFO_REQ for unknown PLCI " + Hex8(*ident));
        result = 0x2002;
    }
    SendMsg(s, kInfo, kConf, num, Writer().U32(ident.value_or(0)).U16(result).bytes(),
            "info " + Hex4(result));
}

void Exchange::OnFacilityReq(Session& s, std::uint16_t num, Reader& r) {
    auto ident = r.U32();
    auto selector = r.U16();
    SendMsg(s, kFacility, kConf, num,
            Writer().U32(ident.value_or(0)).U16(0x300B).U16(selector.value_or(0)).Empty().bytes(),
            "info 0x300B (facility not supported)");
}

}  // namespace tolvar::line
