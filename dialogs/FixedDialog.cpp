#include "dialogs/FixedDialog.h"

namespace lanquill::dialogs {

void setUpFixedDialog(QDialog& dialog, bool minimiseBox, const QString& family) {
    // Customised: without it the window manager is asked for every button, maximise included.
    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint |
                            Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                            Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (minimiseBox)
        flags |= Qt::WindowMinimizeButtonHint;
    dialog.setWindowFlags(flags);
    dialog.setFixedSize(dialog.size());
    QFont font = dialog.font();
    if (!family.isEmpty())
        font.setFamily(family);
    font.setPixelSize(12);
    dialog.setFont(font);
}

void paintAsButtonFace(std::initializer_list<QWidget*> edits) {
    for (QWidget* edit : edits) {
        QPalette palette = edit->palette();
        palette.setColor(QPalette::Base, palette.color(QPalette::Button));
        edit->setPalette(palette);
    }
}

} // namespace lanquill::dialogs
