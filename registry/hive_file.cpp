#include "registry/hive_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/atomic_file.h"
#include "registry/registry.h"

namespace tolvar {

namespace {

// Far beyond any registry the program writes; a bigger file is surely not one.
constexpr std::int64_t kMaxFileSize = 64 * 1024 * 1024;

FileStamp StampOf(const struct stat& st) {
    FileStamp s;
    s.exists = true;
    s.device = static_cast<std::uint64_t>(st.st_dev);
    s.inode = static_cast<std::uint64_t>(st.st_ino);
    s.size = static_cast<std::int64_t>(st.st_size);
    s.mtimeSec = static_cast<std::int64_t>(st.st_mtim.tv_sec);
    s.mtimeNsec = static_cast<std::int64_t>(st.st_mtim.tv_nsec);
    return s;
}

bool IsMissing(int error) {
    return error == ENOENT || error == ENOTDIR;
}

[[noreturn]] void FailRead(const std::string& path, int error) {
    throw RegistryError(path +
                        ": Registrierung kann nicht gelesen werden: " + std::strerror(error));
}

[[noreturn]] void FailWrite(const std::string& path, const std::string& why) {
    throw RegistryError(path + ": Registrierung kann nicht geschrieben werden: " + why);
}

}  // namespace

FileStamp StatHiveFile(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        if (IsMissing(errno)) return FileStamp{};
        FailRead(path, errno);
    }
    return StampOf(st);
}

HiveFileContent ReadHiveFile(const std::string& path) {
    HiveFileContent content;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (IsMissing(errno)) return content;
        FailRead(path, errno);
    }
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        const int error = errno;
        close(fd);
        FailRead(path, error);
    }
    if (!S_ISREG(st.st_mode)) {
        close(fd);
        throw RegistryError(path + ": ist keine Datei");
    }
    // The stamp is taken before reading: should the file change meanwhile, the
    // next look sees a different stamp and reads it again.
    content.stamp = StampOf(st);
    if (st.st_size > kMaxFileSize) {
        close(fd);
        throw RegistryError(path + ": die Datei ist zu groß für eine Registrierung");
    }
    // Read in one go for the size it had, with room to see its end.
    std::size_t got = 0;
    const std::size_t room = static_cast<std::size_t>(st.st_size) + 4096;
    content.bytes.resize(room);
    for (;;) {
        if (got == content.bytes.size()) {
            if (static_cast<std::int64_t>(got) > kMaxFileSize) {
                close(fd);
                throw RegistryError(path + ": die Datei ist zu groß für eine Registrierung");
            }
            content.bytes.resize(got * 2);
        }
        const ssize_t n = read(fd, content.bytes.data() + got, content.bytes.size() - got);
        if (n < 0) {
            if (errno == EINTR) continue;
            const int error = errno;
            close(fd);
            FailRead(path, error);
        }
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    content.bytes.resize(got);
    close(fd);
    return content;
}

FileStamp WriteHiveFile(const std::string& path, const std::string& text) {
    struct stat st {};
    if (auto error = WriteFileAtomically(path, text, &st)) FailWrite(path, *error);
    return StampOf(st);
}

}  // namespace tolvar
