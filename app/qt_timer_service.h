#pragma once
// Engine timers on the Qt event loop.

#include <QObject>
#include <QTimer>
#include <map>

#include "core/timer.h"

namespace tolvar {

class QtTimerService final : public TimerService {
  public:
    QtTimerService() = default;
    ~QtTimerService() override;
    Id Schedule(std::uint32_t delayMs, std::function<void()> fn) override;
    void Cancel(Id id) override;

  private:
    Id nextId_ = 1;
    std::map<Id, QTimer*> timers_;
};

}  // namespace tolvar
