#include "bench/bench_util.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "support/hive_header.h"
#include "support/process.h"

namespace tolvar::bench {

std::string BinDir() {
    return std::filesystem::read_symlink("/proc/self/exe").parent_path().string();
}

Scratch::Scratch() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tolvar-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

Scratch::~Scratch() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

void WriteFile(const std::filesystem::path& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

Child::Child(const std::vector<std::string>& argv, const std::filesystem::path& dir,
             const std::string& stderrFile) {
    const test::PipedChild child =
        test::StartPiped(argv, dir.string(), stderrFile.empty() ? "/dev/null" : stderrFile);
    pid_ = child.pid;
    in_ = child.in;
    out_ = child.out;
    // The measuring end reads in large pieces, so that it slows down a child
    // that writes much (a long event log) as little as it can.
    fcntl(out_, F_SETPIPE_SZ, 1 << 20);
}

Child::~Child() {
    if (!exit_ && pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (in_ >= 0) close(in_);
    if (out_ >= 0) close(out_);
}

bool Child::WaitFor(std::string_view text, std::chrono::milliseconds timeout) {
    const auto deadline = Steady::now() + timeout;
    // Each read is searched where it lies, behind the few bytes kept from
    // before it (a match may straddle two reads): a child that writes much
    // (a long event log) is slowed by the measuring end as little as can be.
    constexpr std::size_t kChunk = 1 << 20;
    static thread_local std::vector<char> buffer;
    const auto search = [&](std::string_view data) {
        const void* at = memmem(data.data(), data.size(), text.data(), text.size());
        if (at == nullptr) {
            // Only a partial match at the end can still become one.
            pending_.assign(data.substr(data.size() - std::min(data.size(), text.size() - 1)));
            return false;
        }
        // Keep what follows the end of the line with the text.
        const std::size_t found =
            static_cast<std::size_t>(static_cast<const char*>(at) - data.data());
        const std::size_t nl = data.find('\n', found);
        pending_.assign(nl == std::string_view::npos ? std::string_view() : data.substr(nl + 1));
        return true;
    };
    if (text.empty() || search(std::string(pending_))) return true;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Steady::now());
        if (left.count() <= 0 || out_ < 0) return false;
        pollfd p{out_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
        const std::size_t kept = pending_.size();
        if (buffer.size() < kept + kChunk) buffer.resize(kept + kChunk);
        std::copy(pending_.begin(), pending_.end(), buffer.begin());
        const ssize_t n = read(out_, buffer.data() + kept, kChunk);
        if (n <= 0) {
            close(out_);
            out_ = -1;
            return false;
        }
        if (search(std::string_view(buffer.data(), kept + static_cast<std::size_t>(n))))
            return true;
    }
}

std::string Child::ReadAll(std::chrono::milliseconds timeout) {
    const auto deadline = Steady::now() + timeout;
    std::string all = std::move(pending_);
    pending_.clear();
    char buf[65536];
    while (out_ >= 0) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Steady::now());
        if (left.count() <= 0) break;
        pollfd p{out_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
        const ssize_t n = read(out_, buf, sizeof buf);
        if (n <= 0) {
            close(out_);
            out_ = -1;
            break;
        }
        all.append(buf, static_cast<std::size_t>(n));
    }
    return all;
}

void Child::Send(std::string_view line) {
    std::string data(line);
    data += '\n';
    [[maybe_unused]] auto n = write(in_, data.data(), data.size());
}

std::optional<int> Child::Wait(std::chrono::milliseconds timeout) {
    if (exit_) return exit_;
    const auto deadline = Steady::now() + timeout;
    char drain[65536];
    while (Steady::now() < deadline) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            exit_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            return exit_;
        }
        // A child blocked on a full pipe would never end.
        if (out_ >= 0) {
            pollfd p{out_, POLLIN, 0};
            if (poll(&p, 1, 5) > 0 && read(out_, drain, sizeof drain) <= 0) {
                close(out_);
                out_ = -1;
            }
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    return std::nullopt;
}

long Child::CpuTicks() const {
    std::ifstream stat("/proc/" + std::to_string(pid_) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    // Fields after the command name in parentheses: utime and stime are the
    // 14th and 15th of the line.
    const auto close = text.rfind(')');
    if (close == std::string::npos) return -1;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14) utime = std::stol(field);
        if (i == 15) stime = std::stol(field);
    }
    return utime + stime;
}

double Median(std::vector<double> values) {
    return Percentile(std::move(values), 0.5);
}

double Percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const double at = p * static_cast<double>(values.size() - 1);
    const auto lo = static_cast<std::size_t>(at);
    const auto hi = std::min(lo + 1, values.size() - 1);
    return values[lo] + (values[hi] - values[lo]) * (at - static_cast<double>(lo));
}

namespace {
std::string Fixed(double v, int digits) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", digits, v);
    return buf;
}
std::string Number(double v) {
    return Fixed(v, v >= 100 ? 0 : v >= 10 ? 1 : 2);
}
}  // namespace

bool Report(const std::string& name, double value, const std::string& unit, const std::string& what,
            double reference, std::optional<double> goal) {
    const double ratio = reference > 0 ? value / reference : 0;
    const bool met = !goal || ratio <= *goal;
    std::cout << name << ": " << Number(value) << " " << unit << "  reference " << Number(reference)
              << " " << unit << " (" << what << ")  ratio " << Fixed(ratio, 2);
    if (goal) std::cout << "  goal <= " << Fixed(*goal, 1) << (met ? "  met" : "  MISSED");
    std::cout << std::endl;
    return met;
}

void Note(const std::string& text) {
    std::cout << "  " << text << std::endl;
}

namespace {
std::string Two(int n) {
    char buf[4];
    std::snprintf(buf, sizeof buf, "%02d", n % 100);
    return buf;
}
}  // namespace

std::string LogFileText(std::size_t callLines) {
    static const char* const kNames[] = {
        "", " Mutter", " Praxis Dr. Berger", "", " Büro", " Nachbar", "", " Schmidt"};
    static const char* const kEnds[] = {"  abgefangen.",        "  verbunden.", "",
                                        "  abgehoben 00:03:12", "  sende SMS.", ""};
    static const char* const kServices[] = {"", " Sprache", "", " Fax G3", "", " Daten"};
    std::string text;
    text.reserve(callLines * 56);
    int day = 0;
    for (std::size_t i = 0; i < callLines; ++i) {
        if (i % 40 == 0) {
            ++day;
            text += "\r\n[" + Two(1 + day % 28) + "." + Two(1 + day / 28 % 12) + "." +
                    std::to_string(2010 + day / 336) + "]\r\n";
        }
        const int second = static_cast<int>(i * 7919 % 86400);
        text += Two(second / 3600) + ":" + Two(second / 60 % 60) + ":" + Two(second % 60) + "   0" +
                std::to_string(30000000 + i * 104729 % 9000000) + kServices[i % 6] + " -> 555" +
                std::to_string(1234 + i % 3) + kNames[i % 8] + kEnds[i % 6] + "\r\n";
    }
    return text;
}

std::string SettingsText(std::size_t ruleEntries, bool isdnPage) {
    const auto key = [](const std::string& below) {
        return "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar" + below + "]\n";
    };
    std::string t = test::kHiveHeader;
    t += key("") + (isdnPage ? "\"ShowISDNTab\"=dword:00000001\n\n" : "\n");
    t += key("\\Agent") + "\"UseAgent\"=dword:00000000\n\"UseOutlook\"=dword:00000000\n\n";
    t += key("\\DMail") +
         "\"ACKDelay\"=dword:00000bb8\n\"PacketDelay\"=dword:00000014\n"
         "\"ACKTimeOut\"=dword:00002ee0\n\"DMailNotifySound\"=\"\"\n\n";
    t += key("\\DMail\\Subscriber") + "\n";
    t += key("\\SMS\\Subscriber") + "\n";
    // Keys in the order the program writes them: ascending, so 0-padded.
    const std::size_t msns = ruleEntries >= 10 ? 10 : 1;
    const std::size_t perCaller = ruleEntries >= 20 ? 2 : 1;
    const std::size_t callers = std::max<std::size_t>(1, ruleEntries / msns / perCaller);
    if (ruleEntries == 0) {
        t += key("\\MSN\\5551234\\Sonstige\\00:00") +
             "\"Action\"=dword:00000000\n\"Param\"=\"\"\n\n";
        return t;
    }
    for (std::size_t m = 0; m < msns; ++m) {
        const std::string msn =
            "\\MSN\\55512" + Two(static_cast<int>(m)) + " Anschluss " + std::to_string(m + 1);
        for (std::size_t c = 0; c < callers; ++c) {
            char number[16];
            std::snprintf(number, sizeof number, "030%07zu", c * 1009);
            for (std::size_t e = 0; e < perCaller; ++e) {
                t += key(msn + "\\" + number + " Anrufer " + std::to_string(c) + "\\" +
                         (e == 0 ? "08:00" : "18:30"));
                t += "\"Action\"=dword:0000000" + std::to_string((c + e) % 5) + "\n";
                t += "\"Param\"=\"" +
                     std::string((c + e) % 5 == 2 ? "/usr/share/sounds/klingel.wav" : "") +
                     "\"\n\n";
            }
        }
    }
    return t;
}

}  // namespace tolvar::bench
