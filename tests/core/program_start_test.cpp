// Command lines of the rule action "Ausführen": split as a shell would, and
// the file-name part the event log shows.

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>

#include <chrono>
#include <filesystem>
#include <thread>

#include "core/program_start.h"

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

TEST(StartDetached, TheProgramGetsDefaultSignalsAndAnEmptyMask) {
    // The monitor ignores SIGPIPE (a lost CAPI server) and blocks SIGINT and
    // SIGTERM (the console reads them from a descriptor); a started program
    // must not inherit either.
    const auto out =
        std::filesystem::temp_directory_path() / ("tolvar-signals-" + std::to_string(::getpid()));
    std::filesystem::remove(out);
    const auto oldPipe = std::signal(SIGPIPE, SIG_IGN);
    sigset_t blocked, old;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &blocked, &old);
    ASSERT_TRUE(StartDetached("/bin/sh -c \"grep -E '^Sig(Ign|Blk)' /proc/self/status > " +
                              out.string() + ".tmp && mv " + out.string() + ".tmp " + out.string() +
                              "\""));
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    std::signal(SIGPIPE, oldPipe);
    for (int i = 0; i < 300 && !std::filesystem::exists(out); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::ifstream in(out);
    std::string ign, blk;
    std::getline(in, blk);  // SigBlk comes before SigIgn
    std::getline(in, ign);
    // Signals 1 to 31 (the C library keeps a few real-time ones for itself).
    const auto standard = [](const std::string& line) {
        return std::stoull(line.substr(line.find('\t') + 1), nullptr, 16) & 0x7FFFFFFFull;
    };
    ASSERT_FALSE(blk.empty());
    EXPECT_EQ(standard(blk), 0u) << blk;
    EXPECT_EQ(standard(ign), 0u) << ign;
    std::filesystem::remove(out);
}

}  // namespace
}  // namespace tolvar
