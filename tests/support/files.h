#pragma once
// Scratch folders, whole-file helpers, a full disk and a count of atomic
// replacements, for tests that touch files.

#include <signal.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

namespace tolvar::test {

// A fresh folder, removed with everything in it at the end of the test.
class TempDir {
  public:
    TempDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "tolvar-test-XXXXXX").string();
        if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string File(const std::string& name) const { return (path_ / name).string(); }
    const std::filesystem::path& Path() const { return path_; }

  private:
    std::filesystem::path path_;
};

// The whole file; empty when it cannot be read.
inline std::string ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Replaces the file in place, as an editor that rewrites the same inode does.
inline void WriteAll(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

// While it lives, no file written by this process may grow past a few bytes:
// a full disk, also for root, whom permissions do not stop.
class DiskFull {
  public:
    explicit DiskFull(rlim_t bytes = 10) {
        savedSignal_ = signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &saved_);
        rlimit small = saved_;
        small.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &small);
    }
    ~DiskFull() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        signal(SIGXFSZ, savedSignal_);
    }
    DiskFull(const DiskFull&) = delete;
    DiskFull& operator=(const DiskFull&) = delete;

  private:
    rlimit saved_{};
    void (*savedSignal_)(int) = nullptr;
};

// Counts the times a file is replaced by a rename onto its name.
class Replacements {
  public:
    explicit Replacements(const std::string& path)
        : name_(std::filesystem::path(path).filename().string()),
          fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
        const std::string folder = std::filesystem::path(path).parent_path().string();
        if (fd_ < 0 || inotify_add_watch(fd_, folder.c_str(), IN_MOVED_TO) < 0)
            throw std::runtime_error("inotify failed");
    }
    ~Replacements() { close(fd_); }
    Replacements(const Replacements&) = delete;
    Replacements& operator=(const Replacements&) = delete;

    int Count() {
        alignas(inotify_event) char buf[4096];
        ssize_t n;
        while ((n = read(fd_, buf, sizeof buf)) > 0) {
            for (ssize_t at = 0; at < n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buf + at);
                if (event->len > 0 && name_ == event->name) ++count_;
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
        return count_;
    }

  private:
    std::string name_;
    int fd_;
    int count_ = 0;
};

}  // namespace tolvar::test
