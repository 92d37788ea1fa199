#include "support/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>
#include <thread>
#include <utility>

namespace tolvar::test {

PipedChild StartPiped(std::vector<std::string> argv, const std::string& workDir,
                      const std::string& stderrFile) {
    int inPipe[2], outPipe[2];
    if (pipe2(inPipe, O_CLOEXEC) != 0 || pipe2(outPipe, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        dup2(inPipe[0], STDIN_FILENO);
        dup2(outPipe[1], STDOUT_FILENO);
        if (!stderrFile.empty()) {
            const int err = open(stderrFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
            if (err >= 0) dup2(err, STDERR_FILENO);
        }
        if (!workDir.empty() && chdir(workDir.c_str()) != 0) _exit(126);
        std::vector<char*> args;
        for (auto& a : argv) args.push_back(a.data());
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(inPipe[0]);
    close(outPipe[1]);
    return {pid, inPipe[1], outPipe[0]};
}

Process::Process(std::vector<std::string> argv, const std::string& workDir,
                 const std::string& stderrFile) {
    const PipedChild child = StartPiped(std::move(argv), workDir, stderrFile);
    pid_ = child.pid;
    in_ = child.in;
    out_ = child.out;
}

Process::~Process() {
    if (!exitCode_ && pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (in_ >= 0) close(in_);
    if (out_ >= 0) close(out_);
}

void Process::Send(const std::string& line) {
    const std::string data = line + "\n";
    [[maybe_unused]] auto n = write(in_, data.data(), data.size());
}

void Process::CloseInput() {
    if (in_ >= 0) close(in_);
    in_ = -1;
}

std::optional<std::string> Process::ReadLine(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
        const auto nl = buffer_.find('\n');
        if (nl != std::string::npos) {
            std::string line = buffer_.substr(0, nl);
            buffer_.erase(0, nl + 1);
            lines_.push_back(line);
            return line;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || out_ < 0) return std::nullopt;
        pollfd p{out_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
        char buf[4096];
        const ssize_t n = read(out_, buf, sizeof buf);
        if (n <= 0) {
            close(out_);
            out_ = -1;
            return std::nullopt;
        }
        buffer_.append(buf, static_cast<std::size_t>(n));
    }
}

std::optional<std::string> Process::WaitFor(const std::string& prefix,
                                            std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return std::nullopt;
        auto line = ReadLine(left);
        if (!line) return std::nullopt;
        if (line->rfind(prefix, 0) == 0) return line;
    }
}

std::optional<int> Process::Wait(std::chrono::milliseconds timeout) {
    if (exitCode_) return exitCode_;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
        int status = 0;
        const pid_t r = waitpid(pid_, &status, WNOHANG);
        if (r == pid_) {
            exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            return exitCode_;
        }
        if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void Process::Signal(int sig) {
    kill(pid_, sig);
}

std::string BinDir() {
#ifdef TOLVAR_BIN_DIR
    return TOLVAR_BIN_DIR;
#else
    return ".";
#endif
}

}  // namespace tolvar::test
