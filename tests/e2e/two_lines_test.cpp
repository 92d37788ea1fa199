// Two copies of the program on two lines of one exchange.

#include <gtest/gtest.h>

#include "support/files.h"
#include "support/line_fixture.h"

namespace tolvar {
namespace {

using namespace std::chrono_literals;

TEST(TwoLines, EachCopySeesTheCallsOfItsOwnLine) {
    const test::TempDir dir;
    const std::string scenario = dir.File("two-lines.scn");
    test::WriteAll(scenario, "line home msn=5551234 area=30\nline office msn=7770001 area=40\n");
    test::LineFixture line({"--scenario", scenario});
    auto home = line.StartTolvar("home", test::kShowIsdnTab, 0);
    auto office = line.StartTolvar("office", test::kShowIsdnTab, 1);
    ASSERT_TRUE(home->WaitFor("isdn: 000E", 10s));  // LISTEN_CONF
    ASSERT_TRUE(office->WaitFor("isdn: 000E", 10s));

    line.Ctl({"call", "0301234567", "7770001"});
    const auto ind = office->WaitFor("isdn: ", 10s);
    ASSERT_TRUE(ind);
    EXPECT_NE(ind->find(" CONNECT_IND "), std::string::npos) << *ind;
    EXPECT_TRUE(office->WaitFor("protokoll 2: ", 10s));

    line.Ctl({"call", "0401234567", "5551234"});
    const auto homeLine = home->WaitFor("protokoll 2: ", 10s);
    ASSERT_TRUE(homeLine);
    EXPECT_NE(homeLine->find("0401234567 -> 5551234"), std::string::npos) << *homeLine;
    // The office copy saw nothing of the home line's call.
    for (const auto& l : office->Lines()) EXPECT_EQ(l.find("0401234567"), std::string::npos) << l;

    home->Send("quit");
    office->Send("quit");
    EXPECT_EQ(home->Wait(5s), 0);
    EXPECT_EQ(office->Wait(5s), 0);
}

}  // namespace
}  // namespace tolvar
