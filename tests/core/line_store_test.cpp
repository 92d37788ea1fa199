// The compact line store against a plain vector of strings, and the check
// that decides which loaded lines need no cleaning.

#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "core/ascii_run.h"
#include "core/charset.h"
#include "core/line_store.h"

namespace tolvar {
namespace {

std::string Joined(const std::vector<std::string>& lines, const std::string& end) {
    std::string out;
    for (const auto& l : lines) out += l + end;
    return out;
}

// Random appends, replacements anywhere (longer, shorter, empty), copies and
// clears, each checked against the same operations on a vector.
TEST(LineStore, BehavesAsAVectorOfLines) {
    std::mt19937 random(7);
    const auto text = [&](std::size_t maxLength) {
        std::string s(random() % (maxLength + 1), ' ');
        for (char& c : s) c = static_cast<char>('a' + random() % 26);
        return s;
    };
    LineStore store;
    std::vector<std::string> model;
    for (int step = 0; step < 20000; ++step) {
        const unsigned op = random() % 100;
        if (op < 70 || model.empty()) {
            const std::string line = text(step % 500 == 0 ? 5000 : 60);
            store.Append(line);
            model.push_back(line);
        } else if (op < 98) {
            // Mostly near the end, as a call's line is; now and then anywhere.
            const std::size_t n = model.size();
            const std::size_t i =
                op < 90 ? n - 1 - random() % std::min<std::size_t>(n, 4) : random() % n;
            const std::string line = text(op % 3 == 0 ? 0 : 120);
            store.Replace(i, line);
            model[i] = line;
        } else if (op == 98) {
            const LineStore copy = store;
            ASSERT_EQ(copy, model);
        } else if (step % 7 == 0) {
            store.Clear();
            model.clear();
        }
        ASSERT_EQ(store.size(), model.size()) << "step " << step;
    }
    EXPECT_EQ(store, model);
    std::size_t bytes = 0;
    for (const auto& l : model) bytes += l.size();
    EXPECT_EQ(store.TextBytes(), bytes);
    EXPECT_EQ(store.Joined("\r\n"), Joined(model, "\r\n"));
    EXPECT_EQ(store.ToVector(), model);
}

TEST(LineStore, OwnLinesAsArgumentsAndIndependentCopies) {
    LineStore store{"eins", "", "drei"};
    // Growing may move the buffer the argument points into.
    for (int i = 0; i < 2000; ++i) store.Append(store[0]);
    store.Replace(1, store[2]);
    store.Replace(0, store[store.size() - 1]);
    EXPECT_EQ(store[0], "eins");
    EXPECT_EQ(store[1], "drei");
    EXPECT_EQ(store.back(), "eins");

    // A copy is a snapshot: what happens to the original later does not reach it.
    LineStore snapshot = store;
    store.Replace(1, "geändert");
    store.Append("neu");
    EXPECT_EQ(snapshot[1], "drei");
    EXPECT_EQ(snapshot.size() + 1, store.size());
    LineStore moved = std::move(snapshot);
    EXPECT_TRUE(snapshot.empty());
    EXPECT_EQ(moved[1], "drei");
    EXPECT_EQ(LineStore{}.Joined("\r\n"), "");
    EXPECT_EQ((LineStore{"", ""}.Joined("\r\n")), "\r\n\r\n");
}

// Memory near the text: one 8-byte offset per line, and room that grows by an
// eighth, not by doubling.
TEST(LineStore, HoldsLittleMoreThanItsText) {
    LineStore grown;
    for (int i = 0; i < 200000; ++i) grown.Append("12:34:56   0301234567 -> 5551234  abgefangen.");
    const double tight = static_cast<double>(grown.TextBytes() + 8 * grown.size());
    EXPECT_LE(static_cast<double>(grown.MemoryBytes()), 1.13 * tight);

    LineStore loaded;
    loaded.Reserve(grown.TextBytes() + 1000, grown.size() + 10);
    for (std::string_view line : grown) loaded.Append(line);
    loaded.ShrinkToFit();
    EXPECT_EQ(static_cast<double>(loaded.MemoryBytes()), tight);
    loaded.Clear();
    EXPECT_EQ(loaded.MemoryBytes(), 0u);
}

// A store with a line end holds the file's bytes; a snapshot of them stays
// as it was whatever the store does next, also while another thread reads it.
TEST(LineStore, LineEndsInTheBufferAndSnapshotsThatStay) {
    LineStore log("\r\n");
    log.Append("[07.12.2026]");
    log.Append("09:30:00   0911 -> 5");
    EXPECT_EQ(log.Bytes(), "[07.12.2026]\r\n09:30:00   0911 -> 5\r\n");
    EXPECT_EQ(log.TextBytes(), 32u);
    EXPECT_EQ(log[1], "09:30:00   0911 -> 5");

    const LineStore::Snapshot first = log.Share();
    log.Replace(1, "09:30:00   0911 -> 5  abgefangen.");  // changes bytes the snapshot holds
    const LineStore::Snapshot second = log.Share();
    log.Append("09:31:00   0912 -> 5");                                 // behind them
    for (int i = 0; i < 5000; ++i) log.Append("09:32:00   0913 -> 5");  // grows the buffer
    LineStore::Snapshot copy = first;
    log.Clear();
    EXPECT_EQ(first.Bytes(), "[07.12.2026]\r\n09:30:00   0911 -> 5\r\n");
    EXPECT_EQ(copy.Bytes(), first.Bytes());
    EXPECT_EQ(second.Bytes(), "[07.12.2026]\r\n09:30:00   0911 -> 5  abgefangen.\r\n");
    EXPECT_EQ(LineStore().Share().Bytes(), "");

    // A reader on another thread while the store changes under it.
    for (int i = 0; i < 1000; ++i) log.Append("0" + std::to_string(i));
    const LineStore::Snapshot held = log.Share();
    const std::string expected(held.Bytes());
    std::atomic<bool> same{true};
    std::thread reader([&] {
        for (int i = 0; i < 200; ++i)
            if (held.Bytes() != expected) same = false;
    });
    for (int i = 0; i < 2000; ++i) {
        log.Replace(static_cast<std::size_t>(i % 1000), "neu " + std::to_string(i));
        log.Append("mehr");
    }
    reader.join();
    EXPECT_TRUE(same);
}

// Lines cut where a reader put them: in place when they end as the store
// ends its lines, moved otherwise, and never over bytes not yet cut.
TEST(LineStore, LinesCutInTheRoom) {
    const std::string file = "eins\r\nzwei\r\ndrei\nvier\r\n";
    LineStore lines("\r\n");
    char* room = lines.Room(file.size() + 16);
    std::copy(file.begin(), file.end(), room);
    EXPECT_TRUE(lines.AppendFromRoom(0, 4, 6));
    EXPECT_TRUE(lines.AppendFromRoom(6, 4, 12));
    // "drei" ends in LF alone: its CR LF would reach "vier", not yet cut.
    EXPECT_FALSE(lines.AppendFromRoom(12, 4, 17));
    EXPECT_EQ(lines.size(), 2u);
    lines.Append("drei");  // what a reader does then: the rest the usual way
    lines.Append("vier");
    EXPECT_EQ(lines.Bytes(), "eins\r\nzwei\r\ndrei\r\nvier\r\n");
    EXPECT_THROW(lines.AppendFromRoom(0, 4, 6), std::out_of_range);  // inside the text

    // Clean lines taken in one go, up to the first that needs a closer look.
    const std::string more = "fünf\r\nsechs\r\nsieben\r\nacht\nneun\r\n";
    LineStore taken("\r\n");
    char* at = taken.Room(more.size());
    std::copy(more.begin(), more.end(), at);
    EXPECT_EQ(taken.TakeCleanLines(more.size()), 22u);  // "acht" ends in LF alone
    EXPECT_EQ(taken.ToVector(), (std::vector<std::string>{"fünf", "sechs", "sieben"}));
    EXPECT_EQ(LineStore().TakeCleanLines(0), 0u);  // no CR LF to end its lines
}

// Taking lines a block of 64 bytes at a time agrees with looking at each line
// on its own: wherever a line, its CR LF or a UTF-8 character meets a block's
// border, and wherever the bytes read so far end.
TEST(LineStore, TakesCleanLinesAsALineByLineLookWould) {
    const std::vector<std::string> lines = {"09:30:00   0911 -> 5551234  abgefangen.",
                                            "B\xC3\xBCro M\xC3\xBCller",
                                            "",
                                            std::string(70, 'x'),
                                            "mit\tTab",
                                            "mit \x7F",
                                            "C1 \xC2\x85 Steuerzeichen",
                                            "kein UTF-8 \xFC",
                                            "nur CR\rdazwischen"};
    const auto reference = [](std::string_view text) {
        std::size_t taken = 0;
        for (;;) {
            const std::size_t crlf = text.find("\r\n", taken);
            if (crlf == std::string_view::npos) return taken;
            const std::string_view line = text.substr(taken, crlf - taken);
            if (line.find('\r') != std::string_view::npos || !IsCleanText(line)) return taken;
            taken = crlf + 2;
        }
    };
    for (std::size_t bad = 0; bad < lines.size(); ++bad) {
        for (std::size_t shift = 0; shift < 64; ++shift) {
            // Clean lines, then one of each kind, then more clean lines.
            std::string text = std::string(shift, 'a') + "\r\n";
            for (std::size_t i = 0; i < 3; ++i) text += lines[i % 2] + "\r\n";
            text += lines[bad] + "\r\n" + lines[0] + "\r\n" + lines[1] + "\r\n";
            for (std::size_t end :
                 {text.size(), text.size() - 1, text.size() / 2, std::size_t{65}}) {
                end = std::min(end, text.size());
                LineStore store("\r\n");
                std::copy(text.begin(), text.end(), store.Room(text.size()));
                const std::size_t want = reference(std::string_view(text).substr(0, end));
                ASSERT_EQ(store.TakeCleanLines(end), want)
                    << "line " << bad << ", shifted by " << shift << ", read up to " << end;
                EXPECT_EQ(store.Bytes(), std::string_view(text).substr(0, want));
            }
        }
    }
}

// IsCleanText says yes exactly where ReplaceControlCharacters changes nothing.
TEST(CleanText, AgreesWithReplaceControlCharacters) {
    const std::vector<std::string> samples = {
        "",
        "09:30:00   0911 -> 5",
        "M\xC3\xBCller \xE2\x82\xAC \xF0\x9F\x93\x9E",  // Müller € and a 4-byte sequence
        "tab\there",
        "\x1b[2J",
        "del\x7f",
        "C1 \xC2\x85",
        "M\xFCller",         // Windows-1252
        "\xC3",              // cut short
        "\xE2\x82",          // cut short
        "\xC0\xAF",          // overlong
        "\xED\xA0\x80",      // a surrogate
        "\xF4\x90\x80\x80",  // past U+10FFFF
        "ok\xC2\xA0ok",      // no-break space is printable
    };
    for (const auto& s : samples) EXPECT_EQ(IsCleanText(s), ReplaceControlCharacters(s) == s) << s;
    // Long strings of mostly printable bytes, so that the sixteen-byte steps
    // meet the odd byte at every position.
    std::mt19937 random(11);
    const std::string odd =
        std::string("\x7f\x1f\x80\x85\xA0\xBF\xC2\xC3\xE2\xED\xF0\xF4\xFF\n\r", 15);
    for (int i = 0; i < 40000; ++i) {
        std::string s(random() % 48, ' ');
        for (char& c : s)
            c = random() % 8 != 0 ? static_cast<char>(0x20 + random() % 95)
                                  : odd[random() % odd.size()];
        std::size_t run = 0;
        while (run < s.size() && s[run] >= 0x20 && s[run] <= 0x7E) ++run;
        ASSERT_EQ(PrintableAsciiRun(s), run) << i;
        // The same run where the bytes after the string may be read, or not.
        const std::string after = s + std::string(random() % 20, 'x');
        char out[48 + 16];
        const std::size_t within = ascii::RunWithin<true>(
            std::string_view(after).substr(0, s.size()), after.data() + after.size(), out);
        ASSERT_EQ(within, run) << i;
        ASSERT_EQ(std::string(out, run), s.substr(0, run)) << i;
        ASSERT_EQ(IsCleanText(s), ReplaceControlCharacters(s) == s) << i;
    }
}

}  // namespace
}  // namespace tolvar
