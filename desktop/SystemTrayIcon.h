#pragma once

#include "desktop/Desktop.h"

#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWindow>

#include <memory>

namespace lanquill::desktop {

// The notification-area icon on QSystemTrayIcon. Qt settles between a StatusNotifierItem (when
// a watcher is on the session bus) and an XEmbed icon once, when the first icon object is made;
// so the object is made only when a tray host of either kind is up, and until then the hosts
// are looked for every second: a panel may start long after the program.
class SystemTrayIcon : public QObject, public TrayIcon {
public:
    SystemTrayIcon();
    ~SystemTrayIcon() override;
    bool add(const QIcon& icon, const QString& tip) override;
    void remove() override;
    void update(const QIcon& icon, const QString& tip) override;
    void showMessage(const QString& title, const QString& text) override;

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void activated(QSystemTrayIcon::ActivationReason reason);
    bool showIfHostUp();
    void watchDockedWindow();
    void exemptFromModalDialog();

    std::unique_ptr<QSystemTrayIcon> icon_;
    QPointer<QWindow> docked_; // the XEmbed icon's own window; none with a StatusNotifierItem
    QIcon picture_;
    QString tip_;
    QTimer hostWatch_;
    bool awaitingRightRelease_ = false;
};

// Whether a tray host is up: a StatusNotifierItem watcher on the session bus, or an XEmbed
// system tray owning its selection on the X screen.
bool trayHostUp();

} // namespace lanquill::desktop
