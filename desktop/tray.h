#pragma once
// The notification-area icon as the engine keeps it: blink phase, tooltip and
// the attention blinking. The front end draws what this decides.

#include <string>

#include "core/timer.h"

namespace tolvar {

class FrontEnd;
class SoundDevice;

inline constexpr const char* kTrayTip = "Tolvar";
inline constexpr const char* kTrayTipAttention = "DMail eingetroffen";
inline constexpr const char* kTrayTipNoCapi = "Tolvar - keine Verbindung zur CAPI";

class TrayIcon {
  public:
    TrayIcon(FrontEnd& ui, TimerService& timers, SoundDevice& sound);

    // Icon added at start: phase 0, tip "Tolvar".
    void Add();
    // Blinking on or off; on also plays the notification sound (soundPath,
    // when the file exists).
    void SetAttention(bool on, const std::string& soundPath = "");
    bool Attention() const { return TimerAttention.Enabled(); }
    // The tip while there is no attention: "Tolvar", or that CAPI is gone.
    void SetCapiReachable(bool reachable);
    int Phase() const { return phase_; }
    const std::string& Tip() const { return tip_; }

  private:
    void TimerAttentionTimer();
    void ShowTip();

    FrontEnd& ui_;
    SoundDevice& sound_;
    Timer TimerAttention;
    int phase_ = 0;
    bool capiReachable_ = true;
    std::string tip_ = kTrayTip;
};

// Hands a wave file to playback if it exists; nothing is reported otherwise.
void PlaySoundFile(SoundDevice& sound, const std::string& path);

}  // namespace tolvar
