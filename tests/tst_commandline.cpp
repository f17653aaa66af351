// The WinExec layer and lanquill-net's command line: that `net send /domain:NAME text` reaches
// lanquill-net as the arguments given (a blank in the workgroup, the text exactly as typed), that
// only `net` is ever started and never through a shell, and
// that lanquill-net answers bad input with a clear error before touching the network.
#include "platform/DetachedCommandRunner.h"
#include "protocol/NetBios.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using namespace lanquill;
using namespace lanquill::protocol;
using platform::CommandLine;

namespace {

const QString NetProgram = QStringLiteral(LANQUILL_BIN_DIR) + "/lanquill-net";

// lanquill-net's exit status and error output for `arguments`.
std::pair<int, QString> runNet(const QStringList& arguments) {
    QProcess net;
    net.start(NetProgram, arguments);
    if (!net.waitForFinished(10000))
        return {-1, "did not finish"};
    return {net.exitStatus() == QProcess::NormalExit ? net.exitCode() : -1,
            QString::fromUtf8(net.readAllStandardError())};
}

QString waitForFile(const QString& path, int waitMs = 5000) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < waitMs) {
        QFile file(path);
        if (file.exists() && file.open(QIODevice::ReadOnly)) {
            const QByteArray content = file.readAll();
            if (content.endsWith("END\n"))
                return QString::fromUtf8(content);
        }
        QThread::msleep(20);
    }
    return {};
}

} // namespace

class TestCommandLine : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void refusedCommands() {
        QTemporaryDir folder;
        platform::DetachedCommandRunner runner(folder.path().toStdString());
        const std::string ran = "touch " + folder.path().toStdString() + "/ran";
        // Only `net` maps to a program; other words are never run, in no way.
        QVERIFY(!runner.start({"sh", {"-c", ran}}));
        QVERIFY(!runner.start({"/bin/sh", {}}));
        QVERIFY(!runner.start({"lanquill-net", {"send", "/domain:WG", "x"}}));
        QVERIFY(!runner.start({}));
        // `net` whose program is missing: not started, and said so.
        QVERIFY(!runner.start({"net", {"send", "/domain:WG", "x"}}));
        QVERIFY(!QFile::exists(folder.path() + "/ran"));
    }

    void startsDetachedWithArgumentsIntact() {
        // A stand-in lanquill-net that records its arguments, one per line between brackets.
        QTemporaryDir folder;
        const QString out = folder.path() + "/args.txt";
        QFile script(folder.path() + "/lanquill-net");
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write(("#!/bin/sh\nfor a in \"$@\"; do printf '[%s]\\n' \"$a\"; done > '" + out +
                      ".tmp'\nread line; echo \"stdin:$line\" >> '" + out + ".tmp'\n" +
                      "echo END >> '" + out + ".tmp'\nmv '" + out + ".tmp' '" + out + "'\n")
                         .toUtf8());
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

        platform::DetachedCommandRunner runner(folder.path().toStdString());
        // An argument with a zero byte could not reach the program whole: nothing starts.
        QVERIFY(!runner.start({"net", {"send", "/domain:WG", std::string("a\0b", 3)}}));
        QVERIFY(runner.start({"NET", {"send", "/domain:W G", "你好 \"x\"\r\n$(id)"}}));
        const QString recorded = waitForFile(out);
        QCOMPARE(recorded, QString::fromUtf8("[send]\n[/domain:W G]\n[你好 \"x\"\r\n$(id)]\n"
                                             "stdin:\nEND\n"));
    }

    void runsToTheEndWithItsOwnEnvironment() {
        // A stand-in that tells on stderr what it got, and ends with the code it is given.
        QTemporaryDir folder;
        QFile script(folder.path() + "/lanquill-net");
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write(
            "#!/bin/sh\nread line; echo \"stdin:$line\"\n"
            "printf 'args:' >&2; printf '%s|' \"$@\" >&2\necho \"PASSWD=${PASSWD-unset}\" >&2\n"
            "echo \"HOME=${HOME-unset}\" >&2\nexit \"$1\"\n");
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        platform::DetachedCommandRunner runner(folder.path().toStdString());

        const std::string home = qgetenv("HOME").toStdString();
        platform::CommandResult result = runner.run({"net", {"3", "a b", "第二"}},
                                                    {{"PASSWD", "p w=1"}, {"HOME", "/elsewhere"}});
        QVERIFY(result.started);
        QCOMPARE(result.exitCode, 3);
        // stdout goes nowhere; the child's variables are its own and override the program's.
        QCOMPARE(QString::fromStdString(result.standardError),
                 QString::fromUtf8("args:3|a b|第二|PASSWD=p w=1\nHOME=/elsewhere\n"));
        QVERIFY(!qEnvironmentVariableIsSet("PASSWD"));
        QCOMPARE(qgetenv("HOME").toStdString(), home);

        result = runner.run({"net", {"0"}}, {});
        QCOMPARE(result.exitCode, 0);
        QVERIFY(QString::fromStdString(result.standardError).contains("PASSWD=unset"));

        // Refused as by start(): other programs, zero bytes, a variable name that is no name.
        for (const auto& [command, environment] :
             std::vector<std::pair<CommandLine, platform::ChildEnvironment>>{
                 {{"sh", {"-c", "exit 0"}}, {}},
                 {{"net", {std::string("0\0", 2)}}, {}},
                 {{"net", {"0"}}, {{"A=B", "x"}}},
                 {{"net", {"0"}}, {{"", "x"}}},
                 {{"net", {"0"}}, {{"PASSWD", std::string("a\0b", 3)}}},
             })
            QVERIFY(!runner.run(command, environment).started);
        QFile::remove(script.fileName());
        QVERIFY(!runner.run({"net", {"0"}}, {}).started);
    }

    void nameTableText() {
        protocol::netbios::NodeStatus status;
        status.names.push_back({"PEER", 0x00, false, 0x0400});
        status.names.push_back({"WORKGROUP", 0x1E, true, 0x8400});
        status.names.push_back({std::string("\x01\x02__MSBROWSE__\x02"), 0x01, true, 0x8400});
        status.unitId = {0x00, 0x0C, 0x29, 0x1A, 0x2B, 0x3C};
        const QString text = QString::fromStdString(protocol::netbios::nameTableText(status));
        QVERIFY(text.contains("    PEER             <00>  UNIQUE      Registered\n"));
        QVERIFY(text.contains("    WORKGROUP        <1E>  GROUP       Registered\n"));
        QVERIFY(text.contains("    ..__MSBROWSE__.  <01>  GROUP "));
        QVERIFY(text.endsWith("MAC Address = 00-0C-29-1A-2B-3C\n"));
    }

    // Help asked for is no error: the usage on standard output, nothing on standard error, 0.
    void netHelpGoesToStandardOutput_data() {
        QTest::addColumn<QString>("option");
        QTest::newRow("--help") << "--help";
        QTest::newRow("-h") << "-h";
        QTest::newRow("help") << "help";
    }
    void netHelpGoesToStandardOutput() {
        QFETCH(QString, option);
        QVERIFY2(QFile::exists(NetProgram), "build lanquill-net first");
        QProcess net;
        net.start(NetProgram, {option});
        QVERIFY(net.waitForFinished(10000));
        QCOMPARE(net.exitStatus(), QProcess::NormalExit);
        QCOMPARE(net.exitCode(), 0);
        QCOMPARE(net.readAllStandardError(), QByteArray());
        const QByteArray out = net.readAllStandardOutput();
        QVERIFY2(out.startsWith("usage: lanquill-net send") && out.contains("status NAME|ADDRESS"),
                 out.constData());
    }

    void netRefusesBadInput_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("says");
        QTest::newRow("nothing") << QStringList{} << 2 << "usage";
        QTest::newRow("unknown subcommand")
            << QStringList{"frobnicate"} << 2 << "unknown command \"frobnicate\"";
        QTest::newRow("send without target") << QStringList{"send"} << 2 << "usage";
        QTest::newRow("empty workgroup") << QStringList{"send", "/domain:", "x"} << 2 << "usage";
        QTest::newRow("workgroup *") << QStringList{"send", "/domain:*", "x"} << 2 << "usage";
        QTest::newRow("escape in a workgroup")
            << QStringList{"send", "/domain:W\x1b[31mG", "x"} << 2 << "usage";
        QTest::newRow("option twice")
            << QStringList{"send", "/domain:/domain:WG", "x"} << 2 << "usage";
        QTest::newRow("option alone") << QStringList{"send", "/DOMAIN", "x"} << 2 << "usage";
        QTest::newRow("send *") << QStringList{"send", "*", "x"} << 2 << "not supported";
        QTest::newRow("send without text") << QStringList{"send", "127.0.0.1"} << 2 << "no text";
        QTest::newRow("send empty text") << QStringList{"send", "PEER", ""} << 2 << "no text";
        QTest::newRow("send blanks and line breaks")
            << QStringList{"send", "127.0.0.1", " \r\n", "\t"} << 2 << "no text";
        QTest::newRow("broadcast without text")
            << QStringList{"send", "/domain:WG"} << 2 << "no text";
        QTest::newRow("--member without its name")
            << QStringList{"send", "/domain:WG", "--member"} << 2 << "--member wants";
        QTest::newRow("--member that cannot be a name")
            << QStringList{"send", "/domain:WG", "--member", "A*B", "x"} << 2
            << "cannot be a computer name";
        QTest::newRow("--member= empty") << QStringList{"send", "/domain:WG", "--member=", "x"} << 2
                                         << "cannot be a computer name";
        QTest::newRow("members, then no text")
            << QStringList{"send", "/domain:WG", "--member", "PEER", "--"} << 2 << "no text";
        QTest::newRow("status of a bad address")
            << QStringList{"status", "1.2.3.256"} << 2 << "not a dotted IPv4";
        QTest::newRow("status, shell characters")
            << QStringList{"status", "1.2.3.4;id"} << 2 << "not a dotted IPv4";
        // Refused before any lookup or connection, so nothing leaves this machine.
        QTest::newRow("text of 10000 characters")
            << QStringList{"send", "127.0.0.1", QString(10000, 'x')} << 1 << "too long";
        QTest::newRow("recipient of 65 characters")
            << QStringList{"send", QString(65, 'p'), "x"} << 1 << "too long";
        QTest::newRow("broadcast text of 10000 characters")
            << QStringList{"send", "/domain:WG", QString(10000, 'x')} << 1 << "too long";
        QTest::newRow("broadcast text not in CP936")
            << QStringList{"send", "/domain:WG", QString::fromUtf8("\xF0\x9F\x98\x80")} << 1
            << "cannot be sent";
    }
    void netRefusesBadInput() {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, says);
        QVERIFY2(QFile::exists(NetProgram), "build lanquill-net first");
        const auto [code, error] = runNet(arguments);
        QCOMPARE(code, exitCode);
        QVERIFY2(error.contains(says), qPrintable(error));
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
