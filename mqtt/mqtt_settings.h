#pragma once
// Where the program publishes its calls: the broker, its credentials and the
// topics, kept under "\Software\Brenwick\Tolvar\MQTT".

#include <cstdint>
#include <string>

namespace tolvar {

class Registry;

inline constexpr const char* kMqttKey = "\\Software\\Brenwick\\Tolvar\\MQTT";

struct MqttSettings {
    bool Enabled = false;
    std::string Host = "localhost";
    int Port = 0;  // 0: the protocol's own, 1883 or 8883 with TLS
    std::string User;
    std::string Password;
    bool TLS = false;
    std::string CAFile;
    std::string Topic = "tolvar";
    bool Discovery = true;

    int PortInUse() const { return Port > 0 ? Port : (TLS ? 8883 : 1883); }
    bool operator==(const MqttSettings&) const = default;
};

// Missing or unusable values take their defaults; nothing is written back,
// so a file of someone who never publishes stays as it was. A file that holds
// a password is made private to its owner.
MqttSettings LoadMqttSettings(Registry& registry);

// Writes the settings. When they hold a password the file is made private
// first, so that no version of it with the password is readable by others.
void SaveMqttSettings(Registry& registry, const MqttSettings& settings);

// Takes group and other permissions off the file (never adds any); false,
// with nothing changed, when the file is not there.
bool MakeFilePrivate(const std::string& path);

}  // namespace tolvar
