#pragma once
// The program's two notification-area icons, "ICNTASKBAR1" (normal) and
// "ICNTASKBAR2" (the second blink phase), drawn at every size a tray asks for.

#include <QIcon>

namespace tolvar {

QIcon IcnTaskbar(int phase);

}  // namespace tolvar
