// Fetching, tracing and dispatching received messages; the call list.

#include <gtest/gtest.h>

#include "capi/capi_session.h"
#include "capi/connection.h"
#include "support/fake_capi.h"
#include "support/recording_front_end.h"

namespace tolvar {
namespace {

using test::Message;
using test::U32;

class Dispatch : public ::testing::Test {
  protected:
    Dispatch() : session(capi, ui) {
        session.Register();
        session.SetTraceEnabled(true);
        for (auto word : kDispatchedCommands)
            session.SetHandler(word, [this, word](const CapiMessageView& m) {
                handled.push_back(word);
                lengths.push_back(m.Length());
            });
    }
    test::FakeCapi capi;
    test::RecordingFrontEnd ui;
    CapiSession session;
    std::vector<std::uint16_t> handled;
    std::vector<std::uint16_t> lengths;
};

TEST_F(Dispatch, ReceivedTraceLines) {
    struct Case {
        const char* name;
        std::vector<std::uint8_t> msg;
        const char* line;
    };
    std::vector<std::uint8_t> long60 = U32(0x101);
    for (int i = 0; i < 48; ++i) long60.push_back(static_cast<std::uint8_t>(i));
    const std::vector<Case> cases = {
        {"disconnect with reason", Message(0x8204, 5, {0x01, 0x01, 0, 0, 0x04, 0x33}),
         "000E 0001 DISCONNECT_IND 0005   00000101   04 33 "},
        {"facility has no name", Message(0x8280, 2, {0x01, 0, 0, 0, 0x00}),
         "000D 0001 8280 0002   00000001   00 "},
        {"length 60 shows 26 bytes", Message(0x8208, 1, long60),
         "003C 0001 INFO_IND 0001   00000101   00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 "
         "11 12 13 14 15 16 "
         "17 18 19 "},
        {"twelve bytes show none", Message(0x8105, 0, U32(1)),
         "000C 0001 LISTEN_CONF 0000   00000001   "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        capi.Feed(c.msg);
        EXPECT_TRUE(session.WMCapiSignal());
        EXPECT_EQ(ui.isdn.back(), c.line);
    }
}

TEST_F(Dispatch, OnlyTableEntriesGetAHandler) {
    capi.Feed(Message(0x8280, 2, U32(1)));              // FACILITY_IND
    capi.Feed(Message(0x8108, 0, {1, 0, 0, 0, 0, 0}));  // INFO_CONF
    capi.Feed(Message(0x8204, 5, {1, 1, 0, 0, 4, 0x33}));
    for (int i = 0; i < 3; ++i) session.WMCapiSignal();
    EXPECT_EQ(handled, (std::vector<std::uint16_t>{0x8204}));
    EXPECT_TRUE(capi.puts.empty());
    EXPECT_EQ(ui.isdn.size(), 3u);
}

TEST_F(Dispatch, OneFetchPerSignalAndNothingWhenEmpty) {
    capi.Feed(Message(0x8204, 5, {1, 1, 0, 0, 4, 0x33}));
    capi.Feed(Message(0x8204, 6, {1, 1, 0, 0, 4, 0x33}));
    EXPECT_TRUE(session.WMCapiSignal());
    EXPECT_EQ(capi.getCalls, 1);
    EXPECT_EQ(handled.size(), 1u);
    EXPECT_TRUE(session.WMCapiSignal());
    EXPECT_FALSE(session.WMCapiSignal());
    EXPECT_EQ(capi.getCalls, 3);
    EXPECT_EQ(handled.size(), 2u);
    EXPECT_EQ(ui.isdn.size(), 2u);
}

TEST_F(Dispatch, TraceBeforeHandler) {
    session.SetHandler(cmd::DISCONNECT_IND, [this](const CapiMessageView& m) {
        session.SendDisconnectResp(m.MessageNumber(), m.FirstParameter());
    });
    capi.Feed(Message(0x8204, 5, {1, 1, 0, 0, 4, 0x33}));
    session.WMCapiSignal();
    ASSERT_EQ(ui.isdn.size(), 2u);
    EXPECT_EQ(ui.isdn[0], "000E 0001 DISCONNECT_IND 0005   00000101   04 33 ");
    EXPECT_EQ(ui.isdn[1], "DISCONNECT_RESP 0005   00000101   ");
}

TEST_F(Dispatch, NoTraceWhenTabHidden) {
    session.SetTraceEnabled(false);
    capi.Feed(Message(0x8204, 5, {1, 1, 0, 0, 4, 0x33}));
    session.WMCapiSignal();
    EXPECT_TRUE(ui.isdn.empty());
    EXPECT_EQ(handled.size(), 1u);
}

// Every prefix of a valid message is traced and dispatched without reading
// past it (AddressSanitizer watches the reads).
TEST_F(Dispatch, TruncatedMessagesNeverReadPastTheirBytes) {
    const auto full = Message(0x8204, 5, {1, 1, 0, 0, 4, 0x33});
    for (std::size_t n = 0; n <= full.size(); ++n) {
        std::vector<std::uint8_t> prefix(full.begin(),
                                         full.begin() + static_cast<std::ptrdiff_t>(n));
        const CapiMessageView view(prefix);
        const std::string line = ReceivedTraceLine(view);
        EXPECT_FALSE(line.empty());
    }
}

TEST_F(Dispatch, MessagesThatDoNotFitWhatWasDeliveredAreDroppedWithOneLine) {
    const auto disconnect = Message(0x8204, 5, {1, 1, 0, 0, 4, 0x33});
    const auto withLength = [&](std::uint16_t length) {
        auto m = disconnect;
        m[0] = static_cast<std::uint8_t>(length);
        m[1] = static_cast<std::uint8_t>(length >> 8);
        return m;
    };
    struct Case {
        const char* name;
        std::vector<std::uint8_t> delivered;
        const char* line;
    };
    const Case cases[] = {
        {"three bytes", {0x0E, 0, 1}, "Nachricht verworfen: zu kurz für den Kopf (3 Bytes)"},
        {"seven bytes", std::vector<std::uint8_t>(disconnect.begin(), disconnect.begin() + 7),
         "DISCONNECT_IND verworfen: zu kurz für den Kopf (7 Bytes)"},
        {"Length below the header", withLength(5),
         "DISCONNECT_IND verworfen: Length 0005 zu kurz für den Kopf"},
        {"Length past the bytes", withLength(0xFFF0),
         "DISCONNECT_IND verworfen: Length FFF0 passt nicht zu den gelieferten 14 Bytes"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ui.isdn.clear();
        capi.Feed(c.delivered);
        // Fetched (no failure that would make anyone wait), traced once, not handled.
        EXPECT_TRUE(session.WMCapiSignal());
        EXPECT_EQ(ui.isdn, std::vector<std::string>{c.line});
        EXPECT_TRUE(handled.empty());
        EXPECT_TRUE(capi.puts.empty());
    }
    // A DATA_B3_IND that is dropped still gives libcapi20 its buffer back.
    auto data = Message(0x8286, 6, {1, 0, 1, 0, 0, 0, 0, 0, 0x10, 0, 0x07, 0});
    data[0] = 40;
    capi.Feed(data);
    EXPECT_TRUE(session.WMCapiSignal());
    ASSERT_EQ(capi.puts.size(), 1u);
    EXPECT_EQ(test::HexBytes(capi.puts[0].message), "0E 00 01 00 86 83 00 00 01 00 01 00 07 00");
    // A Length shorter than what was delivered is the message; the rest is not.
    auto longer = disconnect;
    longer.resize(40, 0xEE);
    capi.Feed(longer);
    session.WMCapiSignal();
    EXPECT_EQ(lengths.back(), 14);
}

TEST(TraceNames, TableAndFallback) {
    struct Case {
        std::uint16_t word;
        const char* name;
    };
    const Case cases[] = {{0x8202, "CONNECT_IND"}, {0x82FF, "MANU_IND"},     {0x81FF, "MANU_CONF"},
                          {0x8305, "LISTEN_RESP"}, {0x8386, "DATA_B3_RESP"}, {0x8008, "INFO_REQ"},
                          {0x8280, "8280"},        {0x8001, "8001"},         {0x0000, "0000"}};
    for (const auto& c : cases) EXPECT_EQ(TraceName(c.word), c.name) << std::hex << c.word;
}

TEST(ConnectionList, NewestRecordWins) {
    Connections list;
    const auto record = [](std::uint32_t plci, std::uint32_t ncci, CallKind kind) {
        TConnection c;
        c.PLCI = plci;
        c.NCCI = ncci;
        c.Kind = kind;
        return c;
    };
    list.Add(record(0x101, 0, CallKind::Ausfuehren));
    list.Add(record(0x201, kNcciPending, CallKind::UserSms));
    list.Add(record(0x101, 0x10101, CallKind::Sound));
    EXPECT_EQ(list.FindConnectionByPLCI(0x101)->Kind, CallKind::Sound);
    EXPECT_EQ(list.FindConnectionByNCCI(kNcciPending)->Kind, CallKind::UserSms);
    EXPECT_EQ(list.FindConnectionByPLCI(0x301), nullptr);
    list.Remove(list.FindConnectionByPLCI(0x101));
    EXPECT_EQ(list.FindConnectionByPLCI(0x101)->Kind, CallKind::Ausfuehren);
    EXPECT_EQ(list.Count(), 2u);
}

}  // namespace
}  // namespace tolvar
