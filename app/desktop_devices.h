#pragma once
// The desktop's devices: sound through the event-sound service, programs
// started detached. Announcements and the contact lookup arrive with the
// desktop integration; until then a call is not announced nor looked up.

#include "app/sound_player.h"
#include "calls/program_start.h"
#include "core/devices.h"

namespace tolvar {

class DesktopDevices final : public ProgramStarter, public Announcer, public ContactLookup {
  public:
    bool Start(const std::string& commandLine) override { return StartDetached(commandLine); }
    void AnnounceCaller(const std::string&) override {}
    void ReleaseCharacter() override {}
    void LookUp(const std::string&) override {}

    Devices All() { return {sound_, *this, *this, *this}; }

  private:
    SoundPlayer sound_;
};

}  // namespace tolvar
