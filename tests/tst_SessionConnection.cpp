// The inbox's connection to lanquilld, against a session socket of the test's own: hello first,
// each message stored before it is acknowledged, resent ones kept once, bad lines refused without
// an acknowledgement, reconnection after lanquilld restarts, and why receiving is off.
#include "inbox/History.h"
#include "inbox/SessionConnection.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using namespace lanquill::inbox;

namespace {

QByteArray messageLine(const QString& id, const QString& text) {
    return QJsonDocument(
               QJsonObject{{QStringLiteral("id"), id},
                           {QStringLiteral("time"), QStringLiteral("2026-12-08T10:00:00Z")},
                           {QStringLiteral("kind"), QStringLiteral("direct")},
                           {QStringLiteral("from"), QStringLiteral("PEER")},
                           {QStringLiteral("address"), QStringLiteral("10.0.0.2")},
                           {QStringLiteral("to"), QStringLiteral("PC-07")},
                           {QStringLiteral("text"), text}})
               .toJson(QJsonDocument::Compact) +
           '\n';
}

// lanquilld's side: accepts one client at a time, records the lines it receives.
struct FakeReceiver {
    explicit FakeReceiver(const QString& path) : path_(path) { listen(); }
    void listen() {
        QLocalServer::removeServer(path_);
        if (!server.listen(path_))
            qFatal("cannot listen on %s", qPrintable(path_));
    }
    QLocalSocket* client(int timeoutMs = 5000) {
        // The client runs in this thread: its events must go on while the server waits.
        QDeadlineTimer deadline(timeoutMs);
        while (!server.hasPendingConnections() && !deadline.hasExpired())
            QTest::qWait(10);
        return server.nextPendingConnection();
    }
    // The next line from `socket`, waiting for it while the client's events run.
    // An empty line when none came in 5 s.
    static QByteArray lineFrom(QLocalSocket* socket) {
        QDeadlineTimer deadline(5000);
        while (!socket->canReadLine() && !deadline.hasExpired())
            QTest::qWait(10);
        return socket->readLine().trimmed();
    }
    QLocalServer server;
    QString path_;
};

QByteArray ack(const QString& id) {
    return QJsonDocument(QJsonObject{{QStringLiteral("ack"), id}}).toJson(QJsonDocument::Compact);
}

} // namespace

class tst_SessionConnection : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void storedThenAcknowledgedOnce();
    void badLinesRefused_data();
    void badLinesRefused();
    void statusLines();
    void reconnectsAndResent();
    void receivingOff();
    void storeFailureNotAcknowledged();

private:
    std::unique_ptr<QTemporaryDir> dir_;
    QString socketPath_;
};

void tst_SessionConnection::init() {
    dir_ = std::make_unique<QTemporaryDir>();
    socketPath_ = dir_->filePath(QStringLiteral("session.sock"));
    qputenv("LANQUILL_SESSION_SOCKET", socketPath_.toUtf8());
}

void tst_SessionConnection::storedThenAcknowledgedOnce() {
    FakeReceiver receiver(socketPath_);
    History history(dir_->filePath(QStringLiteral("history.sqlite")));
    int storedWhenAcked = -1;
    SessionConnection connection([&](const Message& m) { return history.add(m); });
    QSignalSpy arrived(&connection, &SessionConnection::arrived);
    QSignalSpy problems(&connection, &SessionConnection::problem);
    connection.start();
    QLocalSocket* client = receiver.client();
    QVERIFY(client);
    QCOMPARE(FakeReceiver::lineFrom(client), helloLine().trimmed());
    // lanquilld's answer comes first; it is no message and no problem.
    client->write(R"({"hello":1,"computer":"PC01","workgroup":"WORKGROUP","user":"ALICE"})"
                  "\n");

    client->write(messageLine(QStringLiteral("m1"), QStringLiteral("你好 <b>bold</b>")));
    client->write(messageLine(QStringLiteral("m1"), QStringLiteral("你好 <b>bold</b>")));
    client->write(messageLine(QStringLiteral("m2"), QStringLiteral("second"))
                      .replace("{", R"({"datagram":true,)")
                      .replace("direct", "workgroup")
                      .replace("10:00:00Z", "11:00:00.250+01:00"));
    for (const char* id : {"m1", "m1", "m2"}) {
        QCOMPARE(FakeReceiver::lineFrom(client), ack(QString::fromLatin1(id)));
        if (storedWhenAcked < 0)
            storedWhenAcked = int(history.conversation(QStringLiteral("PEER")).size());
    }
    QVERIFY(storedWhenAcked >= 1); // the first acknowledgement came after the store
    QCOMPARE(arrived.count(), 2);  // the resent copy is not a new arrival
    const auto kept = history.conversation(QStringLiteral("PEER"));
    QCOMPARE(kept.size(), std::size_t(2));
    QCOMPARE(kept[0].text, QStringLiteral("你好 <b>bold</b>"));
    QCOMPARE(kept[0].address, QStringLiteral("10.0.0.2"));
    QVERIFY(kept[0].unread);
    // Whether it came in a datagram, kept for whenever it is shown again.
    QCOMPARE(std::pair(kept[0].datagram, kept[1].datagram), std::pair(false, true));
    QCOMPARE(std::pair(kept[0].kind, kept[1].kind), std::pair(Kind::Direct, Kind::Workgroup));
    QCOMPARE(kept[1].time, QDateTime(QDate(2026, 12, 8), QTime(10, 0, 0, 250), Qt::UTC));
    QCOMPARE(problems.count(), 0);
}

void tst_SessionConnection::badLinesRefused_data() {
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("not JSON") << QByteArray("{\"id\": \n");
    QTest::newRow("an array") << QByteArray("[1,2]\n");
    QTest::newRow("lanquilld's error") << QByteArray(R"({"error":"unknown request"})"
                                                     "\n");
    // One the session protocol refuses (its rules have their own table).
    QTest::newRow("no address: nothing to know the sender by")
        << messageLine(QStringLiteral("a"), QStringLiteral("x"))
               .replace(R"("address":"10.0.0.2",)", "");
}

void tst_SessionConnection::badLinesRefused() {
    QFETCH(QByteArray, line);
    FakeReceiver receiver(socketPath_);
    std::vector<QString> stored;
    SessionConnection connection([&](const Message& m) {
        stored.push_back(m.id);
        return true;
    });
    QSignalSpy problems(&connection, &SessionConnection::problem);
    connection.start();
    QLocalSocket* client = receiver.client();
    QVERIFY(client);
    FakeReceiver::lineFrom(client); // hello
    client->write(line);
    client->write(messageLine(QStringLiteral("good"), QStringLiteral("after")));
    // The bad line gets no acknowledgement; the good one after it does.
    QCOMPARE(FakeReceiver::lineFrom(client), ack(QStringLiteral("good")));
    QCOMPARE(problems.count(), 1);
    QCOMPARE(stored, std::vector<QString>{QStringLiteral("good")});
}

void tst_SessionConnection::statusLines() {
    FakeReceiver receiver(socketPath_);
    SessionConnection connection([](const Message&) { return true; });
    connection.start();
    QLocalSocket* client = receiver.client();
    QVERIFY(client);
    const struct {
        const char* line;
        ReceiverState state;
        const char* reason;
    } cases[] = {
        {R"({"status":"receiving"})", ReceiverState::Receiving, ""},
        {R"({"status":"no-139","reason":"smbd holds port 139"})", ReceiverState::Port139Held,
         "smbd holds port 139"},
        {R"({"status":"spool-unwritable","reason":"Read-only file system"})",
         ReceiverState::SpoolUnwritable, "Read-only file system"},
        {R"({"status":"name-lost","reason":"PC-07<00> defended by 10.0.0.9"})",
         ReceiverState::NameLost, "PC-07<00> defended by 10.0.0.9"},
        {R"({"status":"receiving"})", ReceiverState::Receiving, ""},
        {R"({"status":"spool-full"})", ReceiverState::Unavailable, "spool-full"},
    };
    for (const auto& c : cases) {
        client->write(QByteArray(c.line) + '\n');
        QTRY_COMPARE(connection.status().state, c.state);
        QCOMPARE(connection.status().reason, QString::fromUtf8(c.reason));
    }
}

void tst_SessionConnection::reconnectsAndResent() {
    auto receiver = std::make_unique<FakeReceiver>(socketPath_);
    History history(dir_->filePath(QStringLiteral("history.sqlite")));
    SessionConnection connection([&](const Message& m) { return history.add(m); });
    connection.setInstalledCheck([] { return true; });
    connection.start();
    QLocalSocket* client = receiver->client();
    QVERIFY(client);
    FakeReceiver::lineFrom(client);
    client->write(messageLine(QStringLiteral("r1"), QStringLiteral("before the restart")));
    QCOMPARE(FakeReceiver::lineFrom(client), ack(QStringLiteral("r1")));

    // lanquilld restarts: gone for a moment, then back with what it did not see acknowledged.
    receiver.reset();
    QTRY_COMPARE_WITH_TIMEOUT(connection.status().state, ReceiverState::NotRunning, 5000);
    receiver = std::make_unique<FakeReceiver>(socketPath_);
    client = receiver->client(10000);
    QVERIFY2(client, "no reconnection");
    QCOMPARE(FakeReceiver::lineFrom(client), helloLine().trimmed());
    client->write(messageLine(QStringLiteral("r1"), QStringLiteral("before the restart")));
    client->write(messageLine(QStringLiteral("r2"), QStringLiteral("after")));
    QCOMPARE(FakeReceiver::lineFrom(client), ack(QStringLiteral("r1")));
    QCOMPARE(FakeReceiver::lineFrom(client), ack(QStringLiteral("r2")));
    QCOMPARE(history.conversation(QStringLiteral("PEER")).size(), std::size_t(2));
    QCOMPARE(connection.reconnectDelayMs(), SessionConnection::FirstDelayMs);
}

void tst_SessionConnection::receivingOff() {
    const struct {
        bool socketFile;
        bool installed;
        ReceiverState state;
    } cases[] = {
        {false, false, ReceiverState::NotInstalled},
        {false, true, ReceiverState::NotRunning},
        {true, false, ReceiverState::NotRunning}, // a socket nobody listens on
    };
    for (const auto& c : cases) {
        QFile::remove(socketPath_);
        if (c.socketFile) {
            QFile dead(socketPath_);
            QVERIFY(dead.open(QIODevice::WriteOnly));
        }
        SessionConnection connection([](const Message&) { return true; });
        connection.setInstalledCheck([&] { return c.installed; });
        connection.start();
        QTRY_COMPARE(connection.status().state, c.state);
        // The waits grow while nobody answers, to a bound.
        QVERIFY(connection.reconnectDelayMs() > SessionConnection::FirstDelayMs);
        QVERIFY(connection.reconnectDelayMs() <= SessionConnection::LongestDelayMs);
    }
}

void tst_SessionConnection::storeFailureNotAcknowledged() {
    FakeReceiver receiver(socketPath_);
    SessionConnection connection([](const Message&) -> bool { throw HistoryError("disk full"); });
    QSignalSpy problems(&connection, &SessionConnection::problem);
    connection.start();
    QLocalSocket* client = receiver.client();
    QVERIFY(client);
    FakeReceiver::lineFrom(client);
    client->write(messageLine(QStringLiteral("f1"), QStringLiteral("x")));
    QTRY_COMPARE(client->state(), QLocalSocket::UnconnectedState);
    QVERIFY(!client->canReadLine());
    QCOMPARE(problems.count(), 1);
    QCOMPARE(problems.at(0).at(0).toString(), QStringLiteral("disk full"));
}

QTEST_GUILESS_MAIN(tst_SessionConnection)
#include "tst_SessionConnection.moc"
