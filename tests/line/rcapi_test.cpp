// The exchange through the real libcapi20 and its rcapi module, against a
// tolvar-line process on a free port.
#include <capi20.h>
#include <gtest/gtest.h>

#include "harness.h"

namespace tolvar::line::test {
namespace {

const char* kTwoLines =
    "manufacturer \"Test exchange 1\"\n"
    "line a msn=5551234,5551235 area=30\n"
    "line b msn=7770001 area=40\n";

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
    Bytes expect{0x08, 0x81, '5', '5', '5', '1', '2', '3', '4', 0x0B, 0x21,
                 0x83, '3',  '0', '1', '2', '3', '4', '5', '6', '7'};
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
    app.Put(0x8304, disc->num, Writer().U32(plci).bytes());
    EXPECT_FALSE(line.WaitLog("violation", 300));
}

}  // namespace
}  // namespace tolvar::line::test
