#include "desktop/QtMessageBoxes.h"

#include <QMessageBox>

namespace lanquill::desktop {

void QtMessageBoxes::show(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Lanquill"), text, QMessageBox::Ok, parent);
    box.exec();
}

} // namespace lanquill::desktop
