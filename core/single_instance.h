#pragma once
// One running copy per settings file: two copies on one file would rewrite
// one "Tolvar.txt" and delete each other's lines. The first copy holds a
// name derived from the settings file's full path (an abstract Unix socket,
// which the system frees when the process ends, however it ends); a later
// start finds it taken, learns the holder's process id, and may ask it to
// show its window.

#include <sys/types.h>

#include <memory>
#include <optional>
#include <string>

namespace tolvar {

class SingleInstance {
  public:
    // Claims the settings file. Nothing when another copy holds it; its
    // process id then goes to holder (0 when it cannot be learnt).
    static std::unique_ptr<SingleInstance> Claim(const std::string& settingsPath, pid_t& holder);
    // The running copy's side of a later start: asks it to show its window.
    // False when no copy answers.
    static bool AskToShow(const std::string& settingsPath);

    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // Readable when a later start asks something; then call TakeRequest.
    int Fd() const { return fd_; }
    // True when the request was to show the window.
    bool TakeRequest();

  private:
    explicit SingleInstance(int fd) : fd_(fd) {}
    int fd_;
};

// The text a console start prints when another copy runs.
std::string AlreadyRunningText(pid_t holder);

}  // namespace tolvar
