#pragma once
// Records and small helpers shared by the exchange's source files.

#include <cstdio>

#include "line/exchange.h"

namespace tolvar::line {

namespace capi {
constexpr std::uint8_t kAlert = 0x01, kConnect = 0x02, kConnectActive = 0x03, kDisconnect = 0x04,
                       kListen = 0x05, kInfo = 0x08, kFacility = 0x80, kSelectB = 0x41,
                       kConnectB3 = 0x82, kConnectB3Active = 0x83, kDisconnectB3 = 0x84,
                       kDataB3 = 0x86, kResetB3 = 0x87, kManufacturer = 0xFF;
constexpr std::uint8_t kReq = 0x80, kConf = 0x81, kInd = 0x82, kResp = 0x83;
std::string Name(std::uint8_t cmd, std::uint8_t sub);
}  // namespace capi

// A primary-rate line offers dozens of calls at once; a session holding as
// many PLCIs as one controller can number only collects calls it never releases.
constexpr std::size_t kMaxPlciPerSession = 255;
constexpr std::uint16_t kNormalClearing = 0x3490, kBusy = 0x3491, kNoUserResponding = 0x3492,
                        kNoChannel = 0x34A2, kUnallocated = 0x3481, kInvalidNumber = 0x349C,
                        kIncompatible = 0x34D8, kAnsweredElsewhere = 0x349A,
                        kOtherApplication = 0x3304;

// A PLCI or NCCI as the log shows it: "0x10101".
inline std::string Hex8(std::uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%X", v);
    return buf;
}

// The digits of a number structure, after its skip octets of type and
// presentation.
inline std::string Digits(const Bytes& number_struct, std::size_t skip) {
    if (number_struct.size() <= skip) return "";
    return std::string(number_struct.begin() + static_cast<long>(skip), number_struct.end());
}

struct Exchange::Pending {
    std::uint8_t cmd;  // the indication's command
    std::uint32_t ident;
    std::uint16_t msgnum;
    std::uint16_t handle;
    Scheduler::TimerId timer = 0;
    bool overdue = false;
};

struct Exchange::Plci {
    std::uint32_t id = 0;
    int call = 0;
    bool caller = false;
    // Outgoing: CONNECT_CONF sent. Offered: CONNECT_IND sent. Accepting:
    // CONNECT_RESP accept seen. Disconnecting: DISCONNECT_IND sent.
    enum class St { Outgoing, Offered, Accepting, Active, Disconnecting } st = St::Outgoing;
    bool alerted = false;
    std::uint32_t ncci = 0;
    // Requested: CONNECT_B3_CONF sent. Offered: CONNECT_B3_IND sent.
    // Down: DISCONNECT_B3_IND sent.
    enum class B3 { None, Requested, Offered, Active, Down } b3 = B3::None;
    std::deque<Bytes> rx;
    std::set<std::uint16_t> outstanding;
    std::uint16_t next_handle = 1;
};

struct Exchange::Session {
    int id = 0;
    int line = 0;
    SendFn send;
    CloseFn close;
    bool closed = false;
    bool registered = false;
    std::uint16_t applid = 0;
    std::uint16_t max_b3_connections = 0, max_b3_blocks = 0, max_b3_size = 0;
    // Per line listened to (its LISTEN_REQ's masks).
    struct Listening {
        std::uint32_t info_mask = 0, cip_mask = 0, cip_mask2 = 0;
    };
    std::map<int, Listening> listening;
    std::vector<int> lines;  // the lines this connection reaches
    bool router = false;
    SendFn send_short;
    std::uint16_t next_msgnum = 1;
    std::map<std::uint32_t, Plci> plcis;
    std::vector<Pending> pending;
};

struct Exchange::Terminal {
    int line;
    TerminalConfig config;
};

struct Exchange::Call {
    int id = 0;
    bool from_app = false;
    int a_session = -1;
    std::uint32_t a_plci = 0;
    int a_line = -1;
    enum class To { Line, Smsc, Phone, Nowhere } to = To::Nowhere;
    int b_line = -1;
    std::string msn;
    std::vector<std::pair<int, std::uint32_t>> offers;  // (session, PLCI) still offered
    std::vector<int> ringing;                           // terminals
    enum class Winner { None, App, Terminal, Far } winner = Winner::None;
    int b_session = -1;
    std::uint32_t b_plci = 0;
    int smsc = -1;
    int phone = -1;
    enum class St { Setup, Alerting, Active } st = St::Setup;
    bool alert_reported = false;
    int cip = 0;
    Bytes called, calling, called_sub, calling_sub, bproto, bc, llc, hlc;
    std::string desc;
    bool a_chan = false, b_chan = false;
    std::uint16_t cause = 0;
    std::uint32_t ring_ms = 0;
    std::uint32_t talk_ms = 0;
    Scheduler::TimerId ring_timer = 0, no_answer_timer = 0, answer_timer = 0, talk_timer = 0;
    enum class B3 { None, Setup, Active } b3 = B3::None;
    std::unique_ptr<SmscDialog> dialog;
};

}  // namespace tolvar::line
