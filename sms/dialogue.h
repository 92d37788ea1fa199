#pragma once
// What the two SMS-centre dialogues share: the fields of the running
// dialogue and the actions one step asks for. The dialogues themselves are
// pure: a step reads the bytes received so far (and, for TAP, the tick
// count), changes the fields and returns its actions in order; the data call
// carries them out.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tolvar {

// More time than this without progress and the dialogue gives up.
inline constexpr std::int32_t kSilenceLimitMs = 50000;

inline constexpr const char* kSmsSent = "Nachricht erfolgreich verschickt.";
inline constexpr const char* kSmsFailed = "Fehler beim Verschicken der Nachricht !";
inline constexpr const char* kSmsNoAnswer = "Gegenstelle reagiert nicht.";
inline constexpr const char* kSmsCannotDial = "Fehler. Kann SMS Center nicht anwählen.";

// One set for whatever SMS call is running.
struct DialogueFields {
    std::int32_t ProtocolState = 0;
    // Milliseconds since the dialogue last made progress.
    std::int32_t SilenceTime = 0;
    // TAP: the wake-up CR goes again once the tick count is past this; none
    // until the first CR, which goes at the first step.
    std::optional<std::uint32_t> NextCRTick;
    // Received on the B3 link and not yet consumed.
    std::string RxBuffer;

    // The B3 link came up.
    void Reset() { *this = DialogueFields{}; }
};

struct DialogueAction {
    enum class Kind {
        Send,    // bytes to the centre
        Trace,   // a line of the centre's text for the trace list (bytes as received)
        Result,  // the job's result: success and its line
        EndB3,   // end the B3 link
    };
    Kind kind;
    std::string bytes;
    bool success = false;

    static DialogueAction Send(std::string b) { return {Kind::Send, std::move(b)}; }
    static DialogueAction Trace(std::string b) { return {Kind::Trace, std::move(b)}; }
    static DialogueAction Result(bool ok, std::string text) {
        return {Kind::Result, std::move(text), ok};
    }
    static DialogueAction EndB3() { return {Kind::EndB3, {}}; }
    bool operator==(const DialogueAction&) const = default;
};
using DialogueActions = std::vector<DialogueAction>;

}  // namespace tolvar
