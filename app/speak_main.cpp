// tolvar-speak: says a text with a voice file into a wave file, for the
// announcements of the desktop program (which runs it as a process of its
// own, see speech_synth.h).
//   tolvar-speak VOICEFILE WAVFILE TEXT
// Exit code 0 when the file was written, 1 when the voice failed, 2 on usage.

#include <iostream>

#include "app/speech_synth.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        std::cerr << "usage: tolvar-speak VOICEFILE WAVFILE TEXT\n";
        return 2;
    }
    return tolvar::SynthesizeToWav(argv[3], argv[1], argv[2]) ? 0 : 1;
}
