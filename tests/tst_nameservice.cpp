// The NetBIOS name this machine goes by on the network, from its host name; the WINS server
// Samba's client configuration names.
#include "platform/NameService.h"
#include "platform/WinsServer.h"
#include "protocol/Addresses.h"
#include "protocol/OemCodePage.h"

#include <QtTest>

using namespace lanquill::platform;
using namespace lanquill::protocol;

class TestNameService : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void ownNameIsANetbiosName() {
        const std::string own = ownNetbiosName();
        QVERIFY(!own.empty() && own.size() <= 15);
        QCOMPARE(oem::upperAscii(own), own);
    }

    void winsServerFromSmbConf_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("server"); // empty: none
        QTest::newRow("plain") << QByteArray("[global]\n  wins server = 10.0.0.5\n") << "10.0.0.5";
        QTest::newRow("no section yet") << QByteArray("wins server = 10.0.0.5\n") << "10.0.0.5";
        QTest::newRow("case, blanks, underscore")
            << QByteArray("[ GLOBAL ]\r\nWINS_Server=10.0.0.6\r\n") << "10.0.0.6";
        QTest::newRow("first of a list")
            << QByteArray("[global]\nwins server = 10.0.0.7, 10.0.0.8\n") << "10.0.0.7";
        QTest::newRow("tagged") << QByteArray(
                                       "[global]\nwins server = floor1:10.0.0.9 floor2:10.1.0.9\n")
                                << "10.0.0.9";
        QTest::newRow("continued line")
            << QByteArray("[global]\n  wins server = \\\n    10.0.0.10\n") << "10.0.0.10";
        QTest::newRow("later wins")
            << QByteArray("[global]\nwins server = 10.0.0.1\nwins server = 10.0.0.2\n")
            << "10.0.0.2";
        QTest::newRow("share section")
            << QByteArray("[global]\n[share]\nwins server = 10.0.0.3\n") << "";
        QTest::newRow("commented")
            << QByteArray("[global]\n# wins server = 10.0.0.4\n; wins server = 10.0.0.4\n") << "";
        QTest::newRow("wins support is not a server")
            << QByteArray("[global]\nwins support = yes\nwins proxy = 10.0.0.4\n") << "";
        QTest::newRow("a DNS name") << QByteArray("[global]\nwins server = wins.example\n") << "";
        QTest::newRow("broadcast address")
            << QByteArray("[global]\nwins server = 255.255.255.255\n") << "";
        QTest::newRow("empty value clears")
            << QByteArray("[global]\nwins server = 10.0.0.1\nwins server =\n") << "";
        QTest::newRow("no newline at end, NUL inside")
            << QByteArray("[global]\n\0\nwins server = 10.0.0.11", 34) << "10.0.0.11";
        QTest::newRow("backslash at the very end")
            << QByteArray("[global]\nwins server = \\") << "";
    }

    void winsServerFromSmbConf() {
        QFETCH(QByteArray, text);
        QFETCH(QString, server);
        const auto found = lanquill::platform::winsServerFromSmbConf(
            std::string_view(text.constData(), static_cast<std::size_t>(text.size())));
        QCOMPARE(found ? QString::fromStdString(formatIpv4(*found)) : QString(), server);
    }

    // The files libsmbclient reads decide, so that lookups and the browse list agree:
    // ~/.smb/smb.conf replaces the system's file; SMB_CONF_PATH (Samba's tools) comes first;
    // a missing file names none.
    void configuredWinsServerReadsTheClientsFiles() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const auto write = [&](const QString& name, const QByteArray& text) {
            QFile file(dir.filePath(name));
            return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
        };
        QVERIFY(QDir(dir.path()).mkpath("home/.smb"));
        QVERIFY(write("smb.conf", "[global]\n  workgroup = LQWG\n  wins server = 10.9.8.7\n"));
        QVERIFY(write("home/.smb/smb.conf", "wins server = 10.1.2.3\n[share]\n"));
        const QByteArray home = qgetenv("HOME");
        const auto serverWith = [](const QString& smbConfPath) {
            if (smbConfPath.isEmpty())
                qunsetenv("SMB_CONF_PATH");
            else
                qputenv("SMB_CONF_PATH", smbConfPath.toUtf8());
            const auto server = configuredWinsServer();
            return server ? QString::fromStdString(formatIpv4(*server)) : QString();
        };
        qputenv("HOME", dir.filePath("home").toUtf8());
        const QString named = serverWith(dir.filePath("smb.conf"));
        const QString missing = serverWith(dir.filePath("missing.conf"));
        const QString users = serverWith({});
        qputenv("HOME", home);
        qunsetenv("SMB_CONF_PATH");
        QCOMPARE(named, QString("10.9.8.7"));
        QCOMPARE(missing, QString());
        QCOMPARE(users, QString("10.1.2.3"));
    }
};

QTEST_GUILESS_MAIN(TestNameService)
#include "tst_nameservice.moc"
