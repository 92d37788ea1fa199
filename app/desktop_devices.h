#pragma once
// The desktop's devices: sound through the event-sound service, programs
// started detached, announcements spoken by espeak-ng, notifications through
// the desktop's notification service, and the contact window.

#include <QCoreApplication>

#include "app/contact_window.h"
#include "app/desktop_notifier.h"
#include "app/espeak_speaker.h"
#include "app/sound_player.h"
#include "core/devices.h"
#include "core/program_start.h"

namespace tolvar {

class DesktopDevices final : public ProgramStarter {
  public:
    // The speech helper lies beside the program.
    DesktopDevices()
        : speaker_(EspeakSpeaker::FindHelper(QCoreApplication::applicationDirPath())) {}

    bool Start(const std::string& commandLine) override { return StartDetached(commandLine); }

    Devices All() { return {sound_, *this, speaker_, contacts_, notifier_}; }
    ContactWindows& Contacts() { return contacts_; }

  private:
    SoundPlayer sound_;
    EspeakSpeaker speaker_;
    DesktopNotifier notifier_;
    ContactWindows contacts_;
};

}  // namespace tolvar
