#include "platform/QtMessageBoxes.h"

#include <QMessageBox>

namespace lanquill::platform {

void QtMessageBoxes::show(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Lanquill"), text, QMessageBox::Ok, parent);
    box.exec();
}

} // namespace lanquill::platform
