#include "desktop/QtMessageBoxes.h"

#include <QGridLayout>
#include <QMessageBox>
#include <QSpacerItem>

namespace lanquill::desktop {

void QtMessageBoxes::show(QWidget* parent, const QString& text) {
    const QString title = QStringLiteral("Lanquill");
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok, parent);
    // A short text makes a box narrower than its title bar needs: the window manager would cut
    // the title down to "L…". Room for the title, in a bold face, beside the frame's icon and
    // three buttons; QMessageBox sizes itself from its layout, so the room goes in there.
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout())) {
        const QFontMetrics metrics = box.fontMetrics();
        const int least = metrics.horizontalAdvance(title) * 3 / 2 + 8 * metrics.height();
        grid->addItem(new QSpacerItem(least, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                      grid->rowCount(), 0, 1, grid->columnCount());
    }
    box.exec();
}

} // namespace lanquill::desktop
