#pragma once
// The window's pixel sizes (the client area, the tree's and the columns'
// widths, the rows' heights) were laid out for a font whose average letter is
// 6 pixels wide and whose lines are 13 pixels high. On a desktop whose font is
// larger they grow by the same factor, so that no caption or list text is cut;
// they never shrink.

#include <QFont>

namespace tolvar {

struct FontScale {
    double x = 1;  // widths
    double y = 1;  // heights

    static FontScale Of(const QFont& font);
    // For the application's font, as the window's widgets use it.
    static FontScale Application();

    int X(int px) const;
    int Y(int px) const;
};

}  // namespace tolvar
