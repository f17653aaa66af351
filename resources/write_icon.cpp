// Writes the program icon as PNG files in the layout of the hicolor icon theme (run at build
// time): DIR/NxN/apps/lanquill.png for each size N given.
#include "widgets/Artwork.h"

#include <QDir>
#include <QGuiApplication>
#include <QIcon>
#include <QPixmap>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: write_icon DIR SIZE...\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    const QString root = QString::fromLocal8Bit(argv[1]);
    const QIcon icon = lanquill::widgets::programIcon();
    for (int i = 2; i < argc; ++i) {
        const int size = QString::fromLocal8Bit(argv[i]).toInt();
        const QString folder = QStringLiteral("%1/%2x%2/apps").arg(root).arg(size);
        // A pixmap of another size would be filed under a size it does not have.
        const QPixmap pixmap = size > 0 ? icon.pixmap(size, size) : QPixmap();
        if (pixmap.isNull() || pixmap.size() != QSize(size, size) || !QDir().mkpath(folder) ||
            !pixmap.save(folder + QStringLiteral("/lanquill.png"))) {
            std::fprintf(stderr, "write_icon: cannot write the %s px icon\n", argv[i]);
            return 1;
        }
    }
    return 0;
}
