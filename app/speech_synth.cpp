#include "app/speech_synth.h"

#include <espeak-ng/espeak_ng.h>
#include <espeak-ng/speak_lib.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace tolvar {

namespace {

std::vector<short>* g_samples = nullptr;

int Collect(short* wav, int count, espeak_EVENT*) {
    if (wav && count > 0 && g_samples) g_samples->insert(g_samples->end(), wav, wav + count);
    return 0;
}

void PutLe(std::string& out, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

bool WriteAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Written beside the wave file under a name of its own (created, never
// opened as found, so a link planted in a shared folder redirects nothing),
// then renamed over it.
bool WriteWav(const std::string& path, const std::vector<short>& samples, int rate) {
    const auto dataBytes = static_cast<std::uint32_t>(samples.size() * 2);
    std::string wav = "RIFF";
    PutLe(wav, 36 + dataBytes, 4);
    wav += "WAVEfmt ";
    PutLe(wav, 16, 4);  // PCM header size
    PutLe(wav, 1, 2);   // PCM
    PutLe(wav, 1, 2);   // mono
    PutLe(wav, static_cast<std::uint32_t>(rate), 4);
    PutLe(wav, static_cast<std::uint32_t>(rate) * 2, 4);
    PutLe(wav, 2, 2);
    PutLe(wav, 16, 2);
    wav += "data";
    PutLe(wav, dataBytes, 4);
    for (short s : samples) PutLe(wav, static_cast<std::uint16_t>(s), 2);

    std::string temp = path + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) return false;
    const bool written = WriteAll(fd, wav);
    if (::close(fd) != 0 || !written || ::rename(temp.c_str(), path.c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

// The library takes a voice file's path only lower-cased, cut at 59 bytes
// and at the first "+"; the open file's name under /proc has none of that.
struct OpenVoice {
    int fd = -1;
    ~OpenVoice() {
        if (fd >= 0) ::close(fd);
    }
    std::string Path() const { return "/proc/self/fd/" + std::to_string(fd); }
};

}  // namespace

bool SynthesizeToWav(const std::string& text, const std::string& voiceFile,
                     const std::string& voiceName, const std::string& wavPath) {
    OpenVoice voice;
    if (!voiceFile.empty()) {
        // Anything but a plain file (a folder, a pipe) is no voice; a pipe
        // opened without waiting shows as one.
        voice.fd = ::open(voiceFile.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        struct stat st {};
        if (voice.fd < 0 || ::fstat(voice.fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    } else if (voiceName.empty()) {
        return false;
    }
    espeak_ng_InitializePath(nullptr);
    espeak_ng_ERROR_CONTEXT context = nullptr;
    const bool initialized = espeak_ng_Initialize(&context) == ENS_OK;
    espeak_ng_ClearErrorContext(&context);
    if (!initialized) return false;
    if (espeak_ng_InitializeOutput(ENOUTPUT_MODE_SYNCHRONOUS, 0, nullptr) != ENS_OK) return false;
    std::vector<short> samples;
    g_samples = &samples;
    espeak_SetSynthCallback(Collect);
    const espeak_ng_STATUS chosen = voice.fd >= 0 ? espeak_ng_SetVoiceByFile(voice.Path().c_str())
                                                  : espeak_ng_SetVoiceByName(voiceName.c_str());
    bool spoken =
        chosen == ENS_OK && espeak_ng_Synthesize(text.c_str(), text.size() + 1, 0, POS_CHARACTER, 0,
                                                 espeakCHARS_UTF8, nullptr, nullptr) == ENS_OK;
    g_samples = nullptr;
    spoken = spoken && !samples.empty();
    const int rate = espeak_ng_GetSampleRate();
    espeak_ng_Terminate();
    return spoken && WriteWav(wavPath, samples, rate);
}

}  // namespace tolvar
