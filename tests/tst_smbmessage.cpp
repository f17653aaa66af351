// SmbMessenger against a scripted receiver on loopback: the exchange it runs, the results the
// receiver's answers become, how long texts go in blocks, and bad input refused before sending.
#include "fakes/FakePlatform.h"
#include "platform/NameService.h"
#include "platform/SmbMessenger.h"
#include "protocol/NetBios.h"
#include "protocol/OemCodePage.h"
#include "protocol/SmbMessage.h"
#include "support/Packets.h"

#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace lanquill::platform;
using namespace lanquill::protocol;
using lanquill::testsupport::smbReply;
namespace code = lanquill::platform::messenger;

namespace {

// A messenger receiver on 127.0.0.1 that answers one connection as scripted and records
// every SMB it got.
class ScriptedReceiver {
public:
    bool negativeSession = false;
    std::uint8_t refusal = smb::CalledNameNotPresent; // the error code of the negative answer
    bool hangUpAfterSession = false;
    bool silent = false;                     // never answers the first SMB
    std::uint16_t dialect = 0;               // answer to NEGOTIATE
    std::uint8_t rejectCommand = 0;          // this command gets a non-zero status
    std::optional<std::uint16_t> startGroup; // nullopt: Samba's D5 reply without words

    Bytes sessionRequest;
    std::vector<Bytes> smbs;

    ScriptedReceiver() {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof local;
        ::bind(listener_, reinterpret_cast<sockaddr*>(&local), sizeof local);
        ::listen(listener_, 1);
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&local), &length);
        port = ntohs(local.sin_port);
    }
    ~ScriptedReceiver() {
        if (thread_.joinable())
            thread_.join();
        ::close(listener_);
    }
    void start() {
        thread_ = std::thread([this] { serve(); });
    }
    void finish() {
        if (thread_.joinable())
            thread_.join();
    }

    std::uint16_t port = 0;

private:
    bool readAll(int fd, std::uint8_t* data, std::size_t length) {
        while (length > 0) {
            pollfd entry{fd, POLLIN, 0};
            if (::poll(&entry, 1, 3000) <= 0)
                return false;
            const ssize_t got = ::recv(fd, data, length, 0);
            if (got <= 0)
                return false;
            data += got;
            length -= static_cast<std::size_t>(got);
        }
        return true;
    }
    std::optional<Bytes> readPacket(int fd) {
        Bytes packet(4);
        if (!readAll(fd, packet.data(), 4))
            return std::nullopt;
        packet.resize(*smb::sessionPacketLength(packet));
        if (!readAll(fd, packet.data() + 4, packet.size() - 4))
            return std::nullopt;
        return packet;
    }
    void write(int fd, const Bytes& data) {
        [[maybe_unused]] auto sent = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
    }
    void serve() {
        pollfd entry{listener_, POLLIN, 0};
        if (::poll(&entry, 1, 5000) <= 0)
            return;
        const int fd = ::accept(listener_, nullptr, nullptr);
        if (auto request = readPacket(fd)) {
            sessionRequest = *request;
            write(fd, negativeSession ? Bytes{0x83, 0, 0, 1, refusal} : Bytes{0x82, 0, 0, 0});
            if (!negativeSession && !hangUpAfterSession) {
                while (auto packet = readPacket(fd)) {
                    Bytes smbPacket(packet->begin() + 4, packet->end());
                    smbs.push_back(smbPacket);
                    if (silent)
                        break;
                    const std::uint8_t command = smbPacket[4];
                    std::vector<std::uint16_t> words;
                    if (command == smb::Negotiate)
                        words = {dialect};
                    if (command == smb::SendStart && startGroup)
                        words = {*startGroup};
                    const std::uint32_t status = command == rejectCommand ? 0x00020002 : 0;
                    write(fd, smb::sessionMessage(smbReply(command, status, words)));
                }
            }
        }
        ::close(fd);
    }

    int listener_ = -1;
    std::thread thread_;
};

SmbMessenger::Options loopback(std::uint16_t port) {
    SmbMessenger::Options options;
    options.port = port;
    options.nodeStatusWait = std::chrono::milliseconds(0);
    options.sendTimeout = std::chrono::milliseconds(1000);
    return options;
}

// The data of a SEND_MESSAGE / SEND_TEXT_MB block: after `01 len16`.
std::string blockData(const Bytes& smbPacket, std::size_t blockAt) {
    const std::size_t length = smbPacket[blockAt + 1] | (smbPacket[blockAt + 2] << 8);
    return std::string(smbPacket.begin() + static_cast<std::ptrdiff_t>(blockAt + 3),
                       smbPacket.begin() + static_cast<std::ptrdiff_t>(blockAt + 3 + length));
}

} // namespace

class TestSmbMessage : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void shortTextIsOneMessageAfterNegotiate() {
        ScriptedReceiver receiver;
        receiver.start();
        lanquill::fakes::FakeResolver resolver;
        SmbMessenger messenger(resolver, loopback(receiver.port));
        QCOMPARE(messenger.send("127.0.0.1", "Lanquill", "你好\r\nline two"), code::Success);
        receiver.finish();
        // No node-status answer: the called name is the one every SMB server accepts.
        QCOMPARE(
            netbios::decodeName(std::span<const std::uint8_t>(receiver.sessionRequest).subspan(4))
                ->name,
            std::string("*SMBSERVER"));
        QCOMPARE(receiver.smbs.size(), std::size_t{2});
        QCOMPARE(receiver.smbs[0][4], smb::Negotiate);
        QCOMPARE(receiver.smbs[1][4], smb::SendMessage);
        const std::string expectedBytes = std::string("\x04Lanquill\0\x04"
                                                      "127.0.0.1\0",
                                                      21);
        QCOMPARE(std::string(receiver.smbs[1].begin() + 35, receiver.smbs[1].begin() + 35 + 21),
                 expectedBytes);
        QCOMPARE(blockData(receiver.smbs[1], 35 + 21), *oem::fromUtf8("你好\r\nline two"));
    }

    void longTextGoesInBlocks() {
        ScriptedReceiver receiver;
        receiver.startGroup = 0x0033;
        receiver.start();
        lanquill::fakes::FakeResolver resolver;
        resolver.byName["pc-07"] = HostEntry{"PC-07", {{127, 0, 0, 1}}};
        SmbMessenger messenger(resolver, loopback(receiver.port));
        // 'a' first shifts every double-byte character across the 128-byte block edges.
        // Appended, not "a" + ...: that insert trips GCC 12's -Wrestrict at -O3 (a false positive).
        std::string text = "a";
        text += QString::fromUtf8("汉字").repeated(150).toStdString();
        QCOMPARE(messenger.send("pc-07", {}, text), code::Success);
        receiver.finish();
        const auto called =
            netbios::decodeName(std::span<const std::uint8_t>(receiver.sessionRequest).subspan(4));
        QCOMPARE(called->name, std::string("PC-07"));
        QCOMPARE(called->suffix, std::uint8_t{0x03});
        const auto calling =
            netbios::decodeName(std::span<const std::uint8_t>(receiver.sessionRequest).subspan(38));
        QCOMPARE(calling->name, ownNetbiosName());

        QVERIFY(receiver.smbs.size() >= 5);
        QCOMPARE(receiver.smbs[0][4], smb::Negotiate);
        QCOMPARE(receiver.smbs[1][4], smb::SendStart);
        QCOMPARE(receiver.smbs.back()[4], smb::SendEnd);
        std::string joined;
        for (std::size_t i = 2; i + 1 < receiver.smbs.size(); ++i) {
            const Bytes& block = receiver.smbs[i];
            QCOMPARE(block[4], smb::SendText);
            QCOMPARE(block[33] | (block[34] << 8), 0x0033); // the group id of the D5 reply
            const std::string data = blockData(block, 37);
            QVERIFY(data.size() <= smb::MaxBlock);
            QVERIFY(oem::toUtf8(data)); // every block stands on its own: no cut character
            joined += data;
        }
        QCOMPARE(joined, *oem::fromUtf8(text));
    }

    void receiverAnswersBecomeResults() {
        lanquill::fakes::FakeResolver resolver;
        for (const auto& [refusal, result] :
             {std::pair{smb::CalledNameNotPresent, code::NameNotFound},
              std::pair{smb::InsufficientResources, code::ReceiverBusy}}) {
            ScriptedReceiver receiver;
            receiver.negativeSession = true;
            receiver.refusal = refusal;
            receiver.start();
            QCOMPARE(SmbMessenger(resolver, loopback(receiver.port)).send("127.0.0.1", {}, "x"),
                     result);
        }
        {
            ScriptedReceiver receiver;
            receiver.rejectCommand = smb::SendText;
            receiver.start();
            QCOMPARE(SmbMessenger(resolver, loopback(receiver.port))
                         .send("127.0.0.1", {}, std::string(300, 'x')),
                     code::MessageRejected);
            receiver.finish();
            QCOMPARE(receiver.smbs.size(), std::size_t{3}); // stopped at the refused block
        }
        {
            ScriptedReceiver receiver;
            receiver.rejectCommand = smb::SendMessage;
            receiver.start();
            QCOMPARE(SmbMessenger(resolver, loopback(receiver.port)).send("127.0.0.1", {}, "x"),
                     code::MessageRejected);
        }
        {
            ScriptedReceiver receiver;
            receiver.dialect = 0xFFFF;
            receiver.start();
            QCOMPARE(SmbMessenger(resolver, loopback(receiver.port)).send("127.0.0.1", {}, "x"),
                     code::BadTransactConfig);
        }
        {
            ScriptedReceiver receiver;
            receiver.hangUpAfterSession = true;
            receiver.start();
            QCOMPARE(SmbMessenger(resolver, loopback(receiver.port)).send("127.0.0.1", {}, "x"),
                     code::NetworkError);
        }
        {
            ScriptedReceiver receiver;
            receiver.silent = true;
            receiver.start();
            QCOMPARE(SmbMessenger(resolver, loopback(receiver.port)).send("127.0.0.1", {}, "x"),
                     code::NetworkError);
        }
        {
            // Nobody listens any more on a port just released.
            std::uint16_t port = 0;
            {
                ScriptedReceiver gone;
                port = gone.port;
            }
            QCOMPARE(SmbMessenger(resolver, loopback(port)).send("127.0.0.1", {}, "x"),
                     code::NetworkError);
        }
    }

    void badInputIsRefusedBeforeSending_data() {
        QTest::addColumn<QByteArray>("to");
        QTest::addColumn<QByteArray>("from");
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<unsigned>("expected");
        const QByteArray pc = "127.0.0.1";
        QTest::newRow("zero in text")
            << pc << QByteArray() << QByteArray("a\0b", 3) << unsigned{code::InvalidParameter};
        QTest::newRow("zero in recipient") << QByteArray("PC\0X", 4) << QByteArray()
                                           << QByteArray("hi") << unsigned{code::InvalidParameter};
        QTest::newRow("zero in sender")
            << pc << QByteArray("A\0B", 3) << QByteArray("hi") << unsigned{code::InvalidParameter};
        QTest::newRow("empty recipient")
            << QByteArray() << QByteArray() << QByteArray("hi") << unsigned{code::InvalidParameter};
        QTest::newRow("broken UTF-8")
            << pc << QByteArray() << QByteArray("\xC3(") << unsigned{code::InvalidParameter};
        QTest::newRow("not in CP936") << pc << QByteArray() << QByteArray("\xF0\x9F\x98\x80")
                                      << unsigned{code::InvalidParameter};
        QTest::newRow("1001 characters")
            << pc << QByteArray() << QByteArray(1001, 'x') << unsigned{code::BufferTooSmall};
        QTest::newRow("10000 characters")
            << pc << QByteArray() << QByteArray(10000, 'x') << unsigned{code::BufferTooSmall};
        QTest::newRow("65 character recipient")
            << QByteArray(65, 'P') << QByteArray() << QByteArray("hi")
            << unsigned{code::BufferTooSmall};
        QTest::newRow("16 byte recipient name")
            << QByteArray(16, 'P') << QByteArray() << QByteArray("hi")
            << unsigned{code::BufferTooSmall};
        QTest::newRow("16 byte sender") << pc << QString::fromUtf8("八个汉字八个汉字").toUtf8()
                                        << QByteArray("hi") << unsigned{code::BufferTooSmall};
        // Not an address, and no name service knows it: never a shell, never a lookup beyond
        // the (fake) resolver.
        QTest::newRow("shell characters") << QByteArray("a;rm -rf $(x)") << QByteArray()
                                          << QByteArray("`id`") << unsigned{code::NameNotFound};
        QTest::newRow("address that is not one")
            << QByteArray("192.168.1.300") << QByteArray() << QByteArray("hi")
            << unsigned{code::NameNotFound};
    }
    void badInputIsRefusedBeforeSending() {
        QFETCH(QByteArray, to);
        QFETCH(QByteArray, from);
        QFETCH(QByteArray, text);
        QFETCH(unsigned, expected);
        ScriptedReceiver receiver; // would record anything that got through
        lanquill::fakes::FakeResolver resolver;
        SmbMessenger messenger(resolver, loopback(receiver.port));
        QCOMPARE(messenger.send(to.toStdString(), from.toStdString(), text.toStdString()),
                 std::uint32_t{expected});
        QVERIFY(receiver.smbs.empty());
    }

    void limitsAreInclusive() {
        // 1000 characters and a 64-unit-but-15-byte name are fine; the receiver gets them whole.
        ScriptedReceiver receiver;
        receiver.start();
        lanquill::fakes::FakeResolver resolver;
        SmbMessenger messenger(resolver, loopback(receiver.port));
        QCOMPARE(messenger.send("127.0.0.1", "ABCDEFGHIJKLMNO", std::string(1000, 'y')),
                 code::Success);
        receiver.finish();
        std::size_t total = 0;
        for (const auto& block : receiver.smbs)
            if (block[4] == smb::SendText)
                total += blockData(block, 37).size();
        QCOMPARE(total, std::size_t{1000});
    }
};

QTEST_GUILESS_MAIN(TestSmbMessage)
#include "tst_smbmessage.moc"
