#include "mqtt/mqtt_link.h"

#include <mosquitto.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace tolvar {

namespace {

constexpr int kKeepAliveS = 30;
constexpr const char* kOnline = "online";
constexpr const char* kOffline = "offline";

using Steady = std::chrono::steady_clock;

int MsLeft(Steady::time_point end) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Steady::now());
    return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

void InitLibraryOnce() {
    // libmosquitto's set-up is not thread safe; it runs once per process.
    static const int done = mosquitto_lib_init();
    (void)done;
}

// The tail of an OpenSSL error line: "...:SSL routines::certificate verify failed".
std::string TlsDetail(const std::string& logLine) {
    const auto colon = logLine.rfind(':');
    std::string tail = colon == std::string::npos ? logLine : logLine.substr(colon + 1);
    while (!tail.empty() && tail.front() == ' ') tail.erase(0, 1);
    return tail;
}

}  // namespace

MqttLink::MqttLink(MqttLinkConfig config, StateFn state)
    : config_(std::move(config)), state_(std::move(state)) {
    InitLibraryOnce();
    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    retained_.push_back({config_.statusTopic, kOnline, false});
    thread_ = std::thread([this] { Run(); });
}

MqttLink::~MqttLink() {
    Stop();
    if (wakeFd_ >= 0) close(wakeFd_);
}

void MqttLink::Wake() {
    const std::uint64_t one = 1;
    if (write(wakeFd_, &one, sizeof one) < 0) {
        // The counter is full: the thread is awake anyway.
    }
}

void MqttLink::Publish(std::string topic, std::string payload) {
    {
        std::lock_guard lock(m_);
        queue_.push_back({std::move(topic), std::move(payload), 0});
        // The newest are kept: a subscriber wants to know of the latest calls.
        while (queue_.size() > kMaxQueued) queue_.pop_front();
    }
    Wake();
}

void MqttLink::SetRetained(std::string topic, std::string payload) {
    {
        std::lock_guard lock(m_);
        Retained* found = nullptr;
        for (auto& r : retained_)
            if (r.topic == topic) found = &r;
        if (found) {
            found->payload = std::move(payload);
            found->sent = false;
        } else {
            retained_.push_back({std::move(topic), std::move(payload), false});
        }
    }
    Wake();
}

std::size_t MqttLink::Queued() const {
    std::lock_guard lock(m_);
    return queue_.size();
}

void MqttLink::Stop(int timeoutMs) {
    if (!thread_.joinable()) return;
    stopTimeoutMs_ = timeoutMs;
    stopping_ = true;
    Wake();
    thread_.join();
}

void MqttLink::Report(bool up, const std::string& text) {
    if (state_) state_(up, text);
}

void MqttLink::Sleep(int ms) {
    const auto end = Steady::now() + std::chrono::milliseconds(ms);
    while (!stopping_) {
        const int left = MsLeft(end);
        if (left == 0) return;
        pollfd fd{wakeFd_, POLLIN, 0};
        if (poll(&fd, 1, left) > 0) {
            std::uint64_t n;
            while (read(wakeFd_, &n, sizeof n) > 0) {
            }
        }
    }
}

void MqttLink::Run() {
    int retryMs = kFirstRetryMs;
    while (!stopping_) {
        const std::string why = Session();
        if (stopping_) break;
        Report(false, why);
        // A link that was up starts counting again; one that never came up
        // is tried less and less often.
        if (connected_) retryMs = kFirstRetryMs;
        connected_ = false;
        Sleep(retryMs);
        retryMs = std::min(retryMs * 2, kLastRetryMs);
    }
}

void MqttLink::OnConnect(mosquitto*, void* self, int rc) {
    auto* link = static_cast<MqttLink*>(self);
    if (rc != 0) {
        link->refused_ = std::string("Anmeldung abgelehnt: ") + mosquitto_connack_string(rc);
        return;
    }
    link->connected_ = true;
    {
        // Everything goes out afresh: a restarted broker may have lost it.
        std::lock_guard lock(link->m_);
        for (auto& p : link->queue_) p.mid = 0;
        for (auto& r : link->retained_) r.sent = false;
    }
    link->Report(true, link->config_.host + ":" + std::to_string(link->config_.port));
}

void MqttLink::OnPublish(mosquitto*, void* self, int mid) {
    auto* link = static_cast<MqttLink*>(self);
    std::lock_guard lock(link->m_);
    for (auto it = link->queue_.begin(); it != link->queue_.end(); ++it)
        if (it->mid == mid) {
            link->queue_.erase(it);
            return;
        }
}

void MqttLink::OnLog(mosquitto*, void* self, int level, const char* text) {
    if ((level & MOSQ_LOG_ERR) && text) static_cast<MqttLink*>(self)->lastError_ = text;
}

void MqttLink::SendPending(mosquitto* mosq) {
    std::lock_guard lock(m_);
    for (auto& p : queue_) {
        if (p.mid != 0) continue;
        int mid = 0;
        if (mosquitto_publish(mosq, &mid, p.topic.c_str(), static_cast<int>(p.payload.size()),
                              p.payload.data(), 1, false) != MOSQ_ERR_SUCCESS)
            return;  // the loop sees why
        p.mid = mid;
    }
    for (auto& r : retained_) {
        if (r.sent) continue;
        if (mosquitto_publish(mosq, nullptr, r.topic.c_str(), static_cast<int>(r.payload.size()),
                              r.payload.data(), 1, true) != MOSQ_ERR_SUCCESS)
            return;
        r.sent = true;
    }
}

bool MqttLink::Goodbye(mosquitto* mosq, int timeoutMs) {
    // A clean end sends no will: "offline" is said here.
    mosquitto_publish(mosq, nullptr, config_.statusTopic.c_str(),
                      static_cast<int>(std::strlen(kOffline)), kOffline, 1, true);
    mosquitto_disconnect(mosq);
    const auto end = Steady::now() + std::chrono::milliseconds(timeoutMs);
    while (mosquitto_socket(mosq) >= 0 && mosquitto_want_write(mosq)) {
        const int left = MsLeft(end);
        if (left == 0) return false;
        pollfd fd{mosquitto_socket(mosq), POLLOUT, 0};
        if (poll(&fd, 1, left) > 0 && mosquitto_loop_write(mosq, 1) != MOSQ_ERR_SUCCESS) break;
    }
    return true;
}

std::string MqttLink::Session() {
    refused_.clear();
    lastError_.clear();
    mosquitto* mosq = mosquitto_new(config_.clientId.c_str(), true, this);
    if (!mosq) return "libmosquitto: " + std::string(std::strerror(errno));
    struct Destroy {
        mosquitto* m;
        ~Destroy() { mosquitto_destroy(m); }
    } destroy{mosq};

    mosquitto_int_option(mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_connect_callback_set(mosq, &MqttLink::OnConnect);
    mosquitto_publish_callback_set(mosq, &MqttLink::OnPublish);
    mosquitto_log_callback_set(mosq, &MqttLink::OnLog);
    if (!config_.user.empty())
        mosquitto_username_pw_set(mosq, config_.user.c_str(),
                                  config_.password.empty() ? nullptr : config_.password.c_str());
    mosquitto_will_set(mosq, config_.statusTopic.c_str(), static_cast<int>(std::strlen(kOffline)),
                       kOffline, 1, true);
    if (config_.tls) {
        // Never a silent plain connection: a broker whose certificate cannot
        // be checked is not reached at all.
        if (config_.caFile.empty()) {
            mosquitto_int_option(mosq, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
        } else if (mosquitto_tls_set(mosq, config_.caFile.c_str(), nullptr, nullptr, nullptr,
                                     nullptr) != MOSQ_ERR_SUCCESS) {
            return "CA-Datei nicht lesbar: " + config_.caFile;
        }
        if (mosquitto_tls_opts_set(mosq, 1, nullptr, nullptr) != MOSQ_ERR_SUCCESS)
            return "TLS nicht verfügbar";
    }

    errno = 0;
    int rc = mosquitto_connect_async(mosq, config_.host.c_str(), config_.port, kKeepAliveS);
    auto why = [&](int code) -> std::string {
        if (!refused_.empty()) return refused_;
        if (code == MOSQ_ERR_ERRNO) return std::strerror(errno);
        if (code == MOSQ_ERR_TLS)
            return "TLS: " + (lastError_.empty() ? std::string(mosquitto_strerror(code))
                                                 : TlsDetail(lastError_));
        if (code == MOSQ_ERR_EAI) return "Rechner unbekannt: " + config_.host;
        if (code == MOSQ_ERR_CONN_LOST) return "Verbindung verloren";
        return mosquitto_strerror(code);
    };
    if (rc != MOSQ_ERR_SUCCESS) return why(rc);

    const auto connectBy = Steady::now() + std::chrono::milliseconds(kConnectTimeoutMs);
    while (true) {
        if (connected_) SendPending(mosq);
        const int sock = mosquitto_socket(mosq);
        if (sock < 0) return why(MOSQ_ERR_CONN_LOST);
        pollfd fds[2] = {
            {sock, static_cast<short>(POLLIN | (mosquitto_want_write(mosq) ? POLLOUT : 0)), 0},
            {wakeFd_, POLLIN, 0}};
        const int ready = poll(fds, 2, 1000);
        if (ready < 0 && errno != EINTR) return std::strerror(errno);
        if (fds[1].revents & POLLIN) {
            std::uint64_t n;
            while (read(wakeFd_, &n, sizeof n) > 0) {
            }
        }
        if (stopping_) {
            if (connected_) Goodbye(mosq, stopTimeoutMs_);
            return "";
        }
        errno = 0;
        if (fds[0].revents & (POLLIN | POLLERR | POLLHUP)) {
            rc = mosquitto_loop_read(mosq, 1);
            if (rc != MOSQ_ERR_SUCCESS) return why(rc);
        }
        if (mosquitto_want_write(mosq) && (fds[0].revents & (POLLOUT | POLLERR | POLLHUP))) {
            rc = mosquitto_loop_write(mosq, 1);
            if (rc != MOSQ_ERR_SUCCESS) return why(rc);
        }
        rc = mosquitto_loop_misc(mosq);
        if (rc != MOSQ_ERR_SUCCESS) return why(rc);
        if (!refused_.empty()) return refused_;
        if (!connected_ && MsLeft(connectBy) == 0) return "keine Antwort vom Broker";
    }
}

}  // namespace tolvar
