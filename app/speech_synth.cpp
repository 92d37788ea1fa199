#include "app/speech_synth.h"

#include <espeak-ng/espeak_ng.h>
#include <espeak-ng/speak_lib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <vector>

namespace tolvar {

namespace {

std::vector<short>* g_samples = nullptr;

int Collect(short* wav, int count, espeak_EVENT*) {
    if (wav && count > 0 && g_samples) g_samples->insert(g_samples->end(), wav, wav + count);
    return 0;
}

void PutLe(std::ofstream& out, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.put(static_cast<char>((v >> (8 * i)) & 0xFF));
}

bool WriteWav(const std::string& path, const std::vector<short>& samples, int rate) {
    const std::string temp = path + ".part";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        const auto dataBytes = static_cast<std::uint32_t>(samples.size() * 2);
        out.write("RIFF", 4);
        PutLe(out, 36 + dataBytes, 4);
        out.write("WAVEfmt ", 8);
        PutLe(out, 16, 4);  // PCM header size
        PutLe(out, 1, 2);   // PCM
        PutLe(out, 1, 2);   // mono
        PutLe(out, static_cast<std::uint32_t>(rate), 4);
        PutLe(out, static_cast<std::uint32_t>(rate) * 2, 4);
        PutLe(out, 2, 2);
        PutLe(out, 16, 2);
        out.write("data", 4);
        PutLe(out, dataBytes, 4);
        for (short s : samples) PutLe(out, static_cast<std::uint16_t>(s), 2);
        if (!out.flush()) return false;
    }
    std::error_code ec;
    std::filesystem::rename(temp, path, ec);
    return !ec;
}

}  // namespace

bool SynthesizeToWav(const std::string& text, const std::string& voiceFile,
                     const std::string& wavPath) {
    std::error_code ec;
    // Anything but a plain file (a folder, a pipe) is no voice.
    if (!std::filesystem::is_regular_file(voiceFile, ec)) return false;
    espeak_ng_InitializePath(nullptr);
    espeak_ng_ERROR_CONTEXT context = nullptr;
    const bool initialized = espeak_ng_Initialize(&context) == ENS_OK;
    espeak_ng_ClearErrorContext(&context);
    if (!initialized) return false;
    if (espeak_ng_InitializeOutput(ENOUTPUT_MODE_SYNCHRONOUS, 0, nullptr) != ENS_OK) return false;
    std::vector<short> samples;
    g_samples = &samples;
    espeak_SetSynthCallback(Collect);
    bool spoken = espeak_ng_SetVoiceByFile(voiceFile.c_str()) == ENS_OK &&
                  espeak_ng_Synthesize(text.c_str(), text.size() + 1, 0, POS_CHARACTER, 0,
                                       espeakCHARS_UTF8, nullptr, nullptr) == ENS_OK;
    g_samples = nullptr;
    spoken = spoken && !samples.empty();
    const int rate = espeak_ng_GetSampleRate();
    espeak_ng_Terminate();
    return spoken && WriteWav(wavPath, samples, rate);
}

}  // namespace tolvar
