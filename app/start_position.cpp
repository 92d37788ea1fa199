#include "app/start_position.h"

#include <algorithm>

namespace tolvar {

QPoint StartPosition(const QRect& screen, const QRect& available, const QSize& frame) {
    int x = screen.x() + screen.width() - frame.width() - 5;
    int y = screen.y() + screen.height() - frame.height() - 30;
    x = std::max(std::min(x, available.x() + available.width() - frame.width()), available.x());
    y = std::max(std::min(y, available.y() + available.height() - frame.height()), available.y());
    return {x, y};
}

}  // namespace tolvar
