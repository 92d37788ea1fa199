// A hostile line: a server for libcapi20's rcapi module that, once the program
// listens, feeds it a stream of generated CAPI messages, well-formed and
// mutated, then one normal call, and checks what the program answers.
//
//   hostile_capi [--port N] [--seed S] [--count N] [--warm N] [--patience MS]
//                [--only KIND,...]
//
// Output: "listening PORT", "seed S", "warm" once the warm-up frames are
// through, "done" when the stream and the normal call are over; a fault is a
// line "FAIL KIND: ..." (its first occurrence at once, the count at the end).
// The tool then serves on until the program closes its connection (a minute
// at most); its exit status is 1 when it found a fault.
//
// The plain call traffic is always sent; --only picks which hostile parts join
// it (default all), so that a fault can be repeated alone with its seed:
//   length   Length fields that lie, up to 65535
//   short    bursts of messages whose Length is below the 8-byte header
//   struct   messages cut short, length octets running past the end,
//            structures far past the 180-byte parameter area
//   unknown  unknown commands, PLCIs no call has (0 among them)
//   chars    CR, LF, ESC sequences, NUL, DEL, C0 and C1 controls in numbers
//            and subaddresses
//   data     DATA_B3_IND (NCCI 0 among them) and the other B3 messages
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <deque>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "line/wire.h"

namespace {

using tolvar::line::Bytes;
using tolvar::line::Escape;
using tolvar::line::FrameReader;
using tolvar::line::HexDump;
using tolvar::line::Writer;
using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;

constexpr std::uint8_t kAlert = 0x01, kConnect = 0x02, kConnectActive = 0x03, kDisconnect = 0x04,
                       kListen = 0x05, kInfo = 0x08, kConnectB3 = 0x82, kConnectB3Active = 0x83,
                       kDisconnectB3 = 0x84, kDataB3 = 0x86;
constexpr std::uint8_t kReq = 0x80, kConf = 0x81, kInd = 0x82, kResp = 0x83;
constexpr std::uint16_t Word(std::uint8_t cmd, std::uint8_t sub) {
    return static_cast<std::uint16_t>(cmd | sub << 8);
}

// libcapi20's own limits (3.27, module rcapi). The stream keeps to them, for
// breaking them crashes or derails libcapi20 itself, not the program:
// - it reads a frame's 2-byte length with one recv() and loses the stream
//   when only one byte has come: whole frames, one send() each, and few of
//   them in flight (kWindow frames the program has not yet shown to have
//   read, plus the step under way), so that no socket buffer ever fills;
// - it reads a frame into a 4096-byte stack buffer: at most 4098 bytes;
// - it copies a frame into a 2048-byte receive buffer and silently cuts a
//   longer one: a Length past that is a lie a program must survive;
// - a frame shorter than the 8-byte header leaves header bytes of the
//   buffer's previous message in place (a stale DATA_B3_IND command would
//   pin a buffer the tool knows nothing of) and an empty one reads as an
//   empty queue: every frame carries a whole header, whatever Length says;
// - a DATA_B3_IND is trusted blindly: its data (length at bytes 16-17) is
//   moved from Length to byte 30 when Length < 30, else handed out at
//   buffer + Length, and its handle is kept from bytes 18-19: those bytes
//   always come, and Length + data length stays within 2048 (more makes
//   libcapi20 move memory past its buffer);
// - it has 20 receive buffers and a DATA_B3_IND holds one until its
//   DATA_B3_RESP: the window keeps a program that answers far below that.
constexpr std::size_t kMaxFrame = 4098;
constexpr std::size_t kRecvBuffer = 2048;
constexpr std::uint64_t kWindow = 8;
// Consecutive messages shorter than their header, then one that needs an
// answer: a program that takes such a message for a lost link and backs off
// answers it seconds late (a call with a sound holds answers back for 1 s).
constexpr int kShortBurst = 7;
constexpr Ms kSlowAnswer{2500};
constexpr std::size_t kMaxOpenCalls = 4;

const std::vector<std::string> kKinds = {"length", "short", "struct", "unknown", "chars", "data"};

std::string Hex(std::uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%X", v);
    return buf;
}

std::string Name(std::uint16_t word) {
    static const std::map<std::uint16_t, std::string> names = {
        {Word(kAlert, kReq), "ALERT_REQ"},
        {Word(kAlert, kConf), "ALERT_CONF"},
        {Word(kConnect, kConf), "CONNECT_CONF"},
        {Word(kConnect, kInd), "CONNECT_IND"},
        {Word(kConnect, kResp), "CONNECT_RESP"},
        {Word(kConnectActive, kInd), "CONNECT_ACTIVE_IND"},
        {Word(kConnectActive, kResp), "CONNECT_ACTIVE_RESP"},
        {Word(kDisconnect, kReq), "DISCONNECT_REQ"},
        {Word(kDisconnect, kInd), "DISCONNECT_IND"},
        {Word(kDisconnect, kResp), "DISCONNECT_RESP"},
        {Word(kListen, kReq), "LISTEN_REQ"},
        {Word(kInfo, kInd), "INFO_IND"},
        {Word(kInfo, kResp), "INFO_RESP"},
        {Word(kConnectB3, kConf), "CONNECT_B3_CONF"},
        {Word(kConnectB3Active, kInd), "CONNECT_B3_ACTIVE_IND"},
        {Word(kDisconnectB3, kInd), "DISCONNECT_B3_IND"},
        {Word(kDataB3, kConf), "DATA_B3_CONF"},
        {Word(kDataB3, kInd), "DATA_B3_IND"},
        {Word(kDataB3, kResp), "DATA_B3_RESP"}};
    auto it = names.find(word);
    return it != names.end() ? it->second : Hex(word);
}

std::uint16_t U16At(const Bytes& b, std::size_t at) {
    return at + 2 <= b.size() ? static_cast<std::uint16_t>(b[at] | b[at + 1] << 8) : 0;
}
std::uint32_t U32At(const Bytes& b, std::size_t at) {
    return at + 4 <= b.size() ? static_cast<std::uint32_t>(U16At(b, at) | U16At(b, at + 2) << 16)
                              : 0;
}
void SetU16(Bytes& b, std::size_t at, std::size_t v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
Bytes Cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// An answer the program owes: its command word, PLCI or NCCI, and the
// message number echoed (a DATA_B3_RESP: the data handle; ALERT_REQ: 0).
struct Answer {
    std::uint16_t word = 0;
    std::uint32_t ident = 0;
    std::uint16_t tag = 0;
};

// One frame of the stream.
struct Out {
    Bytes payload;
    std::string kind;  // "calls" or one of kKinds
    std::string what;
    std::optional<Answer> answer;
    bool timed = false;  // answered late means the program backed off
    bool probe = false;
};

struct Pending {
    Answer answer;
    std::uint64_t frame;
    std::string kind;
    std::string what;
    Clock::time_point sent;
    bool timed;
};

struct Conn {
    int fd = -1;
    FrameReader frames{kMaxFrame};
    bool closed = false;
};

class Hostile {
  public:
    std::uint16_t port = 0;
    std::uint64_t seed = 0;
    std::uint64_t count = 100000;
    std::uint64_t warm = 5000;
    Ms patience{10000};
    std::set<std::string> kinds{kKinds.begin(), kKinds.end()};

    int Run();

  private:
    enum class Phase { Waiting, Stream, Normal, Done };

    // Serving.
    void OnFrame(Conn& c, const Bytes& p);
    void Handshake(Conn& c, const Bytes& p);
    void OnMessage(Conn& c, const Bytes& p);
    void Matched(const Answer& got);
    bool Send(Conn& c, const Bytes& payload);
    void Pump();
    void Emit(Out o);
    void Stalled(const std::string& why);
    void Fault(const std::string& kind, const std::string& text, const std::string& example);
    void Finish();

    // The stream.
    std::vector<Out> Step();
    Out Msg(std::uint8_t cmd, std::uint8_t sub, const Bytes& params, std::string kind,
            std::string what, std::optional<Answer> answer = {});
    Out ConnectInd(std::uint32_t plci, bool normal);
    Out DisconnectInd(std::uint32_t plci);
    Out DataB3Ind();
    Out Probe();
    Out Unknown();
    void Mutate(Out& o, std::size_t firstStruct);
    Bytes Text(const std::string& plain);
    Bytes Number();
    std::uint32_t NewPlci();
    std::uint32_t StrayPlci();
    std::uint32_t OpenPlci();
    bool On(const std::string& kind) const { return kinds.count(kind) && !dropped_.count(kind); }
    std::size_t Pick(std::size_t n) {
        return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng_);
    }
    bool Chance(double p) { return std::bernoulli_distribution(p)(rng_); }
    Bytes RandomBytes(std::size_t n);

    std::mt19937_64 rng_;
    Phase phase_ = Phase::Waiting;
    std::vector<std::unique_ptr<Conn>> conns_;
    Conn* stream_ = nullptr;
    std::deque<Out> queue_;
    std::deque<Pending> pending_;
    std::deque<std::string> recent_;  // the last frames sent, for a crash report
    std::vector<std::uint32_t> open_;
    std::uint64_t sent_ = 0, consumed_ = 0, lastProbe_ = 0;
    std::uint32_t nextPlci_ = 0;
    std::uint16_t nextHandle_ = 0, msgnum_ = 0;
    Clock::time_point start_, lastProgress_, doneAt_;
    std::uint32_t normalPlci_ = 0;
    int normalStep_ = 0;
    std::set<std::string> dropped_;
    std::map<std::string, std::uint64_t> faults_;  // how often each fault was seen
    std::map<std::uint16_t, std::uint64_t> owed_, got_;
    std::map<std::string, std::uint64_t> sentByKind_;
};

// ---- the stream ----

Bytes Hostile::RandomBytes(std::size_t n) {
    Bytes b(n);
    for (auto& x : b) x = static_cast<std::uint8_t>(Pick(256));
    return b;
}

// Text with the bytes a log line must never show raw: line ends (one of them
// forging a whole log line), terminal escapes, NUL, DEL, C1 controls.
Bytes Hostile::Text(const std::string& plain) {
    if (!On("chars") || Chance(0.6)) return tolvar::line::ToBytes(plain);
    static const std::string nul(1, '\0'),
        forged = "\r\n12:00:00   0301234567 -> 5551234  Anna\r\n";
    static const std::vector<std::string> bad = {"\r\n",         "\r",       "\n",  "\x1b[2J",
                                                 "\x1b]0;x\x07", "\x1b[31m", "\t",  "\x7f",
                                                 "\x08",         nul,        forged};
    Bytes b = tolvar::line::ToBytes(plain);
    for (std::size_t i = 1 + Pick(3); i > 0; --i) {
        Bytes piece;
        switch (Pick(3)) {
            case 0:
                piece = tolvar::line::ToBytes(bad[Pick(bad.size())]);
                break;
            case 1:
                piece = {static_cast<std::uint8_t>(0x80 + Pick(32))};
                break;
            default:
                piece = {static_cast<std::uint8_t>(Pick(32))};
        }
        b.insert(b.begin() + static_cast<long>(Pick(b.size() + 1)), piece.begin(), piece.end());
    }
    return b;
}

Bytes Hostile::Number() {
    std::string digits;
    switch (Pick(6)) {
        case 0:
            return {};
        case 1:
            // Known callers: one whose call is intercepted, and rarely one
            // whose call plays a sound, which holds back whatever CAPI
            // reports for a second (those messages are copied whole).
            digits = Pick(12) ? "401234567" : "201234567";
            break;
        default:
            for (std::size_t n = Pick(16); n > 0; --n) digits += static_cast<char>('0' + Pick(10));
    }
    return Text(digits);
}

std::uint32_t Hostile::NewPlci() {
    for (;;) {
        nextPlci_ = nextPlci_ % 250 + 1;
        const std::uint32_t plci = nextPlci_ << 8 | 1;  // controller 1
        if (std::find(open_.begin(), open_.end(), plci) == open_.end()) return plci;
    }
}

// A PLCI no call of this stream has: another controller, 0, or all ones.
std::uint32_t Hostile::StrayPlci() {
    switch (Pick(4)) {
        case 0:
            return 0;
        case 1:
            return 0xFFFFFFFF;
        default: {
            const auto high = static_cast<std::uint32_t>(Pick(1u << 24)) << 8;
            return high | static_cast<std::uint32_t>(2 + Pick(254));
        }
    }
}

std::uint32_t Hostile::OpenPlci() {
    return open_.empty() ? StrayPlci() : open_[Pick(open_.size())];
}

Out Hostile::Msg(std::uint8_t cmd, std::uint8_t sub, const Bytes& params, std::string kind,
                 std::string what, std::optional<Answer> answer) {
    const std::uint16_t num = ++msgnum_;
    Writer w;
    w.U16(static_cast<std::uint16_t>(8 + params.size()))
        .U16(1)
        .U8(cmd)
        .U8(sub)
        .U16(num)
        .Raw(params);
    if (answer && answer->word != Word(kAlert, kReq) && answer->word != Word(kDataB3, kResp))
        answer->tag = num;
    return Out{w.Take(), std::move(kind), Name(Word(cmd, sub)) + " " + what, answer, false};
}

Out Hostile::ConnectInd(std::uint32_t plci, bool normal) {
    static const std::vector<std::uint16_t> cips = {1,  1,  1, 4, 16,  2,     17,
                                                    18, 24, 0, 5, 255, 0xFFFF};
    const std::uint16_t cip = normal ? 1 : cips[Pick(cips.size())];
    const Bytes msn = normal ? tolvar::line::ToBytes("5551234")
                             : Text(Pick(4) ? "5551234" : std::to_string(5551230 + Pick(10)));
    const Bytes from = normal ? tolvar::line::ToBytes("301234567") : Number();
    const std::size_t number = Pick(2) ? 0x21 : 0x01, shown = Pick(3) << 5;
    const Bytes presentation = {static_cast<std::uint8_t>(number),
                                static_cast<std::uint8_t>(0x80 | shown | Pick(4))};
    auto sub = [&]() -> Bytes {
        if (normal || Pick(3)) return {};
        return Cat({0x80, 0x50}, Text(Pick(2) ? "D" : "Hallo"));
    };
    Writer w;
    w.U32(plci).U16(cip).Struct(Cat({0x81}, msn)).Struct(Cat(presentation, from));
    w.Struct(sub()).Struct(sub()).Struct({0x80, 0x90, 0xA3}).Empty();
    w.Struct(cip == 16 ? Bytes{0x91, 0x81} : Bytes{}).Empty().Empty();
    return Msg(kConnect, kInd, w.bytes(), normal ? "normal" : "calls",
               "PLCI " + Hex(plci) + " from \"" + Escape(from) + "\" to \"" + Escape(msn) + "\"",
               Answer{Word(kAlert, kReq), plci, 0});
}

Out Hostile::DisconnectInd(std::uint32_t plci) {
    static const std::vector<std::uint16_t> reasons = {0,      0x3304, 0x3490, 0x3491, 0x349A,
                                                       0x34A2, 0x3481, 0x34D8, 0xFFFF};
    const std::uint16_t reason = reasons[Pick(reasons.size())];
    return Msg(kDisconnect, kInd, Writer().U32(plci).U16(reason).bytes(), "calls",
               "PLCI " + Hex(plci) + " reason " + Hex(reason),
               Answer{Word(kDisconnect, kResp), plci, 0});
}

Out Hostile::DataB3Ind() {
    // On a call (its PLCI in the low word), on NCCI 0, or on any NCCI of a call.
    const std::uint32_t plci = OpenPlci();
    std::uint32_t ncci = plci | static_cast<std::uint32_t>(1 + Pick(3)) << 16;
    if (Chance(0.1)) ncci = 0;
    if (Chance(0.1)) ncci = (plci & 0xFFFF) | static_cast<std::uint32_t>(Pick(1 << 16)) << 16;
    std::size_t size = Pick(8) ? Pick(131) : Pick(kRecvBuffer - 30 + 1);
    do ++nextHandle_;
    while (nextHandle_ == 0);
    Writer w;
    w.U32(ncci).U32(0).U16(static_cast<std::uint16_t>(size)).U16(nextHandle_).U16(0);
    Out o = Msg(kDataB3, kInd, w.bytes(), "data",
                "NCCI " + Hex(ncci) + " handle " + Hex(nextHandle_) + ", " + std::to_string(size) +
                    " bytes",
                Answer{Word(kDataB3, kResp), ncci, nextHandle_});
    Bytes data = RandomBytes(size);
    if (On("length") && Chance(0.3)) {
        // Length lies within what libcapi20 takes; the data length may
        // promise more bytes than come, never more than the buffer holds.
        SetU16(o.payload, 0, 8 + Pick(kRecvBuffer - size - 8 + 1));
        if (Chance(0.5)) data.resize(Pick(size + 1));
        o.what += ", Length " + std::to_string(U16At(o.payload, 0)) + ", " +
                  std::to_string(data.size()) + " bytes sent";
    }
    o.payload = Cat(o.payload, data);
    return o;
}

// A message that every program answers at once, sent every few frames, so
// that the tool learns how far the program has read whatever else it leaves
// unanswered.
Out Hostile::Probe() {
    const std::uint32_t plci = StrayPlci();
    Out o = Msg(kInfo, kInd, Writer().U32(plci).U16(0x0018).Struct({0x89}).bytes(), "calls",
                "probe PLCI " + Hex(plci), Answer{Word(kInfo, kResp), plci, 0});
    o.probe = true;
    return o;
}

Out Hostile::Unknown() {
    static const std::set<std::uint16_t> known = {
        Word(kAlert, kConf),        Word(kConnect, kConf),        Word(kConnect, kInd),
        Word(kConnectActive, kInd), Word(kDisconnect, kInd),      Word(kInfo, kInd),
        Word(kConnectB3, kConf),    Word(kConnectB3Active, kInd), Word(kDisconnectB3, kInd),
        Word(kDataB3, kConf),       Word(kDataB3, kInd)};
    const std::uint32_t plci = StrayPlci();
    switch (Pick(4)) {
        case 0:
            return Msg(kInfo, kInd, Writer().U32(plci).U16(0x8001).Empty().bytes(), "unknown",
                       "stray PLCI " + Hex(plci), Answer{Word(kInfo, kResp), plci, 0});
        case 1:
            return Msg(kConnectActive, kInd, Writer().U32(plci).Empty().Empty().Empty().bytes(),
                       "unknown", "stray PLCI " + Hex(plci),
                       Answer{Word(kConnectActive, kResp), plci, 0});
        case 2: {
            Out o = DisconnectInd(plci);
            o.kind = "unknown";
            return o;
        }
        default: {
            std::uint16_t word;
            do {
                const std::size_t cmd = Pick(256);
                word = static_cast<std::uint16_t>(Pick(4) ? cmd | (0x80 + Pick(4)) << 8
                                                          : Pick(1 << 16));
            } while (known.count(word));
            return Msg(static_cast<std::uint8_t>(word), static_cast<std::uint8_t>(word >> 8),
                       Cat(Writer().U32(plci).bytes(), RandomBytes(Pick(40))), "unknown",
                       "unknown command");
        }
    }
}

// Breaks a well-formed message: its Length, or its structures (the first at
// firstStruct, 0 when it has none). A broken message is owed no answer.
void Hostile::Mutate(Out& o, std::size_t firstStruct) {
    Bytes& p = o.payload;
    std::vector<std::string> how;
    if (On("length")) how.push_back("length");
    if (On("struct")) how.push_back("struct");
    if (how.empty() || !Chance(0.3)) return;
    o.kind = how[Pick(how.size())];
    o.answer.reset();
    if (o.kind == "length") {
        static const std::vector<std::pair<std::size_t, std::size_t>> ranges = {
            {8, 40}, {8, 200}, {181, kRecvBuffer}, {kRecvBuffer + 1, 65535}, {65535, 65535}};
        const auto [lo, hi] = ranges[Pick(ranges.size())];
        std::size_t len = lo + Pick(hi - lo + 1);
        if (len == p.size()) ++len;
        SetU16(p, 0, len);
        o.what += ", Length " + std::to_string(len) + " of " + std::to_string(p.size());
        return;
    }
    switch (firstStruct ? Pick(3) : 0) {
        case 0:  // cut short, Length telling the truth
            p.resize(8 + Pick(p.size() - 8));
            o.what += ", cut to " + std::to_string(p.size());
            break;
        case 1: {  // a length octet running past the message
            std::size_t at = firstStruct;
            for (std::size_t n = Pick(4); n > 0 && at + 1 + p[at] < p.size(); --n) at += 1 + p[at];
            const std::size_t past = p.size() - at;
            p[at] = static_cast<std::uint8_t>(std::min<std::size_t>(255, past + Pick(200)));
            o.what += ", structure at " + std::to_string(at) + " says " + std::to_string(p[at]);
            break;
        }
        default: {  // structures far past the 180-byte parameter area
            const std::size_t target = 200 + Pick(kMaxFrame - 2 - 200);
            while (p.size() + 256 <= target) p = Cat(p, Cat({254}, Text(std::string(254, '7'))));
            o.what += ", " + std::to_string(p.size()) + " bytes";
            break;
        }
    }
    if (p.size() > kMaxFrame - 2) p.resize(kMaxFrame - 2);
    SetU16(p, 0, p.size());
}

std::vector<Out> Hostile::Step() {
    if (On("short") && Chance(0.002)) {
        std::vector<Out> burst;
        for (int i = 0; i < kShortBurst; ++i) {
            Out o = Pick(2) ? Unknown() : DisconnectInd(OpenPlci());
            SetU16(o.payload, 0, Pick(8));
            o.kind = "short";
            o.answer.reset();
            o.what += ", Length " + std::to_string(U16At(o.payload, 0));
            burst.push_back(std::move(o));
        }
        burst.push_back(Probe());
        burst.back().timed = true;
        burst.back().what =
            "probe after " + std::to_string(kShortBurst) + " messages shorter than their header";
        return burst;
    }
    const std::size_t r = Pick(1000);
    Out o;
    std::size_t firstStruct = 0;
    if (r < 20 || (r < 40 && open_.empty())) {
        if (open_.size() >= kMaxOpenCalls) {
            // The line ends the oldest call first.
            o = DisconnectInd(open_.front());
            open_.erase(open_.begin());
            return {o};
        }
        const std::uint32_t plci = NewPlci();
        open_.push_back(plci);
        if (Pick(8) == 0) {
            const std::uint16_t info = Pick(2) ? 0 : static_cast<std::uint16_t>(0x2000 + Pick(16));
            o = Msg(kConnect, kConf, Writer().U32(plci).U16(info).bytes(), "calls",
                    "PLCI " + Hex(plci) + " info " + Hex(info));
        } else {
            o = ConnectInd(plci, false);
            firstStruct = 14;
            if (o.what.find('\\') != std::string::npos) o.kind = "chars";
        }
    } else if (r < 40) {
        // The end of a call is always well-formed: a program may ignore a
        // broken one, and its record must not outlive the stream.
        const std::size_t i = Pick(open_.size());
        o = DisconnectInd(open_[i]);
        open_.erase(open_.begin() + static_cast<long>(i));
        return {o};
    } else if (r < 200) {
        const std::uint32_t plci = OpenPlci();
        static const std::vector<std::uint16_t> infos = {0x8001, 0x8002, 0x0018,
                                                         0x001E, 0x0028, 0x0070};
        const std::uint16_t info = infos[Pick(infos.size())];
        o = Msg(kInfo, kInd, Writer().U32(plci).U16(info).Struct(RandomBytes(Pick(30))).bytes(),
                "calls", "PLCI " + Hex(plci) + " info " + Hex(info),
                Answer{Word(kInfo, kResp), plci, 0});
        firstStruct = 14;
    } else if (r < 240) {
        const std::uint32_t plci = OpenPlci();
        const Bytes number = Cat({0x21, 0x80}, Text("301234567"));
        o = Msg(kConnectActive, kInd, Writer().U32(plci).Struct(number).Empty().Empty().bytes(),
                "calls", "PLCI " + Hex(plci), Answer{Word(kConnectActive, kResp), plci, 0});
        firstStruct = 12;
    } else if (r < 280) {
        const std::uint32_t plci = Pick(2) ? OpenPlci() : StrayPlci();
        const std::uint16_t info = Pick(2) ? 0 : static_cast<std::uint16_t>(Pick(1 << 16));
        o = Msg(kAlert, kConf, Writer().U32(plci).U16(info).bytes(), "calls",
                "PLCI " + Hex(plci) + " info " + Hex(info));
    } else if (r < 530 && On("data")) {
        return {DataB3Ind()};
    } else if (r < 610 && On("data")) {
        const std::uint32_t ncci = Pick(4) ? OpenPlci() | 0x10000 : 0;
        switch (Pick(4)) {
            case 0:
                o = Msg(kConnectB3Active, kInd, Writer().U32(ncci).Empty().bytes(), "data",
                        "NCCI " + Hex(ncci));
                firstStruct = 12;
                break;
            case 1:
                o = Msg(kDisconnectB3, kInd, Writer().U32(ncci).U16(0x3301).Empty().bytes(), "data",
                        "NCCI " + Hex(ncci));
                firstStruct = 14;
                break;
            case 2:
                o = Msg(kConnectB3, kConf, Writer().U32(ncci).U16(0).bytes(), "data",
                        "NCCI " + Hex(ncci));
                break;
            default:
                o = Msg(kDataB3, kConf, Writer().U32(ncci).U16(0xABCD).U16(0).bytes(), "data",
                        "NCCI " + Hex(ncci));
        }
    } else if (r < 760 && On("unknown")) {
        o = Unknown();
    } else {
        const std::uint32_t plci = OpenPlci();
        o = Msg(kInfo, kInd, Writer().U32(plci).U16(0x0028).Struct({0x41}).bytes(), "calls",
                "PLCI " + Hex(plci), Answer{Word(kInfo, kResp), plci, 0});
        firstStruct = 14;
    }
    Mutate(o, firstStruct);
    return {o};
}

// ---- serving ----

void Hostile::Fault(const std::string& kind, const std::string& text, const std::string& example) {
    if (faults_[kind + ": " + text]++ == 0)
        std::cout << "FAIL " << kind << ": " << text << "; first: " << example << std::endl;
}

bool Hostile::Send(Conn& c, const Bytes& payload) {
    const Bytes frame = tolvar::line::Frame(payload);
    if (c.closed || send(c.fd, frame.data(), frame.size(), MSG_NOSIGNAL) !=
                        static_cast<ssize_t>(frame.size())) {
        c.closed = true;
        return false;
    }
    return true;
}

void Hostile::Emit(Out o) {
    const std::uint64_t frame = ++sent_;
    if (o.answer) {
        if (pending_.empty()) lastProgress_ = Clock::now();
        pending_.push_back(Pending{*o.answer, frame, o.kind,
                                   "frame " + std::to_string(frame) + " " + o.what, Clock::now(),
                                   o.timed});
        ++owed_[o.answer->word];
    }
    if (o.probe) lastProbe_ = frame;
    ++sentByKind_[o.kind];
    const Bytes head(o.payload.begin(), o.payload.begin() + static_cast<long>(std::min<std::size_t>(
                                                                o.payload.size(), 48)));
    recent_.push_back("frame " + std::to_string(frame) + " (" + o.kind + ") " + o.what + ": " +
                      HexDump(head));
    if (recent_.size() > kWindow + 4) recent_.pop_front();
    Send(*stream_, o.payload);
    if (frame == warm) std::cout << "warm" << std::endl;
}

void Hostile::Stalled(const std::string& why) {
    std::string last;
    for (const auto& r : recent_) last += "\n    " + r;
    Fault(phase_ == Phase::Normal ? "normal" : "stream", why,
          "after frame " + std::to_string(consumed_) + "; the last frames:" + last);
    pending_.clear();
    queue_.clear();
}

void Hostile::Pump() {
    const auto now = Clock::now();
    if (stream_->closed) {
        Stalled("the program closed its CAPI connection (did it crash?)");
        return Finish();
    }
    if (!pending_.empty() && now - lastProgress_ > patience) {
        Stalled("no answer within " + std::to_string(patience.count()) + " ms to " +
                pending_.front().what);
        if (phase_ == Phase::Normal) return Finish();
        phase_ = Phase::Normal;
    }
    // A step (a burst of short messages is one) goes out whole, so that the
    // window never waits on frames that are owed no answer.
    while (phase_ == Phase::Stream && (!queue_.empty() || sent_ - consumed_ < kWindow)) {
        if (queue_.empty()) {
            if (sent_ >= count) {
                phase_ = Phase::Normal;
                std::cout << "streamed " << sent_ << " frames in "
                          << std::chrono::duration_cast<Ms>(now - start_).count() << " ms"
                          << std::endl;
                break;
            }
            if (sent_ - lastProbe_ >= kWindow - 2)
                queue_.push_back(Probe());
            else
                for (auto& o : Step()) queue_.push_back(std::move(o));
        }
        Emit(std::move(queue_.front()));
        queue_.pop_front();
    }
    if (phase_ != Phase::Normal || !pending_.empty()) return;
    // The stream is through: a normal call from a known caller, then its end.
    if (normalStep_ == 0) {
        normalPlci_ = NewPlci();
        Emit(ConnectInd(normalPlci_, true));
    } else if (normalStep_ == 1) {
        Out o = DisconnectInd(normalPlci_);
        SetU16(o.payload, 12, 0x3490);  // the caller gives up
        o.kind = "normal";
        Emit(std::move(o));
    } else {
        return Finish();
    }
    ++normalStep_;
}

void Hostile::Matched(const Answer& got) {
    for (auto it = pending_.begin(); it != pending_.end(); ++it) {
        if (it->answer.word != got.word || it->answer.ident != got.ident ||
            it->answer.tag != got.tag)
            continue;
        // The program reads in order: whatever it owes for earlier frames it
        // will never send.
        for (auto m = pending_.begin(); m != it; ++m)
            Fault(m->kind, "no " + Name(m->answer.word), m->what);
        const auto late = Clock::now() - it->sent;
        if (it->timed && late > kSlowAnswer) {
            Fault("short",
                  "answered only after " +
                      std::to_string(std::chrono::duration_cast<Ms>(late).count()) +
                      " ms (the program backed off)",
                  it->what);
            dropped_.insert("short");
        }
        consumed_ = it->frame;
        ++got_[got.word];
        pending_.erase(pending_.begin(), it + 1);
        lastProgress_ = Clock::now();
        return;
    }
    if (got.word == Word(kDataB3, kResp))
        Fault("data", "DATA_B3_RESP for no outstanding DATA_B3_IND",
              "NCCI " + Hex(got.ident) + " handle " + Hex(got.tag));
}

void Hostile::Finish() {
    for (const auto& p : pending_)
        Fault(p.kind, "no " + Name(p.answer.word) + " by the end", p.what);
    pending_.clear();
    std::cout << "sent:";
    for (const auto& [kind, n] : sentByKind_) std::cout << " " << kind << " " << n;
    std::cout << "\nanswers owed/received:";
    for (const auto& [word, n] : owed_)
        std::cout << " " << Name(word) << " " << got_[word] << "/" << n;
    std::cout << "\nseconds: "
              << std::chrono::duration_cast<Ms>(Clock::now() - start_).count() / 1000.0 << "\n";
    for (const auto& [text, n] : faults_)
        if (n > 1) std::cout << "FAIL " << text << " (" << n << " times)\n";
    std::cout << (faults_.empty() ? "no faults" : "faults found") << " (seed " << seed << ")\ndone"
              << std::endl;
    phase_ = Phase::Done;
    doneAt_ = Clock::now();
}

void Hostile::Handshake(Conn& c, const Bytes& p) {
    const std::uint8_t cmd = p[4];
    const std::uint32_t ctrl = U32At(p, 8);
    Writer data;
    auto text = [](const char* s, std::size_t size) {
        Bytes b = tolvar::line::ToBytes(s);
        b.resize(size, 0);
        return b;
    };
    switch (cmd) {
        case 0xF2:  // register
            data.U16(0);
            break;
        case 0xFA:  // manufacturer
            data.U8(64).Raw(text("hostile line", 64));
            break;
        case 0xFC:  // version
            data.U8(16).U32(2).U32(0).U32(1).U32(0);
            break;
        case 0xFE:  // serial number
            data.U8(8).Raw(text("0000001", 8));
            break;
        case 0xE0:  // profile: one controller with two B channels
            if (ctrl == 0) {
                data.U16(0).U16(1);
            } else {
                data.U16(0).U16(1).U16(2).U32(1).U32(3).U32(3).U32(1);
                for (int i = 0; i < 11; ++i) data.U32(0);
            }
            break;
        default:
            Fault("protocol", "unknown handshake", HexDump(p));
            return;
    }
    const Bytes d = data.Take();
    Writer w;
    w.U16(static_cast<std::uint16_t>(8 + d.size())).U16(0).U8(cmd + 1).U8(0xFF).U16(0).Raw(d);
    Send(c, w.Take());
}

void Hostile::OnMessage(Conn& c, const Bytes& p) {
    const std::uint8_t cmd = p[4], sub = p[5];
    const std::uint32_t ident = U32At(p, 8);
    if (sub == kReq) {
        // Every request is confirmed as a line would, with Info 0.
        Writer w;
        w.U16(0).U16(U16At(p, 2)).U8(cmd).U8(kConf).U16(U16At(p, 6)).U32(ident);
        if (cmd == kDataB3) w.U16(U16At(p, 18));
        w.U16(0);
        Bytes conf = w.Take();
        SetU16(conf, 0, conf.size());
        Send(c, conf);
        if (cmd == kListen && phase_ == Phase::Waiting) {
            stream_ = &c;
            phase_ = Phase::Stream;
            start_ = lastProgress_ = Clock::now();
        }
    }
    if (&c != stream_) return;
    const std::uint16_t word = Word(cmd, sub);
    if (word == Word(kAlert, kReq))
        Matched({word, ident, 0});
    else if (word == Word(kDataB3, kResp))
        Matched({word, ident, U16At(p, 12)});
    else if (sub == kResp)
        Matched({word, ident, U16At(p, 6)});
}

void Hostile::OnFrame(Conn& c, const Bytes& p) {
    if (p.size() < 8) return Fault("protocol", "a frame shorter than a message header", HexDump(p));
    if (p[5] == 0xFF && p[4] >= 0xE0) return Handshake(c, p);
    OnMessage(c, p);
}

int Hostile::Run() {
    signal(SIGPIPE, SIG_IGN);
    rng_.seed(seed);
    const int lfd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (lfd < 0 || bind(lfd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        listen(lfd, 16) != 0 || getsockname(lfd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        std::perror("hostile_capi: listen");
        return 2;
    }
    std::cout << "listening " << ntohs(a.sin_port) << "\nseed " << seed << std::endl;
    for (;;) {
        std::vector<pollfd> fds{{lfd, POLLIN, 0}};
        for (auto& c : conns_) fds.push_back({c->fd, POLLIN, 0});
        poll(fds.data(), fds.size(), 10);
        if (fds[0].revents & POLLIN) {
            auto c = std::make_unique<Conn>();
            c->fd = accept4(lfd, nullptr, nullptr, SOCK_CLOEXEC);
            int one = 1;
            if (c->fd >= 0 && setsockopt(c->fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one) == 0)
                conns_.push_back(std::move(c));
        }
        for (std::size_t i = 1; i < fds.size(); ++i) {
            Conn& c = *conns_[i - 1];
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)) || c.closed) continue;
            std::uint8_t buf[8192];
            const ssize_t n = recv(c.fd, buf, sizeof buf, MSG_DONTWAIT);
            if (n <= 0) {
                c.closed = true;
                continue;
            }
            // The program's small answers would wait for delayed ACKs.
            int one = 1;
            setsockopt(c.fd, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
            c.frames.Feed(buf, static_cast<std::size_t>(n));
            Bytes p;
            FrameReader::Status st;
            while ((st = c.frames.Next(p)) == FrameReader::Status::Frame) OnFrame(c, p);
            if (st == FrameReader::Status::Bad) {
                Fault("protocol", "a frame length out of range", "connection closed");
                c.closed = true;
            }
        }
        if (phase_ == Phase::Stream || phase_ == Phase::Normal) Pump();
        // Served on until the program quits, so that it ends as it would.
        if (phase_ == Phase::Done && (stream_->closed || Clock::now() - doneAt_ > Ms(60000)))
            return faults_.empty() ? 0 : 1;
    }
}

}  // namespace

int main(int argc, char** argv) {
    Hostile h;
    h.seed = std::random_device{}();
    if (argc % 2 == 0) {
        std::cerr << "hostile_capi: every option takes a value\n";
        return 2;
    }
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string opt = argv[i], value = argv[i + 1];
        if (opt == "--port") {
            h.port = static_cast<std::uint16_t>(std::stoul(value));
        } else if (opt == "--seed") {
            h.seed = std::stoull(value);
        } else if (opt == "--count") {
            h.count = std::stoull(value);
        } else if (opt == "--warm") {
            h.warm = std::stoull(value);
        } else if (opt == "--patience") {
            h.patience = Ms(std::stoul(value));
        } else if (opt == "--only") {
            h.kinds.clear();
            for (std::size_t at = 0; at <= value.size();) {
                const std::size_t comma = std::min(value.find(',', at), value.size());
                const std::string kind = value.substr(at, comma - at);
                if (!kind.empty() &&
                    std::find(kKinds.begin(), kKinds.end(), kind) == kKinds.end()) {
                    std::cerr << "hostile_capi: unknown kind " << kind << "\n";
                    return 2;
                }
                if (!kind.empty()) h.kinds.insert(kind);
                at = comma + 1;
            }
        } else {
            std::cerr << "hostile_capi: unknown option " << opt << "\n";
            return 2;
        }
    }
    return h.Run();
}
