// Temporary files that killed writes leave behind: only those of the file's
// own pattern that no live writer holds locked are removed.

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/atomic_file.h"
#include "support/files.h"

namespace tolvar {
namespace {

using test::ReadAll;
using test::TempDir;
using test::WriteAll;

std::vector<std::string> Names(const std::filesystem::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Another process that holds an exclusive flock on a file, as a writer does
// while it writes; it dies by SIGKILL.
class LockHolder {
  public:
    explicit LockHolder(const std::string& path) {
        int ready[2];
        if (pipe(ready) != 0) throw std::runtime_error("pipe failed");
        pid_ = fork();
        if (pid_ == 0) {
            const int fd = open(path.c_str(), O_RDWR);
            const char ok = (fd >= 0 && flock(fd, LOCK_EX) == 0) ? '1' : '0';
            [[maybe_unused]] auto n = write(ready[1], &ok, 1);
            pause();
            _exit(0);
        }
        close(ready[1]);
        char ok = '0';
        [[maybe_unused]] auto n = read(ready[0], &ok, 1);
        close(ready[0]);
        if (ok != '1') throw std::runtime_error("no lock");
    }
    ~LockHolder() { Kill(); }
    void Kill() {
        if (pid_ <= 0) return;
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

  private:
    pid_t pid_ = -1;
};

TEST(AtomicFile, RemovesOnlyUnlockedTempFilesOfTheFilesOwnPattern) {
    TempDir dir;
    const std::string path = dir.File("registry.reg");
    WriteAll(path, "good");
    const std::vector<std::string> kept = {
        ".registry.reg.abc12",    // five characters
        ".registry.reg.abc1234",  // seven
        ".registry.reg.ab-123",   // not a letter or digit
        "registry.reg.abc123",    // no leading dot
        ".registry.reg~.abc123",  // another file's
        ".Tolvar.txt.abc123",     // another file's
    };
    for (const std::string& name : kept) WriteAll(dir.File(name), "x");
    WriteAll(dir.File(".registry.reg.AbC123"), "stale");
    WriteAll(dir.File(".registry.reg.q1w2e3"), "being written");
    std::filesystem::create_directory(dir.File(".registry.reg.dir123"));
    std::filesystem::create_symlink(path, dir.File(".registry.reg.lnk123"));

    LockHolder writer(dir.File(".registry.reg.q1w2e3"));
    EXPECT_EQ(RemoveStaleTempFiles(path), 1u);
    std::vector<std::string> expected = kept;
    expected.insert(expected.end(), {"registry.reg", ".registry.reg.q1w2e3", ".registry.reg.dir123",
                                     ".registry.reg.lnk123"});
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Names(dir.Path()), expected);
    EXPECT_EQ(ReadAll(path), "good");

    // The writer is killed: its file is stale now.
    writer.Kill();
    EXPECT_EQ(RemoveStaleTempFiles({path, dir.File("Tolvar.txt")}), 2u);
    std::erase(expected, ".registry.reg.q1w2e3");
    std::erase(expected, ".Tolvar.txt.abc123");
    EXPECT_EQ(Names(dir.Path()), expected);
}

TEST(AtomicFile, TempFilesOfALinkedFileLieBesideItsTarget) {
    TempDir dir;
    std::filesystem::create_directory(dir.Path() / "dotfiles");
    const std::string target = (dir.Path() / "dotfiles" / "registry.reg").string();
    WriteAll(target, "good");
    std::filesystem::create_symlink(target, dir.File("registry.reg"));
    WriteAll(dir.Path() / "dotfiles" / ".registry.reg.AbC123", "stale");

    EXPECT_EQ(RemoveStaleTempFiles(dir.File("registry.reg")), 1u);
    EXPECT_EQ(Names(dir.Path() / "dotfiles"), std::vector<std::string>{"registry.reg"});
    // A write afterwards leaves nothing behind either.
    EXPECT_EQ(WriteFileAtomically(dir.File("registry.reg"), "new"), std::nullopt);
    EXPECT_EQ(Names(dir.Path() / "dotfiles"), std::vector<std::string>{"registry.reg"});
    EXPECT_EQ(ReadAll(target), "new");
}

TEST(AtomicFile, MissingFolderRemovesNothing) {
    TempDir dir;
    EXPECT_EQ(RemoveStaleTempFiles(dir.File("nowhere/registry.reg")), 0u);
    EXPECT_EQ(RemoveStaleTempFiles(""), 0u);
}

}  // namespace
}  // namespace tolvar
