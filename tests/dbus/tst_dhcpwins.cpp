// The WINS server from the DHCP lease, as NetworkManager reports it on the system bus: a fake
// NetworkManager on this test's private bus answers from a state file each case rewrites.
#include "DBusTestBus.h"
#include "platform/WinsServer.h"
#include "protocol/Addresses.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using lanquill::platform::configuredWinsServer;

namespace {

const QString Connection1 = QStringLiteral("/org/freedesktop/NetworkManager/ActiveConnection/1");
const QString Connection2 = QStringLiteral("/org/freedesktop/NetworkManager/ActiveConnection/2");

} // namespace

class TestDhcpWins : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QProcess networkManager_;

    bool write(const QString& name, const QByteArray& text) {
        QFile file(dir_.filePath(name));
        return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
    }

private Q_SLOTS:
    void initTestCase() {
        if (const QString why = lanquill::testsupport::dbusTestsCannotRun(); !why.isEmpty())
            QSKIP(qPrintable(why));
        QVERIFY(dir_.isValid());
        QVERIFY(QDir(dir_.path()).mkpath("home/.smb"));
        QVERIFY(write("state.json", "{}"));
        networkManager_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        networkManager_.start(QStringLiteral(LANQUILL_PYTHON),
                              {QStringLiteral(LANQUILL_FAKE_NM), dir_.filePath("state.json")});
        QVERIFY(networkManager_.waitForReadyRead(10000) &&
                networkManager_.readAll().contains("ready"));
        // The program asks the system bus; here that is this test's own bus. The home's
        // smb.conf stands in for the machine's, which may name a server of its own.
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", qgetenv("DBUS_SESSION_BUS_ADDRESS"));
        qputenv("HOME", dir_.filePath("home").toUtf8());
        qunsetenv("SMB_CONF_PATH");
    }

    void cleanupTestCase() {
        networkManager_.kill();
        networkManager_.waitForFinished();
    }

    void fromTheLease_data() {
        QTest::addColumn<QByteArray>("state");
        QTest::addColumn<QByteArray>("smbConf");
        QTest::addColumn<QString>("server");
        const QByteArray lease1 = "\"" + Connection1.toUtf8() +
                                  "\": {\"netbios_name_servers\": \"10.1.1.1 10.1.1.2\", "
                                  "\"requested_netbios_name_servers\": \"1\"}";
        const QByteArray lease2 =
            "\"" + Connection2.toUtf8() + "\": {\"netbios_name_servers\": \"10.2.2.2\"}";
        const QByteArray both =
            "\"active\": [\"" + Connection1.toUtf8() + "\", \"" + Connection2.toUtf8() + "\"]";
        QTest::newRow("the primary connection's first server")
            << "{\"primary\": \"" + Connection1.toUtf8() + "\", " + both + ", \"leases\": {" +
                   lease1 + ", " + lease2 + "}}"
            << QByteArray() << "10.1.1.1";
        QTest::newRow("no primary: the first active connection with one")
            << "{\"primary\": \"/\", " + both + ", \"leases\": {" + lease2 + "}}" << QByteArray()
            << "10.2.2.2";
        QTest::newRow("a lease without option 44")
            << "{\"primary\": \"" + Connection1.toUtf8() + "\", \"leases\": {\"" +
                   Connection1.toUtf8() + "\": {\"domain_name_servers\": \"10.9.9.9\"}}}"
            << QByteArray() << "";
        QTest::newRow("a value that is no address")
            << "{\"primary\": \"" + Connection1.toUtf8() + "\", \"leases\": {\"" +
                   Connection1.toUtf8() + "\": {\"netbios_name_servers\": \"wins.example\"}}}"
            << QByteArray() << "";
        QTest::newRow("no active connection") << QByteArray("{}") << QByteArray() << "";
        QTest::newRow("smb.conf's server comes first")
            << "{\"primary\": \"" + Connection1.toUtf8() + "\", \"leases\": {" + lease1 + "}}"
            << QByteArray("[global]\nwins server = 10.3.3.3\n") << "10.3.3.3";
    }

    void fromTheLease() {
        QFETCH(QByteArray, state);
        QFETCH(QByteArray, smbConf);
        QFETCH(QString, server);
        QVERIFY(write("state.json", state));
        QVERIFY(write("home/.smb/smb.conf", smbConf));
        const auto found = configuredWinsServer();
        QCOMPARE(found ? QString::fromStdString(lanquill::protocol::formatIpv4(*found)) : QString(),
                 server);
    }

    // Without NetworkManager (no bus at that address) there is simply no server.
    void withoutNetworkManager() {
        QVERIFY(write("home/.smb/smb.conf", ""));
        const QByteArray bus = qgetenv("DBUS_SYSTEM_BUS_ADDRESS");
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + dir_.filePath("no-bus").toUtf8());
        const auto found = configuredWinsServer();
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", bus);
        QVERIFY(!found);
    }
};

QTEST_GUILESS_MAIN(TestDhcpWins)
#include "tst_dhcpwins.moc"
