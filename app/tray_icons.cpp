#include "app/tray_icons.h"

#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace tolvar {

// A telephone handset over a line with a pulse: "telephone line monitor".
void PaintTrayIcon(QPainter& p, int phase) {
    p.setRenderHint(QPainter::Antialiasing);
    const QColor background = phase == 0 ? QColor(0x1f, 0x4e, 0x8c) : QColor(0xf2, 0xa9, 0x00);
    const QColor handset = phase == 0 ? QColor(Qt::white) : QColor(0x20, 0x20, 0x20);
    const QColor pulse = phase == 0 ? QColor(0x6c, 0xe0, 0x6c) : QColor(0xc0, 0x10, 0x10);

    p.setPen(Qt::NoPen);
    p.setBrush(background);
    p.drawRoundedRect(QRectF(1, 1, 30, 30), 6, 6);

    // Handset: two ear/mouth pieces joined by a curved grip.
    QPainterPath grip;
    grip.moveTo(7, 13);
    grip.cubicTo(9, 5, 23, 5, 25, 13);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(handset, 3.2, Qt::SolidLine, Qt::RoundCap));
    p.drawPath(grip);
    p.setPen(Qt::NoPen);
    p.setBrush(handset);
    p.drawRoundedRect(QRectF(4, 11, 8, 5), 2, 2);
    p.drawRoundedRect(QRectF(20, 11, 8, 5), 2, 2);

    // The line with a pulse in its middle.
    QPainterPath line;
    line.moveTo(4, 24);
    line.lineTo(11, 24);
    line.lineTo(13.5, 19);
    line.lineTo(16.5, 28);
    line.lineTo(19, 24);
    line.lineTo(28, 24);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(pulse, 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(line);
}

namespace {

QPixmap Draw(int size, int phase, bool greyed) {
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    {
        QPainter p(&image);
        p.scale(size / 32.0, size / 32.0);
        PaintTrayIcon(p, phase);
    }
    if (greyed) {
        // Grey and faded, as a disabled icon looks on any panel.
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x) {
                const QRgb c = image.pixel(x, y);
                const int grey = 96 + qGray(c) / 2;
                image.setPixel(x, y, qRgba(grey, grey, grey, qAlpha(c) * 3 / 4));
            }
    }
    return QPixmap::fromImage(image);
}

}  // namespace

QIcon IcnTaskbar(int phase, bool greyed) {
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64}) icon.addPixmap(Draw(size, phase, greyed));
    return icon;
}

}  // namespace tolvar
