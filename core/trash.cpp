#include "core/trash.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace tolvar {

namespace {

namespace fs = std::filesystem;

// The info file's Path is URL-escaped; "/" and the unreserved marks stay.
std::string Escaped(const std::string& path) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : path) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            std::string_view("/-_.!~*'()").find(static_cast<char>(c)) != std::string_view::npos) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 0x0F];
        }
    }
    return out;
}

std::string InfoText(const std::string& originalPath, const DateTime& at) {
    const CivilDate date = at.Date();
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02dT", date.year, date.month, date.day);
    return "[Trash Info]\nPath=" + Escaped(originalPath) + "\nDeletionDate=" + stamp +
           FormatLongTime(at.timeOfDay) + "\n";
}

bool IsFolder(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The trash folder with its "files" and "info", made private where missing.
// A folder that is a symbolic link or not the user's own is not used.
bool Prepare(const std::string& trash) {
    std::error_code ec;
    fs::create_directories(fs::path(trash).parent_path(), ec);
    for (const std::string& dir : {trash, trash + "/files", trash + "/info"}) {
        if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return false;
        struct stat st {};
        if (lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid())
            return false;
    }
    return true;
}

// The name's first free place in the trash: "Tolvar.txt", "Tolvar.2.txt", ...
// The info file is made first and exclusively, so that two trashing
// programs never pick one name.
std::optional<std::string> Into(const std::string& trash, const std::string& file,
                                const std::string& infoPath, const DateTime& at) {
    const fs::path name = fs::path(file).filename();
    const std::string stem = name.stem().string(), ext = name.extension().string();
    const std::string text = InfoText(infoPath, at);
    for (int n = 1; n <= 1000; ++n) {
        const std::string candidate = n == 1 ? name.string() : stem + "." + std::to_string(n) + ext;
        const std::string info = trash + "/info/" + candidate + ".trashinfo";
        const std::string target = trash + "/files/" + candidate;
        const int fd = open(info.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return std::nullopt;
        }
        const bool written =
            write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
        const bool closed = close(fd) == 0;
        struct stat st {};
        const bool taken = lstat(target.c_str(), &st) == 0;  // left by an older trashing
        if (written && closed && !taken && rename(file.c_str(), target.c_str()) == 0) return target;
        unlink(info.c_str());
        if (!taken || !written || !closed) return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace

std::string HomeTrashPath() {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg != nullptr && *xdg == '/') return std::string(xdg) + "/Trash";
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : ".") + "/.local/share/Trash";
}

std::optional<std::string> MoveToTrash(const std::string& path, const DateTime& deletedAt,
                                       const std::string& homeTrash, bool mountTrash) {
    std::error_code ec;
    const fs::path file = fs::absolute(path, ec).lexically_normal();
    if (ec) return std::nullopt;
    struct stat st {};
    if (lstat(file.c_str(), &st) != 0) return std::nullopt;
    // Moving is a rename: only a trash on the file's own file system will do.
    struct stat home {};
    if (Prepare(homeTrash) && stat(homeTrash.c_str(), &home) == 0 && home.st_dev == st.st_dev)
        return Into(homeTrash, file.string(), file.string(), deletedAt);
    if (!mountTrash) return std::nullopt;

    // The top folder of the file's mount; the info there names the file
    // relative to it, so the trash survives a mount elsewhere.
    fs::path top = file.parent_path();
    for (fs::path up = top.parent_path(); up != top; up = top.parent_path()) {
        struct stat above {};
        if (stat(up.c_str(), &above) != 0 || above.st_dev != st.st_dev) break;
        top = up;
    }
    const std::string relative = file.lexically_relative(top).string();
    const std::string uid = std::to_string(getuid());
    const std::string shared = (top / ".Trash").string();
    struct stat sh {};
    if (lstat(shared.c_str(), &sh) == 0 && S_ISDIR(sh.st_mode) && (sh.st_mode & S_ISVTX) &&
        Prepare(shared + "/" + uid))
        if (auto moved = Into(shared + "/" + uid, file.string(), relative, deletedAt)) return moved;
    const std::string own = (top / (".Trash-" + uid)).string();
    if (IsFolder(own) || !fs::exists(own, ec))
        if (Prepare(own)) return Into(own, file.string(), relative, deletedAt);
    return std::nullopt;
}

}  // namespace tolvar
