#pragma once
// The connection to the broker, through libmosquitto, on a thread of its own:
// the program's thread only hands messages over and never waits for the
// network. Events wait while the broker is away (the newest kMaxQueued) and
// go out in order when it is back, followed by the retained topics afresh.
// Nothing is subscribed: the broker can tell the program nothing.

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct mosquitto;

namespace tolvar {

struct MqttLinkConfig {
    std::string host;
    int port = 1883;
    std::string user;
    std::string password;
    bool tls = false;
    std::string caFile;  // empty: the system's CA store
    std::string clientId;
    // Retained "online" here while connected; the broker's will sets "offline".
    std::string statusTopic;
};

class MqttLink {
  public:
    static constexpr std::size_t kMaxQueued = 1000;
    static constexpr int kFirstRetryMs = 1000;
    static constexpr int kLastRetryMs = 30000;
    static constexpr int kConnectTimeoutMs = 10000;

    // Called on the link's thread: up with "HOST:PORT", or down with why.
    using StateFn = std::function<void(bool up, const std::string& text)>;

    MqttLink(MqttLinkConfig config, StateFn state);
    ~MqttLink();  // Stop() unless done
    MqttLink(const MqttLink&) = delete;
    MqttLink& operator=(const MqttLink&) = delete;

    // An event for the subscribers: QoS 1, not retained, in order.
    void Publish(std::string topic, std::string payload);
    // The current payload of a retained topic, published now and after every
    // reconnect; an empty payload removes it at the broker.
    void SetRetained(std::string topic, std::string payload);
    // "offline" and a clean disconnect, waiting at most timeoutMs for the
    // broker, then the thread ends. Events still queued are dropped.
    void Stop(int timeoutMs = 1000);

    // Events waiting for the broker's acknowledgement (for tests).
    std::size_t Queued() const;

  private:
    struct Pending {
        std::string topic, payload;
        int mid = 0;  // libmosquitto's id once handed to it, else 0
    };
    struct Retained {
        std::string topic, payload;
        bool sent = false;
    };

    void Run();
    // One connection from its attempt to its loss; why it ended.
    std::string Session();
    void SendPending(mosquitto* mosq);
    bool Goodbye(mosquitto* mosq, int timeoutMs);
    void Wake();
    // Waits until ms have passed or Stop() was called.
    void Sleep(int ms);
    void Report(bool up, const std::string& text);

    static void OnConnect(mosquitto*, void* self, int rc);
    static void OnPublish(mosquitto*, void* self, int mid);
    static void OnLog(mosquitto*, void* self, int level, const char* text);

    const MqttLinkConfig config_;
    const StateFn state_;
    int wakeFd_ = -1;
    std::atomic<bool> stopping_{false};
    std::atomic<int> stopTimeoutMs_{1000};

    mutable std::mutex m_;
    std::deque<Pending> queue_;       // events not yet acknowledged
    std::vector<Retained> retained_;  // in the order first set

    // The link thread's own.
    bool connected_ = false;
    std::string refused_;  // the broker's answer to a refused login
    std::string lastError_;
    std::thread thread_;
};

}  // namespace tolvar
