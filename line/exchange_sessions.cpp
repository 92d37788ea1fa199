// The exchange and the connections to it: its lines and far ends, the
// network's delays, each application's session, the remote-CAPI handshake
// (registration, manufacturer, version, serial, profile) and the router's
// requests.
#include <algorithm>

#include "line/exchange_impl.h"

namespace tolvar::line {

using namespace capi;

namespace {

// Remote-CAPI handshake commands (first byte; the second is always 0xFF).
constexpr std::uint8_t kRegister = 0xF2, kGetManufacturer = 0xFA, kGetVersion = 0xFC,
                       kGetSerial = 0xFE, kGetProfile = 0xE0;
constexpr std::size_t kManufacturerLen = 64, kSerialLen = 8;

// A text in a fixed-size field, cut if need be and always ending in NUL.
Bytes FixedText(const std::string& text, std::size_t size) {
    Bytes field = ToBytes(text);
    field.resize(size, 0);
    field.back() = 0;
    return field;
}

// A number's configuration replaces the one it had, or joins the list.
template <class Config>
void PutByNumber(std::vector<Config>& list, Config config) {
    for (auto& c : list)
        if (c.number == config.number) {
            c = std::move(config);
            return;
        }
    list.push_back(std::move(config));
}

}  // namespace

Delays RealisticDelays() {
    return Delays{};
}

Delays FastDelays() {
    Delays d;
    d.net = 2;
    d.alert = 5;
    d.connect = 5;
    d.ring = 3000;
    d.no_answer = 1000;
    d.answer = 10;
    d.reply = 2;
    d.response = 2000;
    d.talk = 2000;
    return d;
}

std::vector<std::pair<std::string, std::uint32_t>> ListDelays(const Delays& d) {
    return {{"net", d.net},     {"alert", d.alert},         {"connect", d.connect},
            {"ring", d.ring},   {"no-answer", d.no_answer}, {"answer", d.answer},
            {"reply", d.reply}, {"response", d.response},   {"talk", d.talk}};
}

bool SetDelay(Delays& d, const std::string& name, std::uint32_t ms) {
    std::uint32_t* f = name == "net"         ? &d.net
                       : name == "alert"     ? &d.alert
                       : name == "connect"   ? &d.connect
                       : name == "ring"      ? &d.ring
                       : name == "no-answer" ? &d.no_answer
                       : name == "answer"    ? &d.answer
                       : name == "reply"     ? &d.reply
                       : name == "response"  ? &d.response
                       : name == "talk"      ? &d.talk
                                             : nullptr;
    if (!f) return false;
    *f = ms;
    return true;
}

Exchange::Exchange(Scheduler& scheduler, Delays delays) : sched_(scheduler), delays_(delays) {}

Exchange::~Exchange() = default;

void Exchange::Log(const std::string& text) {
    log_.push_back({next_seq_++, sched_.now(), text});
    if (log_.size() > 20000) log_.pop_front();
    if (on_log) on_log(log_.back());
}

int Exchange::AddLine(LineConfig config) {
    line_configs_.push_back(std::move(config));
    next_plci_.push_back(1);
    return static_cast<int>(line_configs_.size()) - 1;
}

std::optional<int> Exchange::FindLine(const std::string& name) const {
    for (std::size_t i = 0; i < line_configs_.size(); ++i)
        if (line_configs_[i].name == name) return static_cast<int>(i);
    return std::nullopt;
}

void Exchange::AddTerminal(int line, TerminalConfig config) {
    terminals_.push_back(std::make_unique<Terminal>(Terminal{line, std::move(config)}));
}

void Exchange::AddPhone(PhoneConfig config) {
    PutByNumber(phones_, std::move(config));
}

void Exchange::AddSmsc(SmscConfig config) {
    PutByNumber(smscs_, std::move(config));
}

std::vector<AcceptedSms> Exchange::Accepted(const std::string& centre) const {
    std::vector<AcceptedSms> out;
    for (const auto& a : accepted_)
        if (centre.empty() || a.centre == centre) out.push_back(a);
    return out;
}

std::string Exchange::Who(const Session& s) const {
    return (s.router ? std::string("router")
                     : line_configs_[static_cast<std::size_t>(s.line)].name) +
           " app " + std::to_string(s.applid) + " (conn " + std::to_string(s.id) + ")";
}

void Exchange::Violation(Session& s, const std::string& text) {
    Log(Who(s) + " violation: " + text);
}

void Exchange::Note(Session& s, const std::string& text) {
    Log(Who(s) + " note: " + text);
}

int Exchange::OpenSession(int line, SendFn send, CloseFn close) {
    auto s = std::make_unique<Session>();
    s->id = next_session_++;
    s->line = line;
    s->send = std::move(send);
    s->close = std::move(close);
    s->lines = {line};
    int id = s->id;
    sessions_[id] = std::move(s);
    return id;
}

int Exchange::OpenRouterSession(SendFn send, SendFn send_short, CloseFn close) {
    int id = OpenSession(0, std::move(send), std::move(close));
    Session& s = *sessions_[id];
    s.router = true;
    s.send_short = std::move(send_short);
    s.lines.clear();
    for (std::size_t i = 0; i < line_configs_.size(); ++i) s.lines.push_back(static_cast<int>(i));
    return id;
}

int Exchange::RouterControllers() const {
    int highest = 0;
    for (const auto& l : line_configs_) highest = std::max(highest, l.controller);
    return highest;
}

std::optional<int> Exchange::LineOfController(const Session& s, std::uint32_t controller) const {
    for (int line : s.lines)
        if (static_cast<std::uint32_t>(line_configs_[static_cast<std::size_t>(line)].controller) ==
            (controller & 0x7F))
            return line;
    return std::nullopt;
}

Bytes Exchange::ProfileOf(int line) const {
    // The number of controllers, the line's B channels, then the supported
    // protocols: B1 64 kbit/s HDLC and transparent, B2 X.75 and transparent,
    // B3 transparent; 64 bytes in all.
    const LineConfig& l = line_configs_[static_cast<std::size_t>(line)];
    Writer data;
    data.U16(static_cast<std::uint16_t>(l.controller)).U16(static_cast<std::uint16_t>(l.channels));
    data.U32(0x1).U32(0x3).U32(0x3).U32(0x1);
    for (int i = 0; i < 11; ++i) data.U32(0);
    return data.Take();
}

void Exchange::RouterRequest(Session& s, const Bytes& payload) {
    // Register, release and profile share one command (0x20 0x80). After
    // the header and the word 02 00 come a parameter length, a word naming
    // the request (0 register, 1 release, 2 profile), and the request's own
    // structure. libcapi20 reads the answer's ApplID at offset 2, the
    // register result at 16 and the profile at 18.
    Reader r(payload, 10);
    r.U8();  // parameter length
    auto request = r.U16();
    r.U8();  // length of the request's structure
    if (!request) return BadFrame(s, "short router request");
    const std::string conn = "router conn " + std::to_string(s.id);
    Writer answer;
    std::uint16_t info = 0;
    Bytes profile;
    switch (*request) {
        case 0: {
            auto conns = r.U16(), blocks = r.U16(), size = r.U16();
            if (!conns || !blocks || !size) return BadFrame(s, "short register request");
            int apps = 0;
            for (auto& [sid, other] : sessions_)
                if (other->router && other->registered) ++apps;
            if (s.registered) {
                Note(s, "registered twice on one connection");
            } else if (apps >= line_configs_.front().max_apps) {
                Log("router register refused: too many applications");
                info = 0x1001;
                break;
            }
            // libcapi20 enters the router's ApplID into its table for the
            // whole machine: ids from the top stay clear of those it hands
            // out itself from 1 upwards.
            s.applid = static_cast<std::uint16_t>(1023 - next_router_applid_);
            next_router_applid_ = static_cast<std::uint16_t>((next_router_applid_ + 1) % 256);
            s.registered = true;
            s.max_b3_connections = *conns;
            s.max_b3_blocks = *blocks;
            s.max_b3_size = *size;
            Log(conn + " register " + std::to_string(*conns) + "/" + std::to_string(*blocks) + "/" +
                std::to_string(*size) + " as application " + std::to_string(s.applid));
            break;
        }
        case 1:
            // The connection closes right after; nothing is answered.
            Log(Who(s) + " releases");
            return;
        case 2: {
            auto ctrl = r.U16();
            if (!ctrl) return BadFrame(s, "short profile request");
            if (*ctrl == 0) {
                profile = Writer().U16(static_cast<std::uint16_t>(RouterControllers())).bytes();
            } else if (auto line = LineOfController(s, *ctrl)) {
                profile = ProfileOf(*line);
            } else {
                info = 0x2002;
            }
            profile.resize(64, 0);
            Log(conn + " profile " + std::to_string(*ctrl));
            break;
        }
        default:
            return BadFrame(s, "unknown router request " + std::to_string(*request));
    }
    answer.U16(0).U16(s.applid).U8(0x20).U8(0x81).U16(1).U8(0x02).U8(0x00);
    while (answer.bytes().size() < 16) answer.U8(0);
    answer.U16(info).Raw(profile);
    Bytes out = answer.Take();
    out[0] = static_cast<std::uint8_t>(out.size());
    s.send_short(out);
}

void Exchange::CloseSession(int id) {
    auto it = sessions_.find(id);
    if (it == sessions_.end()) return;
    Session& s = *it->second;
    s.closed = true;
    if (s.registered) {
        Log(Who(s) + " released (connection closed)");
        AppClosed(s);
    }
    for (auto& p : s.pending) sched_.Cancel(p.timer);
    sessions_.erase(it);
}

void Exchange::BadFrame(Session& s, const std::string& why) {
    Log(Who(s) + " bad frame: " + why + "; connection closed");
    CloseFn close = s.close;
    CloseSession(s.id);
    if (close) close();
}

void Exchange::OnPayload(int id, const Bytes& payload) {
    auto it = sessions_.find(id);
    if (it == sessions_.end()) return;
    Session& s = *it->second;
    if (payload.size() < 8) return BadFrame(s, std::to_string(payload.size()) + " bytes");
    if (s.router && payload[4] == 0x20 && payload[5] == 0x80) return RouterRequest(s, payload);
    if (!s.router && payload[5] == 0xFF && payload[4] >= 0xE0) return Handshake(s, payload);
    Message(s, payload);
}

void Exchange::Handshake(Session& s, const Bytes& payload) {
    std::uint8_t cmd = payload[4];
    Reader r(payload, 8);
    auto ctrl = r.U32();
    Writer data;
    std::string what;
    switch (cmd) {
        case kRegister: {
            r.U16();  // buffer size, meaningless here
            auto conns = r.U16(), blocks = r.U16(), size = r.U16();
            if (!conns || !blocks || !size) return BadFrame(s, "short register request");
            int apps = 0;
            for (auto& [sid, other] : sessions_)
                if (!other->router && other->line == s.line && other->registered) ++apps;
            if (s.registered) {
                Note(s, "registered twice on one connection");
            } else if (apps >= line_configs_[static_cast<std::size_t>(s.line)].max_apps) {
                Log(line_configs_[static_cast<std::size_t>(s.line)].name +
                    " register refused: too many applications");
                data.U16(0x1001);
                break;
            }
            s.registered = true;
            s.max_b3_connections = *conns;
            s.max_b3_blocks = *blocks;
            s.max_b3_size = *size;
            data.U16(0);
            what = "register " + std::to_string(*conns) + "/" + std::to_string(*blocks) + "/" +
                   std::to_string(*size);
            break;
        }
        case kGetManufacturer:
            data.U8(static_cast<std::uint8_t>(kManufacturerLen))
                .Raw(FixedText(manufacturer, kManufacturerLen));
            what = "manufacturer";
            break;
        case kGetVersion:
            data.U8(16).U32(2).U32(0).U32(1).U32(0);
            what = "version";
            break;
        case kGetSerial:
            data.U8(static_cast<std::uint8_t>(kSerialLen)).Raw(FixedText(serial, kSerialLen));
            what = "serial";
            break;
        case kGetProfile:
            if (!ctrl) return BadFrame(s, "short profile request");
            // The line is its controller; the ones below it are not there.
            if (*ctrl == 0) {
                data.U16(0).U16(static_cast<std::uint16_t>(
                    line_configs_[static_cast<std::size_t>(s.line)].controller));
            } else if (LineOfController(s, *ctrl)) {
                data.U16(0).Raw(ProfileOf(s.line));
            } else {
                data.U16(0x2002);
            }
            what = "profile " + std::to_string(*ctrl);
            break;
        default:
            return BadFrame(
                s, "unknown handshake " + HexDump(Bytes(payload.begin() + 4, payload.begin() + 6)));
    }
    Writer out;
    Bytes d = data.Take();
    out.U16(static_cast<std::uint16_t>(8 + d.size()))
        .U16(s.applid)
        .U8(static_cast<std::uint8_t>(cmd + 1))
        .U8(0xFF)
        .U16(0)
        .Raw(d);
    if (!what.empty())
        Log(line_configs_[static_cast<std::size_t>(s.line)].name + " conn " + std::to_string(s.id) +
            " " + what);
    s.send(out.Take());
}

}  // namespace tolvar::line
