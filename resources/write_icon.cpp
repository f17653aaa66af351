// Writes the program icon as PNG files for the desktop entry (run at build time).
#include "widgets/Artwork.h"

#include <QGuiApplication>
#include <QIcon>
#include <QPixmap>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: write_icon SIZE FILE.png\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    const int size = QString::fromLocal8Bit(argv[1]).toInt();
    if (size <= 0 ||
        !lanquill::widgets::programIcon().pixmap(size, size).save(QString::fromLocal8Bit(argv[2])))
        return 1;
    return 0;
}
