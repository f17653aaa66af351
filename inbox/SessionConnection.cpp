#include "inbox/SessionConnection.h"

#include "protocol/SessionProtocol.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>

namespace lanquill::inbox {

namespace {

namespace session = protocol::session;

QLatin1String word(std::string_view text) {
    return QLatin1String(text.data(), static_cast<qsizetype>(text.size()));
}

QString text(const std::string& utf8) {
    return QString::fromStdString(utf8);
}

} // namespace

QByteArray helloLine() {
    return QJsonDocument(QJsonObject{{word(session::Hello), 1}}).toJson(QJsonDocument::Compact) +
           '\n';
}

std::optional<Message> parseMessageLine(const QByteArray& line, QString& problem) {
    std::string why;
    const auto record = session::messageFromJson(
        std::string_view(line.constData(), static_cast<std::size_t>(line.size())), &why);
    if (!record) {
        problem = text(why);
        return std::nullopt;
    }
    Message m;
    m.id = text(record->id);
    m.time = QDateTime::fromString(text(record->time), Qt::ISODateWithMs).toUTC();
    // Every time the protocol lets through is one Qt reads; this is for one it someday would not.
    if (!m.time.isValid()) {
        problem = QStringLiteral("time \"%1\" is not an ISO 8601 time").arg(text(record->time));
        return std::nullopt;
    }
    m.kind = record->kind == session::WorkgroupKind ? Kind::Workgroup : Kind::Direct;
    m.peer = text(record->from);
    m.sender = m.peer;
    m.address = text(record->address);
    m.to = text(record->to);
    m.text = text(record->text);
    m.datagram = record->datagram;
    m.direction = Direction::Received;
    m.delivered = true;
    m.unread = true;
    return m;
}

SessionConnection::SessionConnection(Store store, QObject* parent)
    : QObject(parent), store_(std::move(store)) {
    retry_.setSingleShot(true);
    connect(&retry_, &QTimer::timeout, this, &SessionConnection::connectNow);
    connect(&socket_, &QLocalSocket::connected, this, &SessionConnection::connected);
    connect(&socket_, &QLocalSocket::readyRead, this, &SessionConnection::readLines);
    // Unconnected after a connection ended or after a connect that failed (which never
    // reaches the connected state and so never reports a disconnection).
    connect(&socket_, &QLocalSocket::stateChanged, this,
            [this](QLocalSocket::LocalSocketState state) {
                if (state == QLocalSocket::UnconnectedState)
                    disconnected();
            });
}

SessionConnection::~SessionConnection() {
    // The socket says it disconnected while it is destroyed, after the timer and status it
    // would touch are gone.
    socket_.disconnect(this);
}

QString SessionConnection::socketPath() {
    return QString::fromStdString(session::socketPath());
}

bool SessionConnection::receiverInstalled() {
    const QStringList systemFolders = {
        QStringLiteral("/usr/sbin"), QStringLiteral("/usr/local/sbin"), QStringLiteral("/usr/bin"),
        QStringLiteral("/usr/local/bin")};
    return !QStandardPaths::findExecutable(QStringLiteral("lanquilld")).isEmpty() ||
           !QStandardPaths::findExecutable(QStringLiteral("lanquilld"), systemFolders).isEmpty();
}

void SessionConnection::start() {
    connectNow();
}

void SessionConnection::connectNow() {
    if (socket_.state() != QLocalSocket::UnconnectedState)
        return;
    socket_.connectToServer(socketPath());
}

void SessionConnection::connected() {
    delayMs_ = FirstDelayMs;
    socket_.write(helloLine());
}

void SessionConnection::disconnected() {
    const bool socketThere = QFileInfo::exists(socketPath());
    if (!socketThere && !installed_())
        setStatus(ReceiverState::NotInstalled);
    else
        setStatus(ReceiverState::NotRunning);
    retryLater();
}

void SessionConnection::retryLater() {
    if (retry_.isActive())
        return;
    retry_.start(delayMs_);
    delayMs_ = std::min(delayMs_ * 2, LongestDelayMs);
}

void SessionConnection::setStatus(ReceiverState state, const QString& reason) {
    if (status_.state == state && status_.reason == reason)
        return;
    status_ = {state, reason};
    Q_EMIT statusChanged();
}

void SessionConnection::readLines() {
    while (socket_.canReadLine()) {
        const QByteArray line = socket_.readLine(LongestLine + 1);
        if (!line.endsWith('\n')) {
            Q_EMIT problem(
                QStringLiteral("lanquilld sent a line longer than %1 bytes").arg(LongestLine));
            socket_.abort();
            return;
        }
        handleLine(line);
        if (socket_.state() != QLocalSocket::ConnectedState)
            return;
    }
    if (socket_.bytesAvailable() > LongestLine) {
        Q_EMIT problem(
            QStringLiteral("lanquilld sent a line longer than %1 bytes").arg(LongestLine));
        socket_.abort();
    }
}

void SessionConnection::handleLine(const QByteArray& line) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(line, &error);
    if (!document.isObject()) {
        Q_EMIT problem(QStringLiteral("lanquilld sent a line that is no JSON object: %1")
                           .arg(error.errorString()));
        return;
    }
    const QJsonObject object = document.object();
    // lanquilld's answer to the hello names the computer and the user; nothing here needs them.
    if (object.contains(word(session::Hello)))
        return;
    if (object.contains(word(session::Error))) {
        Q_EMIT problem(QStringLiteral("lanquilld refused a line: ") +
                       object.value(word(session::Error)).toString());
        return;
    }
    if (object.contains(word(session::Status))) {
        const QString status = object.value(word(session::Status)).toString();
        const QString reason = object.value(word(session::Reason)).toString();
        if (status == word(session::Receiving))
            setStatus(ReceiverState::Receiving);
        else if (status == word(session::No139))
            setStatus(ReceiverState::Port139Held, reason);
        else if (status == word(session::SpoolUnwritable))
            setStatus(ReceiverState::SpoolUnwritable, reason);
        else if (status == word(session::NameLost))
            setStatus(ReceiverState::NameLost, reason);
        else
            setStatus(ReceiverState::Unavailable, reason.isEmpty() ? status : reason);
        return;
    }
    QString problemText;
    const std::optional<Message> message = parseMessageLine(line, problemText);
    if (!message) {
        // Not acknowledged: lanquilld keeps it, and a fixed program can still take it.
        Q_EMIT problem(QStringLiteral("lanquilld sent a message that cannot be used: ") +
                       problemText);
        return;
    }
    bool stored = false;
    try {
        stored = store_(*message);
    } catch (const std::exception& failure) {
        // Not acknowledged either; a new connection later brings it again.
        Q_EMIT problem(QString::fromStdString(failure.what()));
        socket_.abort();
        return;
    }
    socket_.write(QJsonDocument(QJsonObject{{word(session::Ack), message->id}})
                      .toJson(QJsonDocument::Compact) +
                  '\n');
    if (stored)
        Q_EMIT arrived(*message);
}

} // namespace lanquill::inbox
