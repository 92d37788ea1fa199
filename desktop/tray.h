#pragma once
// The notification-area icon as the engine keeps it: blink phase, tooltip and
// the attention blinking. The front end draws what this decides.

#include <string>

#include "core/timer.h"

namespace tolvar {

class FrontEnd;

inline constexpr const char* kTrayTip = "Tolvar";
inline constexpr const char* kTrayTipAttention = "DMail eingetroffen";

class TrayIcon {
  public:
    TrayIcon(FrontEnd& ui, TimerService& timers);

    // Icon added at start: phase 0, tip "Tolvar".
    void Add();
    // Blinking on or off; on also plays the notification sound (soundPath,
    // when the file exists).
    void SetAttention(bool on, const std::string& soundPath = "");
    bool Attention() const { return TimerAttention.Enabled(); }
    int Phase() const { return phase_; }
    const std::string& Tip() const { return tip_; }

  private:
    void TimerAttentionTimer();

    FrontEnd& ui_;
    Timer TimerAttention;
    int phase_ = 0;
    std::string tip_ = kTrayTip;
};

// Hands a wave file to playback if it exists; nothing is reported otherwise.
void PlaySoundFile(FrontEnd& ui, const std::string& path);

}  // namespace tolvar
