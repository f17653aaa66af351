// The message history: what opening finds (new, ours, damaged, older, newer), one copy per
// message id, and the reads the windows make.
#include "inbox/History.h"

#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <sys/stat.h>

using namespace lanquill::inbox;

namespace {

Message received(const QString& id, const QString& from, const QString& text, qint64 seconds) {
    Message m;
    m.id = id;
    m.peer = from;
    m.sender = from;
    m.address = QStringLiteral("10.0.0.2");
    m.to = QStringLiteral("PC-07");
    m.time = QDateTime::fromSecsSinceEpoch(1796000000 + seconds, Qt::UTC);
    m.text = text;
    m.unread = true;
    return m;
}

// A raw SQLite file made outside History, with `statements` run in it.
void writeSqlite(const QString& path, const QStringList& statements) {
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("raw"));
        db.setDatabaseName(path);
        QVERIFY(db.open());
        QSqlQuery query(db);
        for (const QString& statement : statements)
            QVERIFY2(query.exec(statement), qPrintable(statement));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("raw"));
}

void writeBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

} // namespace

class tst_History : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void opening_data();
    void opening();
    void oneCopyPerId();
    void conversationsSearchDelete();
};

using Prepare = std::function<void(const QString& path)>;
Q_DECLARE_METATYPE(Prepare)
Q_DECLARE_METATYPE(OpenOutcome::Kind)

void tst_History::opening_data() {
    QTest::addColumn<Prepare>("prepare");
    QTest::addColumn<OpenOutcome::Kind>("expected");
    QTest::addColumn<int>("messagesKept"); // in the database in use afterwards

    QTest::newRow("no file") << Prepare([](const QString&) {}) << OpenOutcome::Kind::Created << 0;
    QTest::newRow("ours, with a message") << Prepare([](const QString& path) {
        History(path).add(
            received(QStringLiteral("a"), QStringLiteral("PEER"), QStringLiteral("hi"), 0));
    }) << OpenOutcome::Kind::Opened << 1;
    QTest::newRow("empty SQLite file: migrated from version 0") << Prepare([](const QString& path) {
        writeSqlite(path, {QStringLiteral("CREATE TABLE x (y)")});
    }) << OpenOutcome::Kind::Opened << 0;
    QTest::newRow("version 1, with a message: migrated") << Prepare([](const QString& path) {
        writeSqlite(path,
                    {QStringLiteral("CREATE TABLE messages (id TEXT PRIMARY KEY NOT NULL, "
                                    "direction INTEGER NOT NULL, kind TEXT NOT NULL, peer TEXT "
                                    "NOT NULL, address TEXT NOT NULL, recipient TEXT NOT NULL, "
                                    "time INTEGER NOT NULL, text TEXT NOT NULL, delivered "
                                    "INTEGER NOT NULL, unread INTEGER NOT NULL)"),
                     QStringLiteral("INSERT INTO messages VALUES ('old', 0, 'direct', 'PEER', "
                                    "'10.0.0.2', 'PC-07', 0, 'hi', 1, 1)"),
                     QStringLiteral("PRAGMA user_version = 1")});
    }) << OpenOutcome::Kind::Opened << 1;
    QTest::newRow("not a database") << Prepare([](const QString& path) {
        writeBytes(path, QByteArray("this is not SQLite at all, just text\n").repeated(200));
    }) << OpenOutcome::Kind::KeptAside
                                    << 0;
    QTest::newRow("damaged pages") << Prepare([](const QString& path) {
        {
            History history(path);
            for (int i = 0; i < 300; ++i)
                history.add(received(QString::number(i), QStringLiteral("PEER"),
                                     QString(200, QLatin1Char('x')), i));
        }
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        file.seek(4096 * 3);
        file.write(QByteArray(4096 * 4, '\xA5'));
    }) << OpenOutcome::Kind::KeptAside
                                   << 0;
    QTest::newRow("written by a newer program") << Prepare([](const QString& path) {
        writeSqlite(path, {QStringLiteral("PRAGMA user_version = 99")});
    }) << OpenOutcome::Kind::KeptAside << 0;
}

void tst_History::opening() {
    QFETCH(Prepare, prepare);
    QFETCH(OpenOutcome::Kind, expected);
    QFETCH(int, messagesKept);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("data/history.sqlite"));
    QDir().mkpath(dir.filePath(QStringLiteral("data")));
    prepare(path);
    QByteArray before;
    if (QFile file(path); file.open(QIODevice::ReadOnly))
        before = file.readAll();

    History history(path);
    QCOMPARE(history.outcome().kind, expected);
    QCOMPARE(history.schemaVersion(), History::SchemaVersion);
    const std::vector<Message> kept = history.conversation(QStringLiteral("peer"));
    QCOMPARE(kept.size(), std::size_t(messagesKept));
    // A received message knows the name its sender gave, from whichever version it was stored.
    for (const Message& m : kept)
        QCOMPARE(m.sender.isEmpty(), m.direction == Direction::Sent);
    if (expected == OpenOutcome::Kind::KeptAside) {
        // The unusable file is kept byte for byte beside the new one.
        QFile aside(history.outcome().keptAsidePath);
        QVERIFY(aside.open(QIODevice::ReadOnly));
        QCOMPARE(aside.readAll(), before);
        QVERIFY(!history.outcome().reason.isEmpty());
    }
    // Whatever was found, the database in use takes new messages.
    QVERIFY(history.add(
        received(QStringLiteral("new"), QStringLiteral("peer"), QStringLiteral("x"), 1)));
    // Only the user reads the messages: the folder and the file in use were made or left
    // readable by others (as mkpath and SQLite make them), and are no longer.
    struct stat info {};
    QCOMPARE(::stat(QFile::encodeName(dir.filePath(QStringLiteral("data"))).constData(), &info), 0);
    QCOMPARE(info.st_mode & 0777, mode_t(0700));
    QCOMPARE(::stat(QFile::encodeName(path).constData(), &info), 0);
    QCOMPARE(info.st_mode & 0777, mode_t(0600));
}

void tst_History::oneCopyPerId() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("history.sqlite"));
    {
        History history(path);
        QVERIFY(history.add(
            received(QStringLiteral("m1"), QStringLiteral("PEER"), QStringLiteral("first"), 0)));
        QVERIFY(!history.add(
            received(QStringLiteral("m1"), QStringLiteral("PEER"), QStringLiteral("again"), 5)));
    }
    // Also across a restart, the way lanquilld resends what was not acknowledged.
    History history(path);
    QVERIFY(!history.add(
        received(QStringLiteral("m1"), QStringLiteral("PEER"), QStringLiteral("again"), 5)));
    const auto messages = history.conversation(QStringLiteral("PEER"));
    QCOMPARE(messages.size(), std::size_t(1));
    QCOMPARE(messages[0].text, QStringLiteral("first"));
    QCOMPARE(history.unreadCount(), 1);
    history.markRead(QStringLiteral("m1"));
    QCOMPARE(history.unreadCount(), 0);

    // Fields lanquilld may leave out are stored empty: the message is kept, not passed over.
    Message bare = received(QStringLiteral("m2"), QStringLiteral("PEER"), QString(), 9);
    bare.address = QString();
    bare.to = QString();
    QVERIFY(history.add(bare));
    QCOMPARE(history.conversation(QStringLiteral("PEER")).size(), std::size_t(2));
    // A message that breaks the table's rules is an error, not a silent skip.
    Message noId = bare;
    noId.id = QString();
    noId.time = QDateTime();
    QVERIFY_THROWS_EXCEPTION(HistoryError, history.add(noId));
}

void tst_History::conversationsSearchDelete() {
    QTemporaryDir dir;
    History history(dir.filePath(QStringLiteral("history.sqlite")));
    history.add(
        received(QStringLiteral("1"), QStringLiteral("alpha"), QStringLiteral("午饭 at noon"), 10));
    history.add(received(QStringLiteral("2"), QStringLiteral("BETA"),
                         QStringLiteral("100% sure_thing"), 20));
    Message sent =
        received(QStringLiteral("3"), QStringLiteral("ALPHA"), QStringLiteral("ok, 午饭"), 5);
    sent.direction = Direction::Sent;
    sent.delivered = false;
    sent.unread = false;
    history.add(sent);

    const auto conversations = history.conversations();
    QCOMPARE(conversations.size(), std::size_t(2));
    QCOMPARE(conversations[0].peer, QStringLiteral("BETA")); // the latest first
    QCOMPARE(conversations[1].messages, 2);                  // "alpha" and "ALPHA" are one computer
    QCOMPARE(conversations[1].unread, 1);

    const auto alpha = history.conversation(QStringLiteral("Alpha"));
    QCOMPARE(alpha.size(), std::size_t(2));
    QCOMPARE(alpha[0].id, QStringLiteral("3")); // time order
    QCOMPARE(alpha[0].direction, Direction::Sent);
    QVERIFY(!alpha[0].delivered);

    const struct {
        const char* word;
        QStringList ids;
    } searches[] = {
        {"午饭", {QStringLiteral("3"), QStringLiteral("1")}},
        {"NOON", {QStringLiteral("1")}},
        {"%", {QStringLiteral("2")}}, // literal, not a wildcard
        {"_", {QStringLiteral("2")}},
        {"absent", {}},
    };
    for (const auto& s : searches) {
        QStringList ids;
        for (const Message& m : history.search(QString::fromUtf8(s.word)))
            ids << m.id;
        QCOMPARE(ids, s.ids);
    }

    QCOMPARE(history.deleteConversation(QStringLiteral("alpha")), 2);
    QCOMPARE(history.conversations().size(), std::size_t(1));
    QCOMPARE(history.search(QStringLiteral("午饭")).size(), std::size_t(0));
}

QTEST_GUILESS_MAIN(tst_History)
#include "tst_History.moc"
