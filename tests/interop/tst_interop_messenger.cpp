// The wire layers against a real Samba peer. Runs inside the client namespace that harness.sh
// makes (run_interop.sh does it all); the peer's name and addresses come in LQ_* variables.
#include "net/GroupCommand.h"
#include "net/Lookups.h"
#include "platform/DetachedCommandRunner.h"
#include "platform/NameService.h"
#include "platform/NeighbourTable.h"
#include "platform/SmbMessenger.h"
#include "protocol/Mailslot.h"
#include "protocol/OemCodePage.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTest>
#include <QThread>

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace lanquill;
using namespace lanquill::protocol;

namespace {

std::string env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

struct Delivered {
    QByteArray text;
    QByteArray from;
};

// Waits for the peer's message command to leave a message file; takes it away.
std::optional<Delivered> takeMessage(const QString& folder, int waitMs = 5000) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < waitMs) {
        const auto names = QDir(folder).entryList({"*.msg"}, QDir::Files, QDir::Name);
        if (!names.isEmpty()) {
            const QString base = folder + "/" + names.first().chopped(4);
            QFile text(base + ".msg");
            QFile from(base + ".from");
            Delivered delivered;
            if (text.open(QIODevice::ReadOnly))
                delivered.text = text.readAll();
            if (from.open(QIODevice::ReadOnly))
                delivered.from = from.readAll().trimmed();
            QFile::remove(base + ".msg");
            QFile::remove(base + ".from");
            return delivered;
        }
        QThread::msleep(50);
    }
    return std::nullopt;
}

void clearMessages(const QString& folder) {
    for (const auto& name : QDir(folder).entryList(QDir::Files))
        QFile::remove(folder + "/" + name);
}

// A UDP socket bound to port 138 inside the peer's namespace: the namespace is entered by a
// helper thread only, and the socket stays in the namespace it was made in.
int datagramSocketInNamespace(const std::string& ns) {
    int result = -1;
    std::thread([&] {
        const int nsFd = ::open(("/var/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC);
        if (nsFd < 0)
            return;
        const bool entered = ::setns(nsFd, CLONE_NEWNET) == 0;
        ::close(nsFd);
        if (!entered)
            return;
        const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(138);
        if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
            ::close(fd);
            return;
        }
        result = fd;
    }).join();
    return result;
}

// The next MESSNGR datagram on `fd` within `waitMs`; other datagrams are passed over.
std::optional<protocol::mailslot::Message> receiveMessenger(int fd, int waitMs = 3000) {
    QElapsedTimer timer;
    timer.start();
    std::array<std::uint8_t, 2048> buffer{};
    while (timer.elapsed() < waitMs) {
        pollfd entry{fd, POLLIN, 0};
        if (::poll(&entry, 1, 100) <= 0)
            continue;
        const ssize_t got = ::recv(fd, buffer.data(), buffer.size(), 0);
        if (got <= 0)
            continue;
        if (auto message = protocol::mailslot::parseMessengerDatagram(
                std::span<const std::uint8_t>(buffer).first(static_cast<std::size_t>(got))))
            return message;
    }
    return std::nullopt;
}

QByteArray utf8(const std::string& oemText) {
    return QByteArray::fromStdString(protocol::oem::toUtf8(oemText).value_or("<not CP936>"));
}

} // namespace

class InteropMessenger : public QObject {
    Q_OBJECT

    std::string peerName, peerAddress, deadAddress, clientAddress, peerMac, workgroup, peerNs,
        netBin;
    QString messages;
    platform::RealResolver resolver;

private Q_SLOTS:
    void initTestCase() {
        peerName = env("LQ_PEER_NAME");
        peerAddress = env("LQ_PEER_ADDR");
        deadAddress = env("LQ_DEAD_ADDR");
        clientAddress = env("LQ_CLIENT_ADDR");
        peerMac = env("LQ_PEER_MAC");
        workgroup = env("LQ_WORKGROUP");
        peerNs = env("LQ_NS_PEER");
        netBin = env("LQ_NET_BIN");
        messages = QString::fromStdString(env("LQ_MSG_DIR"));
        if (peerAddress.empty() || messages.isEmpty())
            QSKIP("no Samba peer: run through tests/interop/run_interop.sh");
    }

    void messengerDeliversText_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("from");
        const auto row = [](const char* name, const QString& text, const char* from = "") {
            QTest::newRow(name) << text << QString::fromUtf8(from);
        };
        row("ascii", "Hello from Lanquill");
        row("chinese", QString::fromUtf8("你好，今晚开会吗？"));
        row("lines", "first line\r\nsecond line\r\nthird", "Lanquill");
        row("empty", "");
        row("shell characters", "$(touch /tmp/x); `id` | & > \" ' *");
        row("1000 ascii, several blocks", QString(1000, 'x').replace(127, 1, "Z"));
        row("1000 chinese, two bytes each", QString::fromUtf8("汉").repeated(1000), "张三");
    }

    void messengerDeliversText() {
        QFETCH(QString, text);
        QFETCH(QString, from);
        clearMessages(messages);
        platform::SmbMessenger messenger(resolver);
        QCOMPARE(messenger.send(peerAddress, from.toStdString(), text.toStdString()), 0u);
        const auto delivered = takeMessage(messages);
        QVERIFY2(delivered, "the peer's message command wrote nothing");
        // smbd writes the text in its unix charset with CR LF turned into LF; an empty text
        // comes out of its conversion as one zero byte.
        QByteArray got = delivered->text;
        if (text.isEmpty() && got == QByteArray(1, '\0'))
            got.clear();
        QCOMPARE(QString::fromUtf8(got), QString(text).replace("\r\n", "\n"));
        // smbd puts the sender into the command line in lower case, each non-ASCII byte of
        // its UTF-8 form as '_': three per Chinese character shows it decoded CP936 right.
        QByteArray sender =
            from.isEmpty() ? QByteArray::fromStdString(platform::ownNetbiosName()) : from.toUtf8();
        for (auto& c : sender)
            if (static_cast<unsigned char>(c) >= 0x80)
                c = '_';
        QCOMPARE(delivered->from.toUpper(), sender.toUpper());
    }

    void messengerFailuresAreNonZero() {
        platform::SmbMessenger messenger(resolver);
        // Nobody owns the address: the connection attempt runs out.
        QCOMPARE(messenger.send(deadAddress, {}, "lost"), platform::messenger::NetworkError);
        // Our own address: nobody listens on 139, the connection is refused.
        QCOMPARE(messenger.send(clientAddress, {}, "refused"), platform::messenger::NetworkError);
        // A name nobody has.
        QCOMPARE(messenger.send("NOSUCHPC", {}, "nobody"), platform::messenger::NameNotFound);
        QVERIFY(!takeMessage(messages, 300));
    }

    void lookupsFindThePeer() {
        const auto byName = net::HostNameToIP(resolver, peerName);
        QVERIFY(byName.found);
        QCOMPARE(byName.text, peerAddress);
        const auto lowerCase =
            net::HostNameToIP(resolver, QString::fromStdString(peerName).toLower().toStdString());
        QCOMPARE(lowerCase.text, peerAddress);

        const auto unknown = net::HostNameToIP(resolver, "NOSUCHPC");
        QVERIFY(!unknown.found);
        QVERIFY(unknown.text.empty());

        const auto byAddress = net::IPToHostName(resolver, peerAddress);
        QVERIFY(byAddress.found);
        QCOMPARE(byAddress.text, peerName);
        QVERIFY(!net::IPToHostName(resolver, deadAddress).found);
    }

    void macAddressOfThePeer() {
        platform::RealNeighbourTable neighbours;
        QCOMPARE(net::GetMacAddress(neighbours, peerAddress), peerMac);
        QCOMPARE(net::GetMacAddress(neighbours, deadAddress), std::string());
        QCOMPARE(net::GetMacAddress(neighbours, "not an address"), std::string());
    }

    void groupBroadcastReachesTheWorkgroup_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("ascii") << "meeting at ten";
        QTest::newRow("chinese, lines") << QString::fromUtf8("今天\r\n下午三点");
        QTest::newRow("empty: refused, nothing sent") << "";
    }
    void groupBroadcastReachesTheWorkgroup() {
        QFETCH(QString, text);
        const int fd = datagramSocketInNamespace(peerNs);
        QVERIFY2(fd >= 0, "cannot bind UDP 138 in the peer namespace");
        QProcess net;
        net.start(QString::fromStdString(netBin),
                  {"send", "/domain:" + QString::fromStdString(workgroup).toLower(), text});
        QVERIFY(net.waitForFinished(10000));
        if (text.isEmpty()) {
            // A pop-up without text tells the receiver nothing: refused before anything is sent.
            QCOMPARE(net.exitCode(), 2);
            QVERIFY(!receiveMessenger(fd, 1000));
            ::close(fd);
            return;
        }
        QCOMPARE(net.exitCode(), 0);
        const auto message = receiveMessenger(fd);
        ::close(fd);
        QVERIFY2(message, "no MESSNGR datagram reached the peer");
        QCOMPARE(message->destinationName, workgroup);
        QCOMPARE(message->destinationSuffix, std::uint8_t{0x00});
        QCOMPARE(message->from, platform::ownNetbiosName());
        QCOMPARE(utf8(message->to), QString::fromStdString(workgroup).toLower().toUtf8());
        QCOMPARE(QString::fromUtf8(utf8(message->text)), text);
    }

    void detachedRunnerStartsTheGroupSend() {
        const int fd = datagramSocketInNamespace(peerNs);
        QVERIFY(fd >= 0);
        platform::DetachedCommandRunner runner(
            QFileInfo(QString::fromStdString(netBin)).absolutePath().toStdString());
        const std::string text = "two words\r\nand a line; $(id) \"quoted\"";
        QVERIFY(runner.start(net::groupSendCommand(workgroup, text)));
        const auto message = receiveMessenger(fd, 5000);
        ::close(fd);
        QVERIFY(message);
        QCOMPARE(message->text, text);
        QVERIFY(!runner.start({"sh", {"-c", "id"}}));
    }

    // What the name table shows is compared with nmblookup's by tst_interop_probe.
    void statusCommandFailsWithoutAnAnswer() {
        QProcess net;
        net.start(QString::fromStdString(netBin), {"status", QString::fromStdString(deadAddress)});
        QVERIFY(net.waitForFinished(5000));
        QCOMPARE(net.exitCode(), 1);
    }
};

QTEST_GUILESS_MAIN(InteropMessenger)
#include "tst_interop_messenger.moc"
