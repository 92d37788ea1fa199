#pragma once
// Desktop notifications through the freedesktop notification service on the
// session bus. Calls go out without waiting for their answers; the service's
// id of a notification arrives later and is kept to replace or close it.
// The body is escaped only for a service that reads markup in it, which the
// service is asked once. Without a service nothing is shown, and nobody is
// told.

#include <QDBusConnection>
#include <QObject>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "core/devices.h"

namespace tolvar {

class DesktopNotifier final : public QObject, public Notifier {
  public:
    // bus: the session bus, or one a test runs.
    explicit DesktopNotifier(QDBusConnection bus = QDBusConnection::sessionBus());
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
    void AskCapabilities();
    void Send(std::uint32_t id, const Notification& notification);

    QDBusConnection bus_;
    std::map<std::uint32_t, Shown> shown_;
    std::uint64_t generation_ = 0;
    // Whether the service reads the body as markup; unknown until it answered.
    std::optional<bool> bodyMarkup_;
    bool asking_ = false;
    // What waits for that answer, in order.
    std::vector<std::pair<std::uint32_t, Notification>> waiting_;
};

}  // namespace tolvar
