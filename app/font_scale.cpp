#include "app/font_scale.h"

#include <QApplication>
#include <QFontMetricsF>
#include <algorithm>
#include <cmath>

namespace tolvar {

namespace {
constexpr double kLayoutLetterWidth = 6;
constexpr double kLayoutLineHeight = 13;
constexpr const char* kLetters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
}  // namespace

FontScale FontScale::Of(const QFont& font) {
    const QFontMetricsF metrics(font);
    const double letter = metrics.horizontalAdvance(kLetters) / 52.0;
    return {std::max(1.0, letter / kLayoutLetterWidth),
            std::max(1.0, metrics.height() / kLayoutLineHeight)};
}

FontScale FontScale::Application() {
    return Of(QApplication::font());
}

int FontScale::X(int px) const {
    return static_cast<int>(std::lround(px * x));
}

int FontScale::Y(int px) const {
    return static_cast<int>(std::lround(px * y));
}

}  // namespace tolvar
