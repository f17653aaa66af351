#include "desktop/SystemTrayIcon.h"

#include <QCursor>
#include <QGuiApplication>
#include <QMouseEvent>

namespace lanquill::desktop {

namespace {
constexpr int RetryIntervalMs = 1000;
constexpr int RetryCount = 120;
} // namespace

SystemTrayIcon::SystemTrayIcon() {
    connect(&icon_, &QSystemTrayIcon::activated, this, &SystemTrayIcon::activated);
    retryTimer_.setInterval(RetryIntervalMs);
    connect(&retryTimer_, &QTimer::timeout, this, &SystemTrayIcon::retry);
}

bool SystemTrayIcon::add(const QIcon& icon, const QString& tip) {
    icon_.setIcon(icon);
    icon_.setToolTip(tip);
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        icon_.show();
        return true;
    }
    retriesLeft_ = RetryCount;
    retryTimer_.start();
    return false;
}

void SystemTrayIcon::retry() {
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        retryTimer_.stop();
        icon_.hide();
        icon_.show();
    } else if (--retriesLeft_ <= 0) {
        retryTimer_.stop();
    }
}

void SystemTrayIcon::remove() {
    retryTimer_.stop();
    icon_.hide();
}

void SystemTrayIcon::update(const QIcon& icon, const QString& tip) {
    icon_.setIcon(icon);
    icon_.setToolTip(tip);
}

void SystemTrayIcon::showMessage(const QString& title, const QString& text) {
    constexpr int ShownMs = 4000;
    icon_.showMessage(title, text, icon_.icon(), ShownMs);
}

void SystemTrayIcon::onLeftPress(std::function<void()> handler) {
    leftPress_ = std::move(handler);
}

void SystemTrayIcon::onRightRelease(std::function<void(const QPoint&)> handler) {
    rightRelease_ = std::move(handler);
}

void SystemTrayIcon::activated(QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::Trigger) {
        // The X11 tray reports the left button as it goes down.
        if (leftPress_)
            leftPress_();
    } else if (reason == QSystemTrayIcon::Context) {
        // The X11 tray reports the right button as it goes down; the menu belongs to the release.
        // A tray host that asks for the menu by itself has no button down: open it at once.
        if (QGuiApplication::mouseButtons() & Qt::RightButton) {
            if (!awaitingRightRelease_) {
                awaitingRightRelease_ = true;
                qApp->installEventFilter(this);
            }
        } else if (rightRelease_) {
            rightRelease_(QCursor::pos());
        }
    }
}

bool SystemTrayIcon::eventFilter(QObject* watched, QEvent* event) {
    if (awaitingRightRelease_ && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::RightButton) {
        awaitingRightRelease_ = false;
        qApp->removeEventFilter(this);
        if (rightRelease_)
            rightRelease_(static_cast<QMouseEvent*>(event)->globalPosition().toPoint());
        return true;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace lanquill::desktop
