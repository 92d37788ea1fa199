// tolvar-speak: says a text with a voice file into a wave file, for the
// announcements of the desktop program (which runs it as a process of its
// own, see speech_synth.h).
//   tolvar-speak VOICEFILE VOICENAME WAVFILE TEXT
// An empty VOICEFILE takes the speech engine's voice named VOICENAME.
// Exit code 0 when the file was written, 1 when the voice failed, 2 on usage.

#include <iostream>

#include "app/speech_synth.h"

int main(int argc, char** argv) {
    if (argc != 5) {
        std::cerr << "usage: tolvar-speak VOICEFILE VOICENAME WAVFILE TEXT\n";
        return 2;
    }
    return tolvar::SynthesizeToWav(argv[4], argv[1], argv[2], argv[3]) ? 0 : 1;
}
