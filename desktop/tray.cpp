#include "desktop/tray.h"

#include <filesystem>

#include "core/front_end.h"

namespace tolvar {

TrayIcon::TrayIcon(FrontEnd& ui, TimerService& timers) : ui_(ui), TimerAttention(timers, 500) {
    TimerAttention.OnTimer = [this] { TimerAttentionTimer(); };
}

void TrayIcon::Add() {
    phase_ = 0;
    tip_ = kTrayTip;
    ui_.SetTrayIcon(phase_);
    ui_.SetTrayTip(tip_);
}

void TrayIcon::SetAttention(bool on, const std::string& soundPath) {
    const bool changed = on != TimerAttention.Enabled();
    TimerAttention.SetEnabled(on);
    phase_ = 0;
    tip_ = on ? kTrayTipAttention : kTrayTip;
    if (changed) ui_.AttentionChanged(on);
    if (on) PlaySoundFile(ui_, soundPath);
    ui_.SetTrayIcon(phase_);
    ui_.SetTrayTip(tip_);
}

void TrayIcon::TimerAttentionTimer() {
    phase_ = (phase_ + 1) % 2;
    ui_.SetTrayIcon(phase_);
}

void PlaySoundFile(FrontEnd& ui, const std::string& path) {
    std::error_code ec;
    if (path.empty() || !std::filesystem::is_regular_file(path, ec)) return;
    ui.PlaySound(path);
}

}  // namespace tolvar
