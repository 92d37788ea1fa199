// The remembered receivers of both pages and the own D-Mail MSN, stored together.

#include "dmail/receiver_lists.h"

#include <gtest/gtest.h>

#include "registry/registry.h"
#include "support/files.h"
#include "support/recording_front_end.h"

namespace tolvar {
namespace {

using Which = ReceiverLists::Which;

TEST(ReceiverLists, RememberRemoveAndSaveTogether) {
    test::TempDir dir;
    const std::string path = dir.File("registry.reg");
    test::WriteAll(path,
                   "Windows Registry Editor Version 5.00\n\n"
                   "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\SMS\\Subscriber]\n"
                   "\"0171 Anna\"=\"\"\n\n"
                   "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\DMail]\n\"MSN\"=\"1\"\n\n");
    Registry registry(path);
    test::RecordingFrontEnd ui;
    ReceiverLists lists(ui);
    lists.Load(registry);
    EXPECT_EQ(ui.items[Control::cbSMSReceiver], std::vector<std::string>{"0171 Anna"});
    ui.texts[Control::edDMailOwnMSN] = "5551234";

    // (The count is read after each step: the kernel merges equal events.)
    test::Replacements replaced(path);
    lists.Remember(registry, Which::Sms, "0171 ANNA");  // known, whatever the case
    EXPECT_EQ(replaced.Count(), 1);
    lists.Remember(registry, Which::DMail, "5559 Büro");
    EXPECT_EQ(replaced.Count(), 2);
    lists.Remove(registry, Which::Sms, "0160 nicht da");  // not listed: nothing written
    EXPECT_EQ(replaced.Count(), 2);
    EXPECT_EQ(lists.Entries(Which::Sms), std::vector<std::string>{"0171 Anna"});
    EXPECT_EQ(ui.items[Control::cbDMailReceiver], std::vector<std::string>{"5559 Büro"});
    lists.Remove(registry, Which::Sms, "0171 Anna");
    EXPECT_EQ(replaced.Count(), 3);

    Registry reread(path);
    auto sms = reread.OpenKey(kSmsSubscriberKey, false);
    auto dmail = reread.OpenKey(kDMailSubscriberKey, false);
    ASSERT_TRUE(sms && dmail);
    EXPECT_TRUE(sms->GetValueNames().empty());
    EXPECT_EQ(dmail->GetValueNames(), std::vector<std::string>{"5559 Büro"});
    EXPECT_EQ(dmail->ReadString("5559 Büro"), "");
    EXPECT_EQ(reread.OpenKey("\\Software\\Brenwick\\Tolvar\\DMail", false)->ReadString("MSN"),
              "5551234");
}

}  // namespace
}  // namespace tolvar
