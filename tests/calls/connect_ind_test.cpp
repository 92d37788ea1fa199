// CONNECT_IND decoding on its own: the fields, structures of every length,
// and a message that is shorter than its structures claim.

#include <gtest/gtest.h>

#include "calls/call_message.h"
#include "calls/connect_ind.h"

namespace tolvar {
namespace {

using test::Struct;

std::optional<ConnectIndication> Decode(const std::vector<std::uint8_t>& m) {
    return DecodeConnectInd(CapiMessageView(Bytes(m.data(), m.size())));
}

// A CONNECT_IND from its PLCI and CIP value and the four structures.
std::vector<std::uint8_t> Indication(const std::vector<std::vector<std::uint8_t>>& structures) {
    std::vector<std::uint8_t> p = {0x01, 0x02, 0x00, 0x00, 0x11, 0x00};
    for (const auto& s : structures) p.insert(p.end(), s.begin(), s.end());
    return test::Message(cmd::CONNECT_IND, 7, p);
}

TEST(DecodeConnectInd, ReadsTheFieldsAsTheExchangeDeliversThem) {
    test::CallSetup c;
    c.plci = 0x00020301;
    c.cip = 17;
    c.caller = "301234567";
    c.subaddress = "Gr\xFC\xDF";  // Windows-1252 bytes stay bytes
    const auto ind = Decode(test::ConnectInd(c));
    ASSERT_TRUE(ind);
    EXPECT_EQ(ind->plci, 0x00020301u);
    EXPECT_EQ(ind->cip, 17);
    EXPECT_EQ(ind->calledNumber, "5551234");
    EXPECT_EQ(ind->callingNumber, "301234567");
    EXPECT_EQ(ind->subaddressText, "Gr\xFC\xDF");
    EXPECT_EQ(ind->fault, "");
}

TEST(DecodeConnectInd, StructuresOfEveryShortLength) {
    struct Case {
        const char* name;
        std::vector<std::vector<std::uint8_t>> structures;
        const char* called;
        const char* calling;
        const char* subaddress;
    };
    const Case cases[] = {
        {"all empty", {{0}, {0}, {0}, {0}}, "", "", ""},
        {"type octets only", {{1, 0x81}, {1, 0x21}, {1, 0x80}, {1, 0x80}}, "", "", ""},
        {"calling: both leading octets, no digits",
         {{2, 0x81, '5'}, {2, 0x01, 0xA3}, {0}, {2, 0x80, 0x50}},
         "5",
         "",
         ""},
        {"one character each",
         {{2, 0x81, '5'}, {3, 0x21, 0x83, '3'}, {3, 0x80, 0x50, 'x'}, {3, 0x80, 0x50, 'y'}},
         "5",
         "3",
         "y"},
        {"called subaddress skipped by its length",
         {Struct({0x81}, "1"), Struct({0x21, 0x83}, "2"), Struct({0x80, 0x50}, "NICHT"),
          Struct({0x80, 0x50}, "ja")},
         "1",
         "2",
         "ja"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto ind = Decode(Indication(c.structures));
        ASSERT_TRUE(ind);
        EXPECT_EQ(ind->calledNumber, c.called);
        EXPECT_EQ(ind->callingNumber, c.calling);
        EXPECT_EQ(ind->subaddressText, c.subaddress);
        EXPECT_EQ(ind->fault, "");
    }
}

TEST(DecodeConnectInd, EveryPrefixFailsCleanly) {
    test::CallSetup c;
    c.caller = "301234567";
    c.subaddress = "abc";
    const auto full = test::ConnectInd(c);
    const char* const names[] = {"Called party number", "Calling party number",
                                 "Called party subaddress", "Calling party subaddress"};
    // Where each structure ends: 81 + 7 digits, 21 83 + 9 digits, empty, 80 50 + 3 characters.
    const std::size_t ends[] = {14 + 9, 14 + 9 + 12, 14 + 9 + 12 + 1, 14 + 9 + 12 + 1 + 6};
    for (std::size_t n = 0; n <= full.size(); ++n) {
        SCOPED_TRACE(n);
        // Exactly n bytes (ASan sees a read past them), Length saying so.
        std::vector<std::uint8_t> m(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n));
        if (n >= 2) m[0] = static_cast<std::uint8_t>(n);
        const auto ind = Decode(m);
        if (n < 14) {
            EXPECT_FALSE(ind);
            continue;
        }
        ASSERT_TRUE(ind);
        std::string expectedFault;
        for (std::size_t i = 0; i < 4; ++i)
            if (n < ends[i]) {
                expectedFault = names[i];
                break;
            }
        EXPECT_EQ(ind->fault, expectedFault);
        if (n < ends[1]) {
            EXPECT_EQ(ind->callingNumber, "");
        }
        if (n < ends[3]) {
            EXPECT_EQ(ind->subaddressText, "");
        }
    }
}

TEST(DecodeConnectInd, TheMessageEndsAtItsLength) {
    // Bytes behind the Length (CAPI's buffer is larger than the message) are
    // not part of it.
    test::CallSetup c;
    c.caller = "301234567";
    c.subaddress = "abc";
    const auto full = test::ConnectInd(c);
    for (std::size_t n = 14; n < full.size(); ++n) {
        SCOPED_TRACE(n);
        auto longer = full;
        longer[0] = static_cast<std::uint8_t>(n);
        std::vector<std::uint8_t> exact(longer.begin(),
                                        longer.begin() + static_cast<std::ptrdiff_t>(n));
        const auto a = Decode(longer);
        const auto b = Decode(exact);
        ASSERT_TRUE(a && b);
        EXPECT_EQ(a->fault, b->fault);
        EXPECT_EQ(a->calledNumber, b->calledNumber);
        EXPECT_EQ(a->callingNumber, b->callingNumber);
        EXPECT_EQ(a->subaddressText, b->subaddressText);
    }
}

TEST(DecodeConnectInd, NothingPastTheParameterArea) {
    // A 200-byte message whose calling subaddress ends at byte 189, one past
    // the 180-byte parameter area (bytes 8 to 187).
    std::vector<std::uint8_t> called = Struct({0x81}, "5551234");
    std::vector<std::uint8_t> calling = Struct({0x21, 0x83}, "301234567");
    const std::size_t used = 14 + called.size() + calling.size() + 1;
    std::vector<std::uint8_t> sub = {0x80, 0x50};
    sub.resize(189 - used - 1, 'a');
    auto m = Indication({called, calling, {0}, Struct(sub)});
    ASSERT_EQ(m.size(), 189u);
    m.resize(200, 0);
    m[0] = 200;
    auto ind = Decode(m);
    ASSERT_TRUE(ind);
    EXPECT_EQ(ind->fault, "Calling party subaddress");
    EXPECT_EQ(ind->subaddressText, "");
    EXPECT_EQ(ind->callingNumber, "301234567");

    // One byte shorter, it ends at byte 187 and fits.
    sub.pop_back();
    m = Indication({called, calling, {0}, Struct(sub)});
    m.resize(200, 0);
    m[0] = 200;
    ind = Decode(m);
    ASSERT_TRUE(ind);
    EXPECT_EQ(ind->fault, "");
    EXPECT_EQ(ind->subaddressText.size(), sub.size() - 2);
}

}  // namespace
}  // namespace tolvar
