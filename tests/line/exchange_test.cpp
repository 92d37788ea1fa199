// The exchange on virtual time, without sockets: applications are fakes that
// hand it payloads and collect what it sends.
#include "line/exchange.h"

#include <gtest/gtest.h>

#include "harness.h"

namespace tolvar::line {
namespace {

using test::Msg;

struct FakeApp {
    Exchange& ex;
    int sid;
    std::vector<Msg> in;
    bool closed = false;
    FakeApp(Exchange& e, int line, std::uint16_t blocks = 8) : ex(e) {
        sid = ex.OpenSession(
            line,
            [this](const Bytes& p) {
                if (p[5] == 0xFF) return;  // handshake answers
                Msg m;
                m.cmd = static_cast<std::uint16_t>(p[4] | (p[5] << 8));
                m.num = static_cast<std::uint16_t>(p[6] | (p[7] << 8));
                std::size_t len = p[0] | (p[1] << 8);
                m.params.assign(p.begin() + 8, p.begin() + static_cast<long>(len));
                m.data.assign(p.begin() + static_cast<long>(len), p.end());
                in.push_back(m);
            },
            [this] { closed = true; });
        ex.OnPayload(sid, Writer()
                              .U16(0)
                              .U16(0)
                              .U8(0xF2)
                              .U8(0xFF)
                              .U16(0)
                              .U32(0)
                              .U16(2048)
                              .U16(2)
                              .U16(blocks)
                              .U16(130)
                              .U8(2)
                              .Take());
    }
    void Put(std::uint16_t cmd, std::uint16_t num, const Bytes& params, const Bytes& data = {}) {
        ex.OnPayload(sid, Writer()
                              .U16(static_cast<std::uint16_t>(8 + params.size()))
                              .U16(1)
                              .U8(static_cast<std::uint8_t>(cmd))
                              .U8(static_cast<std::uint8_t>(cmd >> 8))
                              .U16(num)
                              .Raw(params)
                              .Raw(data)
                              .Take());
    }
    std::optional<Msg> Take(std::uint16_t cmd) {
        for (auto it = in.begin(); it != in.end(); ++it)
            if (it->cmd == cmd) {
                Msg m = *it;
                in.erase(it);
                return m;
            }
        return std::nullopt;
    }
    void Listen(std::uint32_t info = 0x3FF) {
        Put(0x8005, 0, Writer().U32(1).U32(info).U32(0x1FFF03FF).U32(1).Empty().Empty().bytes());
        Take(0x8105);
    }
};

Bytes ConnectReq(int cip, const std::string& number) {
    Bytes called{0x80};
    called.insert(called.end(), number.begin(), number.end());
    return Writer()
        .U32(1)
        .U16(static_cast<std::uint16_t>(cip))
        .Struct(called)
        .Struct({0x00, 0x80})
        .Empty()
        .Empty()
        .Empty()
        .Empty()
        .Empty()
        .Empty()
        .Empty()
        .Take();
}

class ExchangeTest : public ::testing::Test {
  protected:
    ExchangeTest() : ex(sched, RealisticDelays()) {
        LineConfig a;
        a.name = "a";
        a.msns = {"5551234"};
        ex.AddLine(a);
        LineConfig b;
        b.name = "b";
        b.area = "40";
        b.msns = {"7770001"};
        ex.AddLine(b);
    }
    bool Logged(const std::string& text) const {
        for (const auto& e : ex.log())
            if (e.text.find(text) != std::string::npos) return true;
        return false;
    }
    Scheduler sched;
    Exchange ex;
};

TEST_F(ExchangeTest, AlertingReachesTheCallerAfterTheAlertDelay) {
    FakeApp caller(ex, 0), quiet(ex, 0), callee(ex, 1);
    caller.Listen(0x10);
    quiet.Listen(0x0);
    callee.Listen();
    caller.Put(0x8002, 8, ConnectReq(24, "0407770001"));
    quiet.Put(0x8002, 8, ConnectReq(24, "0407770001"));
    auto conf = caller.Take(0x8102);
    ASSERT_TRUE(conf);
    EXPECT_EQ(conf->num, 8);
    sched.Advance(ex.delays().net);
    auto ind = callee.Take(0x8202);
    ASSERT_TRUE(ind);
    callee.Put(0x8001, 0, Writer().U32(ind->Dword(0)).Empty().bytes());
    sched.Advance(ex.delays().alert - 1);
    EXPECT_FALSE(caller.Take(0x8208));
    sched.Advance(1);
    auto info = caller.Take(0x8208);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->Word(4), 0x8001);
    EXPECT_EQ(info->params.size(), 7u);  // PLCI, info number, empty element
    // Without call progression in its info mask a program hears nothing.
    auto ind2 = callee.Take(0x8202);
    ASSERT_TRUE(ind2);
    callee.Put(0x8001, 0, Writer().U32(ind2->Dword(0)).Empty().bytes());
    sched.Advance(ex.delays().alert);
    EXPECT_FALSE(quiet.Take(0x8208));
}

TEST_F(ExchangeTest, ScriptedCallerGivesUpAfterItsRingTime) {
    FakeApp app(ex, 0);
    app.Listen();
    CallRequest r;
    r.from = "0301234";
    r.to = "5551234";
    r.ring_ms = 5000;
    ASSERT_TRUE(std::holds_alternative<int>(ex.PlaceCall(r)));
    sched.Advance(ex.delays().net);
    auto ind = app.Take(0x8202);
    ASSERT_TRUE(ind);
    app.Put(0x8001, 0, Writer().U32(ind->Dword(0)).Empty().bytes());
    sched.Advance(4999);
    EXPECT_FALSE(app.Take(0x8204));
    sched.Advance(1);
    auto disc = app.Take(0x8204);
    ASSERT_TRUE(disc);
    EXPECT_EQ(disc->Word(4), 0x3490);
}

TEST_F(ExchangeTest, ResponsesAreAwaitedAndChecked) {
    FakeApp app(ex, 0);
    app.Listen();
    CallRequest r;
    r.from = "0301234";
    r.to = "5551234";
    int id = std::get<int>(ex.PlaceCall(r));
    sched.Advance(ex.delays().net);
    auto ind = app.Take(0x8202);
    ASSERT_TRUE(ind);
    ex.Hangup(id);
    auto disc = app.Take(0x8204);
    ASSERT_TRUE(disc);
    sched.Advance(ex.delays().response - 1);
    EXPECT_FALSE(Logged("violation: no DISCONNECT_RESP"));
    sched.Advance(1);
    EXPECT_TRUE(Logged("violation: no DISCONNECT_RESP to DISCONNECT_IND"));
    app.Put(0x8304, disc->num, Writer().U32(ind->Dword(0)).bytes());
    EXPECT_TRUE(Logged("DISCONNECT_RESP for 0x101 came late"));
    app.Put(0x8304, disc->num, Writer().U32(ind->Dword(0)).bytes());
    EXPECT_TRUE(
        Logged("violation: DISCONNECT_RESP for 0x101 without an outstanding DISCONNECT_IND"));
}

TEST_F(ExchangeTest, RequestsInTheWrongStateAreRefusedAndLogged) {
    FakeApp app(ex, 0);
    app.Listen();
    CallRequest r;
    r.from = "0301234";
    r.to = "5551234";
    ex.PlaceCall(r);
    sched.Advance(ex.delays().net);
    auto ind = app.Take(0x8202);
    ASSERT_TRUE(ind);
    std::uint32_t plci = ind->Dword(0);
    struct Case {
        std::uint16_t cmd;
        Bytes params;
        std::uint16_t conf;
        std::size_t info_at;
        std::uint16_t info;
        const char* log;
    } cases[] = {
        {0x8082, Writer().U32(plci).Empty().bytes(), 0x8182, 4, 0x2001,
         "CONNECT_B3_REQ for 0x101 that is not a connected call"},
        {0x8001, Writer().U32(0x4401).Empty().bytes(), 0x8101, 4, 0x2002,
         "ALERT_REQ for unknown PLCI 0x4401"},
        {0x8086, Writer().U32(0x10101).U32(0).U16(0).U16(1).U16(0).bytes(), 0x8186, 6, 0x2002,
         "DATA_B3_REQ for unknown NCCI 0x10101"},
        {0x8084, Writer().U32(0x10101).Empty().bytes(), 0x8184, 4, 0x2002,
         "DISCONNECT_B3_REQ for unknown NCCI"},
        {0x8005, Writer().U32(2).U32(0).U32(0).U32(0).Empty().Empty().bytes(), 0x8105, 4, 0x2002,
         "LISTEN_REQ for controller 2"},
        {0x8002,
         Writer()
             .U32(1)
             .U16(40)
             .Struct({0x80, '1'})
             .Struct({0, 0x80})
             .Empty()
             .Empty()
             .Empty()
             .Empty()
             .Empty()
             .Empty()
             .Empty()
             .bytes(),
         0x8102, 4, 0x3009, "CONNECT_REQ with CIP value 40"},
    };
    for (const auto& c : cases) {
        app.Put(c.cmd, 0, c.params);
        auto conf = app.Take(c.conf);
        ASSERT_TRUE(conf) << c.log;
        EXPECT_EQ(conf->Word(c.info_at), c.info) << c.log;
        EXPECT_TRUE(Logged(std::string("violation: ") + c.log)) << c.log;
    }
    app.Put(0x8001, 0, Writer().U32(plci).Empty().bytes());
    app.Put(0x8001, 0, Writer().U32(plci).Empty().bytes());
    EXPECT_TRUE(Logged("violation: ALERT_REQ twice for 0x101"));
}

TEST_F(ExchangeTest, FloodOfCallsIsBoundedAndLeavesOtherLinesAlone) {
    FakeApp flood(ex, 0), other(ex, 1);
    other.Listen();
    int refused = 0, accepted = 0;
    for (int i = 0; i < 300; ++i) {
        flood.Put(0x8002, 7, ConnectReq(1, "0407770001"));
        auto conf = flood.Take(0x8102);
        ASSERT_TRUE(conf);
        (conf->Word(4) == 0 ? accepted : refused)++;
        if (conf->Word(4) != 0) {
            EXPECT_EQ(conf->Word(4), 0x2003);
        }
    }
    EXPECT_EQ(accepted, 255);
    EXPECT_EQ(refused, 45);
    sched.Advance(ex.delays().net);
    // Two channels on line a: two calls reach b, the rest find no channel.
    int offered = 0;
    while (other.Take(0x8202)) ++offered;
    EXPECT_EQ(offered, 2);
    int no_channel = 0;
    while (auto d = flood.Take(0x8204))
        if (d->Word(4) == 0x34A2) ++no_channel;
    EXPECT_EQ(no_channel, 253);
}

TEST_F(ExchangeTest, MalformedMessagesCloseOnlyTheirConnection) {
    FakeApp good(ex, 1);
    good.Listen();
    struct Case {
        const char* what;
        Bytes payload;
        const char* log;
    } cases[] = {
        {"short", {0x01, 0x02, 0x03}, "bad frame: 3 bytes"},
        {"length too big", Writer().U16(40).U16(1).U8(0x05).U8(0x80).U16(0).U32(1).Take(),
         "bad frame: message length 40 in a frame of 12"},
        {"length too small", Writer().U16(10).U16(1).U8(0x05).U8(0x80).U16(0).U32(1).Take(),
         "bad frame: LISTEN_REQ of length 10 in a frame of 12"},
        {"data length",
         Writer()
             .U16(22)
             .U16(1)
             .U8(0x86)
             .U8(0x80)
             .U16(0)
             .U32(0x10101)
             .U32(0)
             .U16(5)
             .U16(1)
             .U16(0)
             .U8('x')
             .Take(),
         "bad frame: DATA_B3_REQ announces 5 data bytes, frame carries 1"},
        {"unknown handshake", Writer().U16(0).U16(0).U8(0xE4).U8(0xFF).U16(0).U32(0).Take(),
         "bad frame: unknown handshake E4 FF"},
    };
    for (const auto& c : cases) {
        FakeApp bad(ex, 0);
        ex.OnPayload(bad.sid, c.payload);
        EXPECT_TRUE(bad.closed) << c.what;
        EXPECT_TRUE(Logged(c.log)) << c.what;
    }
    int unregistered = ex.OpenSession(
        0, [](const Bytes&) {}, [] {});
    ex.OnPayload(unregistered, Writer()
                                   .U16(26)
                                   .U16(1)
                                   .U8(0x05)
                                   .U8(0x80)
                                   .U16(0)
                                   .U32(1)
                                   .U32(0)
                                   .U32(0)
                                   .U32(0)
                                   .Empty()
                                   .Empty()
                                   .Take());
    EXPECT_TRUE(Logged("bad frame: CAPI message before registration"));
    CallRequest r;
    r.from = "0301234";
    r.to = "7770001";
    ex.PlaceCall(r);
    sched.Advance(ex.delays().net);
    EXPECT_TRUE(good.Take(0x8202));
    EXPECT_FALSE(good.closed);
}

TEST_F(ExchangeTest, ApplicationThatGoesAwayClearsItsCalls) {
    auto caller = std::make_unique<FakeApp>(ex, 0);
    FakeApp callee(ex, 1);
    callee.Listen();
    caller->Put(0x8002, 7, ConnectReq(1, "0407770001"));
    sched.Advance(ex.delays().net);
    ASSERT_TRUE(callee.Take(0x8202));
    ex.CloseSession(caller->sid);
    auto disc = callee.Take(0x8204);
    ASSERT_TRUE(disc);
    EXPECT_EQ(disc->Word(4), 0x3490);
    EXPECT_TRUE(ex.DescribeCalls().empty());
}

}  // namespace
}  // namespace tolvar::line
