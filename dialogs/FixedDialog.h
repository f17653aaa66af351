#pragma once

#include <QDialog>
#include <QString>

#include <initializer_list>

namespace lanquill::dialogs {

// A dialog as its form lays it out: fixed at its design size, a 12-pixel font (of `family` when
// given), a title bar with the system menu and close box, and a minimise box when asked.
void setUpFixedDialog(QDialog& dialog, bool minimiseBox = false, const QString& family = {});

// Read-only edits take the button face's colour, as on the forms.
void paintAsButtonFace(std::initializer_list<QWidget*> edits);

} // namespace lanquill::dialogs
