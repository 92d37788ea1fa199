// Command lines of the rule action "Ausführen": split as a shell would, and
// the file-name part the event log shows.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "calls/program_start.h"

namespace tolvar {
namespace {

using Words = std::vector<std::string>;

TEST(SplitCommandLine, QuotesAndBackslashes) {
    struct Case {
        const char* line;
        Words words;
    };
    const Case cases[] = {
        {"", {}},
        {" \t ", {}},
        {"a b\tc", {"a", "b", "c"}},
        {"  a   b  ", {"a", "b"}},
        {"\"a b\" c", {"a b", "c"}},
        {"x\"a b\"y", {"xa by"}},
        {"'a \"b' c", {"a \"b", "c"}},
        {"'a\\b'", {"a\\b"}},
        {"a\\ b", {"a b"}},
        {"a\\\\b", {"a\\b"}},
        {"\\'a", {"'a"}},
        {"\"q \\\" \\\\ \\$ \\` \\x\"", {"q \" \\ $ ` \\x"}},
        {"\"\" ''", {"", ""}},
        {"/usr/bin/touch \"/tmp/mit blank\"", {"/usr/bin/touch", "/tmp/mit blank"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        const auto words = SplitCommandLine(c.line);
        ASSERT_TRUE(words);
        EXPECT_EQ(*words, c.words);
    }
}

TEST(SplitCommandLine, UnterminatedQuoteIsNoCommandLine) {
    for (const char* line : {"\"abc", "'abc", "a \"b\\\"", "a 'b", "\"abc\\", "ok \"x\" \"y"}) {
        SCOPED_TRACE(line);
        EXPECT_FALSE(SplitCommandLine(line));
    }
}

TEST(FileNamePart, TextAfterTheLastSlash) {
    const std::pair<const char*, const char*> cases[] = {
        {"/usr/share/sounds/klingel.wav", "klingel.wav"},
        {"klingel.wav", "klingel.wav"},
        {"/opt/bin/melde --laut", "melde --laut"},
        {"/usr/bin/touch /tmp/mark", "mark"},
        {"ordner/", ""},
        {"", ""},
        {"C:\\Programme\\x.exe", "C:\\Programme\\x.exe"},
    };
    for (const auto& [path, part] : cases) EXPECT_EQ(FileNamePart(path), part) << path;
}

TEST(StartDetached, StartsAProgramAndRefusesWhatCannotStart) {
    const auto mark = std::filesystem::temp_directory_path() /
                      ("tolvar-start-" + std::to_string(::getpid()) + " mit blank");
    std::filesystem::remove(mark);
    EXPECT_TRUE(StartDetached("/usr/bin/touch \"" + mark.string() + "\""));
    for (int i = 0; i < 200 && !std::filesystem::exists(mark); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(std::filesystem::exists(mark));
    std::filesystem::remove(mark);
    EXPECT_FALSE(StartDetached(""));
    EXPECT_FALSE(StartDetached("\"unterminated"));
    EXPECT_FALSE(StartDetached("/nicht/vorhanden/programm"));
}

}  // namespace
}  // namespace tolvar
