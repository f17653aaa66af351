// The file of computers marked as Windows desktops (read strictly, never written over while
// broken) and the send to them: the reason shown from lanquill-net's answer, the password from
// the keyring into the child's environment.
#include "dialogs/WindowsDesktops.h"
#include "dialogs/WindowsSend.h"
#include "fakes/FakePlatform.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace lanquill;
using dialogs::WindowsDesktop;
using dialogs::WindowsDesktops;
using dialogs::WindowsDesktopsError;

Q_DECLARE_METATYPE(std::vector<WindowsDesktop>)

namespace {

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

void write(const QString& path, const QByteArray& data) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(data);
}

} // namespace

class TestWindowsDesktops : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void parse_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<std::vector<WindowsDesktop>>("desktops");
        QTest::addColumn<QString>("error"); // part of the error text; empty: none expected

        const std::vector<WindowsDesktop> none;
        QTest::newRow("empty") << QByteArray() << none << QString();
        QTest::newRow("comments and blanks")
            << QByteArray("# a\n; b\n\n   \n") << none << QString();
        QTest::newRow("CR LF, blanks around, id ending in a blank")
            << QByteArray("  [computer]\r\nworkgroup=学校\r\n id =PC 1 \r\naccount=SCH\\adm\r\n")
            << std::vector<WindowsDesktop>{{"学校", "PC 1 ", "SCH\\adm"}} << QString();
        QTest::newRow("two, in order")
            << QByteArray("[computer]\nworkgroup=W\nid=B\naccount=a\n"
                          "[computer]\nid=A\naccount=b\nworkgroup=W\n")
            << std::vector<WindowsDesktop>{{"W", "B", "a"}, {"W", "A", "b"}} << QString();
        QTest::newRow("key before any section")
            << QByteArray("workgroup=W\n") << none << QStringLiteral("第 1 行无法识别");
        QTest::newRow("unknown key") << QByteArray("[computer]\nworkgroup=W\nname=X\n") << none
                                     << QStringLiteral("第 3 行无法识别");
        QTest::newRow("unknown section")
            << QByteArray("[computer]\nworkgroup=W\nid=A\naccount=a\n[other]\n") << none
            << QStringLiteral("第 5 行无法识别");
        QTest::newRow("section incomplete at the end")
            << QByteArray("[computer]\nworkgroup=W\nid=A\naccount=a\n\n[computer]\nid=B\n") << none
            << QStringLiteral("第 6 行的 [computer] 缺少");
        QTest::newRow("key twice") << QByteArray("[computer]\nid=A\nid=B\n") << none
                                   << QStringLiteral("第 3 行：id 在同一节中出现了两次");
        QTest::newRow("same computer twice, other case")
            << QByteArray("[computer]\nworkgroup=W\nid=pc\naccount=a\n"
                          "[computer]\nworkgroup=w\nid=PC\naccount=b\n")
            << none << QStringLiteral("第 5 行：工作组 w 的计算机 PC 出现了两次");
        QTest::newRow("empty id") << QByteArray("[computer]\nworkgroup=W\nid=\naccount=a\n") << none
                                  << QStringLiteral("第 3 行：id 的值无效");
        QTest::newRow("control character in an id")
            << QByteArray("[computer]\nworkgroup=W\x01\n") << none
            << QStringLiteral("第 2 行：workgroup 的值无效");
        QTest::newRow("account with two domains")
            << QByteArray("[computer]\nworkgroup=W\nid=A\naccount=a\\b\\c\n") << none
            << QStringLiteral("第 4 行：account 的值无效");
        QTest::newRow("account without user")
            << QByteArray("[computer]\nworkgroup=W\nid=A\naccount=DOM\\\n") << none
            << QStringLiteral("第 4 行：account 的值无效");
        QTest::newRow("not UTF-8")
            << QByteArray("[computer]\nworkgroup=\xff\xfe\n") << none << QStringLiteral("UTF-8");
    }

    void parse() {
        QFETCH(QByteArray, text);
        QFETCH(std::vector<WindowsDesktop>, desktops);
        QFETCH(QString, error);
        try {
            const auto got = WindowsDesktops::parse(text.toStdString());
            QVERIFY2(error.isEmpty(), qPrintable("no error; expected " + error));
            QVERIFY(got == desktops);
            // What format() writes reads back the same.
            QVERIFY(WindowsDesktops::parse(WindowsDesktops::format(got)) == got);
        } catch (const WindowsDesktopsError& e) {
            QVERIFY2(!error.isEmpty(), qPrintable(e.text()));
            QVERIFY2(e.text().contains(error), qPrintable(e.text()));
        }
    }

    void accounts_data() {
        QTest::addColumn<QString>("account");
        QTest::addColumn<bool>("valid");
        QTest::newRow("user") << "admin" << true;
        QTest::newRow("domain and user") << "SCHOOL\\admin" << true;
        QTest::newRow("Chinese") << "学校\\管理员" << true;
        QTest::newRow("blank inside") << "Jane Doe" << true;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("empty domain") << "\\admin" << false;
        QTest::newRow("slash") << "a/b" << false;
        QTest::newRow("equals") << "a=b" << false;
        QTest::newRow("bracket") << "[a]" << false;
        QTest::newRow("tab") << "a\tb" << false;
        QTest::newRow("105 letters") << QString(105, QLatin1Char('a')) << false;
        QTest::newRow("104 letters") << QString(104, QLatin1Char('a')) << true;
    }

    void accounts() {
        QFETCH(QString, account);
        QFETCH(bool, valid);
        QCOMPARE(dialogs::isValidWindowsAccount(account.toStdString()), valid);
    }

    void setKeepsOneMarkPerComputer() {
        QTemporaryDir folder;
        const QString path = folder.path() + "/Lanquill/windows-desktops.ini";
        const WindowsDesktops marks(path);
        // Clearing what is not marked makes no file.
        marks.set("W", "PC-01", "");
        QVERIFY(!QFile::exists(path));
        marks.set("W", "PC-01", "W\\admin");
        marks.set("W", "PC-02", "admin");
        marks.set("w", "pc-01", "W\\other"); // the same computer: its account changes
        QCOMPARE(marks.load().size(), std::size_t(2));
        QCOMPARE(marks.account("W", "PC-01").value_or("none"), std::string("W\\other"));
        QCOMPARE(marks.account("OTHER", "PC-01").value_or("none"), std::string("none"));
        QCOMPARE(marks.inWorkgroup("w").size(), std::size_t(2));
        marks.set("W", "Pc-02", "");
        QCOMPARE(marks.inWorkgroup("W").size(), std::size_t(1));
        QCOMPARE(QFileInfo(path).permissions() & (QFile::ReadOther | QFile::ReadGroup),
                 QFileDevice::Permissions());
        // An account lanquill-net would refuse never reaches the file.
        const QByteArray before = readAll(path);
        QVERIFY_THROWS_EXCEPTION(WindowsDesktopsError, marks.set("W", "PC-03", "a/b"));
        QCOMPARE(readAll(path), before);
    }

    void brokenFileIsNeverWrittenOver() {
        QTemporaryDir folder;
        const QString path = folder.path() + "/windows-desktops.ini";
        const QByteArray broken("[computer]\nworkgroup=W\nid=PC\naccount=a\nstray line\n");
        write(path, broken);
        const WindowsDesktops marks(path);
        for (const std::string account : {"admin", ""}) {
            try {
                marks.set("W", "PC", account);
                QFAIL("a broken file was accepted");
            } catch (const WindowsDesktopsError& e) {
                QVERIFY2(e.text().contains(path) && e.text().contains("第 5 行"),
                         qPrintable(e.text()));
            }
            QCOMPARE(readAll(path), broken);
        }
        QVERIFY_THROWS_EXCEPTION(WindowsDesktopsError, marks.account("W", "other"));
        // Far larger than any list of computers: not read at all.
        write(path, QByteArray(2 * 1024 * 1024, '#'));
        QVERIFY_THROWS_EXCEPTION(WindowsDesktopsError, marks.load());
    }

    void failureReasons_data() {
        QTest::addColumn<bool>("started");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("standardError");
        QTest::addColumn<QString>("reason");
        QTest::newRow("shown") << true << 0 << ""
                               << "";
        QTest::newRow("shown, with a warning") << true << 0 << "lanquill-net: note\n"
                                               << "";
        QTest::newRow("not run") << false << -1 << ""
                                 << "无法启动 lanquill-net。";
        QTest::newRow("English reason")
            << true << 1
            << "lanquill-net: 10.0.0.5: the logon was refused (user name or password)\n"
            << "the logon was refused (user name or password)";
        QTest::newRow("Chinese reason")
            << true << 1 << "lanquill-net：PC-01：登录被拒绝（用户名或密码）\n"
            << "登录被拒绝（用户名或密码）";
        QTest::newRow("last line decides")
            << true << 1 << "some log\nlanquill-net: PC: no answer within 10 seconds\n\n"
            << "no answer within 10 seconds";
        QTest::newRow("a line of another form, whole") << true << 2 << "usage text\n"
                                                       << "usage text";
        QTest::newRow("silent failure") << true << 1 << ""
                                        << "lanquill-net 以代码 1 结束。";
        QTest::newRow("killed") << true << -1 << ""
                                << "发送被中止。";
    }

    void failureReasons() {
        QFETCH(bool, started);
        QFETCH(int, exitCode);
        QFETCH(QString, standardError);
        QFETCH(QString, reason);
        QCOMPARE(dialogs::windowsSendFailure({started, exitCode, standardError.toStdString()}),
                 reason);
    }

    void passwordsFromTheKeyringOnly() {
        fakes::FakePlatform fake;
        fake.keyring.secrets[QStringLiteral("windows/SCH\\admin")] = QStringLiteral("pw 1");
        fake.commands.results["10.0.0.9"] = {true, 1, "lanquill-net: 10.0.0.9: access denied\n"};
        const std::vector<dialogs::WindowsTarget> targets{
            {"PC-1", "10.0.0.1", "SCH\\admin"},
            {"PC-2", "PC-2", "nobody"}, // no password stored
            {"PC-9", "10.0.0.9", "SCH\\admin"},
        };
        auto failures = dialogs::sendToWindowsDesktops(fake.platform(), targets, "hi\r\n你好");
        QCOMPARE(failures.size(), std::size_t(2));
        QCOMPARE(failures[0].name, std::string("PC-2"));
        QVERIFY(failures[0].reason.contains("nobody"));
        QCOMPARE(failures[1].name, std::string("PC-9"));
        QCOMPARE(failures[1].reason, QStringLiteral("access denied"));
        const auto runs = fake.commands.runs();
        QCOMPARE(runs.size(), std::size_t(2)); // none for the account without a password
        for (const auto& run : runs) {
            QCOMPARE(run.command.arguments[3], std::string("SCH\\admin"));
            QCOMPARE(run.command.arguments.back(), std::string("hi\r\n你好"));
            // The password, and the window's language for lanquill-net's reason; nothing else.
            QCOMPARE(run.environment.size(), std::size_t(2));
            QCOMPARE(run.environment[0].first, std::string("PASSWD"));
            QCOMPARE(run.environment[0].second, std::string("pw 1"));
            QCOMPARE(run.environment[1].first, std::string("LC_ALL"));
        }

        // Over 1,000 characters, or no keyring: nothing is run, each target says why.
        const std::string long1001(1001, 'x');
        failures = dialogs::sendToWindowsDesktops(fake.platform(), targets, long1001);
        QCOMPARE(failures.size(), targets.size());
        fake.keyring.failure = QStringLiteral("no service");
        failures = dialogs::sendToWindowsDesktops(fake.platform(), targets, "hi");
        QCOMPARE(failures.size(), targets.size());
        QVERIFY(failures[0].reason.contains("no service"));
        QCOMPARE(fake.commands.runs().size(), std::size_t(2));
        // 1,000 Chinese characters are 3,000 bytes and still one message.
        fake.keyring.failure.clear();
        std::string chinese;
        for (int i = 0; i < 1000; ++i)
            chinese += "字";
        QVERIFY(dialogs::sendToWindowsDesktops(fake.platform(), {targets[0]}, chinese).empty());
    }
};

QTEST_MAIN(TestWindowsDesktops)
#include "tst_WindowsDesktops.moc"
