#include "app/quit_signals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>

namespace tolvar {

namespace {

int writeEnd = -1;

void OnSignal(int) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const auto n = write(writeEnd, &byte, 1);
    errno = saved;
}

}  // namespace

QuitSignals::QuitSignals(std::function<void()> onQuit) : onQuit_(std::move(onQuit)) {
    if (pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) return;
    writeEnd = pipe_[1];
    notifier_ = new QSocketNotifier(pipe_[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
        char buf[64];
        while (read(pipe_[0], buf, sizeof buf) > 0) {
        }
        if (onQuit_) onQuit_();
    });
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

QuitSignals::~QuitSignals() {
    if (pipe_[0] < 0) return;
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    writeEnd = -1;
    delete notifier_;
    close(pipe_[0]);
    close(pipe_[1]);
}

}  // namespace tolvar
