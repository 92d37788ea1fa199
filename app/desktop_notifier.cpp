#include "app/desktop_notifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>
#include <algorithm>

#include "app/qt_text.h"

namespace tolvar {

namespace {

constexpr const char* kService = "org.freedesktop.Notifications";
constexpr const char* kPath = "/org/freedesktop/Notifications";

QDBusMessage Call(const char* method) {
    return QDBusMessage::createMethodCall(kService, kPath, kService, method);
}

}  // namespace

DesktopNotifier::DesktopNotifier(QDBusConnection bus) : bus_(std::move(bus)) {}

DesktopNotifier::~DesktopNotifier() {
    // Notifications that stay until withdrawn do not outlive the program.
    for (const auto& [id, shown] : shown_)
        if (shown.serviceId != 0) Close(shown.serviceId);
}

void DesktopNotifier::Notify(std::uint32_t id, const Notification& n) {
    if (bodyMarkup_) {
        Send(id, n);
        return;
    }
    // A newer one of the same id replaces the one still waiting.
    const auto same = std::find_if(waiting_.begin(), waiting_.end(),
                                   [id](const auto& w) { return w.first == id; });
    if (same != waiting_.end())
        same->second = n;
    else
        waiting_.emplace_back(id, n);
    AskCapabilities();
}

void DesktopNotifier::AskCapabilities() {
    if (asking_) return;
    asking_ = true;
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(Call("GetCapabilities")), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        asking_ = false;
        QDBusPendingReply<QStringList> reply = *w;
        // Without an answer the next notification asks again.
        if (!reply.isError()) bodyMarkup_ = reply.value().contains("body-markup");
        auto waiting = std::move(waiting_);
        waiting_.clear();
        for (const auto& [id, n] : waiting) Send(id, n);
    });
}

void DesktopNotifier::Send(std::uint32_t id, const Notification& n) {
    Shown& shown = shown_[id];
    shown.closeWhenKnown = false;
    shown.generation = ++generation_;
    // Markup only where the service reads it: elsewhere "&amp;" would show.
    const QString body = bodyMarkup_.value_or(true) ? Q(n.body).toHtmlEscaped() : Q(n.body);
    QDBusMessage msg = Call("Notify");
    QVariantMap hints;
    hints["category"] = "im.received";
    hints["desktop-entry"] = "tolvar";
    hints["urgency"] = QVariant::fromValue<uchar>(1);
    msg << QString("Tolvar") << shown.serviceId << QString("call-start") << Q(n.summary) << body
        << QStringList() << hints << static_cast<int>(n.expireMs == 0 ? 0 : n.expireMs);
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(msg), this);
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
    std::erase_if(waiting_, [id](const auto& w) { return w.first == id; });
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
    bus_.asyncCall(msg);
}

}  // namespace tolvar
