#pragma once
// The program's two notification-area icons, "ICNTASKBAR1" (normal) and
// "ICNTASKBAR2" (the second blink phase), drawn at every size a tray asks for.

#include <QIcon>

class QPainter;

namespace tolvar {

// Paints icon `phase` (0 or 1) on a 32 by 32 canvas; scale the painter for
// other sizes. The installed application icons are made from the same drawing.
void PaintTrayIcon(QPainter& p, int phase);

// greyed: the icon while there is no connection to CAPI, the same drawing
// without its colours.
QIcon IcnTaskbar(int phase, bool greyed = false);

}  // namespace tolvar
