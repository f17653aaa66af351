#pragma once

#include <QApplication>

namespace lanquill::desktop {

// The wait cursor for the life of a scope: restored on every way out, errors included.
class WaitCursor {
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

} // namespace lanquill::desktop
