#pragma once
// Where the main window opens.

#include <QPoint>
#include <QRect>
#include <QSize>

namespace tolvar {

// The top left corner of the window's frame at start: 5 pixels from the
// screen's right edge and 30 from its bottom, above a classic task bar; moved
// in wherever that would leave the available area (a taller task bar or a
// panel), so the whole frame stays visible. A frame larger than the area
// keeps its top left corner inside it.
QPoint StartPosition(const QRect& screen, const QRect& available, const QSize& frame);

}  // namespace tolvar
