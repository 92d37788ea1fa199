#pragma once
// The options of the page "Desktop", kept under "\Software\Brenwick\Tolvar\Agent":
// the announcement and its voice, the contact lookup and its address book,
// and the notification of every call.

#include <string>

namespace tolvar {

class Registry;

inline constexpr const char* kAgentKey = "\\Software\\Brenwick\\Tolvar\\Agent";

struct AgentOptions {
    std::string AgentPath;     // the voice file
    std::string AgentName;     // the voice's name
    bool UseAgent = false;     // announce callers
    bool UseOutlook = true;    // look callers up in the address book
    std::string ContactsPath;  // the address book: a folder of vCard files, or one file
    bool Notify = true;        // a notification for every call
};

// What the defaults are on this machine.
struct AgentDefaults {
    std::string voiceFile;     // the speech engine's German voice file
    std::string voiceName;     // "de"
    std::string contactsPath;  // $XDG_DATA_HOME/contacts
};
AgentDefaults SystemAgentDefaults();

// Reads the options into options. An empty voice file or name brings back
// the voice defaults and switches the contact lookup on; those three values
// are then written. "UseAgent" keeps what it had when it cannot be read, and
// is never written here. A missing "UseOutlook", "ContactsPath" or "Notify"
// takes its default, which is written back.
void LoadAgentOptions(Registry& registry, AgentOptions& options, const AgentDefaults& defaults);

// Writes the voice, "UseAgent", the address book and "Notify"; "UseOutlook"
// is written where its check box is clicked.
void SaveAgentOptions(Registry& registry, const AgentOptions& options);
// Writes one on/off value at once.
void WriteAgentSwitch(Registry& registry, const char* name, bool on);

// A voice file's name without its extension: the voice's name.
std::string VoiceNameOf(const std::string& path);

}  // namespace tolvar
