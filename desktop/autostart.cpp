#include "desktop/autostart.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <vector>

#include "core/atomic_file.h"

namespace tolvar {

namespace {

// One argument of an Exec line: quoted when it holds anything but plain
// characters; inside quotes ", `, $ and \ take a backslash. The value itself is
// an escaped string, so every backslash is doubled once more; % is the field
// code character and doubles too.
std::optional<std::string> ExecArgument(const std::string& arg) {
    if (arg.empty()) return "\"\"";
    bool plain = true;
    for (unsigned char c : arg) {
        if (c < 0x20 || c == 0x7F) return std::nullopt;  // no way to write these
        if (std::strchr(" \t\"'\\><~|&;$*?#()`", c) != nullptr) plain = false;
    }
    std::string out;
    if (!plain) out += '"';
    for (char c : arg) {
        if (c == '%') {
            out += "%%";
        } else if (!plain && (c == '"' || c == '`' || c == '$')) {
            out += "\\\\";
            out += c;
        } else if (c == '\\') {
            out += "\\\\\\\\";
        } else {
            out += c;
        }
    }
    if (!plain) out += '"';
    return out;
}

}  // namespace

Autostart::Autostart(std::string entryPath, std::string program, std::string registryPath,
                     std::string capi)
    : entryPath_(std::move(entryPath)),
      program_(std::move(program)),
      registryPath_(std::move(registryPath)),
      capi_(std::move(capi)) {}

std::string Autostart::DefaultEntryPath() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg != nullptr && *xdg == '/') return std::string(xdg) + "/autostart/tolvar.desktop";
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : ".") + "/.config/autostart/tolvar.desktop";
}

std::string Autostart::RunningProgram(const std::string& exeLink) {
    std::error_code ec;
    std::string self = std::filesystem::read_symlink(exeLink, ec).string();
    if (ec) return "tolvar";
    // A program file replaced while it runs (an upgrade) is named so; the
    // entry is to start the file that is there now.
    constexpr std::string_view kDeleted = " (deleted)";
    if (self.ends_with(kDeleted) && !std::filesystem::exists(self, ec))
        self.resize(self.size() - kDeleted.size());
    return self;
}

bool Autostart::Enabled() const {
    std::ifstream in(entryPath_);
    if (!in) return false;
    std::string line;
    bool inEntry = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line.front() == '[') inEntry = line == "[Desktop Entry]";
        if (!inEntry) continue;
        // A desktop that was told to skip the entry keeps the file.
        if (line == "Hidden=true" || line == "X-GNOME-Autostart-enabled=false") return false;
    }
    return true;
}

std::string Autostart::ExecLine() const {
    std::vector<std::string> args = {program_};
    if (!capi_.empty()) args.insert(args.end(), {"--capi", capi_});
    std::error_code ec;
    const auto registry = std::filesystem::absolute(registryPath_, ec);
    args.insert(args.end(),
                {"--registry", ec ? registryPath_ : registry.lexically_normal().string()});
    // In the state folder, as the service: one "Tolvar.txt" for every start.
    args.push_back("--state-dir");
    std::string line;
    for (const auto& a : args) {
        const auto quoted = ExecArgument(a);
        if (!quoted) return "";
        if (!line.empty()) line += ' ';
        line += *quoted;
    }
    return line;
}

std::string Autostart::EntryText() const {
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Tolvar\n"
           "Comment=ISDN-Anrufmonitor\n"
           "Exec=" +
           ExecLine() +
           "\n"
           "Icon=tolvar\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

std::optional<std::string> Autostart::SetEnabled(bool on) const {
    if (on) {
        const std::string cannot =
            entryPath_ + ": Der Autostart-Eintrag kann nicht geschrieben werden: ";
        if (ExecLine().empty())
            return cannot +
                   "der Pfad des Programms oder der Einstellungsdatei enthält ein Steuerzeichen.";
        if (const auto why = WriteFileAtomically(entryPath_, EntryText())) return cannot + *why;
        return std::nullopt;
    }
    if (unlink(entryPath_.c_str()) != 0 && errno != ENOENT)
        return entryPath_ +
               ": Der Autostart-Eintrag kann nicht entfernt werden: " + std::strerror(errno);
    return std::nullopt;
}

}  // namespace tolvar
