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
    void notify(const QString& summary, const QString& body, std::function<void()> onOpen,
                const Options& options) override;

    static constexpr auto AppName = "Lanquill";
    static constexpr auto Category = "im.received";
    // The freedesktop sound theme's name for an instant message.
    static constexpr auto SoundName = "message-new-instant";

private:
    struct Pending {
        QString summary, body;
        std::function<void()> onOpen;
        Options options;
    };
    // A thread's notification on the server: its id once the server has answered, and the
    // latest raised meanwhile. Until the answer no id is known to replace, so a second Notify
    // would make a second notification; the latest waits and replaces the first when it comes.
    struct Thread {
        uint id = 0;
        bool asking = false;
        std::optional<Pending> next;
    };
    void dispatch(Pending notification);
    void send(const Pending& notification, uint replaces);

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
    std::map<QString, Thread> threads_;
};

} // namespace lanquill::desktop
