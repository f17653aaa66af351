#include "app/SingleInstance.h"

#include <QDir>
#include <QFile>
#include <QLocalSocket>

#include <cerrno>
#include <cstring>

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

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

QString SingleInstance::privateFolderProblem(const QString& folder) {
    struct stat info {};
    // lstat: a link, even to a folder of ours, could be turned elsewhere by whoever owns it.
    if (::lstat(QFile::encodeName(folder).constData(), &info) != 0)
        return folder + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
    if (!S_ISDIR(info.st_mode))
        return folder + QStringLiteral(" is no folder");
    if (info.st_uid != ::geteuid())
        return folder + QStringLiteral(" belongs to user %1").arg(info.st_uid);
    if ((info.st_mode & 077) != 0)
        return folder + QStringLiteral(" is open to others (mode %1)")
                            .arg(info.st_mode & 07777, 4, 8, QLatin1Char('0'));
    return {};
}

QString SingleInstance::socketPath(QString* problem) {
    QString folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (folder.isEmpty()) {
        // The temporary folder is everyone's: the user's own folder in it, made before anyone
        // else can (the name is the uid, so it cannot be taken by another user unnoticed).
        folder = QDir::tempPath() + QStringLiteral("/lanquill-") + QString::number(::geteuid());
        ::mkdir(QFile::encodeName(folder).constData(), 0700);
    }
    if (const QString wrong = privateFolderProblem(folder); !wrong.isEmpty()) {
        if (problem)
            *problem = wrong;
        return {};
    }
    return folder + QStringLiteral("/lanquill-") + displayKey() + QStringLiteral(".sock");
}

SingleInstance::SingleInstance(QString path) : path_(std::move(path)) {
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&server_, &QLocalServer::newConnection, this, &SingleInstance::accept);
}

bool SingleInstance::forwardToRunning() {
    if (path_.isEmpty())
        return false;
    QLocalSocket socket;
    socket.connectToServer(path_);
    if (!socket.waitForConnected(ConnectTimeoutMs))
        return false;
    // Only a copy of this user's may send this one away.
    ucred peer{};
    socklen_t size = sizeof peer;
    if (::getsockopt(static_cast<int>(socket.socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &peer,
                     &size) != 0 ||
        peer.uid != ::geteuid())
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
    if (path_.isEmpty())
        return false;
    if (server_.listen(path_))
        return true;
    // Nobody of ours answered on it (forwardToRunning came first): a socket file left by a copy
    // that died, or one another user put there; the folder is ours, so it goes.
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
