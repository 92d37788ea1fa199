#include "mqtt/mqtt_settings.h"

#include <sys/stat.h>

#include "registry/registry.h"
#include "registry/values.h"

namespace tolvar {

namespace {

bool ValidTopic(const std::string& topic) {
    // A base topic names where to publish: no wildcards, no empty level at its ends.
    return !topic.empty() && topic.find_first_of("#+") == std::string::npos &&
           topic.front() != '/' && topic.back() != '/';
}

}  // namespace

bool MakeFilePrivate(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return false;
    const mode_t mode = st.st_mode & 07777;
    if ((mode & 077) == 0) return true;
    return chmod(path.c_str(), mode & ~static_cast<mode_t>(077)) == 0;
}

MqttSettings LoadMqttSettings(Registry& registry) {
    MqttSettings s;
    auto key = registry.OpenKey(kMqttKey, false);
    if (!key) return s;
    s.Enabled = ReadIntegerIfAny(*key, "Enabled").value_or(0) != 0;
    const std::string host = ReadStringOr(*key, "Host");
    if (!host.empty()) s.Host = host;
    const auto port = ReadIntegerIfAny(*key, "Port");
    if (port && *port > 0 && *port <= 65535) s.Port = *port;
    s.User = ReadStringOr(*key, "User");
    s.Password = ReadStringOr(*key, "Password");
    s.TLS = ReadIntegerIfAny(*key, "TLS").value_or(0) != 0;
    s.CAFile = ReadStringOr(*key, "CAFile");
    const std::string topic = ReadStringOr(*key, "Topic");
    if (ValidTopic(topic)) s.Topic = topic;
    s.Discovery = ReadIntegerIfAny(*key, "Discovery").value_or(1) != 0;
    // A password put into the file by hand is not left readable by others.
    if (!s.Password.empty()) MakeFilePrivate(registry.Path());
    return s;
}

void SaveMqttSettings(Registry& registry, const MqttSettings& s) {
    if (!s.Password.empty()) MakeFilePrivate(registry.Path());
    RegistryBatch batch(registry);
    auto key = registry.OpenKey(kMqttKey, true);
    key->WriteInteger("Enabled", s.Enabled ? 1 : 0);
    key->WriteString("Host", s.Host);
    // No port: the protocol's own, which follows the TLS switch.
    if (s.Port > 0)
        key->WriteInteger("Port", s.Port);
    else
        key->DeleteValue("Port");
    key->WriteString("User", s.User);
    key->WriteString("Password", s.Password);
    key->WriteInteger("TLS", s.TLS ? 1 : 0);
    key->WriteString("CAFile", s.CAFile);
    key->WriteString("Topic", ValidTopic(s.Topic) ? s.Topic : MqttSettings{}.Topic);
    key->WriteInteger("Discovery", s.Discovery ? 1 : 0);
    key->Close();
    batch.Commit();
}

}  // namespace tolvar
