// Desktop notifications over a real session bus: the Notify call a notification server receives
// (application, icon, category, actions, the body escaped exactly when the server reads markup),
// the default action reaching back, and a bus without a notification server.
#include "DBusTestBus.h"
#include "desktop/DBusNotifications.h"

#include <QDBusConnection>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <map>

using lanquill::desktop::DBusNotifications;

class tst_notifications : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir_;

    // The recorder serves until this goes.
    struct Recorder : QProcess {
        ~Recorder() override {
            kill();
            waitForFinished();
        }
    };
    std::unique_ptr<Recorder> startRecorder(const QString& out, const QStringList& options) {
        auto recorder = std::make_unique<Recorder>();
        recorder->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        recorder->start(QStringLiteral(LANQUILL_PYTHON),
                        QStringList{QStringLiteral(LANQUILL_RECORDER), out} + options);
        if (!recorder->waitForReadyRead(10000) || !recorder->readAll().contains("ready"))
            return nullptr;
        return recorder;
    }

private Q_SLOTS:
    void initTestCase() {
        if (const QString why = lanquill::testsupport::dbusTestsCannotRun(); !why.isEmpty())
            QSKIP(qPrintable(why));
    }

    void notifyCall_data() {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("expectedBody");
        QTest::newRow("server reads markup")
            << QStringList{QStringLiteral("--markup"), QStringLiteral("--invoke")}
            << QStringLiteral("&lt;b&gt;午饭&lt;/b&gt; &lt;a href=&quot;http://x.test/&quot;&gt;x"
                              "&lt;/a&gt; &lt;img src=&quot;file:///etc/hostname&quot;&gt; &amp; "
                              "&quot;you&quot;\uFFFDthe rest\nline 2\ttab");
        QTest::newRow("plain-text server")
            << QStringList{QStringLiteral("--invoke")}
            << QStringLiteral("<b>午饭</b> <a href=\"http://x.test/\">x</a> <img "
                              "src=\"file:///etc/hostname\"> & \"you\"\uFFFDthe rest\nline 2\ttab");
    }

    void notifyCall() {
        QFETCH(QStringList, options);
        QFETCH(QString, expectedBody);
        const QString out =
            dir_.filePath(QString::fromLatin1(QTest::currentDataTag()) + QStringLiteral(".jsonl"));
        auto recorder = startRecorder(out, options);
        QVERIFY2(recorder, "the recording notification server did not start");

        DBusNotifications notifications;
        int opened = 0;
        // Markup, and a NUL that would end the text on the bus, and Windows' line break.
        notifications.notify(QStringLiteral("ann (WG)"),
                             QStringLiteral("<b>午饭</b> <a href=\"http://x.test/\">x</a> <img "
                                            "src=\"file:///etc/hostname\"> & \"you\"\0the "
                                            "rest\r\nline 2\ttab"),
                             [&] { ++opened; }, {});
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(out), 10000);
        QFile file(out);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QJsonObject call = QJsonDocument::fromJson(file.readLine()).object();
        QCOMPARE(call.value(QStringLiteral("app_name")).toString(), QStringLiteral("Lanquill"));
        QCOMPARE(call.value(QStringLiteral("app_icon")).toString(), QStringLiteral("lanquill"));
        QCOMPARE(call.value(QStringLiteral("summary")).toString(), QStringLiteral("ann (WG)"));
        QCOMPARE(call.value(QStringLiteral("body")).toString(), expectedBody);
        QCOMPARE(call.value(QStringLiteral("hints")).toObject().value(QStringLiteral("category")),
                 QJsonValue(QStringLiteral("im.received")));
        QCOMPARE(call.value(QStringLiteral("actions")).toArray().first().toString(),
                 QStringLiteral("default"));
        // The server's default action comes back as the window opening.
        QTRY_COMPARE_WITH_TIMEOUT(opened, 1, 5000);
        QVERIFY(file.atEnd());
    }

    // A burst raised under one thread, faster than the server answers, is one notification on
    // the server: each later call replaces the first, the last one's text stays, and only the
    // first sounds. Another thread is a notification of its own.
    void burstIsOneNotification() {
        const QString out = dir_.filePath(QStringLiteral("burst.jsonl"));
        auto recorder = startRecorder(out, {});
        QVERIFY(recorder);
        DBusNotifications notifications;
        for (int i = 1; i <= 8; ++i)
            notifications.notify(QStringLiteral("ann (%1)").arg(i), QStringLiteral("m"), [] {},
                                 {QStringLiteral("ANN/1"), i == 1});
        notifications.notify(QStringLiteral("bob"), QStringLiteral("m"), [] {},
                             {QStringLiteral("BOB/1"), true});
        const auto calls = [&] {
            std::vector<QJsonObject> list;
            QFile file(out);
            if (file.open(QIODevice::ReadOnly))
                while (!file.atEnd())
                    list.push_back(QJsonDocument::fromJson(file.readLine()).object());
            return list;
        };
        const auto lastSummaryIs = [&](const QString& summary) {
            for (const QJsonObject& call : calls()) {
                if (call.value(QStringLiteral("summary")).toString() == summary)
                    return true;
            }
            return false;
        };
        QTRY_VERIFY_WITH_TIMEOUT(lastSummaryIs(QStringLiteral("ann (8)")), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(lastSummaryIs(QStringLiteral("bob")), 10000);
        QTest::qWait(300); // nothing more is on its way
        std::map<QString, std::vector<QJsonObject>> byThread;
        for (const QJsonObject& call : calls())
            byThread[call.value(QStringLiteral("summary")).toString().left(3)].push_back(call);
        const auto& ann = byThread[QStringLiteral("ann")];
        QVERIFY(ann.size() >= 2 && ann.size() <= 8);
        QCOMPARE(ann.front().value(QStringLiteral("replaces_id")).toInt(), 0);
        const QJsonObject firstHints = ann.front().value(QStringLiteral("hints")).toObject();
        QCOMPARE(firstHints.value(QStringLiteral("sound-name")).toString(),
                 QStringLiteral("message-new-instant"));
        // The recorder numbers its notifications from 1; the first call of the run was ann's.
        for (std::size_t i = 1; i < ann.size(); ++i) {
            QCOMPARE(ann[i].value(QStringLiteral("replaces_id")).toInt(), 1);
            const QJsonObject hints = ann[i].value(QStringLiteral("hints")).toObject();
            QVERIFY(!hints.contains(QStringLiteral("sound-name")));
            QCOMPARE(hints.value(QStringLiteral("suppress-sound")).toString(), QStringLiteral("1"));
        }
        QCOMPARE(ann.back().value(QStringLiteral("summary")).toString(), QStringLiteral("ann (8)"));
        const auto& bob = byThread[QStringLiteral("bob")];
        QCOMPARE(bob.size(), std::size_t(1));
        QCOMPARE(bob.front().value(QStringLiteral("replaces_id")).toInt(), 0);
    }

    void noServer() {
        DBusNotifications notifications;
        bool opened = false;
        notifications.notify(QStringLiteral("x"), QStringLiteral("y"), [&] { opened = true; }, {});
        // The bus answers that nobody serves the name; nothing shows and nothing breaks.
        QTest::qWait(500);
        QVERIFY(!opened);
        // A server that comes later is used by the next notification.
        const QString out = dir_.filePath(QStringLiteral("late.jsonl"));
        auto recorder = startRecorder(out, {});
        QVERIFY(recorder);
        notifications.notify(QStringLiteral("x"), QStringLiteral("y"), [] {}, {});
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(out), 10000);
    }
};

QTEST_GUILESS_MAIN(tst_notifications)
#include "tst_notifications.moc"
