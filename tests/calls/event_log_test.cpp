// The event log: loading, date headers on virtual time, copying, clearing,
// and a file that must never be lost.

#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "calls/event_log.h"
#include "core/virtual_time.h"
#include "support/files.h"
#include "support/recording_front_end.h"

namespace tolvar {
namespace {

namespace fs = std::filesystem;

class EventLogTest : public ::testing::Test {
  protected:
    void WriteFileBytes(const std::string& bytes) { test::WriteAll(path, bytes); }
    std::string FileBytes() { return test::ReadAll(path); }
    // A write, waited for: whether the file now holds the list.
    static bool Write(EventLog& log) {
        log.WriteFile();
        return log.FinishWrites();
    }
    // A call line as the call monitor writes it.
    void Call(EventLog& log, const std::string& rest) {
        log.DateHeaderRule();
        log.AppendLine(FormatLongTime(time.Now().timeOfDay) + "   " + rest);
    }

    test::TempDir dir;
    std::string path = dir.File("Tolvar.txt");
    VirtualTime time{DateTime::From({2026, 12, 7}, 9, 30, 0)};
    test::RecordingFrontEnd ui;
};

TEST_F(EventLogTest, LastHeaderDecidesWhetherTheFirstCallGetsOne) {
    struct Case {
        const char* name;
        std::string file;
        std::vector<std::string> expected;  // lines after one call at 09:30 on 07.12.2026
    };
    const std::vector<Case> cases = {
        {"header for today",
         "\r\n[07.12.2026]\r\n08:00:00   0911 -> 5\r\n",
         {"", "[07.12.2026]", "08:00:00   0911 -> 5", "09:30:00   0711 -> 5"}},
        {"header for yesterday",
         "\r\n[06.12.2026]\r\n23:00:00   0911 -> 5\r\n",
         {"", "[06.12.2026]", "23:00:00   0911 -> 5", "", "[07.12.2026]", "09:30:00   0711 -> 5"}},
        {"empty lines below today's header",
         "[07.12.2026]\r\n\r\n\r\n",
         {"[07.12.2026]", "", "", "09:30:00   0711 -> 5"}},
        {"no header at all",
         "hand-written note\r\n",
         {"hand-written note", "", "[07.12.2026]", "09:30:00   0711 -> 5"}},
        {"header that is no date",
         "[kein Datum]\r\n",
         {"[kein Datum]", "", "[07.12.2026]", "09:30:00   0711 -> 5"}},
        {"no file", "", {"", "[07.12.2026]", "09:30:00   0711 -> 5"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(path);
        if (!c.file.empty()) WriteFileBytes(c.file);
        EventLog log(ui, ui, time, path);
        log.Load();
        Call(log, "0711 -> 5");
        EXPECT_EQ(log.Lines(), c.expected);
    }
}

TEST_F(EventLogTest, FirstCallAfterMidnightGetsANewHeader) {
    EventLog log(ui, ui, time, path);
    log.Load();
    Call(log, "0911 -> 5");
    time.Advance(14 * 3600 * 1000 + 29 * 60 * 1000 + 59 * 1000);  // 23:59:59
    Call(log, "0912 -> 5");
    time.Advance(1000);  // 00:00:00 next day
    Call(log, "0913 -> 5");
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{"", "[07.12.2026]", "09:30:00   0911 -> 5",
                                                     "23:59:59   0912 -> 5", "", "[08.12.2026]",
                                                     "00:00:00   0913 -> 5"}));
    EXPECT_EQ(FromDayNumber(log.LastLogDate()), (CivilDate{2026, 12, 8}));
}

TEST_F(EventLogTest, FileIsUtf8WithCrLfAndOldLinesAreReadAsWindows1252) {
    WriteFileBytes(
        "[07.12.2026]\r\n08:00:00   0911 -> 5 M\xFCller\r\n09:00:00   0912 -> 5 Müller\n");
    EventLog log(ui, ui, time, path);
    log.Load();
    EXPECT_EQ(log.Lines()[1], "08:00:00   0911 -> 5 Müller");
    EXPECT_EQ(log.Lines()[2], "09:00:00   0912 -> 5 Müller");
    ASSERT_TRUE(Write(log));
    EXPECT_EQ(FileBytes(),
              "[07.12.2026]\r\n08:00:00   0911 -> 5 Müller\r\n09:00:00   0912 -> 5 Müller\r\n");
}

TEST_F(EventLogTest, ReplaceLineAndStaleIndices) {
    EventLog log(ui, ui, time, path);
    const int i = log.AppendLine("09:30:00   0911 -> 5");
    log.ReplaceLine(i, "09:30:00   0911 -> 5  verbunden.");
    EXPECT_EQ(log.Lines()[0], "09:30:00   0911 -> 5  verbunden.");
    log.Clear();
    log.ReplaceLine(i, "stale");  // a call that outlived a clear
    EXPECT_TRUE(log.Lines().empty());
    EXPECT_EQ(ui.log, std::vector<std::string>{});
}

TEST_F(EventLogTest, CopyNumbersFromPositionTwelve) {
    struct Case {
        std::string line;
        std::optional<std::string> copied;
    };
    const std::vector<Case> cases = {
        {"09:30:00   0911234 Sprache -> 5551234 Mutter", "0911234 Sprache -> 5551234"},
        {"09:30:00   0911234 Sprache -> 5551234  verbunden.", "0911234 Sprache -> 5551234"},
        {"09:30:00   Unbekannt/Analog Sprache -> 5551234", "Unbekannt/Analog Sprache -> 5551234"},
        {"09:30:00   5552 * Treffen um 18 Uhr", "5552 * Treffen um 18"},
        {"09:30:00   Ünbekannt -> 5", "Ünbekannt -> 5"},
        {"[07.12.2026]", std::nullopt},
        {"", std::nullopt},
        {"09:30:00   keine Ziffer", std::nullopt},
        {"12345678901", std::nullopt},
        {"123456789012", "2"},
    };
    EventLog log(ui, ui, time, path);
    for (const auto& c : cases) log.AppendLine(c.line);
    for (std::size_t i = 0; i < cases.size(); ++i)
        EXPECT_EQ(log.NumbersOf(static_cast<int>(i)), cases[i].copied) << cases[i].line;
    EXPECT_EQ(log.NumbersOf(-1), std::nullopt);
    EXPECT_EQ(log.NumbersOf(static_cast<int>(cases.size())), std::nullopt);
}

TEST_F(EventLogTest, ClearingKeepsTheDaysHeader) {
    EventLog log(ui, ui, time, path);
    log.SetHomeTrash(dir.File("Trash"));
    log.Load();
    Call(log, "0911 -> 5");
    ASSERT_TRUE(Write(log));
    log.Clear();
    EXPECT_FALSE(fs::exists(path));
    EXPECT_TRUE(log.Lines().empty());
    Call(log, "0912 -> 5");
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{"09:30:00   0912 -> 5"}));
}

TEST_F(EventLogTest, ClearingWithoutAFileStillEmptiesTheList) {
    EventLog log(ui, ui, time, path);
    log.AppendLine("09:30:00   0911 -> 5");
    log.Clear();
    EXPECT_TRUE(log.Lines().empty());
    EXPECT_TRUE(ui.Boxes().empty());
}

TEST_F(EventLogTest, ClearThatCannotMoveTheFileReportsAndKeepsTheList) {
    // A folder under the log's name is not the log; nothing is moved.
    fs::create_directories(path);
    EventLog log(ui, ui, time, path);
    log.SetHomeTrash(dir.File("Trash"));
    log.AppendLine("09:30:00   0911 -> 5");
    log.Clear();
    EXPECT_EQ(log.Lines().size(), 1u);
    EXPECT_TRUE(fs::is_directory(path));
    ASSERT_EQ(ui.Boxes().size(), 1u);
    EXPECT_NE(ui.Boxes()[0].find(path), std::string::npos);
    EXPECT_FALSE(fs::exists(dir.File("Trash/files/Tolvar.txt")));
}

// A cleared log can be brought back: it goes to the trash with the whole
// list that was asked to be written, under a name of its own each time, and
// the box says so. Without a trash, one copy is kept beside it.
TEST_F(EventLogTest, ClearedLogGoesToTheTrashOrOneBackup) {
    const std::string named = dir.File("Mein Log \xC3\xBC.txt");
    const std::string trash = dir.File("Trash");
    {
        EventLog log(ui, ui, time, named);
        log.SetHomeTrash(trash);
        Call(log, "0911 -> 5");
        ASSERT_TRUE(Write(log));
        Call(log, "0912 -> 5");
        log.WriteFile();  // on its way when the log is cleared
        log.Clear();
        EXPECT_TRUE(log.Lines().empty());
        EXPECT_FALSE(fs::exists(named));
        const std::string first =
            "\r\n[07.12.2026]\r\n09:30:00   0911 -> 5\r\n09:30:00   0912 -> 5\r\n";
        EXPECT_EQ(test::ReadAll(trash + "/files/Mein Log \xC3\xBC.txt"), first);
        EXPECT_EQ(test::ReadAll(trash + "/info/Mein Log \xC3\xBC.txt.trashinfo"),
                  "[Trash Info]\nPath=" + dir.Path().string() +
                      "/Mein%20Log%20%C3%BC.txt\nDeletionDate=2026-12-07T09:30:00\n");
        EXPECT_EQ(ui.Boxes(), std::vector<std::string>{kClearedToTrashText});

        time.Advance(60 * 1000);
        Call(log, "0913 -> 5");
        ASSERT_TRUE(Write(log));
        log.Clear();
        EXPECT_EQ(test::ReadAll(trash + "/files/Mein Log \xC3\xBC.txt"), first);
        EXPECT_EQ(test::ReadAll(trash + "/files/Mein Log \xC3\xBC.2.txt"),
                  "09:31:00   0913 -> 5\r\n");
        EXPECT_NE(test::ReadAll(trash + "/info/Mein Log \xC3\xBC.2.txt.trashinfo")
                      .find("\nDeletionDate=2026-12-07T09:31:00\n"),
                  std::string::npos);
    }
    // No trash can be made (a file stands where its folder would be): the
    // old log becomes the one backup, replacing an older one.
    test::WriteAll(dir.File("kein"), "");
    for (const char* content : {"erstes\r\n", "zweites\r\n"}) {
        SCOPED_TRACE(content);
        test::RecordingFrontEnd boxes;
        WriteFileBytes(content);
        EventLog log(boxes, boxes, time, path);
        log.SetHomeTrash(dir.File("kein/Trash"));
        log.Load();
        log.Clear();
        EXPECT_TRUE(log.Lines().empty());
        EXPECT_FALSE(fs::exists(path));
        EXPECT_EQ(test::ReadAll(path + ".bak"), content);
        EXPECT_EQ(boxes.Boxes(),
                  std::vector<std::string>{std::string(kClearedToBackupText) + path + ".bak."});
    }
}

TEST_F(EventLogTest, FailedWriteKeepsTheOldFileIsReportedOnceAndRetried) {
    WriteFileBytes("[06.12.2026]\r\nalt\r\n");
    EventLog log(ui, ui, time, path);
    log.Load();
    log.AppendLine("neu");
    {
        test::DiskFull full;
        EXPECT_FALSE(Write(log));
        EXPECT_FALSE(Write(log));
    }
    EXPECT_EQ(ui.Boxes().size(), 1u);
    EXPECT_EQ(FileBytes(), "[06.12.2026]\r\nalt\r\n");
    EXPECT_TRUE(Write(log));
    EXPECT_EQ(FileBytes(), "[06.12.2026]\r\nalt\r\nneu\r\n");
    {
        test::DiskFull full;
        EXPECT_FALSE(Write(log));
    }
    EXPECT_EQ(ui.Boxes().size(), 2u);  // a new failure after a success is reported again
}

// Line ends of every kind, empty lines, a last line without an end, and lines
// that need cleaning among clean ones.
TEST(SplitTextLines, SplitsAndCleansLikeTheFileReader) {
    struct Case {
        std::string text;
        std::vector<std::string> lines;
    };
    const std::vector<Case> cases = {
        {"", {}},
        {"\r\n", {""}},
        {"a\r\nb", {"a", "b"}},
        {"a\nb\n", {"a", "b"}},
        {"a\r\r\n\r\nb", {"a?", "", "b"}},
        {"\x1b[2J\r\nM\xFCller\r\nM\xC3\xBCller\tx\n", {"?[2J", "Müller", "Müller?x"}},
    };
    test::TempDir dir;
    for (const auto& c : cases) {
        const LineStore lines = SplitTextLines(c.text);
        EXPECT_EQ(lines, c.lines) << c.text;
        // The buffer holds the lines as the log writes them, and nothing more.
        EXPECT_EQ(lines.Bytes(), lines.Joined("\r\n")) << c.text;
        EXPECT_EQ(lines.MemoryBytes(), lines.Bytes().size() + 8 * lines.size()) << c.text;
        // The file reader cuts lines inside its own buffer until the first
        // line that needs cleaning: the same lines.
        test::WriteAll(dir.File("Tolvar.txt"), "a\r\nb\n" + c.text);
        const auto read = ReadTextLines(dir.File("Tolvar.txt"));
        ASSERT_TRUE(read);
        std::vector<std::string> expected = {"a", "b"};
        expected.insert(expected.end(), c.lines.begin(), c.lines.end());
        EXPECT_EQ(*read, expected) << c.text;
        EXPECT_EQ(read->Bytes(), read->Joined("\r\n")) << c.text;
        EXPECT_EQ(read->MemoryBytes(), read->Bytes().size() + 8 * read->size()) << c.text;
    }
}

// The writer thread's news comes back through post and is reported on the
// thread that runs what was posted, once per run of failures.
TEST_F(EventLogTest, FailureIsReportedOnTheOwnersThread) {
    struct Posted {
        std::mutex mutex;
        std::condition_variable arrived;
        std::vector<std::function<void()>> fns;
        void Run() {
            std::unique_lock lock(mutex);
            ASSERT_TRUE(
                arrived.wait_for(lock, std::chrono::seconds(10), [&] { return !fns.empty(); }));
            auto batch = std::move(fns);
            fns.clear();
            lock.unlock();
            for (auto& fn : batch) fn();
        }
    } posted;
    struct Boxes final : Dialogs {
        std::vector<std::thread::id> threads;
        Answer MessageBox(Kind, const std::string&) override {
            threads.push_back(std::this_thread::get_id());
            return Answer::Ok;
        }
        std::optional<std::string> ChooseFile(const FileChoice&) override { return {}; }
    } boxes;
    EventLog log(ui, boxes, time, path, [&](std::function<void()> fn) {
        std::lock_guard lock(posted.mutex);
        posted.fns.push_back(std::move(fn));
        posted.arrived.notify_all();
    });
    log.AppendLine("09:30:00   0911 -> 5551234");  // longer than a full disk allows
    {
        test::DiskFull full;
        log.WriteFile();
        posted.Run();
        log.WriteFile();
        posted.Run();
    }
    ASSERT_EQ(boxes.threads.size(), 1u);
    EXPECT_EQ(boxes.threads[0], std::this_thread::get_id());
    log.WriteFile();
    posted.Run();
    EXPECT_EQ(FileBytes(), "09:30:00   0911 -> 5551234\r\n");
    EXPECT_EQ(boxes.threads.size(), 1u);
}

// At the end, lines changed since the last write reach the file (a picked-up
// call's ending is not written when the call ends); an unchanged log is left alone.
TEST_F(EventLogTest, ExitSavesWhatChangedSinceTheLastWrite) {
    WriteFileBytes("[07.12.2026]\r\n09:00:00   0911 -> 5\r\n");
    {
        EventLog log(ui, ui, time, path);
        log.Load();
        log.SaveAtExit();
    }
    EXPECT_EQ(FileBytes(), "[07.12.2026]\r\n09:00:00   0911 -> 5\r\n");
    test::Replacements replaced(path);
    {
        EventLog log(ui, ui, time, path);
        log.Load();
        const int i = log.AppendLine("09:30:00   0912 -> 5");
        log.WriteFile();
        log.ReplaceLine(i, "09:30:00   0912 -> 5  abgehoben 00:01:00");
        log.SaveAtExit();
    }
    EXPECT_EQ(
        FileBytes(),
        "[07.12.2026]\r\n09:00:00   0911 -> 5\r\n09:30:00   0912 -> 5  abgehoben 00:01:00\r\n");
    EXPECT_LE(replaced.Count(), 2);
}

// Clearing while writes are on their way: none of them brings the file back.
TEST_F(EventLogTest, ClearWinsOverWritesOnTheirWay) {
    EventLog log(ui, ui, time, path);
    log.SetHomeTrash(dir.File("Trash"));
    for (int i = 0; i < 50; ++i) {
        log.AppendLine(std::string(20000, 'x'));
        log.WriteFile();
        if (i % 2) log.WriteFile();
        log.Clear();
        ASSERT_FALSE(fs::exists(path)) << i;
    }
    log.FinishWrites();
    EXPECT_FALSE(fs::exists(path));
    // Each clearing kept its one line in the trash.
    EXPECT_EQ(ui.Boxes(), std::vector<std::string>(50, kClearedToTrashText));
    EXPECT_EQ(test::ReadAll(dir.File("Trash/files/Tolvar.50.txt")),
              std::string(20000, 'x') + "\r\n");
}

}  // namespace
}  // namespace tolvar
