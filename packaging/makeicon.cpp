// Saves the window's icon as a PNG file for the desktop entry: velo-icon OUT.png
#include "ui/look.h"

#include <QGuiApplication>
#include <QPixmap>

#include <cstdio>

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen"); // runs during the build, with no screen
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUT.png\n", argv[0]);
        return 2;
    }
    return velo::look::appIcon().pixmap(32, 32).save(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
}
