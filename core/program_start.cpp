#include "core/program_start.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

extern char** environ;

namespace tolvar {

std::optional<std::vector<std::string>> SplitCommandLine(const std::string& commandLine) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    for (std::size_t i = 0; i < commandLine.size(); ++i) {
        const char c = commandLine[i];
        if (c == ' ' || c == '\t' || c == '\n') {
            if (inWord) words.push_back(word);
            word.clear();
            inWord = false;
            continue;
        }
        inWord = true;
        if (c == '\'') {
            const auto end = commandLine.find('\'', i + 1);
            if (end == std::string::npos) return std::nullopt;
            word += commandLine.substr(i + 1, end - i - 1);
            i = end;
        } else if (c == '"') {
            std::size_t j = i + 1;
            for (; j < commandLine.size() && commandLine[j] != '"'; ++j) {
                if (commandLine[j] == '\\' && j + 1 < commandLine.size() &&
                    std::string("\"\\$`").find(commandLine[j + 1]) != std::string::npos)
                    ++j;
                word += commandLine[j];
            }
            if (j >= commandLine.size()) return std::nullopt;
            i = j;
        } else if (c == '\\') {
            if (i + 1 < commandLine.size()) word += commandLine[++i];
        } else {
            word += c;
        }
    }
    if (inWord) words.push_back(word);
    return words;
}

bool StartDetached(const std::string& commandLine) {
    const auto words = SplitCommandLine(commandLine);
    if (!words || words->empty()) return false;
    std::vector<std::string> args = *words;
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    // Its own session: the program outlives us and gets none of our signals.
    // What we ignore (SIGPIPE) or block (SIGINT, SIGTERM) is ours, not its:
    // every signal back to its default, none blocked.
    posix_spawnattr_setflags(&attr,
                             POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, argv[0], nullptr, &attr, argv.data(), environ);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) return false;
    // Nobody waits for the program; a small thread reaps it so it leaves no zombie.
    std::thread([pid] { waitpid(pid, nullptr, 0); }).detach();
    return true;
}

std::string FileNamePart(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace tolvar
