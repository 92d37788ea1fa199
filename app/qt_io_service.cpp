#include "app/qt_io_service.h"

namespace tolvar {

QtIoService::~QtIoService() {
    for (auto& [fd, notifier] : notifiers_) delete notifier;
}

void QtIoService::Watch(int fd, std::function<void()> onReadable) {
    Unwatch(fd);
    auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read);
    QObject::connect(notifier, &QSocketNotifier::activated, notifier,
                     [fn = std::move(onReadable)] { fn(); });
    notifiers_[fd] = notifier;
}

void QtIoService::Unwatch(int fd) {
    const auto it = notifiers_.find(fd);
    if (it == notifiers_.end()) return;
    // The callback that unwatches may be this notifier's own.
    it->second->setEnabled(false);
    it->second->deleteLater();
    notifiers_.erase(it);
}

}  // namespace tolvar
