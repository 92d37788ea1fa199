#include "core/atomic_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <system_error>

namespace tolvar {

namespace {

constexpr std::size_t kTempSuffixLength = 6;  // the XXXXXX that mkostemp fills in

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

// Where the temporary files of a write to path lie, and how their names begin.
struct TempPlace {
    std::filesystem::path folder;
    std::string prefix;  // "." + the file's name + "."
};

TempPlace TempPlaceFor(const std::string& path) {
    const std::filesystem::path target = WriteTarget(path);
    TempPlace place;
    place.folder = target.parent_path();
    if (place.folder.empty()) place.folder = ".";
    // Appended piece by piece: g++ 12 at -O3 takes "." + std::string (an
    // insert at the front of a temporary) for an overlapping copy (-Wrestrict).
    const std::string name = target.filename().string();
    place.prefix.reserve(name.size() + 2);
    place.prefix += '.';
    place.prefix += name;
    place.prefix += '.';
    return place;
}

bool IsAsciiAlnum(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool IsTempName(std::string_view name, std::string_view prefix) {
    if (name.size() != prefix.size() + kTempSuffixLength || !name.starts_with(prefix)) return false;
    for (char c : name.substr(prefix.size()))
        if (!IsAsciiAlnum(c)) return false;
    return true;
}

// The open file is still the one that path names.
bool StillNamed(int fd, const std::string& path) {
    struct stat opened {};
    struct stat named {};
    return fstat(fd, &opened) == 0 && lstat(path.c_str(), &named) == 0 &&
           opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

// A new temporary file from pattern, locked. A cleaner that looked at it
// between its creation and the lock may be removing it: then a fresh one is
// made. Returns -1 with errno set when none can be made.
int CreateLockedTemp(const std::string& pattern, std::string& temp) {
    for (int attempt = 0; attempt < 8; ++attempt) {
        temp = pattern;
        const int fd = mkostemp(temp.data(), O_CLOEXEC);
        if (fd < 0) return -1;
        // A file system without flock leaves the file unlocked; cleaners cannot
        // lock it either and leave it alone.
        const bool taken = flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
        if (!taken && StillNamed(fd, temp)) return fd;
        close(fd);  // the cleaner that holds it removes it
    }
    errno = EAGAIN;
    return -1;
}

// Removes file if it is a temporary file of this user that nobody holds locked.
bool RemoveIfStale(const std::string& file) {
    int fd = open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 && errno == EACCES)  // the user's own mode may forbid reading
        fd = open(file.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    // The lock is held across the unlink, so a writer that has not locked its
    // new file yet notices that it is gone and makes another.
    const bool removed = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid() &&
                         flock(fd, LOCK_EX | LOCK_NB) == 0 && StillNamed(fd, file) &&
                         unlink(file.c_str()) == 0;
    close(fd);
    return removed;
}

}  // namespace

std::optional<std::string> WriteFileAtomically(const std::string& path, std::string_view bytes,
                                               struct stat* written) {
    const std::string target = WriteTarget(path);
    const TempPlace place = TempPlaceFor(target);
    std::error_code ec;
    std::filesystem::create_directories(place.folder, ec);
    if (ec)
        return "Ordner " + place.folder.string() + " kann nicht angelegt werden: " + ec.message();

    std::string pattern = (place.folder / place.prefix).string();
    pattern.append(kTempSuffixLength, 'X');
    std::string temp;
    const int fd = CreateLockedTemp(pattern, temp);
    if (fd < 0) return std::string(std::strerror(errno));

    // Removed while still locked, so no cleaner ever finds it unlocked.
    const auto fail = [&](int error) {
        unlink(temp.c_str());
        close(fd);
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
            return fail(errno);
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    if (fsync(fd) != 0) return fail(errno);
    struct stat st {};
    if (fstat(fd, &st) != 0) return fail(errno);
    if (rename(temp.c_str(), target.c_str()) != 0) return fail(errno);
    // fsync has made the data durable; closing only ends the lock.
    close(fd);

    // Make the rename itself durable; the new file is in place either way.
    const int dir = open(place.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    if (written != nullptr) *written = st;
    return std::nullopt;
}

std::size_t RemoveStaleTempFiles(const std::string& path) noexcept {
    try {
        const TempPlace place = TempPlaceFor(path);
        if (place.prefix == "..") return 0;  // no file name
        std::size_t removed = 0;
        std::error_code ec;
        for (std::filesystem::directory_iterator it(place.folder, ec), end; !ec && it != end;
             it.increment(ec)) {
            if (IsTempName(it->path().filename().string(), place.prefix) &&
                RemoveIfStale(it->path().string()))
                ++removed;
        }
        return removed;
    } catch (...) {
        return 0;  // out of memory: the files wait for the next start
    }
}

std::size_t RemoveStaleTempFiles(std::initializer_list<std::string> paths) noexcept {
    std::size_t removed = 0;
    for (const std::string& path : paths) removed += RemoveStaleTempFiles(path);
    return removed;
}

}  // namespace tolvar
