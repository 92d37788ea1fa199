// The messages the program sends, byte for byte, and their trace lines.

#include <gtest/gtest.h>

#include "capi/capi_session.h"
#include "core/error.h"
#include "support/fake_capi.h"
#include "support/recording_front_end.h"

namespace tolvar {
namespace {

using test::HexBytes;

class Builders : public ::testing::Test {
  protected:
    Builders() : session(capi, ui) {
        capi.applIdToGive = 1;
        session.Register();
        session.SetTraceEnabled(true);
    }
    const test::PutRecord& Last() { return capi.puts.back(); }

    test::FakeCapi capi;
    test::RecordingFrontEnd ui;
    CapiSession session;
};

TEST_F(Builders, RegistersWithTheProgramsNumbers) {
    EXPECT_EQ(capi.registerArgs, (std::vector<std::uint32_t>{3881, 2, 8, 130}));
}

TEST_F(Builders, ListenReqBytesAndTrace) {
    session.SendListenReq();
    ASSERT_EQ(capi.puts.size(), 1u);
    EXPECT_EQ(HexBytes(Last().message),
              "1A 00 01 00 05 80 00 00 01 00 00 00 FF 03 00 00 FF 03 FF 1F 01 00 00 00 00 00");
    EXPECT_EQ(ui.isdn.back(),
              "LISTEN_REQ 0000   00000001   FF 03 00 00 FF 03 FF 1F 01 00 00 00 00 00 ");
}

TEST_F(Builders, EveryFixedBuilderHasItsWordLengthAndNumber) {
    struct Case {
        const char* name;
        std::function<void()> send;
        std::uint16_t command;
        std::uint16_t length;
        std::uint16_t number;
        const char* params;  // bytes from offset 8
    };
    const std::vector<Case> cases = {
        {"CONNECT_RESP", [&] { session.SendConnectResp(0x101, 0); }, 0x8302, 19, 0,
         "01 01 00 00 00 00 00 00 00 00 00"},
        {"CONNECT_RESP reject 7", [&] { session.SendConnectResp(0x201, 7); }, 0x8302, 19, 0,
         "01 02 00 00 07 00 00 00 00 00 00"},
        {"ALERT_REQ", [&] { session.SendAlertReq(0x101); }, 0x8001, 13, 0, "01 01 00 00 00"},
        {"CONNECT_ACTIVE_RESP", [&] { session.SendConnectActiveResp(3, 0x101); }, 0x8303, 12, 3,
         "01 01 00 00"},
        {"DISCONNECT_REQ", [&] { session.SendDisconnectReq(0x101); }, 0x8004, 13, 0,
         "01 01 00 00 00"},
        {"DISCONNECT_RESP", [&] { session.SendDisconnectResp(5, 0x101); }, 0x8304, 12, 5,
         "01 01 00 00"},
        {"INFO_RESP", [&] { session.SendInfoResp(9, 0x101); }, 0x8308, 12, 9, "01 01 00 00"},
        {"CONNECT_B3_REQ", [&] { session.SendConnectB3Req(0x101); }, 0x8082, 13, 0,
         "01 01 00 00 00"},
        {"CONNECT_B3_ACTIVE_RESP", [&] { session.SendConnectB3ActiveResp(4, 0x10101); }, 0x8383, 12,
         4, "01 01 01 00"},
        {"DATA_B3_RESP", [&] { session.SendDataB3Resp(0x10101, 0x0007); }, 0x8386, 14, 0,
         "01 01 01 00 07 00"},
        {"DISCONNECT_B3_REQ", [&] { session.SendDisconnectB3Req(0x10101); }, 0x8084, 13, 0,
         "01 01 01 00 00"},
        {"DISCONNECT_B3_RESP", [&] { session.SendDisconnectB3Resp(6, 0x10101); }, 0x8384, 12, 6,
         "01 01 01 00"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        capi.puts.clear();
        c.send();
        ASSERT_EQ(capi.puts.size(), 1u);
        const auto& m = Last().message;
        ASSERT_EQ(m.size(), c.length);
        EXPECT_EQ(m[0] | (m[1] << 8), c.length);
        EXPECT_EQ(m[2] | (m[3] << 8), 1);
        EXPECT_EQ(Last().CommandWord(), c.command);
        EXPECT_EQ(m[6] | (m[7] << 8), c.number);
        EXPECT_EQ(HexBytes({m.begin() + 8, m.end()}), c.params);
        EXPECT_TRUE(Last().data.empty());
    }
}

TEST_F(Builders, TraceLinesOfSentMessages) {
    session.SendAlertReq(0x101);
    EXPECT_EQ(ui.isdn.back(), "ALERT_REQ 0000   00000101   00 ");
    session.SendConnectActiveResp(3, 0x101);
    EXPECT_EQ(ui.isdn.back(), "CONNECT_ACTIVE_RESP 0003   00000101   ");
}

TEST_F(Builders, DataB3ReqCarriesItsBlockBesideTheMessage) {
    const std::vector<std::uint8_t> data = {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9'};
    session.SendDataB3Req(0x10101, data);
    const auto& m = Last().message;
    ASSERT_EQ(m.size(), 22u);
    EXPECT_EQ(Last().CommandWord(), 0x8086);
    EXPECT_EQ(HexBytes({m.end() - 6, m.end()}), "0A 00 CD AB 00 00");
    EXPECT_EQ(HexBytes({m.begin() + 8, m.begin() + 12}), "01 01 01 00");
    EXPECT_EQ(Last().data, data);
}

TEST_F(Builders, ConnectReqLayouts) {
    struct Case {
        const char* name;
        ConnectReqParams p;
        std::uint16_t length;
        const char* params;
    };
    const std::vector<Case> cases = {
        {"SMS call without own number",
         {kTagUserSms, 2, "0193010", "", std::nullopt, std::nullopt},
         26 + 7,
         "01 00 00 00 02 00 08 80 30 31 39 33 30 31 30 02 00 80 00 00 00 00 00 00 00"},
        {"automatic SMS with own number",
         {kTagAutomaticSms, 2, "01", "55", std::nullopt, std::nullopt},
         26 + 4,
         "01 00 00 00 02 00 03 80 30 31 04 00 80 35 35 00 00 00 00 00 00 00"},
        {"D-Mail packet with subaddresses",
         {kTagDMail, 24, "5", "7", std::string("AB"), std::string("")},
         8 + 4 + 2 + 3 + 4 + 5 + 3 + 5,
         "01 00 00 00 18 00 02 80 35 03 00 80 37 04 80 50 41 42 02 80 50 00 00 00 00 00"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        capi.puts.clear();
        session.SendConnectReq(c.p);
        ASSERT_EQ(capi.puts.size(), 1u);
        const auto& m = Last().message;
        EXPECT_EQ(m.size(), c.length);
        EXPECT_EQ(Last().CommandWord(), 0x8002);
        EXPECT_EQ(m[6] | (m[7] << 8), c.p.purposeTag);
        EXPECT_EQ(HexBytes({m.begin() + 8, m.end()}), c.params);
    }
}

TEST_F(Builders, ParametersThatDoNotFitRaiseAndSendNothing) {
    struct Case {
        const char* name;
        ConnectReqParams p;
    };
    const std::vector<Case> cases = {
        {"subaddress structure of 256 bytes",
         {kTagDMail, 24, "1", "", std::string(254, 'x'), std::nullopt}},
        {"called number of 255 digits",
         {kTagUserSms, 2, std::string(255, '1'), "", std::nullopt, std::nullopt}},
        {"parameters past the 180-byte area",
         {kTagUserSms, 2, std::string(100, '1'), std::string(70, '2'), std::nullopt, std::nullopt}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_THROW(session.SendConnectReq(c.p), TolvarError);
    }
    EXPECT_TRUE(capi.puts.empty());
    EXPECT_TRUE(ui.isdn.empty());

    // The largest message that still fits goes out: 18 + 100 + 62 = 180 parameter bytes.
    session.SendConnectReq(
        {kTagUserSms, 2, std::string(100, '1'), std::string(62, '2'), std::nullopt, std::nullopt});
    ASSERT_EQ(capi.puts.size(), 1u);
    EXPECT_EQ(Last().message.size(), 188u);
}

TEST_F(Builders, ApplIdAbove65535IsAnError) {
    TCapiMessage m;
    EXPECT_THROW(InitMessageHeader(m, 0x10000, 0, 0x8005, 18), TolvarError);
    EXPECT_THROW(InitMessageHeader(m, 1, 0, 0x8005, 0xFFF8), TolvarError);
    EXPECT_NO_THROW(InitMessageHeader(m, 0xFFFF, 0, 0x8005, 0xFFF7));
}

TEST_F(Builders, PutFailureIsTracedOnlyWithTheTab) {
    capi.putResult = 0x1101;
    session.SendListenReq();
    EXPECT_EQ(ui.isdn.back(), "Konnte LISTEN_REQ nicht schicken 0x1101");
    capi.putResult = 0x2;
    session.SendAlertReq(1);
    EXPECT_EQ(ui.isdn.back(), "Konnte ALERT_REQ nicht schicken 0x2");

    session.SetTraceEnabled(false);
    session.SendListenReq();
    session.SendAlertReq(1);
    EXPECT_EQ(ui.isdn.size(), 2u);
}

TEST_F(Builders, BufferTailStaysZero) {
    TCapiMessage m;
    m.bytes.fill(0xEE);
    InitMessageHeader(m, 1, 0, 0x8005, 18);
    for (std::size_t i = 8; i < kMessageBufferSize; ++i) EXPECT_EQ(m.bytes[i], 0) << i;
}

}  // namespace
}  // namespace tolvar
