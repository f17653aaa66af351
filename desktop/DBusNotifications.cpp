#include "desktop/DBusNotifications.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace lanquill::desktop {

namespace {

const QString Service = QStringLiteral("org.freedesktop.Notifications");
const QString Path = QStringLiteral("/org/freedesktop/Notifications");
const QString Interface = QStringLiteral("org.freedesktop.Notifications");

QDBusMessage call(const QString& method) {
    return QDBusMessage::createMethodCall(Service, Path, Interface, method);
}

} // namespace

DBusNotifications::DBusNotifications() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.connect(Service, Path, Interface, QStringLiteral("ActionInvoked"), this,
                SLOT(actionInvoked(uint, QString)));
    bus.connect(Service, Path, Interface, QStringLiteral("NotificationClosed"), this,
                SLOT(closed(uint, uint)));
}

void DBusNotifications::notify(const QString& summary, const QString& body,
                               std::function<void()> onOpen) {
    Pending notification{summary, body, std::move(onOpen)};
    if (capabilities_) {
        send(notification);
        return;
    }
    waiting_.push_back(std::move(notification));
    if (askedCapabilities_)
        return;
    askedCapabilities_ = true;
    auto* watcher = new QDBusPendingCallWatcher(
        QDBusConnection::sessionBus().asyncCall(call(QStringLiteral("GetCapabilities"))), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                askedCapabilities_ = false;
                const QDBusPendingReply<QStringList> reply = *finished;
                std::vector<Pending> queued;
                queued.swap(waiting_);
                // No server: the message window alone tells of the message.
                if (reply.isError())
                    return;
                capabilities_ = reply.value();
                for (const Pending& each : queued)
                    send(each);
            });
}

void DBusNotifications::send(const Pending& notification) {
    const bool markup = capabilities_->contains(QStringLiteral("body-markup"));
    QDBusMessage message = call(QStringLiteral("Notify"));
    const QVariantMap hints{
        {QStringLiteral("category"), QString::fromLatin1(Category)},
        {QStringLiteral("desktop-entry"), QStringLiteral("lanquill")},
    };
    message << QString::fromLatin1(AppName) << uint(0) << QStringLiteral("lanquill")
            << notification.summary
            << (markup ? notification.body.toHtmlEscaped() : notification.body)
            << QStringList{QStringLiteral("default"), tr("打开")} << hints << int(-1);
    auto* watcher =
        new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(message), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, onOpen = notification.onOpen](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                const QDBusPendingReply<uint> reply = *finished;
                if (!reply.isError())
                    openers_[reply.value()] = onOpen;
            });
}

void DBusNotifications::actionInvoked(uint id, const QString& action) {
    const auto opener = openers_.find(id);
    if (opener == openers_.end() || action != QLatin1String("default"))
        return;
    if (opener->second)
        opener->second();
}

void DBusNotifications::closed(uint id, uint) {
    openers_.erase(id);
}

} // namespace lanquill::desktop
