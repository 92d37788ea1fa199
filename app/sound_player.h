#pragma once
// Asynchronous wave-file playback through the desktop's event-sound service.
// One fixed id, cancelled before each play, so a new sound cuts off the old.
// Failures are silent: sound is an optional integration.

#include <string>

#include "core/devices.h"

struct ca_context;

namespace tolvar {

class SoundPlayer final : public SoundDevice {
  public:
    SoundPlayer();
    ~SoundPlayer();
    SoundPlayer(const SoundPlayer&) = delete;
    SoundPlayer& operator=(const SoundPlayer&) = delete;

    void Play(const std::string& path) override;

  private:
    ca_context* context_ = nullptr;
};

}  // namespace tolvar
