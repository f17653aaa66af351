#pragma once

#include "desktop/Desktop.h"

#include <QObject>
#include <QSystemTrayIcon>
#include <QTimer>

namespace lanquill::desktop {

// The notification-area icon on QSystemTrayIcon. When no tray host is up yet (a session whose
// panel starts after the program), it keeps trying for two minutes.
class SystemTrayIcon : public QObject, public TrayIcon {
public:
    SystemTrayIcon();
    bool add(const QIcon& icon, const QString& tip) override;
    void remove() override;
    void update(const QIcon& icon, const QString& tip) override;
    void showMessage(const QString& title, const QString& text) override;
    void onLeftPress(std::function<void()> handler) override;
    void onRightRelease(std::function<void(const QPoint&)> handler) override;

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void activated(QSystemTrayIcon::ActivationReason reason);
    void retry();

    QSystemTrayIcon icon_;
    QTimer retryTimer_;
    int retriesLeft_ = 0;
    bool awaitingRightRelease_ = false;
    std::function<void()> leftPress_;
    std::function<void(const QPoint&)> rightRelease_;
};

} // namespace lanquill::desktop
