// Reading a large tree in one go, reading the file ahead, writes that change
// nothing, and key lines in any order: what makes ten thousand rules quick to
// load must not change what is read.

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "registry/hive.h"
#include "registry/registry.h"
#include "support/hive_header.h"
#include "test_files.h"

namespace tolvar {
namespace {

using test::ReadAll;
using test::TempDir;
using test::WriteAll;

const std::string kHeader = test::kHiveHeader;
const std::string kRules = "\\Software\\Brenwick\\Tolvar\\MSN";

std::string Key(const std::string& below, const std::string& values = "") {
    return "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\MSN" + below + "]\n" + values + "\n";
}

// Every key below root as "path: values", depth first.
void Dump(const RegKeyReader& key, std::string& out) {
    out += key.Path() + ":";
    for (const char* name : {"Action", "Param"}) {
        if (!key.ValueExists(name)) continue;
        try {
            out += " " + std::string(name) + "=" + std::to_string(key.ReadInteger(name));
        } catch (const RegistryError&) {
            out += " " + std::string(name) + "=\"" + key.ReadString(name) + "\"";
        }
    }
    out += "\n";
    for (std::size_t i = 0; i < key.SubkeyCount(); ++i) Dump(key.Subkey(i), out);
}

TEST(RegistryTree, ReadsWhatOpenKeysWouldAndWritesOnTheirWay) {
    TempDir dir;
    const std::string path = dir.File("registry.reg");
    WriteAll(path, kHeader + Key("\\5551234\\0301\\08:00", "\"Action\"=dword:00000003\n") +
                       Key("\\5551234\\Sonstige\\00:00",
                           "\"Action\"=dword:00000001\n\"Param\"=\"/bin/true\"\n") +
                       Key("\\5551234\\Sonstige\\01:00", "\"Action\"=\"kein dword\"\n"));
    Registry reg(path);
    RegistryBatch batch(reg);
    reg.OpenKey(kRules + "\\5551234\\0302\\09:00")->WriteInteger("Action", 2);
    auto open = reg.OpenKey(kRules + "\\5551234\\0301\\08:00");
    open->WriteString("Param", "klingel.wav");  // the key is still open

    std::string dump;
    ASSERT_TRUE(reg.ReadTree(kRules, [&](const RegKeyReader& rules) { Dump(rules, dump); }));
    EXPECT_EQ(dump,
              "\\Software\\Brenwick\\Tolvar\\MSN:\n"
              "\\Software\\Brenwick\\Tolvar\\MSN\\5551234:\n"
              "\\Software\\Brenwick\\Tolvar\\MSN\\5551234\\0301:\n"
              "\\Software\\Brenwick\\Tolvar\\MSN\\5551234\\0301\\08:00: Action=3 "
              "Param=\"klingel.wav\"\n"
              "\\Software\\Brenwick\\Tolvar\\MSN\\5551234\\0302:\n"
              "\\Software\\Brenwick\\Tolvar\\MSN\\5551234\\0302\\09:00: Action=2\n"
              "\\Software\\Brenwick\\Tolvar\\MSN\\5551234\\Sonstige:\n"
              "\\Software\\Brenwick\\Tolvar\\MSN\\5551234\\Sonstige\\00:00: Action=1 "
              "Param=\"/bin/true\"\n"
              "\\Software\\Brenwick\\Tolvar\\MSN\\5551234\\Sonstige\\01:00: Action=\"kein "
              "dword\"\n");

    // Failed reads say what RegKey's say.
    const std::string bad = kRules + "\\5551234\\Sonstige\\01:00";
    const auto message = [](const auto& read) -> std::string {
        try {
            read();
        } catch (const RegistryError& e) {
            return e.what();
        }
        return "";
    };
    reg.ReadTree(bad, [&](const RegKeyReader& key) {
        auto opened = reg.OpenKey(bad, false);
        EXPECT_EQ(message([&] { key.ReadInteger("Action"); }),
                  message([&] { opened->ReadInteger("Action"); }));
        EXPECT_EQ(message([&] { key.ReadString("Param"); }),
                  message([&] { opened->ReadString("Param"); }));
        EXPECT_NE(message([&] { key.ReadString("Param"); }), "");
    });
    EXPECT_FALSE(reg.ReadTree(kRules + "\\fehlt", [](const RegKeyReader&) { FAIL(); }));
}

TEST(RegistryTree, ReadingAheadSeesAFileChangedMeanwhile) {
    TempDir dir;
    const std::string path = dir.File("registry.reg");
    const auto action = [&](Registry& reg) {
        return reg.OpenKey(kRules + "\\5551234\\Sonstige\\00:00", false)->ReadInteger("Action");
    };
    const auto file = [](int value) {
        return kHeader + Key("\\5551234\\Sonstige\\00:00",
                             "\"Action\"=dword:0000000" + std::to_string(value) + "\n");
    };
    WriteAll(path, file(1));
    {
        Registry reg(path);
        reg.StartReading();
        EXPECT_EQ(action(reg), 1);
    }
    {
        Registry reg(path);
        reg.StartReading();
        // An editor saving by rename after the file was read ahead.
        WriteAll(path + ".neu", file(4));
        std::filesystem::rename(path + ".neu", path);
        EXPECT_EQ(action(reg), 4);
    }
    {
        WriteAll(path, kHeader + "[HKEY_CURRENT_USER\\Software]\n\"A\"=dwurst:1\n");
        Registry reg(path);
        reg.StartReading();
        try {
            reg.OpenKey(kRules);
            ADD_FAILURE() << "a broken file was read";
        } catch (const RegistryError& e) {
            EXPECT_NE(std::string(e.what()).find("registry.reg:4"), std::string::npos) << e.what();
        }
    }
}

// A write of what the file holds changes nothing: the file is not replaced,
// and a hand edit made while the key is open survives it.
TEST(RegistryTree, WritingWhatIsThereNeverUndoesAHandEdit) {
    TempDir dir;
    const std::string path = dir.File("registry.reg");
    const std::string before =
        kHeader + Key("\\5551234\\Sonstige\\00:00", "\"Action\"=dword:00000001\n\"Param\"=\"\"\n");
    WriteAll(path, before);
    Registry reg(path);
    test::Replacements replaced(path);
    {
        RegistryBatch batch(reg);
        auto key = reg.OpenKey(kRules + "\\5551234\\Sonstige\\00:00");
        key->WriteInteger("Action", 1);
        key->WriteString("Param", "");
        key->Close();
        batch.Commit();
    }
    EXPECT_EQ(replaced.Count(), 0);
    auto key = reg.OpenKey(kRules + "\\5551234\\Sonstige\\00:00");
    key->WriteInteger("Action", 1);
    WriteAll(path, before.substr(0, before.find("00000001")) + "00000005\n\"Param\"=\"\"\n\n");
    key->Close();
    EXPECT_EQ(reg.OpenKey(kRules + "\\5551234\\Sonstige\\00:00")->ReadInteger("Action"), 5);
}

// Key lines in any order and case give the tree that creating each key in
// that order gives.
TEST(RegistryTree, KeyLinesInAnyOrder) {
    std::mt19937 random(5);
    const std::vector<std::string> names = {"a", "A", "b", "B0", "b0", "c", "Zz", "zZ", "\xC3\xA4"};
    for (int round = 0; round < 200; ++round) {
        std::string text = kHeader;
        Hive expected;
        const int keys = 1 + static_cast<int>(random() % 30);
        for (int k = 0; k < keys; ++k) {
            KeyPath path = {"HKEY_CURRENT_USER"};
            std::string line = "[HKEY_CURRENT_USER";
            const int depth = 1 + static_cast<int>(random() % 4);
            for (int d = 0; d < depth; ++d) {
                path.push_back(names[random() % names.size()]);
                line += "\\" + path.back();
            }
            ValueData value;
            value.name = "v" + std::to_string(random() % 3);
            value.type = ValueType::Dword;
            value.number = static_cast<std::uint32_t>(k);
            expected.SetValue(expected.Create(path), value);
            char hex[16];
            std::snprintf(hex, sizeof hex, "%x", static_cast<unsigned>(k));
            text += line + "]\n\"" + value.name + "\"=dword:" + hex + "\n\n";
        }
        ASSERT_EQ(Hive::Parse(text, "x").Serialize(), expected.Serialize()) << text;
    }
}

// A read hive takes tens of thousands of keys and strings made after the
// read, and every one stays whole while the text grows.
TEST(RegistryTree, AReadHiveTakesTensOfThousandsOfNewKeys) {
    const auto pathOf = [](int k) -> KeyPath {
        return {"HKEY_CURRENT_USER",
                "Software",
                "Brenwick",
                "Tolvar",
                "MSN",
                "0" + std::to_string(k % 97),
                "Anrufer " + std::to_string(k)};
    };
    const auto paramOf = [](int k) { return std::string(static_cast<std::size_t>(k % 40), 'p'); };
    Hive hive = Hive::Parse(kHeader + Key("\\5551234", "\"Action\"=dword:00000001\n"), "x");
    for (int k = 0; k < 20000; ++k) {
        ValueData value;
        value.name = "Param";
        value.text = paramOf(k);
        hive.SetValue(hive.Create(pathOf(k)), value);
    }
    const std::string text = hive.Serialize();
    EXPECT_EQ(Hive::Parse(text, "x").Serialize(), text);
    for (int k = 0; k < 20000; k += 7) {
        const HiveKey* key = hive.Find(pathOf(k));
        ASSERT_NE(key, nullptr) << k;
        ASSERT_NE(key->FindValue("Param"), nullptr) << k;
        EXPECT_EQ(key->FindValue("Param")->text, paramOf(k));
    }
}

TEST(RegistryTree, ACopyOfAReadHiveStandsOnItsOwn) {
    // Names and values point into the file's text: a copy that changes must
    // neither change the hive it came from nor depend on it living on.
    const std::string text =
        kHeader +
        Key("\\5551234\\Mutter\\08:00", "\"Action\"=dword:00000002\n\"Param\"=\"a \\\"b\\\" c\"\n");
    auto original = std::make_unique<Hive>(Hive::Parse(text, "x"));
    Hive copy = *original;
    const KeyPath entry = {"HKEY_CURRENT_USER", "Software", "Brenwick", "Tolvar", "MSN",
                           "5551234",           "Mutter",   "08:00"};
    ValueData param;
    param.name = "PARAM";  // replaces "Param", keeping that spelling
    param.text = std::string(400, 'x');
    copy.SetValue(*copy.Find(entry), param);
    KeyPath other = entry;
    other[6] = "Vater";
    ValueData action;
    action.name = "Action";
    action.type = ValueType::Dword;
    action.number = 4;
    copy.SetValue(copy.Create(other), action);

    EXPECT_EQ(original->Serialize(), Hive::Parse(text, "x").Serialize());
    const std::string expected = copy.Serialize();
    EXPECT_NE(expected.find("\"Param\"=\"" + std::string(400, 'x') + "\"\n"), std::string::npos);
    EXPECT_NE(expected.find("Vater\\08:00]\n\"Action\"=dword:00000004\n"), std::string::npos);
    original.reset();
    EXPECT_EQ(copy.Serialize(), expected);
    Hive again;
    again = copy;
    copy = Hive();
    EXPECT_EQ(again.Serialize(), expected);
}

}  // namespace
}  // namespace tolvar
