#pragma once
// Whether the desktop program can open its window: checked before Qt starts,
// because Qt aborts without a display and names no way out.

#include <functional>
#include <string>

namespace tolvar {

// getenv reads one environment variable (nullptr when unset). True when
// QT_QPA_PLATFORM names a platform that needs no display (offscreen, minimal,
// a framebuffer, VNC), or when the platforms asked for (by default X11 and
// Wayland) find their DISPLAY or WAYLAND_DISPLAY.
bool DisplayAvailable(const std::function<const char*(const char*)>& getenv);

// The one line printed when there is none.
inline constexpr const char* kNoDisplayHint =
    "tolvar: no display (DISPLAY and WAYLAND_DISPLAY are unset); "
    "run \"tolvar --console\" for the console front end";

}  // namespace tolvar
