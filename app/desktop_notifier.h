#pragma once
// Desktop notifications through the freedesktop notification service on the
// session bus. Calls go out without waiting for their answers; the service's
// id of a notification arrives later and is kept to replace or close it.
// Without a service nothing is shown, and nobody is told.

#include <QObject>
#include <map>

#include "core/devices.h"

namespace tolvar {

class DesktopNotifier final : public QObject, public Notifier {
  public:
    DesktopNotifier();
    ~DesktopNotifier() override;

    void Notify(std::uint32_t id, const Notification& notification) override;
    void Withdraw(std::uint32_t id) override;

  private:
    struct Shown {
        std::uint32_t serviceId = 0;  // 0 until the service has answered
        bool closeWhenKnown = false;
        std::uint64_t generation = 0;
    };
    void Close(std::uint32_t serviceId);

    std::map<std::uint32_t, Shown> shown_;
    std::uint64_t generation_ = 0;
};

}  // namespace tolvar
