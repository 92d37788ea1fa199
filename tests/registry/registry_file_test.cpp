// The hive file as the registry writes it: its exact text, hand edits made
// while the program runs, files that cannot be parsed, and writes that fail.

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <numeric>
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

ino_t InodeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(stat(path.c_str(), &st), 0);
    return st.st_ino;
}

std::vector<std::string> FilesIn(const std::filesystem::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::uint8_t> Sequence(int n) {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(n));
    std::iota(bytes.begin(), bytes.end(), 0);
    return bytes;
}

TEST(RegistryFile, WritesTheExactText) {
    TempDir dir;
    Registry reg(dir.File("registry.reg"));
    {
        auto key = reg.OpenKey(kTolvar + "\\DMail");
        key->WriteInteger("PacketDelay", 20);
        key->WriteInteger("ACKDelay", 3000);
        key->WriteString("MSN", "5551234");
        key->WriteInteger("Neg", -2);
        key->WriteString("Sound", "C:\\Sounds\\\"neu\".wav");
        key->Close();
    }
    reg.OpenKey(kTolvar + "\\SMS\\Subscriber")->Close();
    {
        auto key = reg.OpenKey("Software\\Brenwick\\Tolvar\\SMS\\Provider\\Netz\\");
        key->WriteString("", "Standard");
        key->WriteBinaryData("XlateTable", Sequence(50));
        key->WriteBinaryData("Leer", {});
    }
    reg.OpenKey(kTolvar + "\\MSN\\Zeta")->WriteString("Aktion", "Überwachung");
    reg.OpenKey(kTolvar + "\\MSN\\alpha");
    reg.OpenKey(kTolvar + "\\MSN\\Beta");
    reg.OpenKey(kTolvar + "\\agent");

    EXPECT_EQ(ReadAll(reg.Path()), R"(Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\Software]

[HKEY_CURRENT_USER\Software\Brenwick]

[HKEY_CURRENT_USER\Software\Brenwick\Tolvar]

[HKEY_CURRENT_USER\Software\Brenwick\Tolvar\agent]

[HKEY_CURRENT_USER\Software\Brenwick\Tolvar\DMail]
"PacketDelay"=dword:00000014
"ACKDelay"=dword:00000bb8
"MSN"="5551234"
"Neg"=dword:fffffffe
"Sound"="C:\\Sounds\\\"neu\".wav"

[HKEY_CURRENT_USER\Software\Brenwick\Tolvar\MSN]

[HKEY_CURRENT_USER\Software\Brenwick\Tolvar\MSN\alpha]

[HKEY_CURRENT_USER\Software\Brenwick\Tolvar\MSN\Beta]

[HKEY_CURRENT_USER\Software\Brenwick\Tolvar\MSN\Zeta]
"Aktion"="Überwachung"

[HKEY_CURRENT_USER\Software\Brenwick\Tolvar\SMS]

[HKEY_CURRENT_USER\Software\Brenwick\Tolvar\SMS\Provider]

[HKEY_CURRENT_USER\Software\Brenwick\Tolvar\SMS\Provider\Netz]
@="Standard"
"XlateTable"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,\
  14,15,16,17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27,28,29,2a,2b,2c,\
  2d,2e,2f,30,31
"Leer"=hex:

[HKEY_CURRENT_USER\Software\Brenwick\Tolvar\SMS\Subscriber]

)");

    // And it reads back as written.
    Registry again(reg.Path());
    auto netz = again.OpenKey(kTolvar + "\\SMS\\Provider\\Netz", false);
    ASSERT_TRUE(netz);
    EXPECT_EQ(netz->ReadBinaryData("XlateTable"), Sequence(50));
    EXPECT_EQ(netz->ReadString(""), "Standard");
    EXPECT_EQ(again.OpenKey(kTolvar + "\\DMail")->ReadString("Sound"), "C:\\Sounds\\\"neu\".wav");
}

TEST(RegistryFile, KeepsOtherRootsAndOtherTypes) {
    TempDir dir;
    const std::string path = dir.File("registry.reg");
    WriteAll(path, kHeader + R"([HKEY_LOCAL_MACHINE\SOFTWARE\Brenwick]
"Installiert"=dword:00000001

[HKEY_CURRENT_USER\Software\Brenwick\Tolvar\Agent]
"AgentPath"=hex(2):25,00,57,00,00,00
)");
    Registry reg(path);
    {
        auto agent = reg.OpenKey(kTolvar + "\\Agent", false);
        ASSERT_TRUE(agent);
        EXPECT_EQ(agent->ReadBinaryData("AgentPath"),
                  (std::vector<std::uint8_t>{0x25, 0, 0x57, 0, 0, 0}));
        EXPECT_THROW(agent->ReadString("AgentPath"), RegistryError);
        EXPECT_THROW(agent->ReadInteger("AgentPath"), RegistryError);
        agent->WriteInteger("UseAgent", 1);
        agent->Close();
    }
    EXPECT_EQ(ReadAll(path), kHeader + R"([HKEY_CURRENT_USER\Software]

[HKEY_CURRENT_USER\Software\Brenwick]

[HKEY_CURRENT_USER\Software\Brenwick\Tolvar]

[HKEY_CURRENT_USER\Software\Brenwick\Tolvar\Agent]
"AgentPath"=hex(2):25,00,57,00,00,00
"UseAgent"=dword:00000001

[HKEY_LOCAL_MACHINE\SOFTWARE]

[HKEY_LOCAL_MACHINE\SOFTWARE\Brenwick]
"Installiert"=dword:00000001

)");
}

// Editors either rewrite the file in place or write a new one and rename it.
void EditInPlace(const std::string& path, const std::string& text) {
    WriteAll(path, text);
}
void EditByRename(const std::string& path, const std::string& text) {
    WriteAll(path + ".new", text);
    ASSERT_EQ(std::rename((path + ".new").c_str(), path.c_str()), 0);
}

struct EditStyle {
    const char* what;
    void (*edit)(const std::string&, const std::string&);
};
const EditStyle kEditStyles[] = {{"in place", EditInPlace}, {"by rename", EditByRename}};

// A text replacement standing in for a user with an editor.
void HandEdit(const EditStyle& style, const std::string& path, const std::string& from,
              const std::string& to) {
    std::string text = ReadAll(path);
    const std::size_t at = text.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    text.replace(at, from.size(), to);
    style.edit(path, text);
}

TEST(RegistryFile, HandEditBetweenTwoWritesIsKept) {
    for (const EditStyle& style : kEditStyles) {
        SCOPED_TRACE(style.what);
        TempDir dir;
        Registry reg(dir.File("registry.reg"));
        reg.OpenKey(kTolvar + "\\DMail")->WriteString("MSN", "5551234");

        HandEdit(style, reg.Path(), "\"MSN\"=\"5551234\"\n",
                 "\"MSN\"=\"999\"\n\n[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\SMS\\Prefix]\n"
                 "\"0171\"=\"Netz\"\n");
        reg.OpenKey(kTolvar + "\\DMail")->WriteString("Suffix", "0");

        const std::string text = ReadAll(reg.Path());
        EXPECT_NE(text.find("\"MSN\"=\"999\"\n\"Suffix\"=\"0\"\n"), std::string::npos) << text;
        EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\SMS\\Prefix]"
                            "\n\"0171\"=\"Netz\"\n"),
                  std::string::npos)
            << text;
        // The next key opened sees the edit.
        auto prefix = reg.OpenKey(kTolvar + "\\SMS\\Prefix", false);
        ASSERT_TRUE(prefix);
        EXPECT_EQ(prefix->ReadString("0171"), "Netz");
    }
}

TEST(RegistryFile, HandEditWhileAKeyIsOpenIsKept) {
    for (const EditStyle& style : kEditStyles) {
        SCOPED_TRACE(style.what);
        TempDir dir;
        Registry reg(dir.File("registry.reg"));
        reg.OpenKey(kTolvar + "\\DMail")->WriteString("MSN", "5551234");

        auto key = reg.OpenKey(kTolvar + "\\DMail");
        key->WriteInteger("ACKDelay", 3000);
        HandEdit(style, reg.Path(), "\"MSN\"=\"5551234\"\n", "\"MSN\"=\"42\"\n\"Suffix\"=\"0\"\n");
        key->Close();

        EXPECT_EQ(ReadAll(reg.Path()), kHeader + R"([HKEY_CURRENT_USER\Software]

[HKEY_CURRENT_USER\Software\Brenwick]

[HKEY_CURRENT_USER\Software\Brenwick\Tolvar]

[HKEY_CURRENT_USER\Software\Brenwick\Tolvar\DMail]
"MSN"="42"
"Suffix"="0"
"ACKDelay"=dword:00000bb8

)");
        EXPECT_EQ(key->ReadString("MSN"), "42");
    }
}

TEST(RegistryFile, KeyDeletedByHandIsSeenAtTheNextOpen) {
    TempDir dir;
    Registry reg(dir.File("registry.reg"));
    reg.OpenKey(kTolvar + "\\SMS\\Subscriber")->WriteString("017812345 Mutter", "");
    ASSERT_TRUE(reg.KeyExists(kTolvar + "\\SMS\\Subscriber"));
    EditByRename(reg.Path(), kHeader + "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\SMS]\n\n");
    EXPECT_FALSE(reg.KeyExists(kTolvar + "\\SMS\\Subscriber"));
    EXPECT_FALSE(reg.OpenKey(kTolvar + "\\SMS\\Subscriber", false));
    EXPECT_TRUE(reg.OpenKey(kTolvar + "\\SMS", false));
}

TEST(RegistryFile, TwoRegistriesOnOneFileKeepEachOthersWrites) {
    TempDir dir;
    Registry first(dir.File("registry.reg"));
    Registry second(first.Path());
    first.OpenKey(kTolvar)->WriteString("a", "1");
    second.OpenKey(kTolvar)->WriteString("b", "2");
    first.OpenKey(kTolvar)->WriteString("c", "3");
    Registry third(first.Path());
    EXPECT_EQ(third.OpenKey(kTolvar)->GetValueNames(), (std::vector<std::string>{"a", "b", "c"}));
}

const std::string kBroken = kHeader + R"([HKEY_CURRENT_USER\Software\Brenwick\Tolvar\DMail]
"MSN"="5551234"
"ACKDelay"=dword:zz
"Suffix"="0"
)";

void ExpectLine5Error(const std::function<void()>& action, const std::string& path) {
    try {
        action();
        ADD_FAILURE() << "no error";
    } catch (const RegistryError& e) {
        EXPECT_EQ(std::string(e.what()).rfind(path + ":5: ", 0), 0u) << e.what();
    }
}

TEST(RegistryFile, BrokenFileIsReportedAndNeverOverwritten) {
    TempDir dir;
    const std::string path = dir.File("registry.reg");
    Registry reg(path);
    {
        // Opened and written before the file broke.
        auto pending = reg.OpenKey(kTolvar + "\\DMail");
        pending->WriteString("Suffix", "7");
        auto idle = reg.OpenKey(kTolvar + "\\SMS");
        WriteAll(path, kBroken);
        const ino_t inode = InodeOf(path);

        ExpectLine5Error([&] { reg.OpenKey(kTolvar + "\\DMail"); }, path);
        ExpectLine5Error([&] { reg.OpenKey(kTolvar + "\\New", true); }, path);
        ExpectLine5Error([&] { reg.KeyExists(kTolvar); }, path);
        ExpectLine5Error([&] { reg.DeleteKey(kTolvar + "\\DMail"); }, path);
        ExpectLine5Error([&] { pending->Close(); }, path);
        ExpectLine5Error([&] { idle->WriteString("MSN", "1"); }, path);
        ExpectLine5Error([&] { idle->DeleteValue("MSN"); }, path);
        // Reads of keys already open go on with what was read before.
        EXPECT_EQ(pending->ReadString("Suffix"), "7");

        EXPECT_EQ(ReadAll(path), kBroken);
        EXPECT_EQ(InodeOf(path), inode);
        // Destroying the keys tries their writes once more, silently.
    }
    EXPECT_EQ(ReadAll(path), kBroken);
    EXPECT_EQ(FilesIn(dir.Path()), std::vector<std::string>{"registry.reg"});
}

TEST(RegistryFile, FixedFileTakesTheWritesThatWaited) {
    TempDir dir;
    const std::string path = dir.File("registry.reg");
    WriteAll(path, kBroken);
    Registry reg(path);
    ExpectLine5Error([&] { reg.OpenKey(kTolvar); }, path);

    std::string fixed = kBroken;
    fixed.replace(fixed.find("dword:zz"), 8, "dword:00000bb8");
    WriteAll(path, fixed);
    auto key = reg.OpenKey(kTolvar + "\\DMail");
    EXPECT_EQ(key->ReadInteger("ACKDelay"), 3000);
    key->WriteString("Suffix", "9");

    WriteAll(path, kBroken);
    ExpectLine5Error([&] { key->Close(); }, path);
    EXPECT_EQ(ReadAll(path), kBroken);

    WriteAll(path, fixed + "\"Neu\"=\"x\"\n");
    key->Close();
    const std::string text = ReadAll(path);
    EXPECT_NE(text.find("\"Suffix\"=\"9\"\n\"Neu\"=\"x\"\n"), std::string::npos) << text;
}

// Ways a write can fail that even root cannot override.
struct WriteFailure {
    const char* what;
    std::function<void(const TempDir&)> cause;
    std::function<void(const TempDir&)> undo;
};

rlimit gSavedLimit{};
void (*gSavedXfsz)(int) = nullptr;

std::vector<WriteFailure> WriteFailures() {
    return {
        {"disk full (file size limit)",
         [](const TempDir&) {
             gSavedXfsz = signal(SIGXFSZ, SIG_IGN);
             getrlimit(RLIMIT_FSIZE, &gSavedLimit);
             rlimit small = gSavedLimit;
             small.rlim_cur = 40;
             setrlimit(RLIMIT_FSIZE, &small);
         },
         [](const TempDir&) {
             setrlimit(RLIMIT_FSIZE, &gSavedLimit);
             signal(SIGXFSZ, gSavedXfsz);
         }},
        {"no file handle left",
         [](const TempDir&) {
             getrlimit(RLIMIT_NOFILE, &gSavedLimit);
             const int probe = open("/dev/null", O_RDONLY);
             close(probe);
             rlimit none = gSavedLimit;
             none.rlim_cur = static_cast<rlim_t>(probe);
             setrlimit(RLIMIT_NOFILE, &none);
         },
         [](const TempDir&) { setrlimit(RLIMIT_NOFILE, &gSavedLimit); }},
        {"read-only folder", [](const TempDir& dir) { chmod(dir.Path().c_str(), 0555); },
         [](const TempDir& dir) { chmod(dir.Path().c_str(), 0755); }},
    };
}

TEST(RegistryFile, FailedWriteKeepsTheOldFile) {
    for (const WriteFailure& failure : WriteFailures()) {
        SCOPED_TRACE(failure.what);
        if (std::string(failure.what) == "read-only folder" && geteuid() == 0) {
            // Root writes into read-only folders; the limits above stand in for it.
            continue;
        }
        TempDir dir;
        const std::string path = dir.File("registry.reg");
        Registry reg(path);
        reg.OpenKey(kTolvar + "\\DMail")->WriteString("MSN", "5551234");
        const std::string before = ReadAll(path);

        auto key = reg.OpenKey(kTolvar + "\\DMail");
        key->WriteString("Suffix", std::string(200, 'x'));
        failure.cause(dir);
        bool failed = false;
        std::string message;
        try {
            key->Close();
        } catch (const RegistryError& e) {
            failed = true;
            message = e.what();
        }
        failure.undo(dir);

        EXPECT_TRUE(failed);
        EXPECT_EQ(message.rfind(path + ": ", 0), 0u) << message;
        EXPECT_EQ(ReadAll(path), before);
        EXPECT_EQ(FilesIn(dir.Path()), std::vector<std::string>{"registry.reg"});
        // Nothing was lost: the write waits for the next try.
        EXPECT_EQ(key->ReadString("Suffix"), std::string(200, 'x'));
        key->Close();
        EXPECT_NE(ReadAll(path).find("\"Suffix\"=\"" + std::string(200, 'x')), std::string::npos);
    }
}

TEST(RegistryFile, DeleteKeyThatCannotBeWrittenKeepsTheKey) {
    TempDir dir;
    const std::string path = dir.File("registry.reg");
    Registry reg(path);
    reg.OpenKey(kTolvar + "\\MSN\\@\\Sonstige\\00:00")->WriteInteger("Action", 0);
    const std::string before = ReadAll(path);
    // A full disk. (Starving the process of file handles instead would also
    // starve the sanitizer runtime, which reads its own maps on a first check.)
    const WriteFailure full = WriteFailures().front();
    full.cause(dir);
    bool failed = false;
    try {
        reg.DeleteKey(kTolvar + "\\MSN");
    } catch (const RegistryError&) {
        failed = true;
    }
    full.undo(dir);
    EXPECT_TRUE(failed);
    EXPECT_EQ(ReadAll(path), before);
    EXPECT_TRUE(reg.KeyExists(kTolvar + "\\MSN\\@\\Sonstige\\00:00"));
}

TEST(RegistryFile, MissingFileAndFoldersAreCreatedAtTheFirstWrite) {
    TempDir dir;
    const std::string path = (dir.Path() / "config" / "tolvar" / "registry.reg").string();
    Registry reg(path);
    EXPECT_FALSE(reg.KeyExists(kTolvar));
    EXPECT_FALSE(reg.OpenKey(kTolvar, false));
    EXPECT_FALSE(std::filesystem::exists(dir.Path() / "config"));

    reg.OpenKey("\\Software\\Brenwick")->Close();
    EXPECT_EQ(
        ReadAll(path),
        kHeader + "[HKEY_CURRENT_USER\\Software]\n\n[HKEY_CURRENT_USER\\Software\\Brenwick]\n\n");
}

TEST(RegistryFile, FolderThatCannotBeCreatedFailsTheWrite) {
    TempDir dir;
    WriteAll(dir.File("config"), "a file, not a folder");
    Registry reg(dir.File("config") + "/tolvar/registry.reg");
    auto key = reg.OpenKey(kTolvar);
    EXPECT_THROW(key->Close(), RegistryError);
    EXPECT_EQ(ReadAll(dir.File("config")), "a file, not a folder");
}

TEST(RegistryFile, WritingWhatIsThereLeavesTheFileAlone) {
    TempDir dir;
    const std::string path = dir.File("registry.reg");
    const std::string imported = test::Utf16Le(
        "Windows Registry Editor Version 5.00\r\n\r\n; from the old machine\r\n"
        "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\DMail]\r\n\"ACKDelay\"=dword:00000bb8\r\n"
        "\"DMailNotifySound\"=\"\"\r\n");
    WriteAll(path, imported);
    Registry reg(path);
    {
        auto key = reg.OpenKey(kTolvar + "\\DMail");
        key->WriteInteger("ACKDelay", 3000);
        key->WriteString("dmailnotifysound", "");
        key->Close();
    }
    EXPECT_EQ(ReadAll(path), imported);

    reg.OpenKey(kTolvar + "\\DMail")->WriteInteger("ACKDelay", 4000);
    EXPECT_EQ(ReadAll(path), kHeader + R"([HKEY_CURRENT_USER\Software]

[HKEY_CURRENT_USER\Software\Brenwick]

[HKEY_CURRENT_USER\Software\Brenwick\Tolvar]

[HKEY_CURRENT_USER\Software\Brenwick\Tolvar\DMail]
"ACKDelay"=dword:00000fa0
"DMailNotifySound"=""

)");
}

TEST(RegistryFile, SymbolicLinkStaysALink) {
    TempDir dir;
    std::filesystem::create_directory(dir.Path() / "dotfiles");
    const std::string target = (dir.Path() / "dotfiles" / "registry.reg").string();
    WriteAll(target, kHeader);
    std::filesystem::create_symlink(target, dir.File("registry.reg"));
    Registry reg(dir.File("registry.reg"));
    reg.OpenKey(kTolvar)->WriteString("a", "1");
    EXPECT_TRUE(std::filesystem::is_symlink(dir.File("registry.reg")));
    EXPECT_NE(ReadAll(target).find("\"a\"=\"1\""), std::string::npos);
}

}  // namespace
}  // namespace tolvar
