#include "desktop/SystemTrayIcon.h"

#include <QApplication>
#include <QCursor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QWidget>

#include <xcb/xcb.h>

#include <cstdlib>

namespace lanquill::desktop {

namespace {

constexpr int HostWatchIntervalMs = 1000;

bool statusNotifierWatcherUp() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || bus.interface() == nullptr)
        return false;
    return bus.interface()->isServiceRegistered(QStringLiteral("org.kde.StatusNotifierWatcher"));
}

bool xembedTrayUp() {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (x11 == nullptr || x11->connection() == nullptr)
        return false;
    xcb_connection_t* connection = x11->connection();
    // The tray of the first screen, the one Qt docks its icons in.
    constexpr char name[] = "_NET_SYSTEM_TRAY_S0";
    auto atomCookie = xcb_intern_atom(connection, 1, sizeof name - 1, name);
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(connection, atomCookie, nullptr);
    if (atom == nullptr)
        return false;
    const xcb_atom_t selection = atom->atom;
    std::free(atom);
    if (selection == XCB_ATOM_NONE)
        return false;
    auto ownerCookie = xcb_get_selection_owner(connection, selection);
    xcb_get_selection_owner_reply_t* owner =
        xcb_get_selection_owner_reply(connection, ownerCookie, nullptr);
    if (owner == nullptr)
        return false;
    const bool up = owner->owner != XCB_WINDOW_NONE;
    std::free(owner);
    return up;
}

} // namespace

bool trayHostUp() {
    return statusNotifierWatcherUp() || xembedTrayUp();
}

SystemTrayIcon::SystemTrayIcon() {
    hostWatch_.setInterval(HostWatchIntervalMs);
    connect(&hostWatch_, &QTimer::timeout, this, [this] {
        if (showIfHostUp())
            shown();
    });
}

SystemTrayIcon::~SystemTrayIcon() {
    if (awaitingRightRelease_)
        qApp->removeEventFilter(this);
    if (docked_ != nullptr)
        docked_->removeEventFilter(this);
}

bool SystemTrayIcon::add(const QIcon& icon, const QString& tip) {
    picture_ = icon;
    tip_ = tip;
    if (showIfHostUp())
        return true;
    hostWatch_.start();
    return false;
}

bool SystemTrayIcon::showIfHostUp() {
    if (!icon_) {
        if (!trayHostUp())
            return false;
        icon_ = std::make_unique<QSystemTrayIcon>();
        connect(icon_.get(), &QSystemTrayIcon::activated, this, &SystemTrayIcon::activated);
    }
    hostWatch_.stop();
    icon_->setIcon(picture_);
    icon_->setToolTip(tip_);
    icon_->show();
    watchDockedWindow();
    return true;
}

// A dialog runs modally over the main window, and Qt then drops the clicks of every other window
// of the program, the XEmbed icon's among them: with a dialog open, neither button did anything.
// The icon must go on working (its left click brings that dialog forward), so while a modal
// dialog is up the icon's window is made its transient child, which Qt leaves unblocked.
void SystemTrayIcon::watchDockedWindow() {
    QWindow* docked = nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == QLatin1String("QSystemTrayIconSys"))
            docked = widget->windowHandle();
    }
    if (docked == docked_)
        return;
    if (docked_ != nullptr)
        docked_->removeEventFilter(this);
    docked_ = docked;
    if (docked_ != nullptr) {
        docked_->installEventFilter(this);
        exemptFromModalDialog();
    }
}

void SystemTrayIcon::exemptFromModalDialog() {
    QWindow* modal = QGuiApplication::modalWindow();
    if (docked_ != nullptr && modal != nullptr && modal != docked_)
        docked_->setTransientParent(modal);
}

void SystemTrayIcon::remove() {
    hostWatch_.stop();
    if (icon_)
        icon_->hide();
}

void SystemTrayIcon::update(const QIcon& icon, const QString& tip) {
    picture_ = icon;
    tip_ = tip;
    if (icon_) {
        icon_->setIcon(icon);
        icon_->setToolTip(tip);
    }
}

void SystemTrayIcon::showMessage(const QString& title, const QString& text) {
    constexpr int ShownMs = 4000;
    if (icon_)
        icon_->showMessage(title, text, picture_, ShownMs);
}

void SystemTrayIcon::activated(QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::Trigger) {
        // The X11 tray reports the left button as it goes down.
        leftPress();
    } else if (reason == QSystemTrayIcon::Context) {
        // The X11 tray reports the right button as it goes down; the menu belongs to the release.
        // A tray host that asks for the menu by itself has no button down: open it at once.
        if (QGuiApplication::mouseButtons() & Qt::RightButton) {
            if (!awaitingRightRelease_) {
                awaitingRightRelease_ = true;
                qApp->installEventFilter(this);
            }
        } else {
            rightRelease(QCursor::pos());
        }
    }
}

bool SystemTrayIcon::eventFilter(QObject* watched, QEvent* event) {
    if (watched == docked_ && event->type() == QEvent::WindowBlocked) {
        // Not from inside Qt's own round of blocking windows: once it is over.
        QMetaObject::invokeMethod(this, &SystemTrayIcon::exemptFromModalDialog,
                                  Qt::QueuedConnection);
        return QObject::eventFilter(watched, event);
    }
    if (watched == docked_ && event->type() == QEvent::MouseButtonDblClick &&
        static_cast<QMouseEvent*>(event)->button() == Qt::RightButton) {
        // A right click soon after another is a double click, which Qt's X11 icon takes for
        // no click at all: it would open no menu.
        activated(QSystemTrayIcon::Context);
        return true;
    }
    if (awaitingRightRelease_ && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::RightButton) {
        awaitingRightRelease_ = false;
        qApp->removeEventFilter(this);
        rightRelease(static_cast<QMouseEvent*>(event)->globalPosition().toPoint());
        return true;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace lanquill::desktop
