// Several controllers: which ones the value "Controller" makes the program
// listen on, what it reports, the call list they size, and that without the
// value the wire carries what it always did.

#include <gtest/gtest.h>

#include "calls/call_message.h"
#include "support/test_host.h"

namespace tolvar {
namespace {

using test::Message;
using test::U32;

constexpr const char* kHeader =
    "Windows Registry Editor Version 5.00\n\n"
    "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar]\n\"ShowISDNTab\"=dword:00000001\n";

class Controllers : public ::testing::Test {
  protected:
    void Start(const std::string& value,
               std::map<std::uint32_t, std::uint16_t> channels = {{1, 2}}) {
        host.eventLogPath = (host.dir / "Tolvar.txt").string();
        host.capi.bChannels = std::move(channels);
        host.WriteHive(kHeader + (value.empty() ? "" : "\"Controller\"=\"" + value + "\"\n") +
                       "\n");
        host.Start();
    }
    // The controllers of the LISTEN_REQs put since the last call, with the
    // masks they carried (empty masks: no longer listening).
    std::vector<std::string> Listens() {
        std::vector<std::string> out;
        for (const auto& put : host.capi.puts)
            if (put.CommandWord() == cmd::LISTEN_REQ)
                out.push_back(std::to_string(put.message[8]) + (put.message[12] ? "" : " off"));
        host.capi.puts.clear();
        return out;
    }
    void ListenConf(std::uint32_t controller, std::uint16_t info) {
        auto p = U32(controller);
        p.push_back(static_cast<std::uint8_t>(info));
        p.push_back(static_cast<std::uint8_t>(info >> 8));
        host.Receive(Message(cmd::LISTEN_CONF, 0, p));
    }
    void LoseAndRegainTheLink() {
        host.capi.getResult = kCapiOSResourceError;
        host.engine->WMCapiSignal();
        host.time.Advance(1);
        host.capi.getResult = 0;
        host.time.Advance(CapiLink::kRetryMs);
    }
    test::TestHost host;
};

TEST_F(Controllers, TheValueNamesWhereTheProgramListens) {
    struct Case {
        const char* value;
        std::map<std::uint32_t, std::uint16_t> channels;
        std::vector<std::string> listens;
        std::vector<std::string> boxes;
        std::size_t capacity;
    };
    const std::vector<Case> cases = {
        {"", {{1, 2}}, {"1"}, {}, Connections::kMaxRecords},
        {"1,3,5", {{1, 2}, {3, 1}, {5, 4}}, {"1", "3", "5"}, {}, Connections::kMaxRecords},
        {" 5 , 3,5,", {{3, 30}, {5, 40}}, {"5", "3"}, {}, 72},
        {"*", {{1, 30}, {2, 30}, {3, 30}}, {"1", "2", "3"}, {}, 92},
        {"2,x,200",
         {{2, 2}},
         {"2"},
         {"Controller x ist der CAPI nicht bekannt.", "Controller 200 ist der CAPI nicht bekannt."},
         Connections::kMaxRecords},
        // Nothing usable: listening where the program always did beats hearing nothing.
        {"zwei",
         {{1, 2}},
         {"1"},
         {"Controller zwei ist der CAPI nicht bekannt."},
         Connections::kMaxRecords},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        host.engine.reset();
        host.capi.puts.clear();
        host.ui.errors.clear();
        Start(c.value, c.channels);
        EXPECT_EQ(Listens(), c.listens);
        EXPECT_EQ(host.ui.errors, c.boxes);
        EXPECT_EQ(host.engine->ConnectionList().Capacity(), c.capacity);
    }
}

TEST_F(Controllers, WithoutTheValueTheWireCarriesWhatItAlwaysDid) {
    Start("");
    host.Receive(test::ConnectInd({}));
    host.Receive(test::DisconnectInd(0x101, 0x3490));
    std::vector<std::string> wire;
    for (const auto& put : host.capi.puts) wire.push_back(test::HexBytes(put.message));
    EXPECT_EQ(wire, (std::vector<std::string>{
                        "1A 00 01 00 05 80 00 00 01 00 00 00 FF 03 00 00 FF 03 FF 1F 01 00 00 "
                        "00 00 00",
                        "0D 00 01 00 01 80 00 00 01 01 00 00 00",
                        "0C 00 01 00 04 83 02 00 01 01 00 00"}));
}

TEST_F(Controllers, RefusalsAreToldOnceAndEveryControllerIsListenedToAgain) {
    Start("1,3,5", {{1, 2}, {5, 2}});
    EXPECT_EQ(Listens(), (std::vector<std::string>{"1", "3", "5"}));
    ListenConf(1, 0);
    ListenConf(3, 0x2002);
    ListenConf(5, 0x2007);
    EXPECT_EQ(host.ui.errors,
              (std::vector<std::string>{
                  "Controller 3 ist der CAPI nicht bekannt.",
                  "Controller 5 nimmt keine Anrufe an (LISTEN_CONF Info 0x2007)."}));

    LoseAndRegainTheLink();
    EXPECT_EQ(Listens(), (std::vector<std::string>{"1", "3", "5"}));
    ListenConf(3, 0x2002);
    EXPECT_EQ(host.ui.errors.size(), 2u);

    // Calls of every controller alike; the program's own go out on the first.
    test::CallSetup onFive;
    onFive.plci = 0x0205;
    onFive.caller = "301234";
    host.Receive(test::ConnectInd(onFive));
    EXPECT_EQ(host.capi.puts.back().message[8], 0x05);  // ALERT_REQ for 0x205
    EXPECT_EQ(host.engine->Log().Lines().back().substr(8), "   0301234 -> 5551234");
}

TEST_F(Controllers, AChangedFieldListensAnewAndStopsTheControllersLeft) {
    Start("1,3", {{1, 2}, {3, 2}, {4, 2}});
    Listens();
    host.engine->SetActivePage(Page::Desktop);
    host.engine->ShowWindow(Page::Desktop);
    EXPECT_EQ(host.ui.ControlText(Control::edController), "1,3");
    host.ui.SetControlText(Control::edController, "4,1");
    host.engine->SetActivePage(Page::Protokoll);
    EXPECT_EQ(Listens(), (std::vector<std::string>{"3 off", "4", "1"}));
    // The stop's confirmation is no refusal; the value is stored.
    ListenConf(3, 0x2002);
    EXPECT_TRUE(host.ui.errors.empty());
    EXPECT_NE(host.ReadHive().find("\"Controller\"=\"4,1\""), std::string::npos);
    // The program's own calls now go out on controller 4.
    ConnectReqParams sms;
    sms.calledNumber = "0171";
    host.engine->Capi().SendConnectReq(sms);
    EXPECT_EQ(host.capi.puts.back().message[8], 0x04);
}

TEST_F(Controllers, EveryCallTheControllersCarryIsKeptAndAFloodBeyondIsBoundedAndTraced) {
    Start("1,2", {{1, 30}, {2, 40}});
    const std::size_t capacity = host.engine->ConnectionList().Capacity();
    ASSERT_EQ(capacity, 72u);
    for (std::uint32_t i = 0; i < capacity; ++i) {
        test::CallSetup c;
        c.plci = ((i + 1) << 8) | (i % 2 + 1);
        c.caller = "30" + std::to_string(1000 + i);
        host.Receive(test::ConnectInd(c));
    }
    EXPECT_EQ(host.engine->ConnectionList().Count(), capacity);
    EXPECT_EQ(std::count_if(host.capi.puts.begin(), host.capi.puts.end(),
                            [](const auto& p) { return p.CommandWord() == cmd::ALERT_REQ; }),
              static_cast<long>(capacity));
    // Every one of them ends with its line.
    host.Receive(test::DisconnectInd(0x0101, 0x3490));
    EXPECT_EQ(host.engine->Log().Lines()[2].substr(8), "   0301000 -> 5551234");
    EXPECT_EQ(host.engine->ConnectionList().Count(), capacity - 1);

    test::CallSetup more;
    more.caller = "309999";
    for (std::uint32_t plci : {0xF001u, 0xF101u}) {
        more.plci = plci;
        host.Receive(test::ConnectInd(more));
    }
    EXPECT_EQ(host.engine->ConnectionList().Count(), capacity);
    EXPECT_EQ(host.ui.isdn.back(), "Anrufliste voll (72 Anrufe): PLCI 00000202 verworfen");
}

}  // namespace
}  // namespace tolvar
