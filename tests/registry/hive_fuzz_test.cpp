// Random, truncated and mutated files: the parser either reads them or reports
// a RegistryError with path and line, and what it reads it writes back in a
// form that reads the same again.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "registry/hive.h"
#include "registry/registry.h"
#include "test_files.h"

namespace tolvar {
namespace {

constexpr const char* kPath = "fuzz.reg";

void Check(const std::string& bytes) {
    try {
        const Hive hive = Hive::Parse(bytes, kPath);
        const std::string text = hive.Serialize();
        const Hive again = Hive::Parse(text, kPath);
        ASSERT_EQ(again.Serialize(), text) << testing::PrintToString(bytes);
    } catch (const RegistryError& e) {
        ASSERT_EQ(std::string(e.what()).rfind(std::string(kPath) + ":", 0), 0u) << e.what();
    }
}

const std::string kSample = R"(Windows Registry Editor Version 5.00

; a comment
[HKEY_CURRENT_USER\Software\Brenwick\Tolvar\DMail]
"ACKDelay"=dword:00000bb8
"MSN"="55\\51\"234"
@="Standard"

[HKEY_CURRENT_USER\Software\Brenwick\Tolvar\SMS\Provider\Überwachung]
"XlateTable"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,\
  14,15,16
"Expand"=hex(2):41,00,00,00

[HKEY_LOCAL_MACHINE\SOFTWARE\X]
"a"="b"
)";

TEST(HiveFuzz, EveryPrefixOfAValidFile) {
    const std::string crlf = [] {
        std::string s;
        for (char c : kSample) s += c == '\n' ? std::string("\r\n") : std::string(1, c);
        return s;
    }();
    for (const std::string& file :
         {kSample, crlf, test::Utf16Le(crlf), "REGEDIT4\n" + kSample.substr(37)}) {
        for (std::size_t n = 0; n <= file.size(); ++n) Check(file.substr(0, n));
    }
}

TEST(HiveFuzz, MutatedFiles) {
    std::mt19937 rng(20240611);
    const std::string utf16 = test::Utf16Le(kSample);
    for (int i = 0; i < 3000; ++i) {
        std::string file = (i % 4 == 0) ? utf16 : kSample;
        const int edits = 1 + static_cast<int>(rng() % 4);
        for (int e = 0; e < edits && !file.empty(); ++e) {
            const std::size_t at = rng() % file.size();
            switch (rng() % 3) {
                case 0:
                    file[at] = static_cast<char>(rng());
                    break;
                case 1:
                    file.erase(at, 1 + rng() % 8);
                    break;
                default:
                    file.insert(at, 1, "\\\",=[]@:;\n\r\xFF\x00"[rng() % 14]);
                    break;
            }
        }
        Check(file);
    }
}

TEST(HiveFuzz, RandomPiecesOfSyntax) {
    const std::vector<std::string> pieces = {
        "Windows Registry Editor Version 5.00\n",
        "REGEDIT4\r\n",
        "\n",
        "\r\n",
        "[HKEY_CURRENT_USER\\",
        "[HKEY_LOCAL_MACHINE",
        "[-",
        "]",
        "\\",
        "Software",
        "\"",
        "\\\"",
        "\\\\",
        "=",
        "@",
        "dword:",
        "0000bb8",
        "hex:",
        "hex(2):",
        "hex(",
        "00,",
        "ff",
        ",\\\n  ",
        "; ",
        " ",
        "\t",
        "\xC3\xBC",
        "\xFC",
        "\xFF\xFE",
        "\xEF\xBB\xBF",
        std::string(1, '\0'),
    };
    std::mt19937 rng(7);
    for (int i = 0; i < 5000; ++i) {
        std::string file = (i % 3 == 0) ? "" : pieces[0];
        const int count = static_cast<int>(rng() % 40);
        for (int k = 0; k < count; ++k) file += pieces[rng() % pieces.size()];
        Check(file);
        Check(test::Utf16Le("Windows Registry Editor Version 5.00\n") + file);  // odd bytes and all
    }
}

TEST(HiveFuzz, RandomBytes) {
    std::mt19937 rng(99);
    for (int i = 0; i < 2000; ++i) {
        std::string file(rng() % 200, '\0');
        for (char& c : file) c = static_cast<char>(rng());
        if (i % 2 == 0)
            file = "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\a]\n" + file;
        Check(file);
    }
}

}  // namespace
}  // namespace tolvar
