// Publishing calls to an MQTT broker, on a real mosquitto and tolvar-line:
//  - the ring at a subscriber: from the call placed at the exchange to the
//    "ring" message at a libmosquitto subscriber, against mosquitto_pub
//    started at that moment and publishing to the same subscriber (both
//    count a program's start: tolvar-linectl's, mosquitto_pub's; the
//    exchange's network delay is 0); turns alternate;
//  - CONNECT_IND to ALERT_REQ at the exchange (its log, in ms, so the mean of
//    many calls) with the broker up, stopped, and unreachable (a port that
//    takes the connection and never answers), against no MQTT at all.
//
//   mqtt_bench [CALLS]

#include <mosquitto.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <thread>

#include "bench/bench_util.h"
#include "support/broker.h"
#include "support/line_fixture.h"

using namespace tolvar::bench;
using namespace std::chrono_literals;
namespace test = tolvar::test;

namespace {

// Every message's arrival, stamped as libmosquitto hands it over.
class Subscriber {
  public:
    explicit Subscriber(int port) {
        mosquitto_lib_init();
        mosq_ = mosquitto_new(nullptr, true, this);
        mosquitto_message_callback_set(
            mosq_, [](mosquitto*, void* self, const mosquitto_message* m) {
                auto* s = static_cast<Subscriber*>(self);
                const auto at = Steady::now();
                std::lock_guard lock(s->m_);
                s->got_.push_back({std::string(m->topic) + " " +
                                       std::string(static_cast<const char*>(m->payload),
                                                   static_cast<std::size_t>(m->payloadlen)),
                                   at});
                s->cv_.notify_all();
            });
        if (mosquitto_connect(mosq_, "127.0.0.1", port, 30) != MOSQ_ERR_SUCCESS ||
            mosquitto_subscribe(mosq_, nullptr, "bench/#", 1) != MOSQ_ERR_SUCCESS)
            throw std::runtime_error("subscriber cannot connect");
        mosquitto_loop_start(mosq_);
    }
    ~Subscriber() {
        mosquitto_disconnect(mosq_);
        mosquitto_loop_stop(mosq_, false);
        mosquitto_destroy(mosq_);
    }
    // The arrival of the first message from index `from` on containing text.
    std::optional<Steady::time_point> WaitFor(const std::string& text, std::size_t& from) {
        std::unique_lock lock(m_);
        const auto end = Steady::now() + 5s;
        while (true) {
            for (; from < got_.size(); ++from)
                if (got_[from].first.find(text) != std::string::npos) return got_[from++].second;
            if (cv_.wait_until(lock, end) == std::cv_status::timeout) return std::nullopt;
        }
    }

  private:
    mosquitto* mosq_ = nullptr;
    std::mutex m_;
    std::condition_variable cv_;
    std::vector<std::pair<std::string, Steady::time_point>> got_;
};

std::string MqttKey(int port) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%08x", static_cast<unsigned>(port));
    return "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\MQTT]\n\"Enabled\"=dword:00000001\n"
           "\"Host\"=\"127.0.0.1\"\n\"Port\"=dword:" +
           std::string(hex) + "\n\"Topic\"=\"bench\"\n\n";
}

double Ms(Steady::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// Mean ms from each CONNECT_IND to the next ALERT_REQ in the exchange's log
// written since offset.
double AlertMean(const std::filesystem::path& log, std::streamoff& offset) {
    std::ifstream in(log);
    in.seekg(offset);
    std::string l;
    double ind = -1;  // none waiting
    double sum = 0;
    int n = 0;
    while (std::getline(in, l)) {
        const double ms = std::atof(l.c_str());
        if (l.find("<- CONNECT_IND") != std::string::npos) ind = ms;
        if (l.find("-> ALERT_REQ") != std::string::npos && ind >= 0) {
            sum += ms - ind;
            ++n;
            ind = -1;
        }
    }
    in.clear();
    offset = in.tellg();
    return n ? sum / n : 0;
}

}  // namespace

int main(int argc, char** argv) {
    const int calls = argc > 1 ? std::atoi(argv[1]) : 40;
    Scratch scratch;
    test::Broker broker(scratch / "broker");
    Subscriber sub(broker.Port());
    test::LineFixture line;
    const auto lineLog = line.Dir() / "line.log";
    const std::string rules =
        "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\MSN\\5551234\\Sonstige\\00:00]\n"
        "\"Action\"=dword:00000000\n\"Param\"=\"\"\n\n";

    // The ring at the subscriber, taking turns with mosquitto_pub.
    std::vector<double> ring, pub;
    {
        auto tolvar = line.StartTolvar("ring", rules + MqttKey(broker.Port()));
        if (!tolvar->WaitFor("mqtt: up", 10s)) throw std::runtime_error("tolvar reached no broker");
        // The call is handed to the program as soon as it is placed: the
        // time counts from the CONNECT_IND (and tolvar-linectl's start).
        line.Ctl({"set", "net=0"});
        std::size_t seen = 0;
        for (int i = 0; i < calls; ++i) {
            auto t0 = Steady::now();
            const auto reply = line.Ctl({"call", "0302222", "5551234", "ring=50ms"});
            auto at =
                sub.WaitFor("\"event\": \"ring\", \"id\": " + std::to_string(i + 1) + ",", seen);
            if (at) ring.push_back(Ms(*at - t0));
            sub.WaitFor("\"event\": \"end\"", seen);
            t0 = Steady::now();
            test::Process publisher({"/usr/bin/mosquitto_pub", "-h", "127.0.0.1", "-p",
                                     std::to_string(broker.Port()), "-q", "1", "-t", "bench/ref",
                                     "-m", "ref " + std::to_string(i)});
            at = sub.WaitFor("bench/ref ref " + std::to_string(i), seen);
            if (at) pub.push_back(Ms(*at - t0));
            publisher.Wait(5s);
        }
        tolvar->Send("quit");
        tolvar->Wait(5s);
    }
    std::cout << "MQTT: " << calls << " calls per measurement\n";
    Report("ring at a subscriber (median)", Median(ring), "ms",
           "mosquitto_pub to the same subscriber", Median(pub), 1.5);

    // ALERT_REQ with every state of the broker, against no MQTT.
    const int silentPort = test::FreeLoopbackPort();
    const int silent = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(silentPort));
    if (bind(silent, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(silent, 16) != 0)
        throw std::runtime_error("cannot listen");
    const int stoppedPort = test::FreeLoopbackPort();
    struct Config {
        const char* name;
        std::string mqtt;
    } configs[] = {{"none", ""},
                   {"up", MqttKey(broker.Port())},
                   {"down", MqttKey(stoppedPort)},
                   {"unreachable", MqttKey(silentPort)}};
    std::streamoff offset = 0;
    AlertMean(lineLog, offset);
    std::map<std::string, double> alert;
    for (const auto& c : configs) {
        auto tolvar = line.StartTolvar(c.name, rules + c.mqtt);
        tolvar->WaitFor("caption", 10s);
        std::this_thread::sleep_for(300ms);
        AlertMean(lineLog, offset);
        for (int i = 0; i < calls; ++i) {
            line.Ctl({"call", "0302222", "5551234", "ring=30ms"});
            std::this_thread::sleep_for(60ms);
        }
        std::this_thread::sleep_for(200ms);
        alert[c.name] = AlertMean(lineLog, offset);
        tolvar->Send("quit");
        tolvar->Wait(5s);
    }
    close(silent);
    for (const char* name : {"up", "down", "unreachable"})
        Report(std::string("ALERT_REQ, broker ") + name + " (mean)", alert[name], "ms", "no MQTT",
               alert["none"], 1.1);
    Note("ALERT_REQ times are the exchange's log stamps (whole ms), averaged over the calls.");
    return 0;
}
