// The node-status probe against a real Samba peer: the main window on the real platform layers
// (its socket bound to 6767), the detail dialog's refresh, and `lanquill-net status` beside
// Samba's own nmblookup. Runs inside the client namespace that harness.sh makes
// (run_interop.sh does it all); the peer's name and addresses come in LQ_* variables.
#include "RealMainWindow.h"
#include "app/frmMain.h"
#include "dialogs/dlgUserDetail.h"
#include "net/NodeStatus.h"
#include "platform/Platform.h"
#include "ui_dlgUserDetail.h"

#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTest>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include <memory>
#include <optional>
#include <vector>

using namespace lanquill;

namespace {

std::string env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// What nmbd answers to the program's own query, read on a socket of the test's own (any port):
// lets the test know which name table the program's socket receives in the same moment.
std::vector<std::uint8_t> rawNodeStatusReply(const std::string& address) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return {};
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(137);
    ::inet_pton(AF_INET, address.c_str(), &peer.sin_addr);
    std::vector<std::uint8_t> reply;
    for (int attempt = 0; attempt < 3 && reply.empty(); ++attempt) {
        ::sendto(fd, net::NbStatQuery.data(), net::NbStatQuery.size(), 0,
                 reinterpret_cast<const sockaddr*>(&peer), sizeof peer);
        pollfd entry{fd, POLLIN, 0};
        if (::poll(&entry, 1, 1000) <= 0)
            continue;
        std::array<std::uint8_t, 1500> buffer{};
        const ssize_t got = ::recv(fd, buffer.data(), buffer.size(), 0);
        if (got > 0)
            reply.assign(buffer.begin(), buffer.begin() + got);
    }
    ::close(fd);
    return reply;
}

// The names nmbd registers, in the two shapes its reply takes: right after start (5 names, no
// entry at byte 147) and once it is local master browser (7 names: __MSBROWSE__<01> fourth, the
// workgroup's <1D> sixth, at 147). Neither names a user: the only <03> is the computer's own.
struct Expected {
    QString workstation, browserGroup, currentUser, extraName;
};

std::optional<Expected> expectedFor(const std::vector<std::uint8_t>& reply, const QString& peer) {
    if (reply.size() == 193 && reply[56] == 5)
        return Expected{peer, QString(), QString(), QString()};
    if (reply.size() == 229 && reply[56] == 7)
        return Expected{peer, QStringLiteral("__MSBROWSE__"), QString(), QString()};
    return std::nullopt;
}

// (name, suffix, group) as a comparable key: "LQPEER <20> U".
using NameSet = QSet<QString>;

QString nameKey(const QString& name, const QString& suffix, bool group) {
    return name + " <" + suffix.toUpper() + "> " + (group ? "G" : "U");
}

// lanquill-net status: "    NAME<blanks>  <XX>  UNIQUE      Registered".
NameSet namesOfStatus(const QString& out) {
    static const QRegularExpression line(
        QStringLiteral("^    (\\S.*?)\\s+<([0-9A-Fa-f]{2})>  (UNIQUE|GROUP)"),
        QRegularExpression::MultilineOption);
    NameSet names;
    for (auto it = line.globalMatch(out); it.hasNext();) {
        const auto m = it.next();
        names << nameKey(m.captured(1), m.captured(2), m.captured(3) == "GROUP");
    }
    return names;
}

// nmblookup -A: "\tNAME<blanks> <xx> - [<GROUP>] B <ACTIVE>".
NameSet namesOfNmblookup(const QString& out) {
    static const QRegularExpression line(
        QStringLiteral("^\\s+(\\S.*?)\\s+<([0-9A-Fa-f]{2})> -\\s+(<GROUP>)?\\s*[BPMH] "),
        QRegularExpression::MultilineOption);
    NameSet names;
    for (auto it = line.globalMatch(out); it.hasNext();) {
        const auto m = it.next();
        names << nameKey(m.captured(1), m.captured(2), !m.captured(3).isEmpty());
    }
    return names;
}

QString run(const QString& program, const QStringList& arguments, int* exitCode = nullptr) {
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished();
    }
    if (exitCode)
        *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return QString::fromUtf8(process.readAllStandardOutput());
}

QStringList lines(const QString& text) {
    return text.split(QLatin1Char('\n'));
}

} // namespace

class InteropProbe : public QObject {
    Q_OBJECT

    QString peerName, peerAddress, workgroup, netBin, clientConf;
    interop::RealMainWindow window;

private Q_SLOTS:
    void initTestCase() {
        peerName = QString::fromStdString(env("LQ_PEER_NAME"));
        peerAddress = QString::fromStdString(env("LQ_PEER_ADDR"));
        workgroup = QString::fromStdString(env("LQ_WORKGROUP"));
        // Absolute: the test changes into the program directory below.
        netBin = QFileInfo(QString::fromStdString(env("LQ_NET_BIN"))).absoluteFilePath();
        clientConf = QString::fromStdString(env("LQ_CLIENT_CONF"));
        if (peerAddress.isEmpty() || !interop::inPrivateNetworkNamespace())
            QSKIP("no Samba peer in a private namespace: run through tests/interop/run_interop.sh");
        // A book holding the peer, so that start-up opens no add-group dialog.
        window.start(QStringLiteral("<book><group id=\"%1\"><computer id=\"%2\"><ComputerName>%2"
                                    "</ComputerName><UserName/><IpAddress>%3</IpAddress><Memo/>"
                                    "</computer></group></book>")
                         .arg(workgroup, peerName, peerAddress)
                         .toUtf8());
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(QString::fromStdString(window.form->appDir()), window.programDir.path());
    }

    void cleanupTestCase() {
        window.stop();
        QVERIFY2(window.errors.isEmpty(), qPrintable(window.errors.join('\n')));
        QVERIFY2(window.unexpectedModals.isEmpty(), qPrintable(window.unexpectedModals.join(' ')));
    }

    // Runs first: nothing has reached the program's socket yet.
    void detailDialogShowsTheReplyWhenItArrives() {
        QVERIFY(!window.form->nodeStatus().NbReplyReceived);
        const auto reply = rawNodeStatusReply(peerAddress.toStdString());
        const auto expected = expectedFor(reply, peerName);
        QVERIFY2(expected, qPrintable(QString("unknown nmbd reply of %1 bytes").arg(reply.size())));

        dialogs::TdlgUserDetailInfo dialog(*window.form, window.form.get());
        dialog.setProperty("lqExpected", true);
        Ui::dlgUserDetail& ui = dialog.ui();
        ui.IPAddress->setText(peerAddress);
        ui.stMac->setText(QStringLiteral("from ARP"));
        const QString memoBefore = ui.memOther->toPlainText();

        // Each press shows the peer's answer when it arrives: three more names in the memo.
        // nmbd's unit id is all zeros, which leaves the adapter address from ARP.
        for (int press = 1; press <= 2; ++press) {
            ui.BitBtnRefresh->click();
            const int wanted = int(lines(memoBefore).size()) + 3 * press;
            QVERIFY(QTest::qWaitFor(
                [&] { return lines(ui.memOther->toPlainText()).size() >= wanted; }, 3000));
            const QStringList after = lines(ui.memOther->toPlainText());
            QCOMPARE(after.size(), wanted);
            QCOMPARE(
                after.mid(after.size() - 3),
                QStringList({expected->workstation, expected->extraName, expected->browserGroup}));
            QCOMPARE(ui.stMac->text(), QStringLiteral("from ARP"));
            QCOMPARE(ui.stCurUser->text(), expected->currentUser);
        }
        QVERIFY2(window.errors.isEmpty(), qPrintable(window.errors.join('\n')));
    }

    void invalidAddressSendsNothing() {
        QVERIFY(!window.form->SendUDPData("10.0.0"));
        QVERIFY(!window.form->SendUDPData("peer"));
    }

    void statusCommandListsWhatNmblookupLists() {
        QVERIFY(QFileInfo(netBin).isExecutable());
        QVERIFY(!clientConf.isEmpty());
        NameSet ours, samba;
        // The table grows while the peer becomes master browser; both must see the same one.
        for (int attempt = 0; attempt < 3; ++attempt) {
            int ourExit = -1;
            int sambaExit = -1;
            const QString ourText = run(netBin, {"status", peerAddress}, &ourExit);
            const QString sambaText =
                run(QStringLiteral("nmblookup"), {"-s", clientConf, "-A", peerAddress}, &sambaExit);
            QCOMPARE(ourExit, 0);
            QCOMPARE(sambaExit, 0);
            ours = namesOfStatus(ourText);
            samba = namesOfNmblookup(sambaText);
            QVERIFY2(samba.size() >= 5, qPrintable(sambaText));
            QVERIFY(ourText.contains(QStringLiteral("MAC Address = 00-00-00-00-00-00")));
            if (ours == samba)
                break;
        }
        QCOMPARE(ours, samba);
        QVERIFY(ours.contains(nameKey(peerName, "00", false)));
        QVERIFY(ours.contains(nameKey(peerName, "20", false)));
        QVERIFY(ours.contains(nameKey(workgroup, "00", true)));
    }
};

QTEST_MAIN(InteropProbe)
#include "tst_interop_probe.moc"
