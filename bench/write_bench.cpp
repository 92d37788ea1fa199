// The call-end write of "Tolvar.txt" with 100,000 call lines, as the event
// log does it (snapshot, writer thread, the text built in one buffer, one
// write, fsync, rename, the folder synced), against a raw write of the same
// bytes with the same guarantee (a temporary file written at once, fsync,
// rename, the folder synced), in the same folder.
//
//   write_bench [RUNS]

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <iostream>

#include "bench/bench_util.h"
#include "bench/null_front_end.h"
#include "calls/event_log.h"
#include "core/clock.h"

using namespace tolvar;
using namespace tolvar::bench;

namespace {

double Ms(Steady::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

void Check(bool ok, const char* what) {
    if (!ok) throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

// Temporary file, one write, fsync, rename, the folder synced.
double RawWrite(const std::filesystem::path& dir, const std::string& bytes) {
    const std::string temp = (dir / ".raw.tmp").string(), target = (dir / "raw.txt").string();
    const auto t0 = Steady::now();
    const int fd = open(temp.c_str(), O_CREAT | O_WRONLY | O_TRUNC | O_CLOEXEC, 0600);
    Check(fd >= 0, "open");
    Check(write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()), "write");
    Check(fsync(fd) == 0, "fsync");
    close(fd);
    Check(rename(temp.c_str(), target.c_str()) == 0, "rename");
    const int folder = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    Check(folder >= 0 && fsync(folder) == 0, "fsync of the folder");
    close(folder);
    return Ms(Steady::now() - t0);
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 21;
    try {
        Scratch scratch;
        const std::string path = (scratch / "Tolvar.txt").string();
        WriteFile(path, LogFileText(100000));
        NullFrontEnd ui;
        SystemClock clock;
        EventLog log(ui, ui, clock, path);
        log.Load();

        std::vector<double> writes, handOffs, raws;
        for (int r = 0; r < runs; ++r) {
            // A call ends: its line changes, and the file is written.
            log.DateHeaderRule();
            const int line = log.AppendLine("12:00:00   0301234567 -> 5551234  Mutter");
            log.ReplaceLine(line, "12:00:00   0301234567 -> 5551234  Mutter  abgefangen.");
            const auto t0 = Steady::now();
            log.WriteFile();
            const auto t1 = Steady::now();
            if (!log.FinishWrites()) throw std::runtime_error("the log write failed");
            writes.push_back(Ms(Steady::now() - t0));
            handOffs.push_back(Ms(t1 - t0));
            raws.push_back(RawWrite(scratch.Path(), log.Lines().Joined("\r\n")));
        }
        const auto bytes = std::filesystem::file_size(path);
        std::cout << "call-end write of \"Tolvar.txt\" (" << bytes << " bytes, "
                  << log.Lines().size() << " lines), median of " << runs << " runs each\n";
        Note("the main thread hands over a snapshot in " + std::to_string(Median(handOffs)) +
             " ms (slowest " + std::to_string(Percentile(handOffs, 1.0)) +
             " ms); the writer thread does the rest");
        const bool met = Report("call-end write, file replaced", Median(writes), "ms",
                                "raw write of the same bytes", Median(raws), 1.2);
        return met ? 0 : 1;
    } catch (const std::exception& e) {
        std::cerr << "write_bench: " << e.what() << "\n";
        return 2;
    }
}
