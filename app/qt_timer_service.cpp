#include "app/qt_timer_service.h"

namespace tolvar {

QtTimerService::~QtTimerService() {
    for (auto& [id, timer] : timers_) delete timer;
}

TimerService::Id QtTimerService::Schedule(std::uint32_t delayMs, std::function<void()> fn) {
    const Id id = nextId_++;
    auto* timer = new QTimer;
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    QObject::connect(timer, &QTimer::timeout, timer, [this, id, fn = std::move(fn)] {
        // Forget the timer before the callback, which may schedule anew.
        auto it = timers_.find(id);
        if (it == timers_.end()) return;
        it->second->deleteLater();
        timers_.erase(it);
        fn();
    });
    timers_[id] = timer;
    timer->start(static_cast<int>(delayMs));
    return id;
}

void QtTimerService::Cancel(Id id) {
    auto it = timers_.find(id);
    if (it == timers_.end()) return;
    it->second->stop();
    it->second->deleteLater();
    timers_.erase(it);
}

}  // namespace tolvar
