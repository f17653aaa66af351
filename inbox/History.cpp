#include "inbox/History.h"

#include "protocol/OemCodePage.h"

#include <QAtomicInt>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QVariant>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lanquill::inbox {

namespace {

// Step i brings a database of version i to version i + 1. A new version adds a step here; the
// steps already shipped never change.
const std::vector<std::vector<const char*>> Migrations = {
    {
        "CREATE TABLE messages ("
        " id TEXT PRIMARY KEY NOT NULL,"
        " direction INTEGER NOT NULL,"
        " kind TEXT NOT NULL,"
        " peer TEXT NOT NULL,"
        " address TEXT NOT NULL,"
        " recipient TEXT NOT NULL,"
        " time INTEGER NOT NULL,"
        " text TEXT NOT NULL,"
        " delivered INTEGER NOT NULL,"
        " unread INTEGER NOT NULL)",
        "CREATE INDEX messages_by_peer ON messages (peer, time)",
        "CREATE INDEX messages_unread ON messages (unread) WHERE unread = 1",
    },
    {
        // The name a received message's sender gave, kept beside the conversation it is filed
        // under (a sender the book does not vouch for files under its address). Older rows were
        // filed under that name or the book's computer.
        "ALTER TABLE messages ADD COLUMN sender TEXT NOT NULL DEFAULT ''",
        "UPDATE messages SET sender = peer WHERE direction = 0",
    },
    {
        // Whether a received message came in a datagram, whose source address proves nothing.
        // Rows from before came in sessions or were kept without telling; they stay as they were.
        "ALTER TABLE messages ADD COLUMN datagram INTEGER NOT NULL DEFAULT 0",
    },
};

const char* const Columns =
    "SELECT id, direction, kind, peer, address, recipient, time, text, delivered, unread, sender, "
    "datagram FROM messages ";
const char* const ColumnsWithoutText =
    "SELECT id, direction, kind, peer, address, recipient, time, '', delivered, unread, sender, "
    "datagram FROM messages ";

QString nextConnectionName() {
    static QAtomicInt counter;
    return QStringLiteral("lanquill-history-%1").arg(counter.fetchAndAddRelaxed(1));
}

// Conversations are by computer, and NetBIOS names are case-blind.
QString peerKey(const QString& peer) {
    return QString::fromStdString(protocol::oem::upperAscii(peer.toStdString()));
}

[[noreturn]] void fail(const QString& what, const QSqlError& error) {
    throw HistoryError((what + QStringLiteral(": ") + error.text()).toStdString(), error.text());
}

QSqlQuery run(const QSqlDatabase& db, const QString& sql, const QVariantList& values = {}) {
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.prepare(sql))
        fail(QCoreApplication::translate("lanquill::inbox::History", "消息记录查询失败"),
             query.lastError());
    for (const QVariant& value : values)
        query.addBindValue(value);
    if (!query.exec())
        fail(QCoreApplication::translate("lanquill::inbox::History", "消息记录查询失败"),
             query.lastError());
    return query;
}

std::vector<Message> readMessages(QSqlQuery& query) {
    std::vector<Message> messages;
    while (query.next()) {
        Message m;
        m.id = query.value(0).toString();
        m.direction = query.value(1).toInt() == 1 ? Direction::Sent : Direction::Received;
        kindFromName(query.value(2).toString(), m.kind);
        m.peer = query.value(3).toString();
        m.address = query.value(4).toString();
        m.to = query.value(5).toString();
        m.time = QDateTime::fromMSecsSinceEpoch(query.value(6).toLongLong(), Qt::UTC);
        m.text = query.value(7).toString();
        m.delivered = query.value(8).toInt() != 0;
        m.unread = query.value(9).toInt() != 0;
        m.sender = query.value(10).toString();
        m.datagram = query.value(11).toInt() != 0;
        messages.push_back(std::move(m));
    }
    return messages;
}

// An absent text is stored as an empty one (a null QString would bind as SQL NULL).
QString notNull(const QString& text) {
    return text.isNull() ? QStringLiteral("") : text;
}

// Runs `write` (returning a count) as one transaction: all of it is stored, or none.
template <class Write> int inTransaction(QSqlDatabase& db, const QString& what, Write&& write) {
    if (!db.transaction())
        fail(what, db.lastError());
    int count = 0;
    try {
        count = write();
    } catch (...) {
        db.rollback();
        throw;
    }
    if (!db.commit()) {
        const QSqlError error = db.lastError();
        db.rollback();
        fail(what, error);
    }
    return count;
}

// A LIKE pattern that matches `word` literally anywhere in the text.
QString containsPattern(QString word) {
    word.replace(QLatin1Char('\\'), QLatin1String("\\\\"))
        .replace(QLatin1Char('%'), QLatin1String("\\%"))
        .replace(QLatin1Char('_'), QLatin1String("\\_"));
    return QLatin1Char('%') + word + QLatin1Char('%');
}

// Messages are the user's own: the folder and the file are for the owner alone, also where an
// earlier version left them readable by others. The file is made before SQLite opens it, and
// SQLite gives its journal the file's mode.
void keepPrivate(const QString& folder, const QString& path) {
    ::chmod(QFile::encodeName(folder).constData(), 0700);
    const QByteArray file = QFile::encodeName(path);
    const int fd = ::open(file.constData(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd >= 0) {
        ::fchmod(fd, 0600);
        ::close(fd);
    }
}

} // namespace

History::History(const QString& path) : connection_(nextConnectionName()) {
    const QString folder = QFileInfo(path).absolutePath();
    QDir().mkpath(folder);
    const bool existed = QFileInfo::exists(path);
    keepPrivate(folder, path);
    QString problem;
    if (openFile(path, problem)) {
        outcome_.kind = existed ? OpenOutcome::Kind::Opened : OpenOutcome::Kind::Created;
    } else {
        closeFile();
        // Kept, not deleted: the user's messages may still be recoverable from it.
        const QString aside =
            path + QStringLiteral(".unusable-") +
            QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss"));
        if (!QFile::rename(path, aside))
            throw HistoryError(
                QCoreApplication::translate("lanquill::inbox::History", "无法移开消息记录文件 %1")
                    .arg(path)
                    .toStdString());
        QFile::rename(path + QStringLiteral("-journal"), aside + QStringLiteral("-journal"));
        outcome_ = {OpenOutcome::Kind::KeptAside, aside, problem};
        keepPrivate(folder, path);
        if (!openFile(path, problem))
            throw HistoryError(
                QCoreApplication::translate("lanquill::inbox::History", "无法建立消息记录 %1: %2")
                    .arg(path, problem)
                    .toStdString());
    }
    migrate();
}

History::~History() {
    closeFile();
}

QString History::defaultPath() {
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) +
           QStringLiteral("/history.sqlite");
}

bool History::openFile(const QString& path, QString& problem) {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection_);
    db.setDatabaseName(path);
    if (!db.open()) {
        problem = db.lastError().text();
        return false;
    }
    QSqlQuery check(db);
    // SQLite opens any file lazily; the first read of its pages tells a damaged one.
    if (!check.exec(QStringLiteral("PRAGMA quick_check")) || !check.next()) {
        problem = check.lastError().text();
        return false;
    }
    if (check.value(0).toString() != QLatin1String("ok")) {
        problem = check.value(0).toString();
        return false;
    }
    if (schemaVersion() > SchemaVersion) {
        problem = QStringLiteral("written by a newer Lanquill (version %1)").arg(schemaVersion());
        return false;
    }
    return true;
}

void History::closeFile() {
    {
        QSqlDatabase db = QSqlDatabase::database(connection_, false);
        if (db.isOpen())
            db.close();
    }
    QSqlDatabase::removeDatabase(connection_);
}

int History::schemaVersion() const {
    QSqlQuery query =
        run(QSqlDatabase::database(connection_), QStringLiteral("PRAGMA user_version"));
    return query.next() ? query.value(0).toInt() : 0;
}

void History::migrate() {
    QSqlDatabase db = QSqlDatabase::database(connection_);
    for (int version = schemaVersion(); version < SchemaVersion; ++version) {
        // Each step and its version number commit together: a step never half-applies.
        inTransaction(
            db, QCoreApplication::translate("lanquill::inbox::History", "消息记录升级失败"), [&] {
                for (const char* statement : Migrations[static_cast<std::size_t>(version)])
                    run(db, QString::fromUtf8(statement));
                run(db, QStringLiteral("PRAGMA user_version = %1").arg(version + 1));
                return 0;
            });
    }
}

bool History::add(const Message& m) {
    QSqlDatabase db = QSqlDatabase::database(connection_);
    return inTransaction(
               db, QCoreApplication::translate("lanquill::inbox::History", "无法写入消息记录"),
               [&] {
                   return run(db,
                              QStringLiteral(
                                  "INSERT INTO messages (id, direction, kind, peer, address, "
                                  "recipient, time, text, delivered, unread, sender, datagram) "
                                  "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) "
                                  // Only a second copy of an id is passed over; any other refusal
                                  // is an error, never a message silently dropped.
                                  "ON CONFLICT (id) DO NOTHING"),
                              {m.id, static_cast<int>(m.direction), kindName(m.kind),
                               peerKey(m.peer), notNull(m.address), notNull(m.to),
                               m.time.toMSecsSinceEpoch(), notNull(m.text), m.delivered ? 1 : 0,
                               m.unread ? 1 : 0, notNull(m.sender), m.datagram ? 1 : 0})
                       .numRowsAffected();
               }) > 0;
}

std::vector<Conversation> History::conversations() const {
    QSqlQuery query =
        run(QSqlDatabase::database(connection_),
            QStringLiteral("SELECT peer, MAX(time), COUNT(*), SUM(unread) FROM messages "
                           "GROUP BY peer ORDER BY MAX(time) DESC"));
    std::vector<Conversation> list;
    while (query.next())
        list.push_back({query.value(0).toString(),
                        QDateTime::fromMSecsSinceEpoch(query.value(1).toLongLong(), Qt::UTC),
                        query.value(2).toInt(), query.value(3).toInt()});
    return list;
}

std::vector<Message> History::conversation(const QString& peer) const {
    QSqlQuery query =
        run(QSqlDatabase::database(connection_),
            QString::fromLatin1(Columns) + QStringLiteral("WHERE peer = ? ORDER BY time, rowid"),
            {peerKey(peer)});
    return readMessages(query);
}

std::vector<Message> History::search(const QString& word) const {
    QSqlQuery query = run(QSqlDatabase::database(connection_),
                          QString::fromLatin1(Columns) +
                              QStringLiteral("WHERE text LIKE ? ESCAPE '\\' ORDER BY time, rowid"),
                          {containsPattern(word)});
    return readMessages(query);
}

std::vector<Message> History::unreadWithoutText() const {
    QSqlQuery query = run(QSqlDatabase::database(connection_),
                          QString::fromLatin1(ColumnsWithoutText) +
                              QStringLiteral("WHERE unread = 1 ORDER BY time, rowid"));
    return readMessages(query);
}

QString History::text(const QString& id) const {
    QSqlQuery query = run(QSqlDatabase::database(connection_),
                          QStringLiteral("SELECT text FROM messages WHERE id = ?"), {id});
    return query.next() ? query.value(0).toString() : QString();
}

int History::unreadCount() const {
    QSqlQuery query = run(QSqlDatabase::database(connection_),
                          QStringLiteral("SELECT COUNT(*) FROM messages WHERE unread = 1"));
    return query.next() ? query.value(0).toInt() : 0;
}

void History::markRead(const QString& id) {
    run(QSqlDatabase::database(connection_),
        QStringLiteral("UPDATE messages SET unread = 0 WHERE id = ?"), {id});
}

int History::deleteConversation(const QString& peer) {
    QSqlDatabase db = QSqlDatabase::database(connection_);
    return inTransaction(
        db, QCoreApplication::translate("lanquill::inbox::History", "无法删除消息记录"), [&] {
            return run(db, QStringLiteral("DELETE FROM messages WHERE peer = ?"), {peerKey(peer)})
                .numRowsAffected();
        });
}

} // namespace lanquill::inbox
