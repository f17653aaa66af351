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
        const QString typed = QStringLiteral("<b>午饭</b> & \"you\"");
        QTest::newRow("server reads markup")
            << QStringList{QStringLiteral("--markup"), QStringLiteral("--invoke")}
            << QStringLiteral("&lt;b&gt;午饭&lt;/b&gt; &amp; &quot;you&quot;");
        QTest::newRow("plain-text server") << QStringList{QStringLiteral("--invoke")} << typed;
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
        notifications.notify(QStringLiteral("ann (WG)"), QStringLiteral("<b>午饭</b> & \"you\""),
                             [&] { ++opened; });
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

    void noServer() {
        DBusNotifications notifications;
        bool opened = false;
        notifications.notify(QStringLiteral("x"), QStringLiteral("y"), [&] { opened = true; });
        // The bus answers that nobody serves the name; nothing shows and nothing breaks.
        QTest::qWait(500);
        QVERIFY(!opened);
        // A server that comes later is used by the next notification.
        const QString out = dir_.filePath(QStringLiteral("late.jsonl"));
        auto recorder = startRecorder(out, {});
        QVERIFY(recorder);
        notifications.notify(QStringLiteral("x"), QStringLiteral("y"), [] {});
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(out), 10000);
    }
};

QTEST_GUILESS_MAIN(tst_notifications)
#include "tst_notifications.moc"
