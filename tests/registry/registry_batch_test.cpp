// Batches: many changes reach the file as one replacement, or none at all.

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "registry/registry.h"
#include "support/hive_header.h"
#include "test_files.h"

namespace tolvar {
namespace {

using test::ReadAll;
using test::Replacements;
using test::TempDir;
using test::WriteAll;

const std::string kHeader = test::kHiveHeader;
const std::string kTolvar = "\\Software\\Brenwick\\Tolvar";
const std::string kStart = kHeader + R"([HKEY_CURRENT_USER\Software\Brenwick\Tolvar\DMail]
"MSN"="5551234"

[HKEY_CURRENT_USER\Software\Brenwick\Tolvar\MSN\5551234\Sonstige\00:00]
"Action"=dword:00000000
"Param"=""

)";

// The names in the folder besides the hive file: temporary files left behind.
std::vector<std::string> Leftovers(const TempDir& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
        if (entry.path().filename() != "registry.reg")
            names.push_back(entry.path().filename().string());
    return names;
}

void WriteEntry(Registry& reg, const std::string& msn, int action) {
    auto key = reg.OpenKey(kTolvar + "\\MSN\\" + msn + "\\Sonstige\\00:00");
    key->WriteInteger("Action", action);
    key->WriteString("Param", "");
    key->Close();
}

struct BatchCase {
    const char* what;
    std::function<void(Registry&, Replacements&)> changes;  // made inside one batch
    int replacements;
    std::vector<std::string> present;  // in the file afterwards
    std::vector<std::string> absent;
};

TEST(RegistryBatch, ReachesTheFileAsOneReplacement) {
    const BatchCase cases[] = {
        {"values of several keys",
         [](Registry& reg, Replacements&) {
             auto dmail = reg.OpenKey(kTolvar + "\\DMail");
             dmail->WriteInteger("ACKDelay", 3000);
             dmail->WriteInteger("PacketDelay", 20);
             dmail->Close();
             reg.OpenKey(kTolvar + "\\SMS\\Subscriber")->WriteString("017812345 Mutter", "");
             reg.OpenKey(kTolvar + "\\Agent")->Close();
         },
         1,
         {"\"MSN\"=\"5551234\"\n\"ACKDelay\"=dword:00000bb8\n\"PacketDelay\"=dword:00000014\n",
          "\\Tolvar\\SMS\\Subscriber]\n\"017812345 Mutter\"=\"\"\n", "\\Tolvar\\Agent]\n"},
         {}},
        {"the rules replaced whole",
         [](Registry& reg, Replacements&) {
             reg.DeleteKey(kTolvar + "\\MSN");
             for (int i = 1; i <= 9; ++i) WriteEntry(reg, "555000" + std::to_string(i), i % 6);
         },
         1,
         {"\\MSN\\5550001\\Sonstige\\00:00]\n\"Action\"=dword:00000001\n",
          "\\MSN\\5550009\\Sonstige\\00:00]\n\"Action\"=dword:00000003\n"},
         {"5551234\\Sonstige"}},
        {"a nested batch joins the outer one",
         [](Registry& reg, Replacements& counter) {
             {
                 RegistryBatch inner(reg);
                 WriteEntry(reg, "5559999", 3);
                 inner.Commit();
             }
             EXPECT_EQ(counter.Count(), 0) << "the inner commit wrote";
             reg.OpenKey(kTolvar + "\\DMail")->WriteString("Suffix", "0");
         },
         1,
         {"\\MSN\\5559999\\Sonstige\\00:00]\n\"Action\"=dword:00000003\n", "\"Suffix\"=\"0\"\n"},
         {}},
        {"what is there already, written back",
         [](Registry& reg, Replacements&) {
             reg.OpenKey(kTolvar + "\\DMail")->WriteString("msn", "5551234");
             WriteEntry(reg, "5551234", 0);
         },
         0,
         {},
         {}},
        {"nothing", [](Registry&, Replacements&) {}, 0, {}, {}},
    };
    for (const BatchCase& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const std::string path = dir.File("registry.reg");
        WriteAll(path, kStart);
        Registry reg(path);
        Replacements counter(path);
        {
            RegistryBatch batch(reg);
            c.changes(reg, counter);
            EXPECT_EQ(counter.Count(), 0);
            EXPECT_EQ(ReadAll(path), kStart);
            batch.Commit();
        }
        EXPECT_EQ(counter.Count(), c.replacements);
        const std::string text = ReadAll(path);
        if (c.replacements == 0) {
            EXPECT_EQ(text, kStart);
        }
        for (const std::string& s : c.present) EXPECT_NE(text.find(s), std::string::npos) << s;
        for (const std::string& s : c.absent) EXPECT_EQ(text.find(s), std::string::npos) << s;
        EXPECT_TRUE(Leftovers(dir).empty());
    }
}

TEST(RegistryBatch, EndingWithoutCommitWritesNothing) {
    TempDir dir;
    const std::string path = dir.File("registry.reg");
    WriteAll(path, kStart);
    Registry reg(path);
    Replacements counter(path);
    const auto save = [&] {
        RegistryBatch batch(reg);
        reg.DeleteKey(kTolvar + "\\MSN");
        WriteEntry(reg, "5559999", 3);
        auto dmail = reg.OpenKey(kTolvar + "\\DMail");
        dmail->WriteString("MSN", "999");
        throw std::runtime_error("in the middle of the save");
    };
    EXPECT_THROW(save(), std::runtime_error);

    EXPECT_EQ(ReadAll(path), kStart);
    EXPECT_EQ(counter.Count(), 0);
    EXPECT_TRUE(Leftovers(dir).empty());
    // The program sees the old state again, and later writes do not bring the
    // dropped changes along.
    EXPECT_TRUE(reg.KeyExists(kTolvar + "\\MSN\\5551234\\Sonstige\\00:00"));
    EXPECT_FALSE(reg.KeyExists(kTolvar + "\\MSN\\5559999"));
    reg.OpenKey(kTolvar + "\\DMail")->WriteString("Suffix", "0");
    const std::string text = ReadAll(path);
    EXPECT_NE(text.find("\"MSN\"=\"5551234\"\n\"Suffix\"=\"0\"\n"), std::string::npos) << text;
    EXPECT_NE(text.find("5551234\\Sonstige\\00:00]"), std::string::npos) << text;
    EXPECT_EQ(text.find("5559999"), std::string::npos) << text;
}

TEST(RegistryBatch, InnerBatchWithoutCommitDropsOnlyItsOwnPart) {
    TempDir dir;
    const std::string path = dir.File("registry.reg");
    WriteAll(path, kStart);
    Registry reg(path);
    Replacements counter(path);
    {
        RegistryBatch outer(reg);
        WriteEntry(reg, "5550001", 1);
        try {
            RegistryBatch inner(reg);
            WriteEntry(reg, "5550002", 2);
            reg.DeleteKey(kTolvar + "\\MSN\\5550001");
            throw std::runtime_error("inner");
        } catch (const std::runtime_error&) {
        }
        EXPECT_TRUE(reg.KeyExists(kTolvar + "\\MSN\\5550001"));
        EXPECT_FALSE(reg.KeyExists(kTolvar + "\\MSN\\5550002"));
        WriteEntry(reg, "5550003", 3);
        outer.Commit();
    }
    EXPECT_EQ(counter.Count(), 1);
    const std::string text = ReadAll(path);
    EXPECT_NE(text.find("\\MSN\\5550001\\"), std::string::npos);
    EXPECT_EQ(text.find("\\MSN\\5550002"), std::string::npos);
    EXPECT_NE(text.find("\\MSN\\5550003\\"), std::string::npos);
}

// Editors either rewrite the file in place or write a new one and rename it.
TEST(RegistryBatch, HandEditBetweenOpenAndCommitSurvives) {
    for (const bool byRename : {false, true}) {
        SCOPED_TRACE(byRename ? "by rename" : "in place");
        TempDir dir;
        const std::string path = dir.File("registry.reg");
        WriteAll(path, kStart);
        Registry reg(path);
        RegistryBatch batch(reg);
        reg.DeleteKey(kTolvar + "\\MSN");
        WriteEntry(reg, "5559999", 3);
        reg.OpenKey(kTolvar + "\\DMail")->WriteInteger("ACKDelay", 3000);

        std::string edited = kStart;
        edited.replace(edited.find("\"5551234\""), 9, "\"42\"\n\"Suffix\"=\"0\"");
        edited +=
            "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\SMS\\Prefix]\n\"0171\"=\"Netz\"\n";
        WriteAll(byRename ? path + ".new" : path, edited);
        if (byRename) std::filesystem::rename(path + ".new", path);

        // Reads inside the batch see the edit under the batch's changes.
        auto prefix = reg.OpenKey(kTolvar + "\\SMS\\Prefix", false);
        ASSERT_TRUE(prefix);
        EXPECT_EQ(prefix->ReadString("0171"), "Netz");
        EXPECT_EQ(reg.OpenKey(kTolvar + "\\DMail")->ReadString("MSN"), "42");
        EXPECT_FALSE(reg.KeyExists(kTolvar + "\\MSN\\5551234"));
        batch.Commit();

        const std::string text = ReadAll(path);
        EXPECT_NE(text.find("\"MSN\"=\"42\"\n\"Suffix\"=\"0\"\n\"ACKDelay\"=dword:00000bb8\n"),
                  std::string::npos)
            << text;
        EXPECT_NE(text.find("\\SMS\\Prefix]\n\"0171\"=\"Netz\"\n"), std::string::npos) << text;
        EXPECT_NE(text.find("\\MSN\\5559999\\Sonstige\\00:00]"), std::string::npos) << text;
        EXPECT_EQ(text.find("5551234\\Sonstige"), std::string::npos) << text;
    }
}

TEST(RegistryBatch, ReadsSeeTheBatchAndDeleteKeyWorksInsideIt) {
    TempDir dir;
    const std::string path = dir.File("registry.reg");
    WriteAll(path, kStart);
    Registry reg(path);
    {
        RegistryBatch batch(reg);
        EXPECT_TRUE(reg.DeleteKey(kTolvar + "\\MSN\\5551234"));
        EXPECT_FALSE(reg.DeleteKey(kTolvar + "\\MSN\\5551234"));
        EXPECT_FALSE(reg.KeyExists(kTolvar + "\\MSN\\5551234"));
        EXPECT_FALSE(reg.OpenKey(kTolvar + "\\MSN\\5551234\\Sonstige", false));

        WriteEntry(reg, "5550001", 4);
        WriteEntry(reg, "5550002", 5);
        EXPECT_TRUE(reg.DeleteKey(kTolvar + "\\MSN\\5550002"));  // made in this batch
        auto msn = reg.OpenKey(kTolvar + "\\MSN", false);
        ASSERT_TRUE(msn);
        EXPECT_EQ(msn->GetKeyNames(), std::vector<std::string>{"5550001"});
        EXPECT_EQ(reg.OpenKey(kTolvar + "\\MSN\\5550001\\Sonstige\\00:00")->ReadInteger("Action"),
                  4);

        // A key opened earlier reads through the batch as well.
        auto dmail = reg.OpenKey(kTolvar + "\\DMail");
        reg.OpenKey(kTolvar + "\\DMail")->WriteString("Suffix", "7");
        EXPECT_EQ(dmail->ReadString("Suffix"), "7");
        EXPECT_EQ(ReadAll(path), kStart);
        batch.Commit();
    }
    Registry fresh(path);
    auto msn = fresh.OpenKey(kTolvar + "\\MSN", false);
    ASSERT_TRUE(msn);
    EXPECT_EQ(msn->GetKeyNames(), std::vector<std::string>{"5550001"});
    EXPECT_EQ(fresh.OpenKey(kTolvar + "\\DMail")->ReadString("Suffix"), "7");
}

TEST(RegistryBatch, KeyStillOpenAtCommitWritesWhenItCloses) {
    TempDir dir;
    const std::string path = dir.File("registry.reg");
    WriteAll(path, kStart);
    Registry reg(path);
    Replacements counter(path);
    std::optional<RegKey> open;
    {
        RegistryBatch batch(reg);
        WriteEntry(reg, "5550001", 1);
        open = reg.OpenKey(kTolvar + "\\DMail");
        open->WriteString("Suffix", "0");
        batch.Commit();
    }
    EXPECT_EQ(counter.Count(), 1);
    EXPECT_EQ(ReadAll(path).find("Suffix"), std::string::npos);
    open->Close();
    EXPECT_EQ(counter.Count(), 2);
    EXPECT_NE(ReadAll(path).find("\"Suffix\"=\"0\""), std::string::npos);
}

TEST(RegistryBatch, FailedCommitKeepsTheOldFileAndMayBeTriedAgain) {
    const std::string broken = kStart +
                               "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\SMS]\n"
                               "\"Zahl\"=dword:zz\n";
    struct Failure {
        const char* what;
        std::function<void(const std::string&path)> cause, undo;
    };
    std::optional<test::DiskFull> full;
    const Failure failures[] = {
        {"file broken by hand", [&](const std::string& p) { WriteAll(p, broken); },
         [&](const std::string& p) { WriteAll(p, kStart); }},
        {"disk full", [&](const std::string&) { full.emplace(); },
         [&](const std::string&) { full.reset(); }},
    };
    for (const Failure& f : failures) {
        SCOPED_TRACE(f.what);
        TempDir dir;
        const std::string path = dir.File("registry.reg");
        WriteAll(path, kStart);
        Registry reg(path);
        RegistryBatch batch(reg);
        reg.DeleteKey(kTolvar + "\\MSN");
        WriteEntry(reg, "5559999", 3);

        f.cause(path);
        const std::string before = ReadAll(path);
        try {
            batch.Commit();
            ADD_FAILURE() << "the commit did not fail";
        } catch (const RegistryError& e) {
            EXPECT_EQ(std::string(e.what()).rfind(path + ":", 0), 0u) << e.what();
        }
        EXPECT_EQ(ReadAll(path), before);
        f.undo(path);
        EXPECT_TRUE(Leftovers(dir).empty());

        batch.Commit();
        const std::string text = ReadAll(path);
        EXPECT_NE(text.find("\\MSN\\5559999\\Sonstige\\00:00]"), std::string::npos) << text;
        EXPECT_EQ(text.find("5551234\\Sonstige"), std::string::npos) << text;
    }
}

}  // namespace
}  // namespace tolvar
