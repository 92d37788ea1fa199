// The progress of every call: responses owed, events handed to the owner of
// the call's kind, every-call hooks, and the end of all calls when CAPI is lost.

#include <gtest/gtest.h>

#include <stdexcept>

#include "capi/call_router.h"
#include "capi/capi_session.h"
#include "capi/connection.h"
#include "support/fake_capi.h"
#include "support/recording_front_end.h"

namespace tolvar {
namespace {

using test::HexBytes;
using test::Message;
using test::U32;

// Records every event it is handed as "kind event".
class Owner final : public CallOwner {
  public:
    explicit Owner(std::vector<std::string>& seen) : seen_(seen) {}
    void ConnectConf(TConnection& c, std::uint16_t info) override {
        Note(c, "ConnectConf " + std::to_string(info));
    }
    void AlertConf(TConnection& c) override { Note(c, "AlertConf"); }
    void InfoInd(TConnection& c, std::uint16_t n) override { Note(c, "InfoInd " + Hex(n, 4)); }
    void ConnectActive(TConnection& c) override { Note(c, "ConnectActive"); }
    bool ConnectB3Active(TConnection& c) override {
        Note(c, "ConnectB3Active");
        return wantsB3;
    }
    void ConnectB3Conf(TConnection& c) override { Note(c, "ConnectB3Conf " + Hex(c.NCCI, 8)); }
    void DataB3Ind(TConnection& c, Bytes data) override {
        Note(c, "DataB3Ind " + std::string(data.begin(), data.end()));
        if (throwOnData) throw std::runtime_error("kaputt");
    }
    void DataB3Conf(TConnection& c) override { Note(c, "DataB3Conf"); }
    void DisconnectB3Ind(TConnection& c) override { Note(c, "DisconnectB3Ind"); }
    void Disconnected(TConnection& c, std::uint16_t reason) override {
        Note(c, "Disconnected " + Hex(reason, 4));
    }
    bool wantsB3 = true;
    bool throwOnData = false;

  private:
    void Note(const TConnection& c, const std::string& what) {
        seen_.push_back(std::to_string(static_cast<int>(c.Kind)) + " " + what);
    }
    std::vector<std::string>& seen_;
};

class Router : public ::testing::Test {
  protected:
    Router() : session(capi, ui), router(session, calls) {
        session.Register();
        router.Install();
        for (int k = 0; k < kCallKindCount; ++k) router.SetOwner(static_cast<CallKind>(k), owner);
        for (EveryCall m : {EveryCall::ConnectActive, EveryCall::ConnectB3Active,
                            EveryCall::DisconnectB3, EveryCall::Disconnect, EveryCall::CallEnded})
            router.OnEvery(m, [this, m] { hooks.push_back(static_cast<int>(m)); });
    }
    TConnection& Call(std::uint32_t plci, CallKind kind, std::uint32_t ncci = 0) {
        TConnection c;
        c.PLCI = plci;
        c.NCCI = ncci;
        c.Kind = kind;
        return calls.Add(c);
    }
    void Receive(std::vector<std::uint8_t> m, std::vector<std::uint8_t> data = {}) {
        capi.Feed(std::move(m), std::move(data));
        session.WMCapiSignal();
    }
    std::vector<std::string> Puts() {
        std::vector<std::string> out;
        for (const auto& p : capi.puts) out.push_back(HexBytes(p.message));
        capi.puts.clear();
        return out;
    }

    test::FakeCapi capi;
    test::RecordingFrontEnd ui;
    Connections calls;
    CapiSession session;
    CallRouter router;
    std::vector<std::string> seen;
    Owner owner{seen};
    std::vector<int> hooks;
};

std::vector<std::uint8_t> With(std::vector<std::uint8_t> a, std::vector<std::uint8_t> b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST_F(Router, EveryIndicationIsAnsweredWhateverItNames) {
    // Known, unknown and zero identifiers alike: the response echoes them.
    Call(0x101, CallKind::Aus);
    struct Case {
        const char* name;
        std::vector<std::uint8_t> indication;
        std::vector<std::uint8_t> data;
        const char* response;
    };
    const Case cases[] = {
        {"INFO_IND, unknown PLCI",
         Message(0x8208, 9, With(U32(0x202), {0x01, 0x80, 0})),
         {},
         "0C 00 01 00 08 83 09 00 02 02 00 00"},
        {"CONNECT_ACTIVE_IND, known",
         Message(0x8203, 3, With(U32(0x101), {0, 0, 0})),
         {},
         "0C 00 01 00 03 83 03 00 01 01 00 00"},
        {"CONNECT_B3_ACTIVE_IND, NCCI 0",
         Message(0x8283, 4, With(U32(0), {0})),
         {},
         "0C 00 01 00 83 83 04 00 00 00 00 00"},
        {"DISCONNECT_B3_IND, unknown NCCI",
         Message(0x8284, 5, With(U32(0x10303), {0, 0, 0})),
         {},
         "0C 00 01 00 84 83 05 00 03 03 01 00"},
        {"DATA_B3_IND, NCCI 0",
         Message(0x8286, 6, With(U32(0), {0, 0, 0, 0, 3, 0, 0x12, 0x00})),
         {'a', 'b', 'c'},
         "0E 00 01 00 86 83 00 00 00 00 00 00 12 00"},
        {"DISCONNECT_IND, unknown PLCI",
         Message(0x8204, 7, With(U32(0x909), {0x90, 0x34})),
         {},
         "0C 00 01 00 04 83 07 00 09 09 00 00"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Receive(c.indication, c.data);
        const auto puts = Puts();
        ASSERT_FALSE(puts.empty());
        EXPECT_EQ(puts.front(), c.response);
        EXPECT_EQ(std::count(puts.begin(), puts.end(), c.response), 1);
    }
    // Too short to name a call: nothing to answer, nothing done.
    Receive(Message(0x8204, 8, {1, 1}));
    EXPECT_TRUE(Puts().empty());
}

TEST_F(Router, EventsReachTheOwnerOfTheirKindAndHooksFireForEveryKind) {
    for (int k = 0; k < kCallKindCount; ++k) {
        SCOPED_TRACE(k);
        seen.clear();
        hooks.clear();
        const auto plci = static_cast<std::uint32_t>(0x100 + k);
        const auto ncci = 0x10000u + plci;
        Call(plci, static_cast<CallKind>(k), kNcciPending);
        Receive(Message(0x8101, 0, With(U32(plci), {0, 0})));           // ALERT_CONF
        Receive(Message(0x8208, 1, With(U32(plci), {0x01, 0x80, 0})));  // INFO_IND alerting
        Receive(Message(0x8203, 2, With(U32(plci), {0, 0, 0})));
        Receive(Message(0x8182, 0, With(U32(ncci), {0, 0})));  // CONNECT_B3_CONF
        Receive(Message(0x8283, 3, With(U32(ncci), {0})));
        Receive(Message(0x8286, 4, With(U32(ncci), {0, 0, 0, 0, 2, 0, 7, 0})), {'h', 'i'});
        Receive(Message(0x8186, 0, With(U32(ncci), {0xCD, 0xAB, 0, 0})));  // DATA_B3_CONF
        Receive(Message(0x8284, 5, With(U32(ncci), {0, 0, 0})));
        Receive(Message(0x8204, 6, With(U32(plci), {0x90, 0x34})));
        const std::string n = std::to_string(k) + " ";
        EXPECT_EQ(seen, (std::vector<std::string>{
                            n + "AlertConf", n + "InfoInd 8001", n + "ConnectActive",
                            n + "ConnectB3Conf " + Hex(ncci, 8), n + "ConnectB3Active",
                            n + "DataB3Ind hi", n + "DataB3Conf", n + "DisconnectB3Ind",
                            n + "Disconnected 3490"}));
        using E = EveryCall;
        EXPECT_EQ(hooks,
                  (std::vector<int>{
                      static_cast<int>(E::ConnectActive), static_cast<int>(E::ConnectB3Active),
                      static_cast<int>(E::DisconnectB3), static_cast<int>(E::Disconnect),
                      static_cast<int>(E::CallEnded)}));
        EXPECT_EQ(calls.Count(), 0u);
        Puts();
    }
}

TEST_F(Router, ConnectConfCreatesTheRecordsOfOwnCallsOnly) {
    Receive(Message(0x8102, 7, With(U32(0x301), {0, 0})));        // SMS from the page
    Receive(Message(0x8102, 8, With(U32(0x302), {0x03, 0x20})));  // D-Mail, refused
    Receive(Message(0x8102, 3, With(U32(0x303), {0, 0})));        // no purpose tag of ours
    EXPECT_EQ(seen, (std::vector<std::string>{"7 ConnectConf 0", "8 ConnectConf 8195"}));
    ASSERT_EQ(calls.Count(), 1u);
    EXPECT_EQ(calls[0].PLCI, 0x301u);
    EXPECT_EQ(calls[0].Kind, CallKind::UserSms);
}

TEST_F(Router, UnwantedB3LinkIsEndedAndDataIsAnsweredOnceWhenItsOwnerFails) {
    Call(0x101, CallKind::Abheben, 0x10101);
    owner.wantsB3 = false;
    Receive(Message(0x8283, 3, With(U32(0x10101), {0})));
    EXPECT_EQ(Puts(), (std::vector<std::string>{"0C 00 01 00 83 83 03 00 01 01 01 00",
                                                "0D 00 01 00 84 80 00 00 01 01 01 00 00"}));
    owner.throwOnData = true;
    capi.Feed(Message(0x8286, 4, With(U32(0x10101), {0, 0, 0, 0, 1, 0, 9, 0})), {'x'});
    EXPECT_THROW(session.WMCapiSignal(), std::runtime_error);
    EXPECT_EQ(Puts(), (std::vector<std::string>{"0E 00 01 00 86 83 00 00 01 01 01 00 09 00"}));
}

TEST_F(Router, LostLinkEndsEveryCallNewestFirstWithoutSending) {
    Call(0x101, CallKind::SmsAn);
    Call(0x201, CallKind::DMailOut);
    router.EndAllCalls(reason::kLinkLost);
    EXPECT_EQ(seen, (std::vector<std::string>{"8 Disconnected 3301", "4 Disconnected 3301"}));
    EXPECT_EQ(calls.Count(), 0u);
    EXPECT_TRUE(Puts().empty());
}

}  // namespace
}  // namespace tolvar
