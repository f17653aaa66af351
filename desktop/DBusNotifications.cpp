#include "desktop/DBusNotifications.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace lanquill::desktop {

namespace {

const QString NotificationsService = QStringLiteral("org.freedesktop.Notifications");
const QString NotificationsPath = QStringLiteral("/org/freedesktop/Notifications");
const QString NotificationsInterface = QStringLiteral("org.freedesktop.Notifications");

QDBusMessage call(const QString& method) {
    return QDBusMessage::createMethodCall(NotificationsService, NotificationsPath,
                                          NotificationsInterface, method);
}

// A text as a notification can carry it whole: a D-Bus string ends at a NUL, and servers show
// other control characters as they please. Each becomes a visible U+FFFD; line breaks (also
// Windows' CR LF) and tabs stay.
QString carried(QString text) {
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n');
    for (QChar& c : text) {
        const char16_t u = c.unicode();
        if ((u < 0x20 && u != u'\n' && u != u'\t') || (u >= 0x7F && u <= 0x9F))
            c = QChar(QChar::ReplacementCharacter);
    }
    return text;
}

} // namespace

DBusNotifications::DBusNotifications() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.connect(NotificationsService, NotificationsPath, NotificationsInterface,
                QStringLiteral("ActionInvoked"), this, SLOT(actionInvoked(uint, QString)));
    bus.connect(NotificationsService, NotificationsPath, NotificationsInterface,
                QStringLiteral("NotificationClosed"), this, SLOT(closed(uint, uint)));
}

void DBusNotifications::notify(const QString& summary, const QString& body,
                               std::function<void()> onOpen, const Options& options) {
    Pending notification{summary, body, std::move(onOpen), options};
    if (capabilities_) {
        dispatch(std::move(notification));
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
                for (Pending& each : queued)
                    dispatch(std::move(each));
            });
}

void DBusNotifications::dispatch(Pending notification) {
    if (notification.options.thread.isEmpty()) {
        send(notification, 0);
        return;
    }
    Thread& thread = threads_[notification.options.thread];
    if (thread.asking) {
        // Only the latest waiting one goes out; a sound asked for by one it replaces still
        // plays.
        const bool sound =
            notification.options.sound || (thread.next && thread.next->options.sound);
        thread.next = std::move(notification);
        thread.next->options.sound = sound;
        return;
    }
    thread.asking = true;
    send(notification, thread.id);
}

void DBusNotifications::send(const Pending& notification, uint replaces) {
    const bool markup = capabilities_->contains(QStringLiteral("body-markup"));
    QDBusMessage message = call(QStringLiteral("Notify"));
    QVariantMap hints{
        {QStringLiteral("category"), QString::fromLatin1(Category)},
        {QStringLiteral("desktop-entry"), QStringLiteral("lanquill")},
    };
    // The server plays the theme's sound: it knows the user's sound theme and whether the
    // desktop is muted, and this program needs no sound library of its own. An update of a
    // burst's notification stays quiet, also on a server with a sound of its own for the
    // category.
    if (notification.options.sound)
        hints.insert(QStringLiteral("sound-name"), QString::fromLatin1(SoundName));
    else if (replaces != 0)
        hints.insert(QStringLiteral("suppress-sound"), true);
    // The summary is plain text for every server. The body is read as markup by a server that
    // says so (GNOME Shell, Plasma, xfce4-notifyd do): escaped there, what the sender typed shows
    // as typed and no link or image of theirs is made; a server that does not shows it as it is.
    const QString body = carried(notification.body);
    message << QString::fromLatin1(AppName) << replaces << QStringLiteral("lanquill")
            << carried(notification.summary) << (markup ? body.toHtmlEscaped() : body)
            << QStringList{QStringLiteral("default"), tr("打开")} << hints << int(-1);
    auto* watcher =
        new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(message), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, onOpen = notification.onOpen,
             thread = notification.options.thread](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                const QDBusPendingReply<uint> reply = *finished;
                if (!reply.isError())
                    openers_[reply.value()] = onOpen;
                if (thread.isEmpty())
                    return;
                Thread& state = threads_[thread];
                state.asking = false;
                state.id = reply.isError() ? 0 : reply.value();
                if (state.next) {
                    Pending next = std::move(*state.next);
                    state.next.reset();
                    dispatch(std::move(next));
                }
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
    // A closed notification is not brought back: the thread's next one is a new notification.
    for (auto& [name, thread] : threads_) {
        if (thread.id == id)
            thread.id = 0;
    }
}

} // namespace lanquill::desktop
