// One running copy per user and desktop session. The first start listens on a local socket in
// the user's runtime folder, named after the session's display; a later start in the same
// session (from the menu, a terminal in any folder, or `lanquill --show` from a shortcut) asks it
// to come forward and ends. Another session of the same user (another display) runs its own copy
// with its own tray icon.
//
// Whoever can put a socket at that path can make every later start end at once, so the folder
// must be the user's alone: $XDG_RUNTIME_DIR, else a folder of the user's own in the temporary
// folder, made 0700 and checked (a folder of another user's or one others may enter is refused,
// and the program then runs without the guard). A copy that answers counts only when it runs as
// the same user.
#pragma once

#include <QLocalServer>
#include <QObject>
#include <QString>

#include <functional>

namespace lanquill::app {

class SingleInstance : public QObject {
public:
    // The socket's path: the runtime folder and the display (Wayland's, else X11's). Empty, with
    // `problem` saying why, when no folder of the user's alone can be had.
    static QString socketPath(QString* problem = nullptr);
    // Empty when only this user may enter `folder` (a real folder, owned by this user, no access
    // for group or others), else what is wrong with it.
    static QString privateFolderProblem(const QString& folder);

    explicit SingleInstance(QString path = socketPath());

    // Asks a running copy to come forward; true when one of this user's answered.
    bool forwardToRunning();
    // Becomes the running copy: later starts reach `onShow`. False when there is no path or the
    // socket cannot be made (the program then runs without the guard).
    bool listen(std::function<void()> onShow);

private:
    void accept();

    QString path_;
    QLocalServer server_;
    std::function<void()> onShow_;
};

} // namespace lanquill::app
