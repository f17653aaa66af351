#pragma once

#include "desktop/Desktop.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include <map>

namespace lanquill::desktop {

// Global hot keys through the desktop portal's GlobalShortcuts interface, for Wayland sessions,
// where no program may grab keys itself. The portal asks the user to confirm the keys when they
// are first bound and may bind others; presses come back as its Activated signal.
class PortalHotKeys : public QObject, public HotKeys {
    Q_OBJECT

public:
    // Whether the session's portal offers GlobalShortcuts.
    static bool offered();

    PortalHotKeys();
    std::uint16_t grab(const std::string& name, int modifiers, int key) override;
    void release(std::uint16_t id) override;

private:
    struct Shortcut {
        std::string name;
        QString trigger;
    };
    // Calls a portal method that answers through a Request object; `done` gets its results
    // when the response is a success.
    void request(const QString& method, QVariantList arguments,
                 std::function<void(const QVariantMap& results)> done);
    void createSession();
    void bindAll();

    std::map<std::uint16_t, Shortcut> shortcuts_;
    std::uint16_t nextId_ = 1;
    QString session_;
    bool sessionRequested_ = false;
    int tokens_ = 0;
    std::map<QString, std::function<void(const QVariantMap&)>> pending_;

private Q_SLOTS:
    void activated(const QDBusMessage& message);
    void answered(uint response, const QVariantMap& results, const QDBusMessage& message);
};

} // namespace lanquill::desktop
