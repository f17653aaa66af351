#include "desktop/PortalHotKeys.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QKeySequence>

namespace {

// One entry of BindShortcuts' a(sa{sv}).
struct PortalShortcut {
    QString id;
    QVariantMap properties;
};

QDBusArgument& operator<<(QDBusArgument& argument, const PortalShortcut& shortcut) {
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, PortalShortcut& shortcut) {
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}

} // namespace

Q_DECLARE_METATYPE(PortalShortcut)

namespace lanquill::desktop {

namespace {

const QString PortalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString PortalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString ShortcutsInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
const QString RequestInterface = QStringLiteral("org.freedesktop.portal.Request");

// The trigger in the portals' own shortcut notation: CTRL+SHIFT+z.
QString portalTrigger(int modifiers, int key) {
    QString trigger;
    if (modifiers & Qt::ControlModifier)
        trigger += QStringLiteral("CTRL+");
    if (modifiers & Qt::AltModifier)
        trigger += QStringLiteral("ALT+");
    if (modifiers & Qt::ShiftModifier)
        trigger += QStringLiteral("SHIFT+");
    if (modifiers & Qt::MetaModifier)
        trigger += QStringLiteral("LOGO+");
    const QString name = QKeySequence(key).toString(QKeySequence::PortableText);
    // Letters are named by their lower-case keysym.
    return trigger + (name.size() == 1 ? name.toLower() : name);
}

} // namespace

bool PortalHotKeys::offered() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    QDBusMessage get = QDBusMessage::createMethodCall(
        PortalService, PortalPath, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"));
    get << ShortcutsInterface << QStringLiteral("version");
    constexpr int TimeoutMs = 2000;
    const QDBusMessage reply = bus.call(get, QDBus::Block, TimeoutMs);
    return reply.type() == QDBusMessage::ReplyMessage;
}

PortalHotKeys::PortalHotKeys() {
    qDBusRegisterMetaType<PortalShortcut>();
    qDBusRegisterMetaType<QList<PortalShortcut>>();
    QDBusConnection::sessionBus().connect(PortalService, PortalPath, ShortcutsInterface,
                                          QStringLiteral("Activated"), this,
                                          SLOT(activated(QDBusMessage)));
}

std::uint16_t PortalHotKeys::grab(const std::string& name, int modifiers, int key) {
    const std::uint16_t id = nextId_++;
    shortcuts_[id] = {name, portalTrigger(modifiers, key)};
    if (!session_.isEmpty())
        bindAll();
    else if (!sessionRequested_)
        createSession();
    return id;
}

void PortalHotKeys::release(std::uint16_t id) {
    shortcuts_.erase(id);
    // The portal unbinds nothing by itself: the session ends with the last key, and with it
    // every binding.
    if (shortcuts_.empty() && !session_.isEmpty()) {
        QDBusConnection::sessionBus().call(
            QDBusMessage::createMethodCall(PortalService, session_,
                                           QStringLiteral("org.freedesktop.portal.Session"),
                                           QStringLiteral("Close")),
            QDBus::NoBlock);
        session_.clear();
        sessionRequested_ = false;
    }
}

void PortalHotKeys::request(const QString& method, QVariantList arguments,
                            std::function<void(const QVariantMap&)> done) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QString token = QStringLiteral("lanquill%1").arg(++tokens_);
    // The portal names the request object after the caller and the token; the answer may come
    // before the call returns, so it is listened for first.
    QString sender = bus.baseService().mid(1);
    sender.replace(u'.', u'_');
    const QString requestPath =
        QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
    pending_[requestPath] = std::move(done);
    bus.connect(PortalService, requestPath, RequestInterface, QStringLiteral("Response"), this,
                SLOT(answered(uint, QVariantMap, QDBusMessage)));

    QVariantMap options = arguments.takeLast().toMap();
    options.insert(QStringLiteral("handle_token"), token);
    arguments.append(options);
    QDBusMessage call =
        QDBusMessage::createMethodCall(PortalService, PortalPath, ShortcutsInterface, method);
    call.setArguments(arguments);
    bus.asyncCall(call);
}

void PortalHotKeys::answered(uint response, const QVariantMap& results,
                             const QDBusMessage& message) {
    const auto found = pending_.find(message.path());
    if (found == pending_.end())
        return;
    auto done = std::move(found->second);
    pending_.erase(found);
    QDBusConnection::sessionBus().disconnect(PortalService, message.path(), RequestInterface,
                                             QStringLiteral("Response"), this,
                                             SLOT(answered(uint, QVariantMap, QDBusMessage)));
    // 0: success; 1: the user cancelled; 2: refused. Without a session no key is bound.
    if (response == 0 && done)
        done(results);
}

void PortalHotKeys::createSession() {
    sessionRequested_ = true;
    QVariantMap options;
    options.insert(QStringLiteral("session_handle_token"), QStringLiteral("lanquill"));
    request(QStringLiteral("CreateSession"), {options}, [this](const QVariantMap& results) {
        const QVariant handle = results.value(QStringLiteral("session_handle"));
        session_ = handle.canConvert<QDBusObjectPath>() ? handle.value<QDBusObjectPath>().path()
                                                        : handle.toString();
        if (!session_.isEmpty() && !shortcuts_.empty())
            bindAll();
    });
}

void PortalHotKeys::bindAll() {
    QList<PortalShortcut> list;
    for (const auto& [id, shortcut] : shortcuts_) {
        QVariantMap properties;
        properties.insert(QStringLiteral("description"), tr("打开窗口"));
        properties.insert(QStringLiteral("preferred_trigger"), shortcut.trigger);
        list.append({QString::fromStdString(shortcut.name), properties});
    }
    request(QStringLiteral("BindShortcuts"),
            {QVariant::fromValue(QDBusObjectPath(session_)), QVariant::fromValue(list), QString(),
             QVariantMap()},
            nullptr);
}

void PortalHotKeys::activated(const QDBusMessage& message) {
    // (session handle, shortcut id, time stamp, options)
    const QVariantList arguments = message.arguments();
    if (arguments.size() < 2 || pressed.empty())
        return;
    if (arguments.at(0).value<QDBusObjectPath>().path() != session_)
        return;
    const QString shortcutId = arguments.at(1).toString();
    for (const auto& [id, shortcut] : shortcuts_)
        if (QString::fromStdString(shortcut.name) == shortcutId) {
            pressed(id);
            return;
        }
}

} // namespace lanquill::desktop
