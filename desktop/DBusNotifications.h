#pragma once

#include "desktop/Desktop.h"

#include <QObject>
#include <QStringList>

#include <map>
#include <optional>
#include <vector>

namespace lanquill::desktop {

// Notifications through org.freedesktop.Notifications on the session bus. Every call is
// asynchronous: a slow or missing server never holds up the program.
class DBusNotifications : public QObject, public Notifications {
    Q_OBJECT

public:
    DBusNotifications();
    void notify(const QString& summary, const QString& body, std::function<void()> onOpen) override;

    static constexpr auto AppName = "Lanquill";
    static constexpr auto Category = "im.received";

private:
    struct Pending {
        QString summary, body;
        std::function<void()> onOpen;
    };
    void send(const Pending& notification);

private Q_SLOTS:
    void actionInvoked(uint id, const QString& action);
    void closed(uint id, uint reason);

private:
    // The server's capabilities once it has told them; a body is escaped only for a server
    // that reads markup in it.
    std::optional<QStringList> capabilities_;
    bool askedCapabilities_ = false;
    std::vector<Pending> waiting_;
    std::map<uint, std::function<void()>> openers_;
};

} // namespace lanquill::desktop
