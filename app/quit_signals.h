#pragma once
// SIGINT and SIGTERM for the desktop program: the handler only writes a byte
// to a pipe, and the Qt event loop turns it into a call on the GUI thread, so
// a signal ends the program the way "B&eenden" does.

#include <QObject>
#include <functional>

class QSocketNotifier;

namespace tolvar {

class QuitSignals final : public QObject {
  public:
    // Catches the signals from now on; onQuit runs on the event loop.
    explicit QuitSignals(std::function<void()> onQuit);
    // Gives the signals their default disposition back.
    ~QuitSignals() override;

  private:
    std::function<void()> onQuit_;
    QSocketNotifier* notifier_ = nullptr;
    int pipe_[2] = {-1, -1};
};

}  // namespace tolvar
