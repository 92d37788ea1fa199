// Keys and values as the program sees them: types, names without regard to
// case, creation order, deletion, and writes not yet flushed.

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "registry/registry.h"
#include "support/hive_header.h"
#include "test_files.h"

namespace tolvar {
namespace {

using test::ReadAll;
using test::TempDir;
using test::WriteAll;

const std::string kHeader = test::kHiveHeader;
const std::string kTolvar = "\\Software\\Brenwick\\Tolvar";

enum class Read { String, Integer, Binary };

struct TypeCase {
    const char* value;
    std::vector<Read> readable;  // every other read throws
};

TEST(RegistryKey, ReadsCheckTheType) {
    TempDir dir;
    WriteAll(dir.File("registry.reg"),
             kHeader + R"([HKEY_CURRENT_USER\Software\Brenwick\Tolvar\SMS\Provider\Netz]
"Phone"="01712521002"
"Number"=dword:00000002
"XlateTable"=hex:00,01
"Expand"=hex(2):41,00,00,00
"DwordAsHex"=hex(4):01,00,00,00
)");
    Registry reg(dir.File("registry.reg"));
    auto key = reg.OpenKey(kTolvar + "\\SMS\\Provider\\Netz", false);
    ASSERT_TRUE(key);
    const TypeCase cases[] = {
        {"Phone", {Read::String}},  {"Number", {Read::Integer}},    {"XlateTable", {Read::Binary}},
        {"Expand", {Read::Binary}}, {"DwordAsHex", {Read::Binary}}, {"Missing", {}},
    };
    for (const TypeCase& c : cases) {
        for (Read read : {Read::String, Read::Integer, Read::Binary}) {
            SCOPED_TRACE(std::string(c.value) + " read as " +
                         std::to_string(static_cast<int>(read)));
            const bool ok =
                std::find(c.readable.begin(), c.readable.end(), read) != c.readable.end();
            const auto attempt = [&] {
                switch (read) {
                    case Read::String:
                        key->ReadString(c.value);
                        break;
                    case Read::Integer:
                        key->ReadInteger(c.value);
                        break;
                    case Read::Binary:
                        key->ReadBinaryData(c.value);
                        break;
                }
            };
            if (ok) {
                EXPECT_NO_THROW(attempt());
            } else {
                EXPECT_THROW(attempt(), RegistryError);
            }
        }
    }
    EXPECT_EQ(key->ReadString("Phone"), "01712521002");
    EXPECT_EQ(key->ReadInteger("Number"), 2);
}

TEST(RegistryKey, IntegersAreStoredAsDwords) {
    const struct {
        std::int32_t value;
        const char* stored;
    } cases[] = {
        {0, "00000000"},         {3000, "00000bb8"},      {-1, "ffffffff"},
        {INT32_MIN, "80000000"}, {INT32_MAX, "7fffffff"}, {-12000, "ffffd120"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        TempDir dir;
        {
            Registry reg(dir.File("registry.reg"));
            reg.OpenKey(kTolvar)->WriteInteger("N", c.value);
        }
        EXPECT_NE(
            ReadAll(dir.File("registry.reg")).find(std::string("\"N\"=dword:") + c.stored + "\n"),
            std::string::npos);
        Registry again(dir.File("registry.reg"));
        EXPECT_EQ(again.OpenKey(kTolvar)->ReadInteger("N"), c.value);
    }
}

TEST(RegistryKey, NamesIgnoreCaseButKeepTheirFirstSpelling) {
    TempDir dir;
    Registry reg(dir.File("registry.reg"));
    reg.OpenKey(kTolvar + "\\DMail")->WriteInteger("ACKDelay", 3000);

    auto key = reg.OpenKey("software\\BRENWICK\\tolvar\\dmail", false);
    ASSERT_TRUE(key);
    EXPECT_TRUE(key->ValueExists("ackdelay"));
    EXPECT_EQ(key->ReadInteger("AckDelay"), 3000);
    key->WriteInteger("ACKDELAY", 5);
    key->Close();
    EXPECT_EQ(key->GetValueNames(), std::vector<std::string>{"ACKDelay"});
    EXPECT_TRUE(reg.KeyExists("\\SOFTWARE\\brenwick\\TOLVAR\\DMAIL"));

    const std::string text = ReadAll(reg.Path());
    EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\DMail]\n\"ACKDelay\"="
                        "dword:00000005\n"),
              std::string::npos)
        << text;
    EXPECT_EQ(text.find("ACKDELAY"), std::string::npos);
    EXPECT_EQ(text.find("dmail"), std::string::npos);
}

TEST(RegistryKey, SubkeysAscendIgnoringCaseAndValuesKeepTheirOrder) {
    TempDir dir;
    Registry reg(dir.File("registry.reg"));
    for (const char* name : {"Zeta", "alpha", "A_B", "AB", "Beta", "10:00", "09:30"})
        reg.OpenKey(kTolvar + "\\MSN\\" + name);
    EXPECT_EQ(reg.OpenKey(kTolvar + "\\MSN")->GetKeyNames(),
              (std::vector<std::string>{"09:30", "10:00", "AB", "alpha", "A_B", "Beta", "Zeta"}));

    auto key = reg.OpenKey(kTolvar + "\\SMS\\Subscriber");
    key->WriteString("017812345 Mutter", "");
    key->WriteString("0171 Vater", "");
    key->WriteString("", "Standard");
    key->WriteString("0160", "");
    key->WriteString("017812345 MUTTER", "neu");  // replaces in place
    EXPECT_TRUE(key->DeleteValue("0171 vater"));
    EXPECT_FALSE(key->DeleteValue("0171 Vater"));
    key->WriteString("0171 Vater", "");  // comes back at the end
    EXPECT_EQ(key->GetValueNames(),
              (std::vector<std::string>{"017812345 Mutter", "", "0160", "0171 Vater"}));
    key->Close();

    Registry again(reg.Path());
    auto stored = again.OpenKey(kTolvar + "\\SMS\\Subscriber", false);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->GetValueNames(),
              (std::vector<std::string>{"017812345 Mutter", "", "0160", "0171 Vater"}));
    EXPECT_EQ(stored->ReadString("017812345 mutter"), "neu");
}

TEST(RegistryKey, WritesAreSeenAtOnceAndReachTheFileAtClose) {
    TempDir dir;
    Registry reg(dir.File("registry.reg"));
    Registry other(reg.Path());  // another copy of the program
    auto key = reg.OpenKey(kTolvar + "\\DMail");
    key->WriteString("MSN", "5551234");
    EXPECT_EQ(key->ReadString("MSN"), "5551234");
    EXPECT_TRUE(reg.KeyExists(kTolvar + "\\DMail"));
    EXPECT_FALSE(other.KeyExists(kTolvar + "\\DMail"));
    key->Close();
    EXPECT_TRUE(other.KeyExists(kTolvar + "\\DMail"));
    EXPECT_EQ(other.OpenKey(kTolvar + "\\DMail")->ReadString("MSN"), "5551234");
}

TEST(RegistryKey, AWriteOfWhatTheFileHoldsLeavesOtherKeysWritesSeen) {
    // The file holds "0"; one key writes "1", another "0" after it. Once the
    // second is closed its "0" is in the file, and the first key's "1", still
    // on its way, is what reads see: for a write that changes the file and
    // for one that does not alike.
    for (const bool changesTheFile : {false, true}) {
        SCOPED_TRACE(changesTheFile);
        TempDir dir;
        WriteAll(dir.File("registry.reg"),
                 kHeader + "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar]\n\"MSN\"=\"0\"\n");
        Registry reg(dir.File("registry.reg"));
        auto first = reg.OpenKey(kTolvar);
        first->WriteString("MSN", "1");
        auto second = reg.OpenKey(kTolvar);
        second->WriteString("MSN", "0");
        if (changesTheFile) second->WriteString("Other", "x");
        EXPECT_EQ(first->ReadString("MSN"), "0");
        second->Close();
        EXPECT_EQ(first->ReadString("MSN"), "1");
        first->Close();
        EXPECT_EQ(Registry(reg.Path()).OpenKey(kTolvar)->ReadString("MSN"), "1");
    }
}

TEST(RegistryKey, DestroyingAKeyWritesIt) {
    TempDir dir;
    Registry reg(dir.File("registry.reg"));
    {
        auto key = reg.OpenKey(kTolvar);
        key->WriteBinaryData("XlateTable", {1, 2, 3});
        RegKey moved = std::move(*key);
        moved.WriteString("MSN", "1");
    }
    Registry again(reg.Path());
    auto key = again.OpenKey(kTolvar, false);
    ASSERT_TRUE(key);
    EXPECT_EQ(key->ReadBinaryData("XlateTable"), (std::vector<std::uint8_t>{1, 2, 3}));
    EXPECT_EQ(key->ReadString("MSN"), "1");
}

TEST(RegistryKey, CreatedKeysAppearWithoutValues) {
    TempDir dir;
    Registry reg(dir.File("registry.reg"));
    EXPECT_FALSE(reg.OpenKey(kTolvar + "\\SMS\\Prefix", false));
    reg.OpenKey(kTolvar + "\\SMS\\Prefix");
    reg.OpenKey(kTolvar + "\\Agent");
    EXPECT_EQ(ReadAll(reg.Path()), kHeader + R"([HKEY_CURRENT_USER\Software]

[HKEY_CURRENT_USER\Software\Brenwick]

[HKEY_CURRENT_USER\Software\Brenwick\Tolvar]

[HKEY_CURRENT_USER\Software\Brenwick\Tolvar\Agent]

[HKEY_CURRENT_USER\Software\Brenwick\Tolvar\SMS]

[HKEY_CURRENT_USER\Software\Brenwick\Tolvar\SMS\Prefix]

)");
}

TEST(RegistryKey, DeleteKeyRemovesEverythingBelow) {
    TempDir dir;
    Registry reg(dir.File("registry.reg"));
    reg.OpenKey(kTolvar + "\\MSN\\@\\Sonstige\\00:00")->WriteInteger("Action", 0);
    reg.OpenKey(kTolvar + "\\MSN\\5551234\\0171\\08:30")->WriteString("Param", "x");
    reg.OpenKey(kTolvar + "\\MSN2")->WriteString("keep", "1");
    reg.OpenKey(kTolvar + "\\MSNX\\MSN");

    auto open = reg.OpenKey(kTolvar + "\\MSN\\@");
    open->WriteString("pending", "1");  // not yet in the file

    EXPECT_TRUE(
        reg.DeleteKey("\\software\\brenwick\\tolvar\\msn\\"));  // as the rule store spells it
    open->Close();                                              // its write went with the key
    EXPECT_FALSE(reg.KeyExists(kTolvar + "\\MSN"));
    EXPECT_FALSE(reg.KeyExists(kTolvar + "\\MSN\\5551234\\0171\\08:30"));
    EXPECT_TRUE(reg.KeyExists(kTolvar + "\\MSN2"));
    EXPECT_TRUE(reg.KeyExists(kTolvar + "\\MSNX\\MSN"));
    EXPECT_FALSE(reg.DeleteKey(kTolvar + "\\MSN"));

    EXPECT_EQ(ReadAll(reg.Path()), kHeader + R"([HKEY_CURRENT_USER\Software]

[HKEY_CURRENT_USER\Software\Brenwick]

[HKEY_CURRENT_USER\Software\Brenwick\Tolvar]

[HKEY_CURRENT_USER\Software\Brenwick\Tolvar\MSN2]
"keep"="1"

[HKEY_CURRENT_USER\Software\Brenwick\Tolvar\MSNX]

[HKEY_CURRENT_USER\Software\Brenwick\Tolvar\MSNX\MSN]

)");
    EXPECT_THROW(reg.DeleteKey(""), RegistryError);
    EXPECT_THROW(reg.DeleteKey("\\"), RegistryError);
}

TEST(RegistryKey, DeleteKeyOfAKeyNotYetWritten) {
    TempDir dir;
    Registry reg(dir.File("registry.reg"));
    auto key = reg.OpenKey(kTolvar + "\\Neu");
    EXPECT_TRUE(reg.DeleteKey(kTolvar + "\\Neu"));
    EXPECT_FALSE(reg.KeyExists(kTolvar + "\\Neu"));
    key->Close();
    EXPECT_FALSE(std::filesystem::exists(reg.Path()));
}

TEST(RegistryKey, RejectsWhatTheFileCannotHold) {
    TempDir dir;
    Registry reg(dir.File("registry.reg"));
    EXPECT_TRUE(reg.KeyExists(""));  // HKEY_CURRENT_USER, even in an empty registry
    EXPECT_THROW(reg.OpenKey("Software\\\\Brenwick"), RegistryError);
    EXPECT_THROW(reg.KeyExists("Software\\Bren\nwick"), RegistryError);
    auto key = reg.OpenKey(kTolvar);
    EXPECT_THROW(key->WriteString("MSN", "1\n2"), RegistryError);
    EXPECT_THROW(key->WriteInteger("a\nb", 1), RegistryError);
    EXPECT_FALSE(key->ValueExists("MSN"));
    // The root key itself can hold values.
    reg.OpenKey("")->WriteString("Oben", "ja");
    EXPECT_EQ(reg.OpenKey("\\", false)->ReadString("Oben"), "ja");
    EXPECT_NE(ReadAll(reg.Path()).find("[HKEY_CURRENT_USER]\n\"Oben\"=\"ja\"\n"),
              std::string::npos);
}

TEST(RegistryKey, NonAsciiNamesPassThrough) {
    TempDir dir;
    Registry reg(dir.File("registry.reg"));
    reg.OpenKey(kTolvar + "\\Überwachung")->WriteString("Grüße", "Straße");
    EXPECT_NE(ReadAll(reg.Path())
                  .find("[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\Überwachung]\n"
                        "\"Grüße\"=\"Straße\"\n"),
              std::string::npos);
    Registry again(reg.Path());
    EXPECT_EQ(again.OpenKey(kTolvar + "\\Überwachung", false)->ReadString("Grüße"), "Straße");
}

}  // namespace
}  // namespace tolvar
