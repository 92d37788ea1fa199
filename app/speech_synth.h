#pragma once
// Speech through libespeak-ng, written to a wave file. The library keeps
// global state and takes any file for a voice, crashing on some that are
// none, so the program runs it in a helper process of its own
// (tolvar-speak); a voice that fails costs that process, never the program.

#include <string>

namespace tolvar {

// Speaks text (UTF-8) into a 16-bit mono wave file, with the voice file, or
// without one with the speech engine's voice of that name. False, with no
// file written, when the voice cannot be loaded or nothing was spoken.
bool SynthesizeToWav(const std::string& text, const std::string& voiceFile,
                     const std::string& voiceName, const std::string& wavPath);

}  // namespace tolvar
