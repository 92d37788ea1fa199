// Notifications through a notification service on a bus of the test's own
// (a real dbus-daemon): what the service gets, by what it says it reads.

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QTest>

#include "app/desktop_notifier.h"
#include "support/process.h"

namespace tolvar {
namespace {

// The notification service: answers GetCapabilities with capabilities and
// keeps the body of every Notify.
class FakeService final : public QDBusVirtualObject {
  public:
    QStringList capabilities;
    std::vector<QString> bodies;
    int capabilityQuestions = 0;

    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.member() == "GetCapabilities") {
            ++capabilityQuestions;
            connection.send(message.createReply(QVariant(capabilities)));
        } else if (message.member() == "Notify") {
            bodies.push_back(message.arguments().value(4).toString());
            connection.send(
                message.createReply(QVariant::fromValue<uint>(static_cast<uint>(bodies.size()))));
        } else {
            connection.send(message.createReply());
        }
        return true;
    }
};

class Bus {
  public:
    Bus()
        : daemon_({"/usr/bin/dbus-daemon", "--config-file=/usr/share/dbus-1/session.conf",
                   "--nofork", "--print-address=1"},
                  "", "/dev/null") {
        address_ = QString::fromStdString(daemon_.ReadLine(std::chrono::seconds(10)).value_or(""));
    }
    ~Bus() {
        QDBusConnection::disconnectFromBus("notify-client");
        QDBusConnection::disconnectFromBus("notify-service");
    }
    QDBusConnection Client() { return QDBusConnection::connectToBus(address_, "notify-client"); }
    // The service's name taken and its object in place.
    bool Serve(FakeService& service) {
        QDBusConnection c = QDBusConnection::connectToBus(address_, "notify-service");
        return c.registerService("org.freedesktop.Notifications") &&
               c.registerVirtualObject("/org/freedesktop/Notifications", &service);
    }

  private:
    test::Process daemon_;
    QString address_;
};

TEST(DesktopNotifierTest, TheBodyIsEscapedOnlyForAServiceThatReadsMarkup) {
    const struct {
        QStringList capabilities;
        QString body;
    } cases[] = {
        {{"body", "body-markup", "actions"}, "0301111 -&gt; 5551234  M&amp;M &lt;Büro&gt;"},
        {{"body", "actions"}, "0301111 -> 5551234  M&M <Büro>"},
        {{}, "0301111 -> 5551234  M&M <Büro>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.capabilities.join(",").toStdString());
        Bus bus;
        FakeService service;
        service.capabilities = c.capabilities;
        ASSERT_TRUE(bus.Serve(service));
        DesktopNotifier notifier(bus.Client());
        // Two before the service answered, one of them replaced; then more.
        notifier.Notify(1, {"Anruf", "erste", 0});
        notifier.Notify(1, {"Anruf", "0301111 -> 5551234  M&M <Büro>", 0});
        notifier.Notify(2, {"Anruf", "zweite", 5000});
        notifier.Withdraw(2);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !service.bodies.empty(); }, 10000));
        notifier.Notify(3, {"Anruf", "0301111 -> 5551234  M&M <Büro>", 5000});
        ASSERT_TRUE(QTest::qWaitFor([&] { return service.bodies.size() == 2; }, 10000));
        EXPECT_EQ(service.bodies, (std::vector<QString>{c.body, c.body}));
        EXPECT_EQ(service.capabilityQuestions, 1);  // asked once
    }
}

}  // namespace
}  // namespace tolvar
