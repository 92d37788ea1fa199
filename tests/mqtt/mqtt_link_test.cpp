// The link to the broker on its own: while the broker is away the newest
// events wait, and they go out in order, before the retained topics, once it
// is there.

#include <gtest/gtest.h>

#include <atomic>

#include "mqtt/mqtt_link.h"
#include "support/broker.h"
#include "support/files.h"

namespace tolvar {
namespace {

using namespace std::chrono_literals;

TEST(MqttLinkTest, TheNewestEventsWaitForTheBrokerAndGoOutInOrder) {
    test::TempDir dir;
    const int port = test::FreeLoopbackPort();
    std::atomic<int> ups = 0;
    std::string down;
    std::mutex m;
    MqttLink link({.host = "127.0.0.1",
                   .port = port,
                   .user = "",
                   .password = "",
                   .tls = false,
                   .caFile = "",
                   .clientId = "link-test",
                   .statusTopic = "t/status"},
                  [&](bool up, const std::string& text) {
                      if (up) ++ups;
                      std::lock_guard lock(m);
                      if (!up && down.empty()) down = text;
                  });
    const std::size_t extra = 5;
    for (std::size_t i = 1; i <= MqttLink::kMaxQueued + extra; ++i)
        link.Publish("t/call", std::to_string(i));
    link.SetRetained("t/last", "x");
    EXPECT_EQ(link.Queued(), MqttLink::kMaxQueued);

    // The broker comes; a subscriber with a lasting session is there first.
    test::Broker broker(dir.File("broker"), "", port);
    auto sub = test::Subscribe(port, {"-c", "-i", "link-sub", "-t", "t/#"});
    for (int i = 0; i < 100 && ups == 0; ++i) std::this_thread::sleep_for(50ms);
    {
        std::lock_guard lock(m);
        EXPECT_EQ(down, "Connection refused");
    }
    ASSERT_EQ(ups, 1) << "no connection within 5 s";
    // The oldest five were dropped; the rest arrive in order, then the retained topics.
    for (std::size_t i = extra + 1; i <= MqttLink::kMaxQueued + extra; ++i) {
        const auto l = sub->ReadLine(5s);
        ASSERT_TRUE(l);
        if (*l == "t/status online" || *l == "t/last x") {
            ADD_FAILURE() << "retained topic before event " << i;
            continue;
        }
        ASSERT_EQ(*l, "t/call " + std::to_string(i));
    }
    std::vector<std::string> retained = {*sub->ReadLine(5s), *sub->ReadLine(5s)};
    EXPECT_EQ(retained, (std::vector<std::string>{"t/status online", "t/last x"}));
    for (int i = 0; i < 100 && link.Queued() > 0; ++i) std::this_thread::sleep_for(20ms);
    EXPECT_EQ(link.Queued(), 0u);
    link.Stop();
    EXPECT_EQ(sub->ReadLine(5s), "t/status offline");
}

}  // namespace
}  // namespace tolvar
