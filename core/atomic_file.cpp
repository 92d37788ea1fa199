#include "core/atomic_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace tolvar {

namespace {

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

std::optional<std::string> WriteFileAtomically(const std::string& path, const std::string& bytes,
                                               struct stat* written) {
    const std::string target = WriteTarget(path);
    std::filesystem::path folder = std::filesystem::path(target).parent_path();
    if (folder.empty()) folder = ".";
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) return "Ordner " + folder.string() + " kann nicht angelegt werden: " + ec.message();

    std::string temp =
        (folder / ("." + std::filesystem::path(target).filename().string() + ".XXXXXX")).string();
    const int fd = mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) return std::string(std::strerror(errno));

    const auto fail = [&](int error, bool open) {
        if (open) close(fd);
        unlink(temp.c_str());
        return std::optional<std::string>(std::strerror(error));
    };

    // Keep the permissions the user gave the file.
    struct stat old {};
    if (stat(target.c_str(), &old) == 0) fchmod(fd, old.st_mode & 07777);

    const char* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t n = write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            return fail(errno, true);
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    if (fsync(fd) != 0) return fail(errno, true);
    struct stat st {};
    if (fstat(fd, &st) != 0) return fail(errno, true);
    if (close(fd) != 0) return fail(errno, false);
    if (rename(temp.c_str(), target.c_str()) != 0) return fail(errno, false);

    // Make the rename itself durable; the new file is in place either way.
    const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    if (written != nullptr) *written = st;
    return std::nullopt;
}

}  // namespace tolvar
