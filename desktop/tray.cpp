#include "desktop/tray.h"

#include <filesystem>

#include "core/devices.h"
#include "core/front_end.h"

namespace tolvar {

TrayIcon::TrayIcon(FrontEnd& ui, TimerService& timers, SoundDevice& sound)
    : ui_(ui), sound_(sound), TimerAttention(timers, 500) {
    TimerAttention.OnTimer = [this] { TimerAttentionTimer(); };
}

void TrayIcon::Add() {
    phase_ = 0;
    ui_.SetTrayIcon(phase_);
    ShowTip();
}

void TrayIcon::ShowTip() {
    tip_ = Attention() ? kTrayTipAttention : capiReachable_ ? kTrayTip : kTrayTipNoCapi;
    ui_.SetTrayTip(tip_);
}

void TrayIcon::SetAttention(bool on, const std::string& soundPath) {
    const bool changed = on != TimerAttention.Enabled();
    TimerAttention.SetEnabled(on);
    phase_ = 0;
    if (changed) ui_.AttentionChanged(on);
    if (on) PlaySoundFile(sound_, soundPath);
    ui_.SetTrayIcon(phase_);
    ShowTip();
}

void TrayIcon::SetCapiReachable(bool reachable) {
    capiReachable_ = reachable;
    ShowTip();
}

void TrayIcon::TimerAttentionTimer() {
    phase_ = (phase_ + 1) % 2;
    ui_.SetTrayIcon(phase_);
}

void PlaySoundFile(SoundDevice& sound, const std::string& path) {
    std::error_code ec;
    if (path.empty() || !std::filesystem::is_regular_file(path, ec)) return;
    sound.Play(path);
}

}  // namespace tolvar
