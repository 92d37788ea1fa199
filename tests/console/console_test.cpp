// The console front end: its output lines and its commands.

#include <gtest/gtest.h>

#include <mutex>
#include <sstream>

#include "console/console_front_end.h"
#include "core/line_store.h"
#include "core/virtual_time.h"
#include "engine/engine.h"
#include "support/fake_capi.h"
#include "support/files.h"
#include "support/test_host.h"

namespace tolvar {
namespace {

class ConsoleTest : public ::testing::Test {
  protected:
    void TearDown() override { engine.reset(); }
    void Start(const std::string& hive = "") {
        if (!hive.empty())
            test::WriteAll(dir.Path() / "registry.reg",
                           "Windows Registry Editor Version 5.00\n\n" + hive);
        EngineHost host{.capi = capi,
                        .clock = time,
                        .timers = time,
                        .io = io,
                        .ui = ui,
                        .dialogs = ui,
                        .devices = devices.All(),
                        .registryPath = (dir.Path() / "registry.reg").string(),
                        .post = [this](std::function<void()> fn) { Post(std::move(fn)); },
                        .eventLogPath = (dir.Path() / "Tolvar.txt").string(),
                        .trashPath = (dir.Path() / "Trash").string()};
        engine = std::make_unique<Engine>(host);
        engine->FormCreate();
        RunPosted();
        out.str("");
    }
    // Runs a command; everything printed since the last call.
    std::string Run(const std::string& command) {
        out.str("");
        ExecuteConsoleCommand(*engine, command, out);
        return out.str();
    }

    test::TempDir dir;
    std::ostringstream out;
    int quits = 0;
    ConsoleFrontEnd ui{out, [this] { ++quits; }};
    ConsoleDevices devices{ui, [](const std::string&) { return true; }};
    test::FakeCapi capi;
    VirtualTime time;
    test::FakeIo io{capi, time};
    // The event log's writer posts from its thread.
    void Post(std::function<void()> fn) {
        std::lock_guard lock(postedMutex);
        posted.push_back(std::move(fn));
    }
    void RunPosted() {
        std::vector<std::function<void()>> batch;
        {
            std::lock_guard lock(postedMutex);
            batch.swap(posted);
        }
        for (auto& fn : batch) fn();
    }
    std::mutex postedMutex;
    std::vector<std::function<void()>> posted;
    std::unique_ptr<Engine> engine;
};

TEST_F(ConsoleTest, OutputLinesEscapeLineBreaks) {
    std::ostringstream o;
    ConsoleFrontEnd front(o, [] {});
    front.Emit("box", "Zeile 1\r\nZeile 2");
    front.SetTrayTip("Tolvar");  // unchanged: no line
    front.SetTrayTip("DMail eingetroffen");
    front.LogLineSet(3, "09:30:00   0911 -> 5", true);
    front.LogCleared();
    EXPECT_EQ(o.str(),
              "box: Zeile 1\\r\\nZeile 2\n"
              "tray: DMail eingetroffen\n"
              "protokoll 3: 09:30:00   0911 -> 5\n"
              "protokoll-clear: \n");
}

// A loaded log goes out in a few large writes and one flush, not one flushed
// write per line, and reads exactly as line-by-line output would, escapes
// and order included.
TEST_F(ConsoleTest, LoadedLogIsWrittenInBlocks) {
    struct CountingBuffer : std::stringbuf {
        int writes = 0;
        int flushes = 0;
        std::streamsize xsputn(const char* s, std::streamsize n) override {
            ++writes;
            return std::stringbuf::xsputn(s, n);
        }
        int sync() override {
            ++flushes;
            return std::stringbuf::sync();
        }
    } buffer;
    std::ostream o(&buffer);
    ConsoleFrontEnd front(o, [] {});
    LineStore lines{"", "[07.12.2026]", "09:30:00   0911 -> 5 Müller"};
    for (int i = 0; i < 20000; ++i) {
        lines.Append("09:31:00   0912 -> 5  abgefangen.");
        // Cannot be in a loaded log; escaped all the same, in its place.
        if (i == 10000) lines.Append("kaputt \x1b[2J");
    }
    lines.Append(std::string(300000, 'x'));  // longer than a block
    front.LogLoaded(lines);
    EXPECT_LE(buffer.writes, 8);
    EXPECT_EQ(buffer.flushes, 1);
    std::ostringstream expected;
    ConsoleFrontEnd oneByOne(expected, [] {});
    for (std::size_t i = 0; i < lines.size(); ++i)
        oneByOne.Emit("protokoll " + std::to_string(i), std::string(lines[i]));
    EXPECT_TRUE(buffer.str() == expected.str());
    EXPECT_NE(buffer.str().find("\nprotokoll 10004: kaputt ?[2J\nprotokoll 10005: 09:31"),
              std::string::npos);
}

TEST_F(ConsoleTest, ChannelsOfStatusListsLinkAndDevices) {
    std::ostringstream o;
    ConsoleFrontEnd front(o, [] {});
    front.Emit("box",
               "Feld\x1b[2J\x07 und \xC2\x85"
               "Ende");  // ESC, BEL, a C1 control
    front.AppendStatusLine(StatusList::SmsTrace, "Verbunden.", false);
    front.ClearStatusList(StatusList::SmsTrace);
    front.AppendStatusLine(StatusList::DMailStatus, "Teilnehmer besetzt.", false);
    front.ClearStatusList(StatusList::DMailStatus);
    front.AppendStatusLine(StatusList::DMailLog, "5551234 > Hallo", false);
    front.AppendStatusLine(StatusList::DMailLog, "5559876 < Hi", true);
    front.CapiLinkChanged(false, "Verbindung zur CAPI verloren");
    front.CapiLinkChanged(true, "tolvar-line");
    // A program is reported only when it was started.
    bool startable = true;
    ConsoleDevices starter(front, [&](const std::string&) { return startable; });
    EXPECT_TRUE(starter.Start("/bin/true"));
    startable = false;
    EXPECT_FALSE(starter.Start("/nicht/da"));
    EXPECT_EQ(o.str(),
              "box: Feld?[2J? und ?Ende\n"
              "sms: Verbunden.\n"
              "sms-clear: \n"
              "dmail: Teilnehmer besetzt.\n"
              "dmail-clear: \n"
              "dmail-log: 5551234 > Hallo\n"
              "dmail-log sent: 5559876 < Hi\n"
              "capi: down Verbindung zur CAPI verloren\n"
              "capi: up tolvar-line\n"
              "exec: /bin/true\n");
}

TEST_F(ConsoleTest, CommandsAndTheirErrors) {
    Start();
    struct Case {
        const char* command;
        const char* output;
    };
    const Case cases[] = {
        {"", ""},
        {"show", ""},
        {"show Info", ""},
        {"page Ereignisprotokoll", ""},
        {"page", "error: page needs a page caption\n"},
        {"page Nirgendwo", "error: unknown page \"Nirgendwo\"\n"},
        {"show ISDN", "error: the page \"ISDN\" is hidden\n"},
        {"copy", "error: copy needs the number of an event-log line\n"},
        {"copy 0", "error: copy needs the number of an event-log line\n"},
        {"copy x", "error: copy needs the number of an event-log line\n"},
        {"hide now", "error: unknown command \"hide now\"\n"},
        {"tanzen", "error: unknown command \"tanzen\"\n"},
        {"escape", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(Run(c.command), c.output) << c.command;
    EXPECT_EQ(engine->ActivePage(), Page::Protokoll);
    EXPECT_EQ(quits, 0);
    EXPECT_EQ(Run("quit"), "");
    EXPECT_EQ(quits, 1);
}

TEST_F(ConsoleTest, CopyClearAndHide) {
    Start();
    engine->Log().AppendLine("09:30:00   0911234 -> 5551234");
    EXPECT_EQ(Run("copy 0"), "clipboard: 0911234 -> 5551234\n");
    EXPECT_EQ(Run("clear-log"), "protokoll-clear: \n");
    EXPECT_EQ(Run("show"), "");
    EXPECT_EQ(Run("hide"), "");
    // Hiding saved the rules.
    EXPECT_NE(test::ReadAll(dir.Path() / "registry.reg").find("Ihre TEL/FAX Nummer !"),
              std::string::npos);
}

// "help" lists every command the console takes, each of them known to it, and
// the README's table of commands names each one.
TEST_F(ConsoleTest, HelpListsEveryCommand) {
    Start();
    std::istringstream help(Run("help"));
    std::vector<std::string> words;
    for (std::string line; std::getline(help, line);) {
        ASSERT_EQ(line.rfind("help: ", 0), 0u) << line;
        ASSERT_GT(line.size(), 23u) << line;  // a description behind each
        words.push_back(line.substr(6, line.find(' ', 6) - 6));
    }
    EXPECT_EQ(words,
              (std::vector<std::string>{"show", "hide", "page", "sms-to", "sms-text", "sms-send",
                                        "dmail-to", "dmail-text", "dmail-msn", "dmail-send",
                                        "escape", "copy", "clear-log", "help", "quit"}));
    const std::string readme = test::ReadAll(TOLVAR_SOURCE_DIR "/README.md");
    for (const auto& word : words) {
        EXPECT_EQ(Run(word).find("unknown command"), std::string::npos) << word;
        EXPECT_TRUE(readme.find("`" + word + "`") != std::string::npos ||
                    readme.find("`" + word + " ") != std::string::npos)
            << word;
    }
    EXPECT_EQ(Run("help me"), "error: unknown command \"help me\"\n");
}

TEST_F(ConsoleTest, IsdnPageCanBeShownWhenEnabled) {
    Start("[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar]\n\"ShowISDNTab\"=dword:00000001\n\n");
    EXPECT_EQ(Run("show ISDN"), "");
    EXPECT_EQ(engine->ActivePage(), Page::ISDN);
}

}  // namespace
}  // namespace tolvar
