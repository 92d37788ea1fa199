// Reading hive files: every form of the REGEDIT text format the program must
// understand, and the line numbers of the errors it reports.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "registry/hive.h"
#include "registry/registry.h"
#include "support/hive_header.h"
#include "test_files.h"

namespace tolvar {
namespace {

constexpr const char* kPath = "/home/u/.config/tolvar/registry.reg";
const std::string kHeader = test::kHiveHeader;

KeyPath Split(const std::string& path) {
    KeyPath out;
    std::size_t start = 0;
    for (;;) {
        const std::size_t slash = path.find('\\', start);
        out.push_back(
            path.substr(start, slash == std::string::npos ? std::string::npos : slash - start));
        if (slash == std::string::npos) return out;
        start = slash + 1;
    }
}

struct Expected {
    std::string key;
    std::string name;
    ValueType type;
    std::string text = {};
    std::uint32_t number = 0;
    std::vector<std::uint8_t> bytes = {};
    std::string typeTag = {};
};

Expected Str(std::string key, std::string name, std::string text) {
    return {std::move(key), std::move(name), ValueType::String, std::move(text)};
}
Expected Dword(std::string key, std::string name, std::uint32_t n) {
    return {std::move(key), std::move(name), ValueType::Dword, "", n};
}
Expected Bin(std::string key, std::string name, std::vector<std::uint8_t> b) {
    return {std::move(key), std::move(name), ValueType::Binary, "", 0, std::move(b)};
}
Expected Other(std::string key, std::string name, std::string tag, std::vector<std::uint8_t> b) {
    return {std::move(key), std::move(name), ValueType::Other, "", 0, std::move(b), std::move(tag)};
}

struct ParseCase {
    const char* what;
    std::string file;
    std::vector<Expected> expected;
};

const std::string kDMail = "HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\DMail";

std::vector<ParseCase> ParseCases() {
    return {
        {"escaped backslashes and quotes",
         kHeader + R"([HKEY_CURRENT_USER\Software\Brenwick\Tolvar\DMail]
"Sound"="C:\\Sounds\\\"neu\".wav"
"Leer"=""
)",
         {Str(kDMail, "Sound", R"(C:\Sounds\"neu".wav)"), Str(kDMail, "Leer", "")}},
        {"a backslash before any other character stands for itself",
         kHeader + "[" + kDMail + "]\n\"Pfad\"=\"C:\\Temp\\neu\"\n",
         {Str(kDMail, "Pfad", "C:\\Temp\\neu")}},
        {"escapes in value names",
         kHeader + "[" + kDMail + "]\n\"a\\\\b \\\"c\\\"\"=\"x\"\n",
         {Str(kDMail, "a\\b \"c\"", "x")}},
        {"default value and a value named @",
         kHeader + "[" + kDMail + "]\n@=\"Standard\"\n\"@\"=\"kein Standard\"\n",
         {Str(kDMail, "", "Standard"), Str(kDMail, "@", "kein Standard")}},
        {"dword forms",
         kHeader + "[" + kDMail + "]\n" +
             "\"ACKDelay\"=dword:00000bb8\n\"Upper\"=DWORD:0000BB8A\n\"Short\"=dword:1f\n"
             "\"Neg\"=dword:ffffffff\n\"Spaced\" = dword:00000001  \n",
         {Dword(kDMail, "ACKDelay", 3000), Dword(kDMail, "Upper", 0xBB8A),
          Dword(kDMail, "Short", 0x1F), Dword(kDMail, "Neg", 0xFFFFFFFF),
          Dword(kDMail, "Spaced", 1)}},
        {"hex lists with continuation lines",
         kHeader + "[" + kDMail + "]\n" +
             "\"XlateTable\"=hex:00,01,02,\\\n  03,04,\\\n  05\n"
             "\"NoComma\"=hex:0a\\\n  b,FF\n\"Leer\"=hex:\n\"Trailing\"=hex:7f,\n",
         {Bin(kDMail, "XlateTable", {0, 1, 2, 3, 4, 5}), Bin(kDMail, "NoComma", {0x0A, 0x0B, 0xFF}),
          Bin(kDMail, "Leer", {}), Bin(kDMail, "Trailing", {0x7F})}},
        {"other hex types kept with their type",
         kHeader + "[" + kDMail + "]\n" +
             "\"Expand\"=hex(2):25,00,41,00,00,00\n\"Quad\"=hex(b):01,00,00,00,00,00,00,00\n"
             "\"Multi\"=hex(7):41,00,00,00,\\\n  00,00\n",
         {Other(kDMail, "Expand", "2", {0x25, 0, 0x41, 0, 0, 0}),
          Other(kDMail, "Quad", "b", {1, 0, 0, 0, 0, 0, 0, 0}),
          Other(kDMail, "Multi", "7", {0x41, 0, 0, 0, 0, 0})}},
        {"comments, blank lines and indentation",
         kHeader + "; exported by hand\n\n  [" + kDMail +
             "]  \n  ; a note\n\n\t\"MSN\"=\"5551234\"\n",
         {Str(kDMail, "MSN", "5551234")}},
        {"CR LF line ends",
         "Windows Registry Editor Version 5.00\r\n\r\n[" + kDMail +
             "]\r\n\"MSN\"=\"5551234\"\r\n\"T\"=hex:01,\\\r\n  02\r\n",
         {Str(kDMail, "MSN", "5551234"), Bin(kDMail, "T", {1, 2})}},
        {"no line end at the end of the file",
         kHeader + "[" + kDMail + "]\n\"MSN\"=\"1\"",
         {Str(kDMail, "MSN", "1")}},
        {"REGEDIT4 header",
         "REGEDIT4\r\n\r\n[" + kDMail + "]\r\n\"ACKDelay\"=dword:00000bb8\r\n",
         {Dword(kDMail, "ACKDelay", 3000)}},
        {"REGEDIT4 in the Windows code page",
         "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\\xDC"
         "berwachung]\r\n\"Gr\xFC\xDF\x65\"=\"Stra\xDF\x65 \x80\"\r\n\"utf8\"=\"\xC3\xBC\"\r\n",
         {Str("HKEY_CURRENT_USER\\Software\\Überwachung", "Grüße", "Straße €"),
          Str("HKEY_CURRENT_USER\\Software\\Überwachung", "utf8", "ü")}},
        {"UTF-8 with byte-order mark",
         "\xEF\xBB\xBF" + kHeader + "[" + kDMail + "]\n\"MSN\"=\"1\"\n",
         {Str(kDMail, "MSN", "1")}},
        {"UTF-16LE with byte-order mark",
         test::Utf16Le("Windows Registry Editor Version 5.00\r\n\r\n"
                       "[HKEY_CURRENT_USER\\Software\\Überwachung]\r\n"
                       "\"Grüße\"=\"Straße 😀\"\r\n\"N\"=dword:0000002a\r\n"),
         {Str("HKEY_CURRENT_USER\\Software\\Überwachung", "Grüße", "Straße 😀"),
          Dword("HKEY_CURRENT_USER\\Software\\Überwachung", "N", 42)}},
        {"UTF-8 names",
         kHeader + "[HKEY_CURRENT_USER\\Software\\Überwachung]\n\"Grüße\"=\"Straße\"\n",
         {Str("HKEY_CURRENT_USER\\Software\\Überwachung", "Grüße", "Straße")}},
        {"key names hold any character but the backslash",
         kHeader + "[HKEY_CURRENT_USER\\Software\\a]b ; \"c\"= d ]\n\"v\"=\"1\"\n",
         {Str("HKEY_CURRENT_USER\\Software\\a]b ; \"c\"= d ", "v", "1")}},
        {"sections of one key merge, the later value wins",
         kHeader + "[HKEY_CURRENT_USER\\Software\\A]\n\"x\"=\"1\"\n\n"
                   "[hkey_current_user\\SOFTWARE\\a]\n\"X\"=\"2\"\n\"y\"=\"3\"\n",
         {Str("HKEY_CURRENT_USER\\Software\\A", "x", "2"),
          Str("HKEY_CURRENT_USER\\Software\\A", "y", "3")}},
        {"other roots and the root key itself",
         kHeader + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brenwick]\n\"Installiert\"=dword:1\n\n"
                   "[HKEY_CURRENT_USER]\n\"Oben\"=\"ja\"\n",
         {Dword("HKEY_LOCAL_MACHINE\\SOFTWARE\\Brenwick", "Installiert", 1),
          Str("HKEY_CURRENT_USER", "Oben", "ja")}},
    };
}

TEST(HiveParse, ReadsEveryForm) {
    for (const ParseCase& c : ParseCases()) {
        SCOPED_TRACE(c.what);
        const Hive hive = Hive::Parse(c.file, kPath);
        for (const Expected& e : c.expected) {
            SCOPED_TRACE(e.key + " / " + e.name);
            const HiveKey* key = hive.Find(Split(e.key));
            ASSERT_NE(key, nullptr);
            const HiveValue* v = key->FindValue(e.name);
            ASSERT_NE(v, nullptr);
            EXPECT_EQ(v->name, e.name);
            EXPECT_EQ(v->type, e.type);
            EXPECT_EQ(v->text, e.text);
            EXPECT_EQ(v->number, e.number);
            EXPECT_EQ(v->Bytes(), e.bytes);
            EXPECT_EQ(v->typeTag, e.typeTag);
        }
    }
}

TEST(HiveParse, KeepsTheCaseFirstSeenAndTheValueOrder) {
    const Hive hive =
        Hive::Parse(kHeader +
                        "[HKEY_CURRENT_USER\\Software\\Tolvar]\n\"b\"=\"1\"\n\"A\"=\"2\"\n"
                        "[HKEY_CURRENT_USER\\SOFTWARE\\TOLVAR]\n\"B\"=\"3\"\n\"c\"=\"4\"\n",
                    kPath);
    ASSERT_EQ(hive.Roots().size(), 1u);
    const HiveKey& software = hive.Roots()[0].subkeys.at(0);
    EXPECT_EQ(software.name, "Software");
    ASSERT_EQ(software.subkeys.size(), 1u);
    const HiveKey& tolvar = software.subkeys[0];
    EXPECT_EQ(tolvar.name, "Tolvar");
    std::vector<std::string> names;
    for (const HiveValue& v : tolvar.values)
        names.push_back(std::string(v.name) + "=" + std::string(v.text));
    EXPECT_EQ(names, (std::vector<std::string>{"b=3", "A=2", "c=4"}));
}

TEST(HiveParse, BlankFilesAreEmptyRegistries) {
    for (const std::string& file :
         {std::string(), std::string("\n\n"), std::string(" \r\n\t\r\n"),
          std::string("\xEF\xBB\xBF"), std::string("\xFF\xFE"), test::Utf16Le("\r\n")}) {
        SCOPED_TRACE(testing::PrintToString(file));
        EXPECT_TRUE(Hive::Parse(file, kPath).Roots().empty());
    }
}

struct ErrorCase {
    const char* what;
    std::string file;
    int line;
    const char* reason;  // a part of the message that names the fault
};

std::vector<ErrorCase> ErrorCases() {
    const std::string key = "[" + kDMail + "]\n";
    return {
        {"no header", "[HKEY_CURRENT_USER\\Software]\n", 1, "Kopfzeile"},
        {"blank line before the header", "\nREGEDIT4\n", 1, "Kopfzeile"},
        {"value before any key", kHeader + "\"a\"=\"b\"\n", 3, "außerhalb"},
        {"value before any key, CR LF",
         "Windows Registry Editor Version 5.00\r\n\r\n\"a\"=\"b\"\r\n", 3, "außerhalb"},
        {"key deletion line", kHeader + "[-HKEY_CURRENT_USER\\Software\\X]\n", 3, "[-"},
        {"value deletion", kHeader + key + "\"a\"=-\n", 4, "=-"},
        {"unterminated string", kHeader + key + "\"a\"=\"b\n", 4, "Anführungszeichen"},
        {"string ending in an escaped quote", kHeader + key + "\"a\"=\"C:\\dir\\\"\n", 4,
         "Anführungszeichen"},
        {"unterminated name", kHeader + key + "\"a=\"b\"\n", 4, "="},
        {"no equals sign", kHeader + key + "\"a\" \"b\"\n", 4, "\"=\""},
        {"text behind a string", kHeader + key + "\"a\"=\"b\" c\n", 4, "hinter dem Wert"},
        {"dword with nine digits", kHeader + key + "\"a\"=dword:000000001\n", 4, "dword"},
        {"dword not hexadecimal", kHeader + key + "\"a\"=dword:12g4\n", 4, "dword"},
        {"empty dword", kHeader + key + "\"a\"=dword:\n", 4, "dword"},
        {"bad byte on a continuation line", kHeader + key + "\"a\"=hex:00,01,\\\n  02,0g\n", 5,
         "\"0g\""},
        {"three-digit byte", kHeader + key + "\"a\"=hex:100\n", 4, "\"100\""},
        {"empty item", kHeader + key + "\"a\"=hex:00,,01\n", 4, "leerer Eintrag"},
        {"continuation past the end of the file", kHeader + key + "\"a\"=hex:00,\\\n  01,\\\n", 5,
         "Ende der Datei"},
        {"key line without closing bracket", kHeader + "[HKEY_CURRENT_USER\\Software\n", 3, "]"},
        {"key without root", kHeader + "[Software\\Brenwick]\n", 3, "HKEY_CURRENT_USER"},
        {"empty key name", kHeader + "[HKEY_CURRENT_USER\\\\Software]\n", 3,
         "leerer Schlüsselname"},
        {"trailing backslash in a key line", kHeader + "[HKEY_CURRENT_USER\\Software\\]\n", 3,
         "leerer Schlüsselname"},
        {"unknown value type", kHeader + key + "\"a\"=qword:1\n", 4, "Werttyp"},
        {"bad hex type", kHeader + key + "\"a\"=hex(z):00\n", 4, "hex(N)"},
        {"hex type without colon", kHeader + key + "\"a\"=hex(2)00\n", 4, "hex(N)"},
        {"stray text", kHeader + key + "\"a\"=\"b\"\nhallo\n", 5, "erwartet"},
        {"REGEDIT4 error line", "REGEDIT4\r\n\r\n" + key + "\r\n\"a\"=dword:x\r\n", 5, "dword"},
        {"UTF-16 with an odd byte at the end",
         test::Utf16Le("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\A]\r\n") +
             "A",
         4, "UTF-16"},
        {"UTF-16 with a lone surrogate",
         test::Utf16Le("Windows Registry Editor Version 5.00\r\n") +
             std::string("\x00\xD8\x41\x00", 4),
         2, "UTF-16"},
        {"UTF-16 ending in half a surrogate pair",
         test::Utf16Le("Windows Registry Editor Version 5.00\r\n") + std::string("\x3D\xD8", 2), 2,
         "UTF-16"},
        {"UTF-16 error line inside the file",
         test::Utf16Le(
             "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\A]\r\n\"a\"=\"b\r\n"),
         4, "Anführungszeichen"},
        {"UTF-16 big-endian", std::string("\xFE\xFF\x00W", 4), 1, "big-endian"},
    };
}

TEST(HiveParse, ReportsErrorsWithPathAndLine) {
    for (const ErrorCase& c : ErrorCases()) {
        SCOPED_TRACE(c.what);
        try {
            Hive::Parse(c.file, kPath);
            ADD_FAILURE() << "parsed without error";
        } catch (const RegistryError& e) {
            const std::string message = e.what();
            const std::string prefix = std::string(kPath) + ":" + std::to_string(c.line) + ": ";
            EXPECT_EQ(message.substr(0, prefix.size()), prefix) << message;
            EXPECT_NE(message.find(c.reason), std::string::npos) << message;
        }
    }
}

}  // namespace
}  // namespace tolvar
