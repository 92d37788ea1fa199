// The exchange through the real libcapi20 and its rcapi module, against a
// tolvar-line process on free ports.
#include <capi20.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include "harness.h"
#include "line/smsc.h"

namespace tolvar::line::test {
namespace {

const char* kTwoLines =
    "manufacturer \"Test exchange 1\"\n"
    "line a msn=5551234,5551235 area=30\n"
    "line b msn=7770001 area=40\n"
    "smsc 01712521002 ucp message=\"Nachricht angenommen\"\n"
    "smsc 01930100 tap\n"
    "smsc 01930999 ucp outcome=reject error=31\n"
    "phone 0899999 busy\n";

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes NumberStruct(std::uint8_t type, const std::string& digits) {
    Bytes b{static_cast<std::uint8_t>(digits.size() + 1), type};
    b.insert(b.end(), digits.begin(), digits.end());
    return b;
}

// CONNECT_REQ as the program builds it: empty B protocol, BC, LLC, HLC.
Bytes ConnectReq(int cip, const std::string& called, const std::string& calling,
                 const std::string& subaddress = "") {
    Writer w;
    w.U32(1).U16(static_cast<std::uint16_t>(cip)).Raw(NumberStruct(0x80, called));
    Bytes c{static_cast<std::uint8_t>(calling.size() + 2), 0x00, 0x80};
    c.insert(c.end(), calling.begin(), calling.end());
    w.Raw(c);
    if (subaddress.empty()) {
        w.Empty().Empty();
    } else {
        w.Struct({0x80, 0x50});
        Bytes s{0x80, 0x50};
        s.insert(s.end(), subaddress.begin(), subaddress.end());
        w.Struct(s);
    }
    w.Empty().Empty().Empty().Empty().Empty();
    return w.Take();
}

Bytes Plci(std::uint32_t p) {
    return Writer().U32(p).bytes();
}

TEST(Rcapi, RegisterManufacturerListenAndIncomingCall) {
    LineProcess line(kTwoLines);
    CapiApp app(line.port(0));
    ASSERT_TRUE(app.registered());
    unsigned char manu[64] = {};
    ASSERT_NE(capi20_get_manufacturer(1, manu), nullptr);
    EXPECT_STREQ(reinterpret_cast<char*>(manu), "Test exchange 1");
    unsigned char profile[64] = {};
    ASSERT_EQ(capi20_get_profile(1, profile), 0u);
    EXPECT_EQ(profile[0], 1);  // one controller
    EXPECT_EQ(profile[2], 2);  // two B channels

    app.Listen();
    auto conf = app.Expect(0x8105);
    ASSERT_TRUE(conf);
    EXPECT_EQ(conf->Word(4), 0);

    ASSERT_TRUE(line.CtlOk("call 0301234567 5551234 cip=16"));
    auto ind = app.Expect(0x8202);
    ASSERT_TRUE(ind);
    std::uint32_t plci = ind->Dword(0);
    EXPECT_EQ(ind->Word(4), 16);
    // Called party: type unknown / ISDN plan, the MSN. Calling: national,
    // presentation allowed, network provided, without the trunk prefix.
    Bytes expect{0x08, 0x81, '5', '5', '5', '1', '2', '3', '4', 0x0B, 0x21, 0x83,
                 '3',  '0',  '1', '2', '3', '4', '5', '6', '7', 0x00, 0x00};
    EXPECT_EQ(
        Bytes(ind->params.begin() + 6, ind->params.begin() + 6 + static_cast<long>(expect.size())),
        expect);

    app.Put(0x8001, 0, Writer().U32(plci).Empty().bytes());
    auto aconf = app.Expect(0x8101);
    ASSERT_TRUE(aconf);
    EXPECT_EQ(aconf->Word(4), 0);
    ASSERT_TRUE(line.WaitLog("alerting"));
    ASSERT_TRUE(line.CtlOk("hangup 1"));
    auto disc = app.Expect(0x8204);
    ASSERT_TRUE(disc);
    EXPECT_EQ(disc->Word(4), 0x3490);
    app.Put(0x8304, disc->num, Plci(plci));
    EXPECT_FALSE(line.WaitLog("violation", 300));
}

TEST(Rcapi, CallingNumberForms) {
    LineProcess line(kTwoLines);
    CapiApp app(line.port(0));
    app.Listen();
    ASSERT_TRUE(app.Expect(0x8105));
    struct Case {
        std::string command;
        Bytes calling;  // the structure's content
    } cases[] = {
        {"call +4930123456 5551234",
         {0x11, 0x83, '4', '9', '3', '0', '1', '2', '3', '4', '5', '6'}},
        {"call 030999 5551234 pres=restricted", {0x21, 0xA3}},
        {"call - 5551234", {0x01, 0xC3}},
        {"call 123456 5551234 screen=verified", {0x41, 0x81, '1', '2', '3', '4', '5', '6'}},
        {"call 4930123456 5551234 ton=international",
         {0x11, 0x83, '4', '9', '3', '0', '1', '2', '3', '4', '5', '6'}},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(line.CtlOk(c.command)) << c.command;
        auto ind = app.Expect(0x8202);
        ASSERT_TRUE(ind) << c.command;
        Reader r(ind->params, 6);
        r.Struct();
        EXPECT_EQ(r.Struct(), c.calling) << c.command;
        app.Put(0x8302, 0,
                Writer().U32(ind->Dword(0)).U16(2).Empty().Empty().Empty().Empty().Empty().bytes());
        auto disc = app.Expect(0x8204);
        ASSERT_TRUE(disc);
        app.Put(0x8304, disc->num, Plci(ind->Dword(0)));
    }
}

TEST(Rcapi, CipMaskFiltersCalls) {
    LineProcess line(kTwoLines);
    CapiApp app(line.port(0));
    app.Listen(1u << 2);  // data calls only
    ASSERT_TRUE(app.Expect(0x8105));
    ASSERT_TRUE(line.CtlOk("call 0301 5551234 cip=1"));
    ASSERT_TRUE(line.CtlOk("call 0302 5551234 cip=2"));
    auto ind = app.Expect(0x8202);
    ASSERT_TRUE(ind);
    EXPECT_EQ(ind->Word(4), 2);
    EXPECT_FALSE(app.Expect(0x8202, 300));
}

// A D-Mail packet from line a to line b: the receiver alerts and rejects,
// the sender learns of the alerting and hangs up.
TEST(Rcapi, DMailPacketBetweenLines) {
    LineProcess line(kTwoLines);
    CapiApp sender(line.port(0));
    CapiApp receiver(line.port(1));
    sender.Listen();
    receiver.Listen();
    ASSERT_TRUE(sender.Expect(0x8105));
    ASSERT_TRUE(receiver.Expect(0x8105));

    sender.Put(0x8002, 8, ConnectReq(24, "0407770001", "5551234", "Hallo Welt"));
    auto conf = sender.Expect(0x8102);
    ASSERT_TRUE(conf);
    EXPECT_EQ(conf->num, 8);
    EXPECT_EQ(conf->Word(4), 0);
    std::uint32_t splci = conf->Dword(0);

    auto ind = receiver.Expect(0x8202);
    ASSERT_TRUE(ind);
    EXPECT_EQ(ind->Word(4), 24);
    Reader r(ind->params, 6);
    EXPECT_EQ(r.Struct(), (Bytes{0x81, '7', '7', '7', '0', '0', '0', '1'}));
    // The sender's own MSN, screened and passed, in national form.
    EXPECT_EQ(r.Struct(), (Bytes{0x21, 0x81, '3', '0', '5', '5', '5', '1', '2', '3', '4'}));
    EXPECT_EQ(r.Struct(), (Bytes{0x80, 0x50}));
    EXPECT_EQ(r.Struct(), Cat({{0x80, 0x50}, ToBytes("Hallo Welt")}));
    std::uint32_t rplci = ind->Dword(0);

    receiver.Put(0x8001, 0, Writer().U32(rplci).Empty().bytes());
    ASSERT_TRUE(receiver.Expect(0x8101));
    receiver.Put(0x8302, 0,
                 Writer().U32(rplci).U16(7).Empty().Empty().Empty().Empty().Empty().bytes());
    auto rdisc = receiver.Expect(0x8204);
    ASSERT_TRUE(rdisc);
    receiver.Put(0x8304, rdisc->num, Plci(rplci));

    // The caller gets ALERTING or, if the rejection is faster, the cause.
    auto info = sender.Expect(0x8208, 500);
    if (info) {
        EXPECT_EQ(info->Word(4), 0x8001);
        sender.Put(0x8308, info->num, Plci(splci));
    }
    auto sdisc = sender.Expect(0x8204);
    ASSERT_TRUE(sdisc);
    EXPECT_EQ(sdisc->Word(4), 0x34D8);
    sender.Put(0x8304, sdisc->num, Plci(splci));
    EXPECT_FALSE(line.WaitLog("violation", 300));
}

TEST(Rcapi, OutgoingCallFailures) {
    LineProcess line(kTwoLines);
    CapiApp app(line.port(0));
    app.Listen();
    ASSERT_TRUE(app.Expect(0x8105));
    struct Case {
        std::string number;
        std::uint16_t reason;
    } cases[] = {{"0899999", 0x3491}, {"0123", 0x3481}, {"0407770009", 0x3481}};
    for (const auto& c : cases) {
        app.Put(0x8002, 7, ConnectReq(1, c.number, ""));
        auto conf = app.Expect(0x8102);
        ASSERT_TRUE(conf);
        EXPECT_EQ(conf->Word(4), 0);
        auto disc = app.Expect(0x8204);
        ASSERT_TRUE(disc) << c.number;
        EXPECT_EQ(disc->Word(4), c.reason) << c.number;
        app.Put(0x8304, disc->num, Plci(disc->Dword(0)));
    }
    // A malformed request gets an error in its confirmation and no PLCI.
    app.Put(0x8002, 7, Writer().U32(1).U16(1).Struct({0x80, '1'}).bytes());
    auto bad = app.Expect(0x8102);
    ASSERT_TRUE(bad);
    EXPECT_EQ(bad->Word(4), 0x2007);
    EXPECT_EQ(bad->num, 7);
    EXPECT_TRUE(line.WaitLog("violation: CONNECT_REQ parameters malformed"));
}

TEST(Rcapi, NoChannelWhenBothBChannelsAreInUse) {
    LineProcess line(std::string(kTwoLines) + "phone 0301111 answer\n");
    CapiApp app(line.port(0));
    std::uint32_t plcis[2];
    for (auto& p : plcis) {
        app.Put(0x8002, 7, ConnectReq(1, "0301111", ""));
        auto conf = app.Expect(0x8102);
        ASSERT_TRUE(conf);
        p = conf->Dword(0);
        auto active = app.Expect(0x8203);
        ASSERT_TRUE(active);
        app.Put(0x8303, active->num, Plci(p));
    }
    app.Put(0x8002, 7, ConnectReq(1, "0301111", ""));
    ASSERT_TRUE(app.Expect(0x8102));
    auto disc = app.Expect(0x8204);
    ASSERT_TRUE(disc);
    EXPECT_EQ(disc->Word(4), 0x34A2);
}

TEST(Rcapi, AnotherApplicationTakesTheCall) {
    LineProcess line(kTwoLines);
    CapiApp first(line.port(0));
    CapiApp second(line.port(0));
    first.Listen();
    second.Listen();
    ASSERT_TRUE(first.Expect(0x8105));
    ASSERT_TRUE(second.Expect(0x8105));
    ASSERT_TRUE(line.CtlOk("call 0301234 5551234"));
    auto a = first.Expect(0x8202);
    auto b = second.Expect(0x8202);
    ASSERT_TRUE(a && b);
    EXPECT_NE(a->Dword(0), b->Dword(0));
    second.Put(0x8302, 0,
               Writer().U32(b->Dword(0)).U16(0).Empty().Empty().Empty().Empty().Empty().bytes());
    auto disc = first.Expect(0x8204);
    ASSERT_TRUE(disc);
    EXPECT_EQ(disc->Word(4), 0x3304);
    auto active = second.Expect(0x8203);
    ASSERT_TRUE(active);
    second.Put(0x8303, active->num, Plci(b->Dword(0)));
    ASSERT_TRUE(line.WaitLog("call 1: connected"));
}

TEST(Rcapi, AnsweredByAnotherTerminal) {
    LineProcess line(std::string(kTwoLines) + "terminal a phone cip=1,16\n");
    CapiApp app(line.port(0));
    app.Listen();
    ASSERT_TRUE(app.Expect(0x8105));
    ASSERT_TRUE(line.CtlOk("call 0301234 5551234"));
    auto ind = app.Expect(0x8202);
    ASSERT_TRUE(ind);
    ASSERT_TRUE(line.CtlOk("answer 1"));
    auto disc = app.Expect(0x8204);
    ASSERT_TRUE(disc);
    EXPECT_EQ(disc->Word(4), 0x349A);
}

// A program's SMS call: CIP 2, B3 link, one UCP frame in 10-byte pieces,
// the centre's answer back as DATA_B3_IND, then the B3 link and the call end.
TEST(Rcapi, UcpSmsCentreDialogue) {
    LineProcess line(kTwoLines);
    CapiApp app(line.port(0));
    app.Put(0x8002, 7, ConnectReq(2, "01712521002", ""));
    auto conf = app.Expect(0x8102);
    ASSERT_TRUE(conf);
    std::uint32_t plci = conf->Dword(0);
    auto active = app.Expect(0x8203);
    ASSERT_TRUE(active);
    app.Put(0x8303, active->num, Plci(plci));
    app.Put(0x8082, 0, Writer().U32(plci).Empty().bytes());
    auto b3conf = app.Expect(0x8182);
    ASSERT_TRUE(b3conf);
    EXPECT_EQ(b3conf->Word(4), 0);
    std::uint32_t ncci = b3conf->Dword(0);
    auto b3active = app.Expect(0x8283);
    ASSERT_TRUE(b3active);
    EXPECT_EQ(b3active->Dword(0), ncci);
    app.Put(0x8383, b3active->num, Plci(ncci));

    Bytes frame = ToBytes(
        "\x02"
        "01/00062/O/51/12345/0/////////////////3//616263/////////////73\x03");
    for (std::size_t i = 0; i < frame.size(); i += 10) {
        Bytes chunk(frame.begin() + static_cast<long>(i),
                    frame.begin() + static_cast<long>(std::min(frame.size(), i + 10)));
        app.Put(0x8086, 0,
                Writer()
                    .U32(ncci)
                    .U32(0)
                    .U16(static_cast<std::uint16_t>(chunk.size()))
                    .U16(0xABCD)
                    .U16(0)
                    .bytes(),
                chunk);
        auto dconf = app.Expect(0x8186);
        ASSERT_TRUE(dconf);
        EXPECT_EQ(dconf->Word(4), 0xABCD);
        EXPECT_EQ(dconf->Word(6), 0);
    }
    Bytes answer;
    while (answer.empty() || answer.back() != 0x03) {
        auto data = app.Expect(0x8286);
        ASSERT_TRUE(data);
        answer.insert(answer.end(), data->data.begin(), data->data.end());
        app.Put(0x8386, 0, Writer().U32(ncci).U16(data->Word(10)).bytes());
    }
    EXPECT_EQ(answer, UcpFrame("01/00000/R/51/A//Nachricht angenommen/"));
    auto accepted = line.Ctl("accepted 01712521002");
    EXPECT_EQ(accepted, "01712521002 12345 0 abc\nok");

    app.Put(0x8084, 0, Writer().U32(ncci).Empty().bytes());
    ASSERT_TRUE(app.Expect(0x8184));
    auto b3disc = app.Expect(0x8284);
    ASSERT_TRUE(b3disc);
    app.Put(0x8384, b3disc->num, Plci(ncci));
    app.Put(0x8004, 0, Writer().U32(plci).Empty().bytes());
    ASSERT_TRUE(app.Expect(0x8104));
    auto disc = app.Expect(0x8204);
    ASSERT_TRUE(disc);
    app.Put(0x8304, disc->num, Plci(plci));
    EXPECT_FALSE(line.WaitLog("violation", 300));
}

TEST(Rcapi, TapSmsCentreDialogueAndResponseChecks) {
    LineProcess line(kTwoLines);
    CapiApp app(line.port(0));
    app.Put(0x8002, 7, ConnectReq(2, "01930100", ""));
    auto conf = app.Expect(0x8102);
    ASSERT_TRUE(conf);
    std::uint32_t plci = conf->Dword(0);
    auto active = app.Expect(0x8203);
    ASSERT_TRUE(active);
    app.Put(0x8303, active->num, Plci(plci));
    app.Put(0x8082, 0, Writer().U32(plci).Empty().bytes());
    auto b3conf = app.Expect(0x8182);
    ASSERT_TRUE(b3conf);
    std::uint32_t ncci = b3conf->Dword(0);
    auto b3active = app.Expect(0x8283);
    ASSERT_TRUE(b3active);
    app.Put(0x8383, b3active->num, Plci(ncci));

    auto send = [&](const Bytes& bytes) {
        app.Put(0x8086, 0,
                Writer()
                    .U32(ncci)
                    .U32(0)
                    .U16(static_cast<std::uint16_t>(bytes.size()))
                    .U16(0xABCD)
                    .U16(0)
                    .bytes(),
                bytes);
        ASSERT_TRUE(app.Expect(0x8186));
    };
    auto receive_until = [&](const Bytes& end) {
        Bytes got;
        while (got.size() < end.size() || !std::equal(end.rbegin(), end.rend(), got.rbegin())) {
            auto data = app.Expect(0x8286);
            if (!data) return got;
            got.insert(got.end(), data->data.begin(), data->data.end());
            app.Put(0x8386, 0, Writer().U32(ncci).U16(data->Word(10)).bytes());
        }
        return got;
    };
    send({0x0D});
    EXPECT_EQ(receive_until(ToBytes("ID=")), ToBytes("ID="));
    send(ToBytes("\x1bPG1\r"));
    EXPECT_EQ(receive_until(ToBytes("\x1b[p\r")), ToBytes("\r\x06\r\x1b[p\r"));
    Bytes block = ToBytes(
        "\x02"
        "12345\rabc\r\x03");
    send(Cat({block, ToBytes(TapChecksum(block))}));
    EXPECT_EQ(receive_until(ToBytes("\r\x06\r")), ToBytes("\r\x06\r"));
    send(ToBytes("\x04\r"));
    EXPECT_EQ(receive_until(ToBytes("\r\x1b\x04\r")), ToBytes("\r\x1b\x04\r"));
    EXPECT_EQ(line.Ctl("accepted 01930100"), "01930100 12345 - abc\nok");

    // A response nobody owes, and a forgotten one, show in the log.
    app.Put(0x8383, 0, Plci(ncci));
    EXPECT_TRUE(line.WaitLog("violation: CONNECT_B3_ACTIVE_RESP for 0x10"));
    app.Put(0x8004, 0, Writer().U32(plci).Empty().bytes());
    ASSERT_TRUE(app.Expect(0x8104));
    ASSERT_TRUE(app.Expect(0x8284));
    EXPECT_TRUE(line.WaitLog("violation: no DISCONNECT_B3_RESP", 3000));
}

TEST(Rcapi, DataIndicationsStayWithinTheRegisteredWindow) {
    LineProcess line{std::string(kTwoLines)};
    CapiApp caller(line.port(0));
    CapiApp callee(line.port(1), 2, 130);  // two blocks outstanding at most
    callee.Listen();
    ASSERT_TRUE(callee.Expect(0x8105));
    caller.Put(0x8002, 7, ConnectReq(2, "0407770001", ""));
    auto conf = caller.Expect(0x8102);
    ASSERT_TRUE(conf);
    std::uint32_t aplci = conf->Dword(0);
    auto ind = callee.Expect(0x8202);
    ASSERT_TRUE(ind);
    std::uint32_t bplci = ind->Dword(0);
    callee.Put(0x8302, 0,
               Writer().U32(bplci).U16(0).Empty().Empty().Empty().Empty().Empty().bytes());
    auto act_b = callee.Expect(0x8203);
    auto act_a = caller.Expect(0x8203);
    ASSERT_TRUE(act_a && act_b);
    callee.Put(0x8303, act_b->num, Plci(bplci));
    caller.Put(0x8303, act_a->num, Plci(aplci));
    caller.Put(0x8082, 0, Writer().U32(aplci).Empty().bytes());
    auto b3conf = caller.Expect(0x8182);
    ASSERT_TRUE(b3conf);
    std::uint32_t ancci = b3conf->Dword(0);
    auto b3ind = callee.Expect(0x8282);
    ASSERT_TRUE(b3ind);
    std::uint32_t bncci = b3ind->Dword(0);
    callee.Put(0x8382, b3ind->num, Writer().U32(bncci).U16(0).Empty().bytes());
    auto ba = callee.Expect(0x8283);
    auto aa = caller.Expect(0x8283);
    ASSERT_TRUE(aa && ba);
    callee.Put(0x8383, ba->num, Plci(bncci));
    caller.Put(0x8383, aa->num, Plci(ancci));

    for (int i = 0; i < 5; ++i) {
        Bytes d{static_cast<std::uint8_t>('0' + i)};
        caller.Put(0x8086, 0, Writer().U32(ancci).U32(0).U16(1).U16(0xABCD).U16(0).bytes(), d);
        ASSERT_TRUE(caller.Expect(0x8186));
    }
    auto d1 = callee.Expect(0x8286);
    auto d2 = callee.Expect(0x8286);
    ASSERT_TRUE(d1 && d2);
    EXPECT_FALSE(callee.Expect(0x8286, 300)) << "a third block before any response";
    std::string got;
    for (auto* d : {&d1, &d2}) {
        got += ToString((*d)->data);
        callee.Put(0x8386, 0, Writer().U32(bncci).U16((*d)->Word(10)).bytes());
    }
    for (int i = 0; i < 3; ++i) {
        auto d = callee.Expect(0x8286);
        ASSERT_TRUE(d);
        got += ToString(d->data);
        callee.Put(0x8386, 0, Writer().U32(bncci).U16(d->Word(10)).bytes());
    }
    EXPECT_EQ(got, "01234");
}

std::string RunTool(const std::string& args, int& status) {
    std::string out;
    FILE* p = popen((std::string(TOLVAR_LINECTL_EXE) + " " + args + " 2>&1").c_str(), "r");
    char buf[256];
    while (p && std::fgets(buf, sizeof buf, p)) out += buf;
    status = p ? WEXITSTATUS(pclose(p)) : -1;
    return out;
}

TEST(Linectl, SendsOneCommandAndReportsTheOutcome) {
    LineProcess line(kTwoLines);
    std::string ctl = "--control 127.0.0.1:" + std::to_string(line.control_port()) + " ";
    int status = 0;
    EXPECT_EQ(RunTool(ctl + "call 0301234 5551234 sub=\"a b\"", status), "ok call 1\n");
    EXPECT_EQ(status, 0);
    EXPECT_EQ(RunTool(ctl + "answer 9", status), "error: no call 9\n");
    EXPECT_EQ(status, 1);
    std::string lines = RunTool(ctl + "lines", status);
    EXPECT_EQ(lines.rfind("a 127.0.0.1:" + std::to_string(line.port(0)), 0), 0u) << lines;
    EXPECT_NE(
        RunTool(ctl + "wait \"call 1: placed 0301234 -> 5551234\" timeout=2s", status).find("ok"),
        std::string::npos);
    RunTool("--control 127.0.0.1:1 calls", status);
    EXPECT_EQ(status, 2);
}

// Truncated frames, wrong lengths, garbage and a flood of calls never stop
// the exchange or disturb another line.
TEST(Rcapi, HostileClientsLeaveTheExchangeRunning) {
    LineProcess line(kTwoLines);
    auto send_raw = [&](const Bytes& bytes, bool close_now) {
        int fd = ConnectTcp(line.port(0));
        EXPECT_GE(fd, 0);
        send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (close_now) {
            close(fd);
            return -1;
        }
        return fd;
    };
    Bytes reg = Frame(Writer()
                          .U16(0)
                          .U16(0)
                          .U8(0xF2)
                          .U8(0xFF)
                          .U16(0)
                          .U32(0)
                          .U16(2048)
                          .U16(2)
                          .U16(8)
                          .U16(130)
                          .U8(2)
                          .Take());
    std::vector<Bytes> attacks{
        {0x00},                     // truncated length
        {0x00, 0x20, 0x01, 0x02},   // truncated frame
        {0x00, 0x01},               // length below 2
        {0xFF, 0xFF, 0x00},         // longer than any frame
        Frame({0x01, 0x02, 0x03}),  // shorter than a header
        Frame(Bytes(8, 0xEE)),      // garbage command
        Cat({reg, Frame(Writer().U16(99).U16(1).U8(0x02).U8(0x80).U16(0).U32(1).Take())}),
        Cat({reg, Frame(Writer().U16(12).U16(1).U8(0x02).U8(0x80).U16(0).U32(1).Take())}),
    };
    for (const auto& a : attacks) send_raw(a, true);
    // A client that registers and floods the line with calls, and one that
    // stops in the middle of a frame and keeps the connection open.
    Bytes flood = reg;
    for (int i = 0; i < 500; ++i)
        flood = Cat({flood, Frame(Cat({Writer().U16(0).U16(1).U8(0x02).U8(0x80).U16(7).Take(),
                                       ConnectReq(1, "0407770001", "")}))});
    // Fix the CAPI length of each flooded message (the header written above has 0).
    Bytes fixed;
    std::size_t pos = 0;
    while (pos < flood.size()) {
        std::size_t flen = (flood[pos] << 8) | flood[pos + 1];
        Bytes payload(flood.begin() + static_cast<long>(pos + 2),
                      flood.begin() + static_cast<long>(pos + flen));
        if (payload[5] == 0x80) {
            payload[0] = static_cast<std::uint8_t>(payload.size());
            payload[1] = 0;
        }
        fixed = Cat({fixed, Frame(payload)});
        pos += flen;
    }
    int flooder = send_raw(fixed, false);
    int stuck = send_raw({0x00, 0x40, 0x00}, false);

    CapiApp other(line.port(1));
    ASSERT_TRUE(other.registered());
    other.Listen();
    ASSERT_TRUE(other.Expect(0x8105));
    ASSERT_TRUE(line.CtlOk("call 0301234 7770001"));
    auto ind = other.Expect(0x8202, 3000);
    ASSERT_TRUE(ind);
    EXPECT_EQ(ind->Word(4), 1);
    EXPECT_TRUE(line.WaitLog("bad frame: length out of range"));
    EXPECT_TRUE(line.WaitLog("CONNECT_REQ refused: no PLCI left"));
    EXPECT_EQ(kill(line.pid(), 0), 0);
    close(flooder);
    close(stuck);
}

}  // namespace
}  // namespace tolvar::line::test
