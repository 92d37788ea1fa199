#include "desktop/agent_options.h"

#include <cstdlib>

#include "registry/registry.h"
#include "registry/values.h"

#ifndef TOLVAR_ESPEAK_DATA
#define TOLVAR_ESPEAK_DATA "/usr/share/espeak-ng-data"
#endif

namespace tolvar {

namespace {

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

}  // namespace

AgentDefaults SystemAgentDefaults() {
    AgentDefaults d;
    // The speech engine's data folder: where it was found at build time,
    // unless its own variable points elsewhere.
    const std::string espeakHome = Env("ESPEAK_DATA_PATH");
    const std::string data =
        espeakHome.empty() ? std::string(TOLVAR_ESPEAK_DATA) : espeakHome + "/espeak-ng-data";
    d.voiceFile = data + "/lang/gmw/de";
    d.voiceName = "de";
    std::string dataHome = Env("XDG_DATA_HOME");
    if (dataHome.empty() || dataHome.front() != '/') dataHome = Env("HOME") + "/.local/share";
    d.contactsPath = dataHome + "/contacts";
    return d;
}

void LoadAgentOptions(Registry& registry, AgentOptions& options, const AgentDefaults& defaults) {
    // The write-backs reach the file together.
    RegistryBatch batch(registry);
    auto key = registry.OpenKey(kAgentKey, true);
    options.AgentPath = ReadStringOr(*key, "AgentPath");
    options.AgentName = ReadStringOr(*key, "AgentName");
    if (const auto v = ReadIntegerIfAny(*key, "UseAgent")) options.UseAgent = *v != 0;
    const auto outlook = ReadIntegerIfAny(*key, "UseOutlook");
    options.UseOutlook = outlook.value_or(1) != 0;
    if (options.AgentPath.empty() || options.AgentName.empty()) {
        options.AgentName = defaults.voiceName;
        options.UseOutlook = true;
        options.AgentPath = defaults.voiceFile;
        key->WriteString("AgentPath", options.AgentPath);
        key->WriteString("AgentName", options.AgentName);
        key->WriteInteger("UseOutlook", 1);
    } else if (!outlook) {
        key->WriteInteger("UseOutlook", 1);
    }
    options.ContactsPath = ReadStringOr(*key, "ContactsPath");
    if (options.ContactsPath.empty()) {
        options.ContactsPath = defaults.contactsPath;
        key->WriteString("ContactsPath", options.ContactsPath);
    }
    const auto notify = ReadIntegerIfAny(*key, "Notify");
    options.Notify = notify.value_or(1) != 0;
    if (!notify) key->WriteInteger("Notify", 1);
    key->Close();
    batch.Commit();
}

void SaveAgentOptions(Registry& registry, const AgentOptions& options) {
    RegistryBatch batch(registry);
    auto key = registry.OpenKey(kAgentKey, true);
    key->WriteString("AgentPath", options.AgentPath);
    key->WriteString("AgentName", options.AgentName);
    key->WriteInteger("UseAgent", options.UseAgent ? 1 : 0);
    key->WriteString("ContactsPath", options.ContactsPath);
    key->WriteInteger("Notify", options.Notify ? 1 : 0);
    key->Close();
    batch.Commit();
}

void WriteAgentSwitch(Registry& registry, const char* name, bool on) {
    auto key = registry.OpenKey(kAgentKey, true);
    key->WriteInteger(name, on ? 1 : 0);
    key->Close();
}

std::string VoiceNameOf(const std::string& path) {
    const std::string file = path.substr(path.rfind('/') + 1);
    const auto dot = file.rfind('.');
    return dot == std::string::npos ? file : file.substr(0, dot);
}

}  // namespace tolvar
