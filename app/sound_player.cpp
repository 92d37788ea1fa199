#include "app/sound_player.h"

#include <canberra.h>

namespace tolvar {

namespace {
constexpr std::uint32_t kSoundId = 1;
}

SoundPlayer::SoundPlayer() {
    if (ca_context_create(&context_) != CA_SUCCESS) context_ = nullptr;
}

SoundPlayer::~SoundPlayer() {
    if (context_ != nullptr) ca_context_destroy(context_);
}

void SoundPlayer::Play(const std::string& path) {
    if (context_ == nullptr) return;
    ca_context_cancel(context_, kSoundId);
    ca_context_play(context_, kSoundId, CA_PROP_MEDIA_FILENAME, path.c_str(), nullptr);
}

}  // namespace tolvar
