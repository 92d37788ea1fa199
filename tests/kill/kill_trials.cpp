// SIGKILL at random moments while the real program, on the simulated line,
// saves its rules ("hide") or writes its event log at the end of a call. After
// every kill the settings file must parse and hold the whole old or the whole
// new rule tree, "Tolvar.txt" must be the old or the new log, and the next
// start must remove every temporary file the killed write left behind.
//
//   kill_trials [--trials N] [--seed S]
//
// Run by kill_trials.sh, which gives it a /dev/shm of its own.

#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <random>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "core/datetime.h"
#include "registry/registry.h"
#include "rules/rule_store.h"
#include "support/files.h"
#include "support/line_fixture.h"

namespace tolvar {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::ReadAll;
using test::WriteAll;

// The kills aim at least this far past the start of a write.
constexpr std::chrono::microseconds kLeastWindow{500};

// The console line of the trials' call once it has ended.
constexpr const char* kCallEnded = "0301234567 -> 5551234  abgefangen.";

std::string Key(const std::string& below) {
    return "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar" + below + "]\n";
}

std::string TwoDigits(int n) {
    char buf[4];
    std::snprintf(buf, sizeof buf, "%02d", n % 100);
    return buf;
}

// A settings file with every value the start-up would write back already in
// place, so that only the save writes, and a rule tree of some hundred entries,
// so that the save takes a while. The trees 'A' and 'B' share nothing but the
// rule that intercepts the trials' calls.
std::string SettingsFile(char tree) {
    std::string t = test::kHiveHeader;
    t += Key("") + "\"ShowISDNTab\"=dword:00000001\n\n";
    t += Key("\\Agent") + "\n";
    t += Key("\\DMail") +
         "\"ACKDelay\"=dword:00000bb8\n\"PacketDelay\"=dword:00000014\n"
         "\"ACKTimeOut\"=dword:00002ee0\n\"DMailNotifySound\"=\"\"\n\n";
    t += Key("\\DMail\\Subscriber") + "\n";
    t += Key("\\SMS\\Subscriber") + "\n";
    t += Key("\\MSN\\5551234\\Sonstige\\00:00") + "\"Action\"=dword:00000003\n\"Param\"=\"\"\n\n";
    const int msns = tree == 'A' ? 12 : 10;
    const int callers = tree == 'A' ? 8 : 10;
    for (int m = 0; m < msns; ++m) {
        for (int c = 0; c < callers; ++c) {
            for (int e = 0; e < 3; ++e) {
                const std::string where = TwoDigits(m) + "/" + TwoDigits(c) + "/" + TwoDigits(e);
                t += Key("\\MSN\\55520" + TwoDigits(m) + " Baum " + tree + "\\07" + TwoDigits(m) +
                         TwoDigits(c) + " Anrufer " + tree + "\\" + TwoDigits(e * 8 + c % 8) + ":" +
                         TwoDigits(m));
                t += "\"Action\"=dword:0000000" + std::to_string((m + c + e) % 6) + "\n";
                t += "\"Param\"=\"/opt/klang-" + std::string(1, tree) + "/" + where + ".wav\"\n\n";
            }
        }
    }
    return t;
}

// The rule tree in a settings file as the program loads it, one line per
// entry; nothing when the file cannot be loaded (why says what failed).
std::optional<std::string> RulesIn(const std::string& text, const fs::path& scratch,
                                   std::string& why) {
    // A copy, since loading creates missing keys.
    const fs::path copy = scratch / "check.reg";
    WriteAll(copy, text);
    Registry registry(copy.string());
    RuleStore store;
    try {
        store.LoadRules(registry);
    } catch (const std::exception& e) {
        why = e.what();
        return std::nullopt;
    }
    std::string dump;
    for (const auto& msn : store.MsnNodes())
        for (const auto& caller : msn->Children())
            for (std::size_t i = 0; i < caller->Entries()->Count(); ++i) {
                const TActionItem& item = (*caller->Entries())[i];
                dump += msn->Text() + "|" + caller->Text() + "|" + FormatLongTime(item.StartTime) +
                        "|" + std::to_string(item.Action) + "|" + item.Param + "\n";
            }
    return dump;
}

// "old", "new", or nothing when the log is neither.
std::optional<std::string> LogState(const std::string& before, const std::string& now) {
    static const std::regex kCallLine(
        "(\r\n\\[[0-9.]+\\]\r\n)?[0-2][0-9]:[0-5][0-9]:[0-5][0-9]   0301234567 -> 5551234  "
        "abgefangen\\.\r\n");
    if (now == before) return "old";
    if (now.size() > before.size() && now.compare(0, before.size(), before) == 0 &&
        std::regex_match(now.substr(before.size()), kCallLine))
        return "new";
    return std::nullopt;
}

std::vector<std::string> TempFiles(const fs::path& home) {
    static const std::regex kTemp("\\.(registry\\.reg|Tolvar\\.txt)\\.[A-Za-z0-9]{6}");
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(home)) {
        const std::string name = entry.path().filename().string();
        if (std::regex_match(name, kTemp)) names.push_back(name);
    }
    return names;
}

class Trials {
  public:
    Trials(int count, unsigned seed) : count_(count), seed_(seed), random_(seed) {
        home_ = line_.Dir() / "home";
        fs::create_directories(home_);
        registry_ = home_ / "registry.reg";
        log_ = home_ / "Tolvar.txt";
        for (char tree : {'A', 'B'}) {
            std::string why;
            const auto rules = RulesIn(SettingsFile(tree), line_.Dir(), why);
            if (!rules) throw std::runtime_error("tree " + std::string(1, tree) + ": " + why);
            trees_.push_back({SettingsFile(tree), *rules});
        }
        // A long log, so that writing it takes a while too.
        std::string log = "\r\n[01.03.2026]\r\n";
        for (int i = 0; i < 20000; ++i)
            log += TwoDigits(i / 900 % 24) + ":" + TwoDigits(i / 3 % 60) + ":" + TwoDigits(i % 60) +
                   "   030" + std::to_string(1000000 + i) + " -> 5551234  abgefangen.\r\n";
        WriteAll(log_, log);
    }

    int Run() {
        Calibrate();
        const auto begin = Clock::now();
        for (int i = 0; i < count_; ++i) {
            const std::size_t mine = static_cast<std::size_t>(i / 2 % 2);
            if (i % 2 == 0) {
                HideTrial(i, trees_[mine], trees_[1 - mine]);
            } else {
                CallTrial(i, trees_[mine]);
            }
        }
        // The last kill's leftovers go at the next start as well.
        WriteAll(registry_, trees_[0].file);
        if (auto p = Start(count_)) Quit(*p);
        const auto seconds =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - begin).count() /
            1000.0;

        std::cout << "kill trials: " << count_ << " in " << seconds << " s, seed " << seed_
                  << "\n  a save took " << saveTime_.count() << " us, a log write "
                  << logTime_.count() << " us (kills land at random up to 1.25 times that)"
                  << "\n  killed hides: old rules " << hideOld_ << ", new rules " << hideNew_
                  << "\n  killed call ends: old log " << callOld_ << ", new log " << callNew_
                  << "\n  temporary files left by killed writes: " << tempsLeft_
                  << ", removed at the next start: " << tempsLeft_ - tempsSurvived_ << "\n";
        for (const std::string& fault : faults_) std::cout << "FAULT " << fault << "\n";
        return faults_.empty() ? 0 : 1;
    }

  private:
    struct Tree {
        std::string file;
        std::string rules;
    };

    void Fault(int trial, const std::string& what) {
        faults_.push_back("trial " + std::to_string(trial) + ": " + what);
    }

    // Reads output lines until one contains text.
    static bool WaitFor(test::Process& p, const std::string& text,
                        std::chrono::milliseconds timeout = 10s) {
        const auto end = Clock::now() + timeout;
        while (Clock::now() < end) {
            auto line = p.ReadLine(
                std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now() + 1ms));
            if (!line) return false;
            if (line->find(text) != std::string::npos) return true;
        }
        return false;
    }

    // The program, once it listens; checks that no temporary file survived.
    std::unique_ptr<test::Process> Start(int trial) {
        auto p = std::make_unique<test::Process>(
            std::vector<std::string>{test::BinDir() + "/tolvar", "--console", "--capi",
                                     line_.CapiArg(), "--registry", registry_.string()},
            home_.string(), (home_ / "stderr.txt").string());
        if (!WaitFor(*p, "LISTEN_CONF")) {
            Fault(trial, "the program did not start: " + ReadAll(home_ / "stderr.txt"));
            return nullptr;
        }
        for (const std::string& name : TempFiles(home_)) {
            Fault(trial, "the start left the temporary file " + name);
            ++tempsSurvived_;
            fs::remove(home_ / name);
        }
        return p;
    }

    void Quit(test::Process& p) {
        p.Send("quit");
        p.Wait(5s);
    }

    // A hand edit that replaces the whole file, as an editor saving by rename does.
    void Replace(const std::string& text) {
        WriteAll(registry_.string() + ".edit", text);
        fs::rename(registry_.string() + ".edit", registry_);
    }

    static ino_t Inode(const fs::path& path) {
        struct stat st {};
        return stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
    }

    std::chrono::microseconds Elapsed(Clock::time_point since) {
        return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - since);
    }

    // How long a save and a log write take here, in a fresh program as in the
    // trials: the window the kills aim at. The longest of a few, since a
    // driver that was not scheduled in time sees a write already done.
    void Calibrate() {
        for (int i = 0; i < 5; ++i) {
            WriteAll(registry_, trees_[0].file);
            auto p = Start(-1);
            if (!p) throw std::runtime_error("the program did not start");
            Replace(trees_[1].file);
            const auto t0 = Clock::now();
            p->Send("hide");
            p->Send("ping");  // answered once the save is done
            if (!WaitFor(*p, "error:")) throw std::runtime_error("hide did not finish");
            saveTime_ = std::max(saveTime_, Elapsed(t0));

            // The log is written by a thread of its own after the call ended:
            // done once the file's inode has changed (the rename).
            const auto before = Inode(log_);
            line_.Ctl({"call", "0301234567", "5551234"});
            if (!WaitFor(*p, kCallEnded)) throw std::runtime_error("the call did not end");
            const auto t1 = Clock::now();
            while (Inode(log_) == before) {
                if (Clock::now() - t1 > 10s) throw std::runtime_error("the log was not written");
                std::this_thread::sleep_for(20us);
            }
            logTime_ = std::max(logTime_, Elapsed(t1));
            Quit(*p);
        }
        saveTime_ = std::max(saveTime_, kLeastWindow);
        logTime_ = std::max(logTime_, kLeastWindow);
    }

    void KillAfter(test::Process& p, Clock::time_point from, std::chrono::microseconds window) {
        std::uniform_int_distribution<long> pick(0, window.count() * 5 / 4);
        std::this_thread::sleep_until(from + std::chrono::microseconds(pick(random_)));
        p.Signal(SIGKILL);
        p.Wait(5s);
        tempsLeft_ += static_cast<int>(TempFiles(home_).size());
    }

    // The rules the settings file holds now: which tree, or a fault.
    const Tree* RulesNow(int trial, const std::vector<const Tree*>& allowed) {
        std::string why;
        const auto rules = RulesIn(ReadAll(registry_), line_.Dir(), why);
        if (!rules) {
            Fault(trial, "the settings file does not load: " + why);
            return nullptr;
        }
        for (const Tree* tree : allowed)
            if (*rules == tree->rules) return tree;
        Fault(trial, "the settings file holds a torn rule tree (" +
                         std::to_string(std::count(rules->begin(), rules->end(), '\n')) +
                         " entries)");
        return nullptr;
    }

    // The program loaded mine; the file is then replaced by theirs; "hide"
    // saves mine over it.
    void HideTrial(int trial, const Tree& mine, const Tree& theirs) {
        WriteAll(registry_, mine.file);
        const std::string log = ReadAll(log_);
        auto p = Start(trial);
        if (!p) return;
        Replace(theirs.file);
        const auto t0 = Clock::now();
        p->Send("hide");
        KillAfter(*p, t0, saveTime_);
        if (const Tree* now = RulesNow(trial, {&mine, &theirs}))
            ++(now == &mine ? hideNew_ : hideOld_);
        if (ReadAll(log_) != log) Fault(trial, "the log changed without a call");
    }

    void CallTrial(int trial, const Tree& mine) {
        WriteAll(registry_, mine.file);
        auto p = Start(trial);
        if (!p) return;
        const std::string before = ReadAll(log_);
        line_.Ctl({"call", "0301234567", "5551234"});
        if (!WaitFor(*p, kCallEnded)) {
            Fault(trial, "the call did not end");
            return;
        }
        KillAfter(*p, Clock::now(), logTime_);
        const auto state = LogState(before, ReadAll(log_));
        if (!state) {
            Fault(trial, "\"Tolvar.txt\" is neither the old nor the new log");
            WriteAll(log_, before);
        } else {
            ++(*state == "old" ? callOld_ : callNew_);
        }
        RulesNow(trial, {&mine});
    }

    test::LineFixture line_;
    int count_;
    unsigned seed_;
    std::mt19937 random_;
    fs::path home_, registry_, log_;
    std::vector<Tree> trees_;
    std::chrono::microseconds saveTime_{0}, logTime_{0};
    int hideOld_ = 0, hideNew_ = 0, callOld_ = 0, callNew_ = 0;
    int tempsLeft_ = 0, tempsSurvived_ = 0;
    std::vector<std::string> faults_;
};

}  // namespace
}  // namespace tolvar

int main(int argc, char** argv) {
    int trials = 240;
    unsigned seed = std::random_device{}();
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--trials") {
            trials = std::stoi(argv[i + 1]);
        } else if (option == "--seed") {
            seed = static_cast<unsigned>(std::stoul(argv[i + 1]));
        } else {
            std::cerr << "usage: kill_trials [--trials N] [--seed S]\n";
            return 2;
        }
    }
    try {
        return tolvar::Trials(trials, seed).Run();
    } catch (const std::exception& e) {
        std::cerr << "kill_trials: " << e.what() << "\n";
        return 1;
    }
}
