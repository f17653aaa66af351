// One running copy per user and desktop session. The first start listens on a local socket in
// the user's runtime folder, named after the session's display; a later start in the same
// session (from the menu, a terminal in any folder, or `lanquill --show` from a shortcut) asks it
// to come forward and ends. Another session of the same user (another display) runs its own copy
// with its own tray icon.
#pragma once

#include <QLocalServer>
#include <QObject>
#include <QString>

#include <functional>

namespace lanquill::app {

class SingleInstance : public QObject {
public:
    // The socket's path: the runtime folder and the display (Wayland's, else X11's).
    static QString socketPath();

    explicit SingleInstance(QString path = socketPath());

    // Asks a running copy to come forward; true when one answered.
    bool forwardToRunning();
    // Becomes the running copy: later starts reach `onShow`. False when the socket cannot be
    // made (the program then runs without the guard).
    bool listen(std::function<void()> onShow);

private:
    void accept();

    QString path_;
    QLocalServer server_;
    std::function<void()> onShow_;
};

} // namespace lanquill::app
