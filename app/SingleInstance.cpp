#include "app/SingleInstance.h"

#include <QDir>
#include <QLocalSocket>
#include <QStandardPaths>

namespace lanquill::app {

namespace {

constexpr int ConnectTimeoutMs = 1000;
constexpr int AnswerTimeoutMs = 3000;
const QByteArray ShowRequest = "show\n";
const QByteArray ShownAnswer = "shown\n";

// A display name as a file-name part: ":0.0" -> "0.0", "wayland-0" stays.
QString displayKey() {
    QString display = qEnvironmentVariable("WAYLAND_DISPLAY");
    if (display.isEmpty())
        display = qEnvironmentVariable("DISPLAY");
    QString key;
    for (const QChar c : display)
        if (c.isLetterOrNumber() || c == u'.' || c == u'-')
            key += c;
    return key.isEmpty() ? QStringLiteral("none") : key;
}

} // namespace

QString SingleInstance::socketPath() {
    // The runtime folder is the user's own (mode 0700): nobody else can take the name first.
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    return folder + QStringLiteral("/lanquill-") + displayKey() + QStringLiteral(".sock");
}

SingleInstance::SingleInstance(QString path) : path_(std::move(path)) {
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&server_, &QLocalServer::newConnection, this, &SingleInstance::accept);
}

bool SingleInstance::forwardToRunning() {
    QLocalSocket socket;
    socket.connectToServer(path_);
    if (!socket.waitForConnected(ConnectTimeoutMs))
        return false;
    socket.write(ShowRequest);
    if (!socket.waitForBytesWritten(ConnectTimeoutMs))
        return false;
    // The answer comes once the window is forward; a copy that hangs counts as not running.
    while (socket.bytesAvailable() < ShownAnswer.size())
        if (!socket.waitForReadyRead(AnswerTimeoutMs))
            return false;
    return socket.readAll().startsWith(ShownAnswer);
}

bool SingleInstance::listen(std::function<void()> onShow) {
    onShow_ = std::move(onShow);
    if (server_.listen(path_))
        return true;
    // Nobody answered on it (forwardToRunning came first): a socket file left by a copy that
    // died.
    QLocalServer::removeServer(path_);
    return server_.listen(path_);
}

void SingleInstance::accept() {
    while (QLocalSocket* client = server_.nextPendingConnection()) {
        connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
        connect(client, &QLocalSocket::readyRead, client, [this, client] {
            if (!client->canReadLine()) {
                if (client->bytesAvailable() > ShowRequest.size())
                    client->abort();
                return;
            }
            const QByteArray request = client->readLine(64);
            if (request == ShowRequest && onShow_) {
                onShow_();
                client->write(ShownAnswer);
            }
            client->disconnectFromServer();
        });
    }
}

} // namespace lanquill::app
