// The SMB1 messenger exchange: packet layouts as Windows and Samba expect them, reply parsing,
// and SmbMessenger against a scripted receiver on loopback (results, blocks, bad input).
#include "fakes/FakePlatform.h"
#include "platform/NameService.h"
#include "platform/SmbMessenger.h"
#include "protocol/NetBios.h"
#include "protocol/OemCodePage.h"
#include "protocol/SmbMessage.h"

#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace lanquill::platform;
using namespace lanquill::protocol;
using Bytes = std::vector<std::uint8_t>;
namespace code = lanquill::platform::messenger;

namespace {

Bytes bytesOf(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

// An SMB reply as a receiver sends it: reply flag, status, words, no bytes.
Bytes replySmb(std::uint8_t command, std::uint32_t status, std::vector<std::uint16_t> words = {}) {
    Bytes out(32, 0);
    out[0] = 0xFF;
    out[1] = 'S';
    out[2] = 'M';
    out[3] = 'B';
    out[4] = command;
    for (int i = 0; i < 4; ++i)
        out[5 + i] = static_cast<std::uint8_t>(status >> (8 * i));
    out[9] = 0x80;
    out.push_back(static_cast<std::uint8_t>(words.size()));
    for (const auto word : words) {
        out.push_back(static_cast<std::uint8_t>(word & 0xFF));
        out.push_back(static_cast<std::uint8_t>(word >> 8));
    }
    out.push_back(0);
    out.push_back(0);
    return out;
}

// A messenger receiver on 127.0.0.1 that answers one connection as scripted and records
// every SMB it got.
class ScriptedReceiver {
public:
    bool negativeSession = false;
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
            write(fd, negativeSession ? Bytes{0x83, 0, 0, 1, 0x82} : Bytes{0x82, 0, 0, 0});
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
                    write(fd, smb::sessionMessage(replySmb(command, status, words)));
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
    void sessionPackets() {
        const auto request = smb::sessionRequest("PC01", 0x03, "ME");
        QVERIFY(request);
        QCOMPARE(request->size(), std::size_t{72});
        QCOMPARE(Bytes(request->begin(), request->begin() + 4), (Bytes{0x81, 0, 0, 68}));
        QCOMPARE(Bytes(request->begin() + 5, request->begin() + 37),
                 bytesOf("FAEDDADBCACACACACACACACACACACAAD"));
        QVERIFY(!smb::sessionRequest("A-NAME-OF-16-BYT", 0x03, "ME"));

        QCOMPARE(smb::parseSessionReply(Bytes{0x82, 0, 0, 0})->answer,
                 smb::SessionAnswer::Positive);
        const auto negative = smb::parseSessionReply(Bytes{0x83, 0, 0, 1, 0x82});
        QCOMPARE(negative->answer, smb::SessionAnswer::Negative);
        QCOMPARE(negative->errorCode, std::uint8_t{0x82});
        QCOMPARE(smb::parseSessionReply(Bytes{0x84, 0, 0, 6})->answer, smb::SessionAnswer::Other);
        QVERIFY(!smb::parseSessionReply(Bytes{0x83, 0, 0, 1})); // negative without its code
        QVERIFY(!smb::parseSessionReply(Bytes{0x82, 0}));

        // Session message framing: 17-bit length.
        const Bytes big(70000, 0x55);
        const Bytes framed = smb::sessionMessage(big);
        QCOMPARE(Bytes(framed.begin(), framed.begin() + 4), (Bytes{0x00, 0x01, 0x11, 0x70}));
        QCOMPARE(smb::sessionPacketLength(framed), std::optional<std::size_t>(70004));
        QVERIFY(smb::sessionMessage(Bytes(0x20000, 0)).empty());
    }

    void requestLayouts() {
        const Bytes negotiate = smb::negotiateRequest();
        QCOMPARE(negotiate[4], smb::Negotiate);
        QCOMPARE(Bytes(negotiate.begin() + 32, negotiate.end()),
                 bytesOf(std::string_view("\x00\x0C\x00\x02NT LM 0.12\x00", 15)));

        const Bytes message = smb::sendMessageRequest("ME", "PC01", "hi");
        QCOMPARE(message[4], smb::SendMessage);
        QCOMPARE(Bytes(message.begin() + 32, message.end()),
                 bytesOf(std::string_view("\x00\x0F\x00\x04ME\x00\x04PC01\x00\x01\x02\x00hi", 18)));
        QCOMPARE(Bytes(message.begin() + 5, message.begin() + 32), Bytes(27, 0));

        const Bytes text = smb::sendTextRequest(0x0107, "abc");
        QCOMPARE(Bytes(text.begin() + 32, text.end()),
                 (Bytes{0x01, 0x07, 0x01, 0x06, 0x00, 0x01, 0x03, 0x00, 'a', 'b', 'c'}));
        const Bytes end = smb::sendEndRequest(9);
        QCOMPARE(Bytes(end.begin() + 32, end.end()), (Bytes{0x01, 0x09, 0x00, 0x00, 0x00}));
        QCOMPARE(smb::sendStartRequest("A", "B")[4], smb::SendStart);

        QVERIFY_THROWS_EXCEPTION(std::invalid_argument,
                                 smb::sendMessageRequest("ME", "PC01", std::string(129, 'x')));
        QVERIFY_THROWS_EXCEPTION(std::invalid_argument,
                                 smb::sendStartRequest(std::string(16, 'A'), "B"));
        QVERIFY_THROWS_EXCEPTION(std::invalid_argument,
                                 smb::sendStartRequest(std::string("A\0B", 3), "B"));
    }

    void replies() {
        const auto accepted = smb::parseReply(replySmb(smb::SendStart, 0, {0x0042}));
        QVERIFY(accepted);
        QCOMPARE(accepted->status, 0u);
        QCOMPARE(smb::groupId(*accepted), std::uint16_t{0x42});
        // Samba's D5 reply carries no group id: group 0.
        QCOMPARE(smb::groupId(*smb::parseReply(replySmb(smb::SendStart, 0))), std::uint16_t{0});
        QCOMPARE(smb::parseReply(replySmb(smb::SendText, 0xC0000022))->status, 0xC0000022u);
        QCOMPARE(smb::chosenDialect(*smb::parseReply(replySmb(smb::Negotiate, 0, {0xFFFF}))),
                 std::uint16_t{0xFFFF});

        Bytes request = smb::sendEndRequest(1); // no reply flag: not an answer
        QVERIFY(!smb::parseReply(request));
        const Bytes reply = replySmb(smb::SendText, 0, {1, 2});
        for (std::size_t length = 0; length < reply.size(); ++length) {
            const auto parsed = smb::parseReply(std::span<const std::uint8_t>(reply).first(length));
            QVERIFY(!parsed || length == 32 + 1 + 4); // words whole, byte count left off
        }
        Bytes lyingCount = reply;
        lyingCount[32 + 1 + 4] = 9; // byte count beyond the end
        QVERIFY(!smb::parseReply(lyingCount));
    }

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
        const std::string text = "a" + QString::fromUtf8("汉字").repeated(150).toStdString();
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
        {
            ScriptedReceiver receiver;
            receiver.negativeSession = true;
            receiver.start();
            QCOMPARE(SmbMessenger(resolver, loopback(receiver.port)).send("127.0.0.1", {}, "x"),
                     code::NameNotFound);
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
