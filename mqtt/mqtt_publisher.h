#pragma once
// Every incoming call on the broker, for the other screens and home
// automation: the call events, the last call, the CAPI link and the
// program's own status, and the configs by which home automation finds them.
// Runs on the engine's thread; the network is the link's.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "calls/call_monitor.h"
#include "core/contact_card.h"
#include "core/datetime.h"
#include "mqtt/mqtt_settings.h"

namespace tolvar {

class Clock;
class FrontEnd;
class MqttLink;
class Registry;

struct MqttHost {
    FrontEnd& ui;
    Clock& clock;
    // Runs a function on the engine's thread; callable from any thread.
    std::function<void(std::function<void()>)> post;
    // The registry access object; none before start-up made it.
    std::function<Registry*()> registry;
};

class MqttPublisher final : public CallEvents {
  public:
    // Calls that never end are forgotten beyond this many.
    static constexpr std::size_t kMaxCalls = 256;

    explicit MqttPublisher(MqttHost host);
    ~MqttPublisher() override;
    MqttPublisher(const MqttPublisher&) = delete;
    MqttPublisher& operator=(const MqttPublisher&) = delete;

    // Reads the settings and connects, or stops when publishing is off.
    void Load();
    const MqttSettings& Settings() const { return settings_; }
    // New settings from the window: stored, and the link started afresh
    // when they changed.
    void Apply(const MqttSettings& settings);
    // Says goodbye to the broker; at the end of the program.
    void Stop();

    void CapiChanged(bool up);
    // An SMS or a D-Mail was sent (channel "sms" or "dmail"), or failed.
    void SendFinished(const std::string& channel, const std::string& to, bool ok,
                      const std::string& statusLine);

    // The address book's card of a caller: its name where the rule gives
    // none, for the call about to ring (the lookup comes first) or ringing.
    void ContactFound(const ContactCard& card);

    // The link as the window shows it.
    bool LinkUp() const { return up_; }
    const std::string& LinkText() const { return linkText_; }
    // "tolvar_" and the settings file's own part of the ids.
    std::string DeviceId() const;

    // CallEvents
    void CallRinging(const CallInfo& call) override;
    void CallConnected(std::uint32_t plci) override;
    void CallEnded(std::uint32_t plci, bool missed, const std::string& line) override;

  private:
    struct ActiveCall {
        std::uint64_t id;
        CallInfo info;
        bool connected = false;
        DateTime connectedAt;
    };

    void Start();
    void LinkChanged(std::uint64_t generation, bool up, const std::string& text);
    void Report(bool up, const std::string& text);
    std::string Topic(const char* leaf) const { return settings_.Topic + "/" + leaf; }
    std::string CallJson(const char* event, const ActiveCall& call) const;
    void SetDiscovery();

    MqttHost h_;
    MqttSettings settings_;
    std::unique_ptr<MqttLink> link_;
    // Reports of a link that was replaced meanwhile are ignored.
    std::uint64_t generation_ = 0;
    std::shared_ptr<MqttPublisher*> self_;
    std::map<std::uint32_t, ActiveCall> calls_;
    std::uint64_t nextId_ = 1;
    std::optional<bool> capiUp_;
    // The latest card found, until the next call rings.
    std::optional<ContactCard> found_;
    bool up_ = false;
    std::string linkText_;
    std::optional<std::pair<bool, std::string>> reported_;
};

}  // namespace tolvar
