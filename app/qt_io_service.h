#pragma once
// Descriptor readiness on the Qt event loop, for the engine's IoService.

#include <QSocketNotifier>
#include <map>
#include <memory>

#include "core/io_service.h"

namespace tolvar {

class QtIoService final : public IoService {
  public:
    QtIoService() = default;
    ~QtIoService() override;
    void Watch(int fd, std::function<void()> onReadable) override;
    void Unwatch(int fd) override;

  private:
    std::map<int, QSocketNotifier*> notifiers_;
};

}  // namespace tolvar
