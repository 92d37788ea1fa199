// The rule tree in the registry: the first start, the exact keys a save
// writes, what a reload gives back, and loads that stop on a malformed entry
// without letting the next save destroy the stored rules.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "core/datetime.h"
#include "core/error.h"
#include "registry/registry.h"
#include "rules/rule_store.h"
#include "support/hive_header.h"
#include "temp_hive.h"

namespace tolvar {
namespace {

using test::TempHive;
using LabelList = std::vector<std::string>;

const std::string kHeader = test::kHiveHeader;
const std::string kMsn = "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\MSN";

LabelList Labels(const RuleNode::Nodes& nodes) {
    LabelList labels;
    for (const auto& n : nodes) labels.push_back(n->Text());
    return labels;
}

const TActionItem& Entry(const RuleNode& node, std::size_t i) {
    return (*node.Entries())[i];
}

const RuleNode& Child(const RuleNode& node, const std::string& label) {
    for (const auto& c : node.Children())
        if (c->Text() == label) return *c;
    throw std::runtime_error("no child " + label);
}

TEST(RuleStorage, FirstStartGivesTheDefaultTree) {
    TempHive hive;
    Registry reg(hive.Path());
    std::vector<Page> pages;
    RuleStore store([&](Page p) { pages.push_back(p); });
    store.LoadRules(reg);

    EXPECT_FALSE(store.LoadError());
    EXPECT_EQ(pages, std::vector<Page>{Page::Ueberwachung});
    ASSERT_EQ(Labels(store.MsnNodes()), LabelList{"Ihre TEL/FAX Nummer !"});
    const RuleNode& msn = *store.MsnNodes()[0];
    EXPECT_TRUE(msn.Expanded);
    EXPECT_EQ(Labels(msn.Children()), (LabelList{"Unbekannt/Analog", "Sonstige"}));
    for (const auto& caller : msn.Children()) {
        ASSERT_EQ(caller->Entries()->Count(), 1u);
        EXPECT_EQ(Entry(*caller, 0).StartTime, 0.0);
        EXPECT_EQ(Entry(*caller, 0).Action, kActionAus);
    }
    // The default lives in memory only until the next save.
    EXPECT_EQ(hive.Text().find("Ihre"), std::string::npos);

    store.SaveRules(reg);
    const std::string text = hive.Text();
    for (const char* caller : {"Sonstige", "Unbekannt/Analog"})
        EXPECT_NE(text.find(kMsn + "\\Ihre TEL/FAX Nummer !\\" + caller +
                            "\\00:00]\n\"Action\"=dword:00000000\n\"Param\"=\"\"\n"),
                  std::string::npos)
            << caller;

    // After the next start the registry's order puts "Sonstige" first.
    RuleStore again;
    again.LoadRules(reg);
    ASSERT_EQ(again.MsnNodes().size(), 1u);
    EXPECT_EQ(Labels(again.MsnNodes()[0]->Children()), (LabelList{"Sonstige", "Unbekannt/Analog"}));
}

TEST(RuleStorage, SaveWritesTheExactKeysAndLoadsThemBack) {
    TempHive hive;
    Registry reg(hive.Path());
    RuleStore store;
    RuleNode& anonymous = store.AddMsnNode();  // empty label: stored as "@"
    RuleNode& mutter = store.AddCallerNode(anonymous, "017812 Mutter");
    (*mutter.Entries())[0] = {TimeOfDay(22, 0), kActionSound, "/home/anna/klingel.wav"};
    mutter.Entries()->Add({TimeOfDay(6, 0), kActionAbfangen, ""});
    (*anonymous.Children()[0]->Entries())[0] = {0.0, kActionAusfuehren, "xmessage \"Anruf\""};
    store.AddCallerNode(anonymous, "");  // never stored

    RuleNode& buero = store.AddMsnNode();
    store.SetLabel(buero, "5551234 Büro");
    (*buero.Children()[0]->Entries())[0] = {0.0, kActionSmsAn, "0171 Chef"};
    RuleNode& nothing = store.AddMsnNode();  // no callers left: not stored
    store.DeleteCallerNode(*nothing.Children()[0]);
    store.DeleteCallerNode(*nothing.Children()[0]);
    store.SetLabel(nothing, "5550000");

    store.SaveRules(reg);
    EXPECT_EQ(hive.Text(), kHeader + R"([HKEY_CURRENT_USER\Software]

[HKEY_CURRENT_USER\Software\Brenwick]

[HKEY_CURRENT_USER\Software\Brenwick\Tolvar]

[HKEY_CURRENT_USER\Software\Brenwick\Tolvar\MSN]

[HKEY_CURRENT_USER\Software\Brenwick\Tolvar\MSN\5551234 Büro]

[HKEY_CURRENT_USER\Software\Brenwick\Tolvar\MSN\5551234 Büro\Sonstige]

[HKEY_CURRENT_USER\Software\Brenwick\Tolvar\MSN\5551234 Büro\Sonstige\00:00]
"Action"=dword:00000000
"Param"=""

[HKEY_CURRENT_USER\Software\Brenwick\Tolvar\MSN\5551234 Büro\Unbekannt/Analog]

[HKEY_CURRENT_USER\Software\Brenwick\Tolvar\MSN\5551234 Büro\Unbekannt/Analog\00:00]
"Action"=dword:00000004
"Param"="0171 Chef"

[HKEY_CURRENT_USER\Software\Brenwick\Tolvar\MSN\@]

[HKEY_CURRENT_USER\Software\Brenwick\Tolvar\MSN\@\017812 Mutter]

[HKEY_CURRENT_USER\Software\Brenwick\Tolvar\MSN\@\017812 Mutter\06:00]
"Action"=dword:00000003
"Param"=""

[HKEY_CURRENT_USER\Software\Brenwick\Tolvar\MSN\@\017812 Mutter\22:00]
"Action"=dword:00000002
"Param"="/home/anna/klingel.wav"

[HKEY_CURRENT_USER\Software\Brenwick\Tolvar\MSN\@\Sonstige]

[HKEY_CURRENT_USER\Software\Brenwick\Tolvar\MSN\@\Sonstige\00:00]
"Action"=dword:00000000
"Param"=""

[HKEY_CURRENT_USER\Software\Brenwick\Tolvar\MSN\@\Unbekannt/Analog]

[HKEY_CURRENT_USER\Software\Brenwick\Tolvar\MSN\@\Unbekannt/Analog\00:00]
"Action"=dword:00000001
"Param"="xmessage \"Anruf\""

)");

    RuleStore loaded;
    loaded.LoadRules(reg);
    ASSERT_EQ(Labels(loaded.MsnNodes()), (LabelList{"", "5551234 Büro"}));  // "@" maps back
    const RuleNode& msn = *loaded.MsnNodes()[0];
    EXPECT_EQ(Labels(msn.Children()), (LabelList{"017812 Mutter", "Sonstige", "Unbekannt/Analog"}));
    const RuleNode& m = Child(msn, "017812 Mutter");
    ASSERT_EQ(m.Entries()->Count(), 2u);
    EXPECT_EQ(Entry(m, 0).StartTime, TimeOfDay(6, 0));
    EXPECT_EQ(Entry(m, 0).Action, kActionAbfangen);
    EXPECT_EQ(Entry(m, 1).StartTime, TimeOfDay(22, 0));
    EXPECT_EQ(Entry(m, 1).Param, "/home/anna/klingel.wav");
    EXPECT_EQ(Entry(Child(msn, "Unbekannt/Analog"), 0).Param, "xmessage \"Anruf\"");
    EXPECT_EQ(Entry(Child(*loaded.MsnNodes()[1], "Unbekannt/Analog"), 0).Action, kActionSmsAn);

    // The reloaded tree serves the lookup: an empty called number finds "@".
    EXPECT_EQ(loaded.FindMsnNode(""), &msn);
}

TEST(RuleStorage, SaveReplacesTheFileOnceAndASaveCutShortKeepsTheOldRules) {
    TempHive hive;
    Registry reg(hive.Path());
    RuleStore old;
    old.SetLabel(old.AddMsnNode(), "5551234");
    old.SaveRules(reg);
    const std::string before = hive.Text();

    RuleStore bigger;
    RuleNode& msn = bigger.AddMsnNode();
    bigger.SetLabel(msn, "5559999");
    for (int i = 10; i < 50; ++i)
        bigger.AddCallerNode(msn, "0171" + std::to_string(i))
            .Entries()
            ->Add({TimeOfDay(i % 24, 0), kActionSound, "klingel.wav"});
    test::Replacements replacements(hive.Path());
    {
        // Room for the old rules, not for the new ones.
        test::DiskFull full(before.size() + 500);
        EXPECT_THROW(bigger.SaveRules(reg), RegistryError);
    }
    EXPECT_EQ(hive.Text(), before);
    EXPECT_EQ(replacements.Count(), 0);
    RuleStore reloaded;
    reloaded.LoadRules(reg);
    EXPECT_EQ(Labels(reloaded.MsnNodes()), LabelList{"5551234"});

    bigger.SaveRules(reg);
    EXPECT_EQ(replacements.Count(), 1);
    reloaded.LoadRules(reg);
    ASSERT_EQ(Labels(reloaded.MsnNodes()), LabelList{"5559999"});
    EXPECT_EQ(reloaded.MsnNodes()[0]->Children().size(), 42u);
}

TEST(RuleStorage, CallerLabelsAreNeverMapped) {
    TempHive hive;
    hive.Write(kHeader + kMsn + R"(\5551234\@\00:00]
"Action"=dword:00000002

)");
    Registry reg(hive.Path());
    RuleStore store;
    store.LoadRules(reg);
    ASSERT_EQ(Labels(store.MsnNodes()), LabelList{"5551234"});
    const RuleNode& caller = *store.MsnNodes()[0]->Children().at(0);
    EXPECT_EQ(caller.Text(), "@");
    EXPECT_EQ(Entry(caller, 0).Param, "");  // a missing "Param" reads as empty
    store.SaveRules(reg);
    EXPECT_NE(hive.Text().find(kMsn + "\\5551234\\@\\00:00]"), std::string::npos);
}

TEST(RuleStorage, StartTimesKeepOnlyHoursAndMinutes) {
    TempHive hive;
    Registry reg(hive.Path());
    RuleStore store;
    RuleNode& msn = store.AddMsnNode();
    store.SetLabel(msn, "5551234");
    RuleNode& caller = store.AddCallerNode(msn, "0178");
    TActionList& entries = *caller.Entries();
    entries[0].StartTime = TimeOfDay(8, 30, 45);
    entries.Add({TimeOfDay(23, 59, 59, 999), kActionAus, ""});
    entries.Add({1.0 + TimeOfDay(12, 0), kActionAus, ""});  // only the time of day counts
    // Two entries in one minute share a key; the later in the list wins.
    entries.Add({TimeOfDay(7, 15, 10), kActionAusfuehren, "erst"});
    entries.Add({TimeOfDay(7, 15, 50), kActionSound, "zweit"});
    // Every hour with minutes at the edges, the way a time picker computes them.
    RuleNode& clock = store.AddCallerNode(msn, "0179");
    clock.Entries()->Delete(0);
    for (int h = 0; h < 24; ++h)
        for (int m : {0, 1, 29, 59})
            clock.Entries()->Add({(h * 3600 + m * 60) / 86400.0, kActionAus, ""});

    store.SaveRules(reg);
    const std::string text = hive.Text();
    EXPECT_NE(text.find(kMsn + "\\5551234\\0178\\08:30]"), std::string::npos);
    EXPECT_NE(text.find(kMsn + "\\5551234\\0178\\12:00]"), std::string::npos);
    EXPECT_NE(text.find(kMsn + "\\5551234\\0178\\23:59]"), std::string::npos);
    EXPECT_NE(text.find(kMsn + "\\5551234\\0178\\07:15]\n\"Action\"=dword:00000002\n"
                               "\"Param\"=\"zweit\"\n"),
              std::string::npos);
    EXPECT_EQ(text.find("erst"), std::string::npos);

    RuleStore loaded;
    loaded.LoadRules(reg);
    const RuleNode& m = *loaded.MsnNodes().at(0);
    const RuleNode& c = Child(m, "0178");
    ASSERT_EQ(c.Entries()->Count(), 4u);
    EXPECT_EQ(FormatLongTime(Entry(c, 0).StartTime), "07:15:00");
    EXPECT_EQ(FormatLongTime(Entry(c, 1).StartTime), "08:30:00");
    EXPECT_EQ(Entry(c, 1).StartTime, TimeOfDay(8, 30));
    EXPECT_EQ(FormatLongTime(Entry(c, 2).StartTime), "12:00:00");
    EXPECT_EQ(FormatLongTime(Entry(c, 3).StartTime), "23:59:00");

    const RuleNode& k = Child(m, "0179");
    ASSERT_EQ(k.Entries()->Count(), 96u);
    std::size_t i = 0;
    for (int h = 0; h < 24; ++h)
        for (int min : {0, 1, 29, 59}) EXPECT_EQ(Entry(k, i++).StartTime, TimeOfDay(h, min));
}

TEST(RuleStorage, NodesThatCannotBeStoredAreSkipped) {
    TempHive hive;
    hive.Write(kHeader + kMsn + R"(\5551234\0711]

)" + kMsn + R"(\5551234\Sonstige\00:00]
"Action"=dword:00000000
"Param"=""

)");
    Registry reg(hive.Path());
    RuleStore store;
    store.LoadRules(reg);
    RuleNode& msn = *store.MsnNodes().at(0);
    // A caller key without entries, only possible by hand: no entry applies.
    const RuleNode& bare = Child(msn, "0711");
    EXPECT_TRUE(bare.Entries()->Empty());
    EXPECT_EQ(RuleStore::SelectEntry(bare, 0.5), std::nullopt);

    // A backslash would nest keys: such labels are left out, never split.
    store.SetLabel(store.AddCallerNode(msn, ""), "0178\\9 Oma");
    RuleNode& slashed = store.AddMsnNode();
    store.SetLabel(slashed, "555\\1");

    store.SaveRules(reg);
    EXPECT_EQ(hive.Text(), kHeader + R"([HKEY_CURRENT_USER\Software]

[HKEY_CURRENT_USER\Software\Brenwick]

[HKEY_CURRENT_USER\Software\Brenwick\Tolvar]

[HKEY_CURRENT_USER\Software\Brenwick\Tolvar\MSN]

[HKEY_CURRENT_USER\Software\Brenwick\Tolvar\MSN\5551234]

[HKEY_CURRENT_USER\Software\Brenwick\Tolvar\MSN\5551234\Sonstige]

[HKEY_CURRENT_USER\Software\Brenwick\Tolvar\MSN\5551234\Sonstige\00:00]
"Action"=dword:00000000
"Param"=""

)");
}

TEST(RuleStorage, EntryKeysReadHoursAndMinutesOnly) {
    struct Case {
        const char* key;
        double start;
    };
    const Case cases[] = {
        {"00:00", TimeOfDay(0, 0)},
        {"23:59", TimeOfDay(23, 59)},
        {"06.30", TimeOfDay(6, 30)},      // the third character is not looked at
        {"07:15 Uhr", TimeOfDay(7, 15)},  // nor what follows the minute
    };
    for (const auto& c : cases) {
        TempHive hive;
        hive.Write(kHeader + kMsn + "\\5551234\\0178\\" + c.key + "]\n\"Action\"=dword:00000001\n");
        Registry reg(hive.Path());
        RuleStore store;
        store.LoadRules(reg);
        const RuleNode& caller = *store.MsnNodes().at(0)->Children().at(0);
        EXPECT_EQ(Entry(caller, 0).StartTime, c.start) << c.key;
    }
}

// A hive whose second caller holds one bad entry, with good rules before and
// after it.
std::string HiveWithBadEntry(const std::string& badKey, const std::string& badValues) {
    return kHeader + kMsn + R"(\5551234\0178\06:00]
"Action"=dword:00000002
"Param"="a.wav"

)" + kMsn + "\\5551234\\0179\\" +
           badKey + "]\n" + badValues + "\n" + kMsn + R"(\5551234\0179\22:00]
"Action"=dword:00000003

)" + kMsn + R"(\5551234\Sonstige\00:00]
"Action"=dword:00000000

)" + kMsn + R"(\5559999\Sonstige\00:00]
"Action"=dword:00000001
"Param"="nicht verlieren"

)";
}

TEST(RuleStorage, MalformedEntryStopsTheLoadAndBlocksTheSave) {
    const std::string good = "\"Action\"=dword:00000000\n\"Param\"=\"\"\n";
    struct Case {
        const char* key;
        std::string values;
    };
    const Case cases[] = {
        {"6:00", good},
        {"24:00", good},
        {"12:60", good},
        {"ab:cd", good},
        {"06:0", good},
        {"-1:00", good},
        {"06:00", "\"Param\"=\"\"\n"},    // no "Action"
        {"06:00", "\"Action\"=\"1\"\n"},  // "Action" not an integer
        {"06:00", "\"Action\"=dword:00000000\n\"Param\"=dword:00000001\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.key) + " / " + c.values);
        TempHive hive;
        hive.Write(HiveWithBadEntry(c.key, c.values));
        Registry reg(hive.Path());
        std::vector<Page> pages;
        RuleStore store([&](Page p) { pages.push_back(p); });

        try {
            store.LoadRules(reg);
            ADD_FAILURE() << "the load did not fail";
        } catch (const TolvarError& e) {
            EXPECT_NE(
                std::string(e.what()).find(
                    std::string("\\Software\\Brenwick\\Tolvar\\MSN\\5551234\\0179\\") + c.key),
                std::string::npos)
                << e.what();
        }
        ASSERT_TRUE(store.LoadError());

        // What was read before the bad key stays; nothing after it, no default.
        ASSERT_EQ(Labels(store.MsnNodes()), LabelList{"5551234"});
        const RuleNode& msn = *store.MsnNodes()[0];
        ASSERT_EQ(Labels(msn.Children()), LabelList{"0178"});
        EXPECT_EQ(Entry(*msn.Children()[0], 0).Param, "a.wav");
        EXPECT_TRUE(pages.empty());
        // The lookup still works on what was read.
        EXPECT_EQ(store.FindCallerNode(msn, "0178123"), msn.Children()[0].get());

        // Saving would replace the stored rules by this part of them: refused.
        const std::string before = hive.Text();
        EXPECT_THROW(store.SaveRules(reg), TolvarError);
        EXPECT_EQ(hive.Text(), before);

        // Once the file is put right, a load succeeds and saving works again.
        hive.Write(HiveWithBadEntry("06:00", good));
        store.LoadRules(reg);
        EXPECT_FALSE(store.LoadError());
        store.SaveRules(reg);
        EXPECT_NE(hive.Text().find("nicht verlieren"), std::string::npos);
        EXPECT_EQ(Labels(store.MsnNodes()), (LabelList{"5551234", "5559999"}));
    }
}

TEST(RuleStorage, UnreadableHiveLeavesTheTreeEmptyAndTheFileAlone) {
    TempHive hive;
    const std::string broken =
        kHeader + kMsn + "\\5551234\\Sonstige\\00:00]\n\"Action\"=dwurst:1\n";
    hive.Write(broken);
    Registry reg(hive.Path());
    RuleStore store;
    EXPECT_THROW(store.LoadRules(reg), TolvarError);
    EXPECT_TRUE(store.MsnNodes().empty());
    EXPECT_THROW(store.SaveRules(reg), TolvarError);
    EXPECT_EQ(hive.Text(), broken);
}

}  // namespace
}  // namespace tolvar
