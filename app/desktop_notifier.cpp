#include "app/desktop_notifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

#include "app/qt_text.h"

namespace tolvar {

namespace {

constexpr const char* kService = "org.freedesktop.Notifications";
constexpr const char* kPath = "/org/freedesktop/Notifications";

QDBusMessage Call(const char* method) {
    return QDBusMessage::createMethodCall(kService, kPath, kService, method);
}

// The body may be read as markup.
QString Plain(const std::string& text) {
    return Q(text).toHtmlEscaped();
}

}  // namespace

DesktopNotifier::DesktopNotifier() = default;

DesktopNotifier::~DesktopNotifier() {
    // Notifications that stay until withdrawn do not outlive the program.
    for (const auto& [id, shown] : shown_)
        if (shown.serviceId != 0) Close(shown.serviceId);
}

void DesktopNotifier::Notify(std::uint32_t id, const Notification& n) {
    Shown& shown = shown_[id];
    shown.closeWhenKnown = false;
    shown.generation = ++generation_;
    QDBusMessage msg = Call("Notify");
    QVariantMap hints;
    hints["category"] = "im.received";
    hints["desktop-entry"] = "tolvar";
    hints["urgency"] = QVariant::fromValue<uchar>(1);
    msg << QString("Tolvar") << shown.serviceId << QString("call-start") << Q(n.summary)
        << Plain(n.body) << QStringList() << hints
        << static_cast<int>(n.expireMs == 0 ? 0 : n.expireMs);
    auto* watcher = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(msg), this);
    const std::uint64_t generation = shown.generation;
    const bool expires = n.expireMs != 0;
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, id, generation, expires](QDBusPendingCallWatcher* w) {
                w->deleteLater();
                QDBusPendingReply<std::uint32_t> reply = *w;
                const auto it = shown_.find(id);
                const bool current = it != shown_.end() && it->second.generation == generation;
                if (reply.isError()) {
                    if (current) shown_.erase(it);
                    return;
                }
                const std::uint32_t serviceId = reply.value();
                if (!current) {
                    // Superseded before its id was known: the newer one was
                    // shown beside it, so this one goes unless it was replaced.
                    const bool replaced = it != shown_.end() && it->second.serviceId == serviceId;
                    if (!replaced && !expires) Close(serviceId);
                    return;
                }
                it->second.serviceId = serviceId;
                if (it->second.closeWhenKnown) {
                    Close(it->second.serviceId);
                    shown_.erase(it);
                } else if (expires) {
                    // Ends on its own; nothing is kept of it.
                    shown_.erase(it);
                }
            });
}

void DesktopNotifier::Withdraw(std::uint32_t id) {
    const auto it = shown_.find(id);
    if (it == shown_.end()) return;
    if (it->second.serviceId == 0) {
        it->second.closeWhenKnown = true;
        return;
    }
    Close(it->second.serviceId);
    shown_.erase(it);
}

void DesktopNotifier::Close(std::uint32_t serviceId) {
    QDBusMessage msg = Call("CloseNotification");
    msg << serviceId;
    QDBusConnection::sessionBus().asyncCall(msg);
}

}  // namespace tolvar
