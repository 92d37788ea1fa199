#include "registry/hive_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

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

// The file a write must replace: the target of a symbolic link, so the link stays.
std::string WriteTarget(const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    char* real = realpath(path.c_str(), nullptr);
    if (!real) return path;  // a dangling link is replaced by the file
    std::string target = real;
    std::free(real);
    return target;
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
    std::vector<char> buffer(64 * 1024);
    for (;;) {
        const ssize_t n = read(fd, buffer.data(), buffer.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            const int error = errno;
            close(fd);
            FailRead(path, error);
        }
        if (n == 0) break;
        content.bytes.append(buffer.data(), static_cast<std::size_t>(n));
        if (static_cast<std::int64_t>(content.bytes.size()) > kMaxFileSize) {
            close(fd);
            throw RegistryError(path + ": die Datei ist zu groß für eine Registrierung");
        }
    }
    close(fd);
    return content;
}

FileStamp WriteHiveFile(const std::string& path, const std::string& text) {
    const std::string target = WriteTarget(path);
    std::filesystem::path folder = std::filesystem::path(target).parent_path();
    if (folder.empty()) folder = ".";
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec)
        FailWrite(path,
                  "Ordner " + folder.string() + " kann nicht angelegt werden: " + ec.message());

    std::string temp =
        (folder / ("." + std::filesystem::path(target).filename().string() + ".XXXXXX")).string();
    const int fd = mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) FailWrite(path, std::strerror(errno));

    const auto fail = [&](int error, bool open) {
        if (open) close(fd);
        unlink(temp.c_str());
        FailWrite(path, std::strerror(error));
    };

    // Keep the permissions the user gave the file (a new one stays private, 0600).
    struct stat old {};
    if (stat(target.c_str(), &old) == 0) fchmod(fd, old.st_mode & 07777);

    const char* p = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const ssize_t n = write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            fail(errno, true);
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    if (fsync(fd) != 0) fail(errno, true);
    struct stat st {};
    if (fstat(fd, &st) != 0) fail(errno, true);
    if (close(fd) != 0) fail(errno, false);
    if (rename(temp.c_str(), target.c_str()) != 0) fail(errno, false);

    // Make the rename itself durable; the new file is in place either way.
    const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    return StampOf(st);
}

}  // namespace tolvar
