#pragma once
// "Beim &Anmelden starten": the entry in the desktop's autostart folder that
// starts Tolvar when the user logs in (freedesktop autostart), without Qt.

#include <optional>
#include <string>

namespace tolvar {

class Autostart {
  public:
    // entryPath: the autostart file; program: the program to start (an
    // absolute path); registryPath: the settings file in use; capi: the
    // --capi value in use, empty for none.
    Autostart(std::string entryPath, std::string program, std::string registryPath,
              std::string capi = "");

    // $XDG_CONFIG_HOME/autostart/tolvar.desktop, else ~/.config/autostart/tolvar.desktop.
    static std::string DefaultEntryPath();
    // The running program's own file, so the entry starts what is installed;
    // after an upgrade replaced it, the new file of that name. exeLink: the
    // link naming a process's program.
    static std::string RunningProgram(const std::string& exeLink = "/proc/self/exe");

    // On when the entry exists and the desktop is not told to skip it.
    bool Enabled() const;
    // Writes the entry atomically, or removes it. The error text on failure
    // (German, for the user); the old entry is then as it was.
    std::optional<std::string> SetEnabled(bool on) const;

    // The Exec line's value: the program and its arguments, quoted as the
    // desktop entry format asks. Empty when a path cannot be written there.
    std::string ExecLine() const;
    std::string EntryText() const;
    const std::string& EntryPath() const { return entryPath_; }

  private:
    std::string entryPath_;
    std::string program_;
    std::string registryPath_;
    std::string capi_;
};

}  // namespace tolvar
