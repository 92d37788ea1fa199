// tolvar-make-icons OUTDIR: writes the application icon into OUTDIR in the
// hicolor theme's layout, from the very drawing the tray icon uses: a
// scalable SVG and PNGs of the usual sizes. Runs at build time.

#include <QDir>
#include <QImage>
#include <QPainter>
#include <QSvgGenerator>
#include <cstdio>

#include "app/tray_icons.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: tolvar-make-icons OUTDIR\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);

    const QString svgDir = out + "/scalable/apps";
    if (!QDir().mkpath(svgDir)) return 1;
    {
        QSvgGenerator svg;
        svg.setFileName(svgDir + "/tolvar.svg");
        svg.setSize(QSize(32, 32));
        svg.setViewBox(QRect(0, 0, 32, 32));
        svg.setTitle("Tolvar");
        svg.setDescription("Tolvar ISDN call monitor");
        QPainter p;
        if (!p.begin(&svg)) return 1;
        tolvar::PaintTrayIcon(p, 0);
    }

    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString dir = QString("%1/%2x%2/apps").arg(out).arg(size);
        if (!QDir().mkpath(dir)) return 1;
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        {
            QPainter p(&image);
            p.scale(size / 32.0, size / 32.0);
            tolvar::PaintTrayIcon(p, 0);
        }
        if (!image.save(dir + "/tolvar.png", "PNG")) return 1;
    }
    return 0;
}
