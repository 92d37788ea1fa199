#include "mqtt/mqtt_publisher.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "core/clock.h"
#include "core/front_end.h"
#include "mqtt/mqtt_json.h"
#include "mqtt/mqtt_link.h"
#include "registry/registry.h"

namespace tolvar {

namespace {

// Two copies on two settings files get two ids; one file keeps its id.
std::string PathId(const std::string& path) {
    std::error_code ec;
    std::string full = std::filesystem::weakly_canonical(path, ec).string();
    if (ec || full.empty()) full = path;
    std::uint32_t hash = 2166136261u;  // FNV-1a
    for (const char c : full) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 16777619u;
    }
    char buf[16];
    std::snprintf(buf, sizeof buf, "%08x", hash);
    return buf;
}

// A card without a name is known by its organisation.
std::string CardName(const ContactCard& card) {
    return card.formattedName.empty() ? card.organisation : card.formattedName;
}

// The address book is asked with the caller's number as it arrived.
bool CarriesCaller(const ContactCard& card, const std::string& caller) {
    return !caller.empty() &&
           std::any_of(card.phones.begin(), card.phones.end(),
                       [&](const ContactCard::Phone& p) { return p.compared == caller; });
}

}  // namespace

MqttPublisher::MqttPublisher(MqttHost host)
    : h_(std::move(host)), self_(std::make_shared<MqttPublisher*>(this)) {}

MqttPublisher::~MqttPublisher() {
    Stop();
}

std::string MqttPublisher::DeviceId() const {
    const Registry* r = h_.registry();
    return "tolvar_" + PathId(r ? r->Path() : std::string());
}

void MqttPublisher::Load() {
    Registry* r = h_.registry();
    if (!r) return;
    const MqttSettings loaded = LoadMqttSettings(*r);
    if (loaded == settings_ && (link_ != nullptr) == loaded.Enabled) return;
    settings_ = loaded;
    Start();
}

void MqttPublisher::Apply(const MqttSettings& settings) {
    if (settings == settings_) return;
    if (Registry* r = h_.registry()) SaveMqttSettings(*r, settings);
    settings_ = settings;
    Start();
}

void MqttPublisher::Stop() {
    ++generation_;
    if (link_) link_->Stop();
    link_.reset();
}

void MqttPublisher::Start() {
    const bool wasOn = link_ != nullptr;
    Stop();
    if (!settings_.Enabled) {
        up_ = false;
        linkText_.clear();
        if (wasOn) Report(false, "ausgeschaltet");
        return;
    }
    const std::uint64_t generation = generation_;
    std::weak_ptr<MqttPublisher*> self = self_;
    auto post = h_.post;
    link_ = std::make_unique<MqttLink>(MqttLinkConfig{.host = settings_.Host,
                                                      .port = settings_.PortInUse(),
                                                      .user = settings_.User,
                                                      .password = settings_.Password,
                                                      .tls = settings_.TLS,
                                                      .caFile = settings_.CAFile,
                                                      .clientId = DeviceId(),
                                                      .statusTopic = Topic("status")},
                                       [post, self, generation](bool up, const std::string& text) {
                                           post([self, generation, up, text] {
                                               if (auto p = self.lock())
                                                   (*p)->LinkChanged(generation, up, text);
                                           });
                                       });
    if (capiUp_) link_->SetRetained(Topic("capi"), *capiUp_ ? "up" : "down");
    SetDiscovery();
}

void MqttPublisher::LinkChanged(std::uint64_t generation, bool up, const std::string& text) {
    if (generation != generation_ || !link_) return;
    up_ = up;
    linkText_ = text;
    Report(up, text);
}

void MqttPublisher::Report(bool up, const std::string& text) {
    // Only changes: a broker that stays away is reported once.
    if (reported_ && reported_->first == up && reported_->second == text) return;
    reported_ = {up, text};
    h_.ui.MqttLinkChanged(up, text);
}

void MqttPublisher::SetDiscovery() {
    const std::string id = DeviceId();
    const std::string base = settings_.Topic;
    const std::string device = JsonObject()
                                   .AddRaw("identifiers", "[" + JsonString(id) + "]")
                                   .Add("name", "Tolvar")
                                   .Add("model", "Tolvar 2.7")
                                   .Text();
    auto common = [&](const char* name, const char* object) {
        JsonObject o;
        o.Add("name", name)
            .Add("unique_id", id + "_" + object)
            .Add("availability_topic", base + "/status")
            .Add("payload_available", "online")
            .Add("payload_not_available", "offline")
            .AddRaw("device", device);
        return o;
    };
    struct Config {
        std::string topic, payload;
    };
    const Config configs[] = {
        {"homeassistant/sensor/" + id + "/last_caller/config",
         common("Letzter Anrufer", "last_caller")
             .Add("state_topic", base + "/last_call")
             .Add("value_template", "{{ value_json.caller if value_json.caller else 'Unbekannt' }}")
             .Add("json_attributes_topic", base + "/last_call")
             .Add("icon", "mdi:phone-incoming")
             .Text()},
        {"homeassistant/binary_sensor/" + id + "/ringing/config",
         common("Es klingelt", "ringing")
             .Add("state_topic", base + "/call")
             .Add("value_template", "{{ 'ON' if value_json.event == 'ring' else 'OFF' }}")
             .Add("icon", "mdi:phone-ring")
             .Text()},
        {"homeassistant/binary_sensor/" + id + "/capi/config",
         common("CAPI", "capi")
             .Add("state_topic", base + "/capi")
             .Add("payload_on", "up")
             .Add("payload_off", "down")
             .Add("device_class", "connectivity")
             .Text()},
    };
    // Switched off, configs left by an earlier run are taken back.
    for (const Config& c : configs)
        link_->SetRetained(c.topic, settings_.Discovery ? c.payload : std::string());
}

void MqttPublisher::CapiChanged(bool up) {
    capiUp_ = up;
    if (link_) link_->SetRetained(Topic("capi"), up ? "up" : "down");
}

void MqttPublisher::SendFinished(const std::string& channel, const std::string& to, bool ok,
                                 const std::string& statusLine) {
    if (!link_) return;
    link_->Publish(Topic(channel.c_str()),
                   JsonObject().Add("to", to).Add("ok", ok).Add("text", statusLine).Text());
}

std::string MqttPublisher::CallJson(const char* event, const ActiveCall& call) const {
    JsonObject o;
    o.Add("event", event)
        .Add("id", static_cast<std::int64_t>(call.id))
        .Add("time", IsoLocalTime(h_.clock.Now()))
        .Add("caller", call.info.caller)
        .Add("called", call.info.called)
        .Add("service", call.info.service)
        .Add("name", call.info.name)
        .Add("action", call.info.action);
    return o.Text();
}

void MqttPublisher::CallRinging(const CallInfo& info) {
    if (calls_.size() >= kMaxCalls) {
        auto oldest = calls_.begin();
        for (auto it = calls_.begin(); it != calls_.end(); ++it)
            if (it->second.id < oldest->second.id) oldest = it;
        calls_.erase(oldest);
    }
    ActiveCall& call = calls_[info.plci] = ActiveCall{nextId_++, info, false, {}};
    if (found_ && call.info.name.empty() && CarriesCaller(*found_, call.info.caller))
        call.info.name = CardName(*found_);
    found_.reset();
    if (link_) link_->Publish(Topic("call"), CallJson("ring", call));
}

void MqttPublisher::ContactFound(const ContactCard& card) {
    if (CardName(card).empty()) return;
    for (auto& [plci, call] : calls_)
        if (call.info.name.empty() && CarriesCaller(card, call.info.caller))
            call.info.name = CardName(card);
    found_ = card;
}

void MqttPublisher::CallConnected(std::uint32_t plci) {
    const auto it = calls_.find(plci);
    if (it == calls_.end() || it->second.connected) return;
    it->second.connected = true;
    it->second.connectedAt = h_.clock.Now();
    if (link_) link_->Publish(Topic("call"), CallJson("connected", it->second));
}

void MqttPublisher::CallEnded(std::uint32_t plci, bool missed, const std::string& line) {
    const auto it = calls_.find(plci);
    if (it == calls_.end()) return;
    const ActiveCall call = std::move(it->second);
    calls_.erase(it);
    if (!link_) return;
    std::string json = CallJson("end", call);
    json.pop_back();  // the object goes on
    const std::int64_t duration =
        call.connected ? std::max<std::int64_t>(0, SecondsBetween(call.connectedAt, h_.clock.Now()))
                       : 0;
    json += ", \"missed\": " + std::string(missed ? "true" : "false") +
            ", \"duration\": " + std::to_string(duration) + ", \"line\": " + JsonString(line) + "}";
    link_->Publish(Topic("call"), json);
    link_->SetRetained(Topic("last_call"), json);
}

}  // namespace tolvar
