#pragma once

#include "desktop/Desktop.h"

#include <QObject>

namespace lanquill::desktop {

// Asks the window manager (EWMH) to keep a window off the task bar and the pager, every time the
// window is shown. Harmless where there is no X11.
class X11TaskbarButton : public QObject, public TaskbarButton {
public:
    void hide(QWidget& window) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
};

} // namespace lanquill::desktop
