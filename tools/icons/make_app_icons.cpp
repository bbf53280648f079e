// Writes the application icon into an icon theme folder: hicolor/NxN/apps/talvoro.png for each
// size and hicolor/scalable/apps/talvoro.svg, all from the program's own drawing.
#include <QBuffer>
#include <QDir>
#include <QGuiApplication>
#include <QSvgGenerator>
#include <cstdio>

#include "base/build_constants.h"
#include "ui/app_icon.h"

using talvoro::AppIcon;

namespace {

bool writePNGs(const QDir& theme) {
    for (const int pixels : AppIcon::pixelSizes) {
        const QString folder = QString("hicolor/%1x%1/apps").arg(pixels);
        if (!theme.mkpath(folder) ||
            !AppIcon::image(pixels).save(theme.filePath(folder + "/talvoro.png"), "PNG"))
            return false;
    }
    return true;
}

bool writeSVG(const QDir& theme) {
    constexpr int side = 256;
    if (!theme.mkpath("hicolor/scalable/apps"))
        return false;
    QSvgGenerator svg;
    svg.setFileName(theme.filePath("hicolor/scalable/apps/talvoro.svg"));
    svg.setSize(QSize(side, side));
    svg.setViewBox(QRect(0, 0, side, side));
    svg.setTitle(QString::fromUtf8(talvoro::appDisplayName));
    QPainter painter;
    if (!painter.begin(&svg))
        return false;
    AppIcon::paint(painter, QRectF(0, 0, side, side));
    return painter.end();
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_app_icons THEME_FOLDER\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    QGuiApplication app(qtArgc, argv);
    const QDir theme(QString::fromLocal8Bit(argv[1]));
    if (!writePNGs(theme) || !writeSVG(theme)) {
        std::fprintf(stderr, "make_app_icons: cannot write into %s\n", argv[1]);
        return 1;
    }
    return 0;
}
