// The MESSNGR mailslot datagram of a workgroup message: layout, splitting, parsing, and the
// sender's refusal of input it cannot send (checked before anything goes on the network).
#include "platform/Mailslot.h"
#include "platform/MailslotSender.h"
#include "platform/OemCodePage.h"

#include <QtTest>

using namespace lanquill::platform;
using Bytes = std::vector<std::uint8_t>;

namespace {

unsigned be16(const Bytes& data, std::size_t at) {
    return static_cast<unsigned>((data[at] << 8) | data[at + 1]);
}
unsigned le16(const Bytes& data, std::size_t at) {
    return static_cast<unsigned>(data[at] | (data[at + 1] << 8));
}

mailslot::Source source() {
    mailslot::Source from;
    from.datagramId = 0xBEEF;
    from.address = {10, 1, 2, 3};
    from.name = "PC-07";
    return from;
}

} // namespace

class TestMailslot : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void datagramLayout() {
        const std::string data("PC-07\0WG\0hello", 14);
        const auto datagram = mailslot::messengerDatagram(source(), "WG", data);
        QVERIFY(datagram);
        const Bytes& d = *datagram;
        QCOMPARE(d[0], std::uint8_t{0x11}); // DIRECT_GROUP
        QCOMPARE(d[1], std::uint8_t{0x02}); // first fragment
        QCOMPARE(be16(d, 2), 0xBEEFu);
        QCOMPARE(Bytes(d.begin() + 4, d.begin() + 8), (Bytes{10, 1, 2, 3}));
        QCOMPARE(be16(d, 8), 138u);
        const std::size_t smbAt = 14 + 68;
        QCOMPARE(be16(d, 10), static_cast<unsigned>(d.size() - 14)); // 68 + SMB length
        QCOMPARE(be16(d, 12), 0u);
        QCOMPARE(d[smbAt + 4], std::uint8_t{0x25}); // TRANSACTION
        QCOMPARE(d[smbAt + 32], std::uint8_t{17});
        const std::size_t words = smbAt + 33;
        QCOMPARE(le16(d, words + 2), 14u);        // total data
        QCOMPARE(le16(d, words + 22), 14u);       // data count
        QCOMPARE(le16(d, words + 24), 87u);       // data offset from the SMB header
        QCOMPARE(d[words + 26], std::uint8_t{3}); // setup count
        QCOMPARE(le16(d, words + 28), 1u);        // write
        QCOMPARE(le16(d, words + 30), 1u);        // priority
        QCOMPARE(le16(d, words + 32), 2u);        // class 2
        QCOMPARE(le16(d, words + 34), 18u + 14u);
        QCOMPARE(std::string(d.begin() + static_cast<std::ptrdiff_t>(words + 36),
                             d.begin() + static_cast<std::ptrdiff_t>(words + 54)),
                 std::string("\\MAILSLOT\\MESSNGR\0", 18));
        QCOMPARE(std::string(d.begin() + static_cast<std::ptrdiff_t>(smbAt + 87), d.end()), data);

        QVERIFY(!mailslot::messengerDatagram(source(), "A-GROUP-OF-16-BY", data));
        QVERIFY(!mailslot::messengerDatagram(source(), "WG", std::string(425, 'x')));
        QVERIFY(mailslot::messengerDatagram(source(), "WG", std::string(424, 'x')));
    }

    void parsing() {
        const auto datagram =
            mailslot::messengerDatagram(source(), "WG", std::string("PC-07\0wg\0hi\r\nyou", 17));
        const auto message = mailslot::parseMessengerDatagram(*datagram);
        QVERIFY(message);
        QCOMPARE(message->sourceName, std::string("PC-07"));
        QCOMPARE(message->destinationName, std::string("WG"));
        QCOMPARE(message->destinationSuffix, std::uint8_t{0});
        QCOMPARE(message->sourceAddress, (Ipv4{10, 1, 2, 3}));
        QCOMPARE(message->from, std::string("PC-07"));
        QCOMPARE(message->to, std::string("wg"));
        QCOMPARE(message->text, std::string("hi\r\nyou"));
        // Some senders end the text with a zero; it is not part of the text.
        const auto withZero =
            mailslot::messengerDatagram(source(), "WG", std::string("A\0B\0text\0", 9));
        QCOMPARE(mailslot::parseMessengerDatagram(*withZero)->text, std::string("text"));

        // Anything cut short is refused, whatever the length fields claim.
        for (std::size_t length = 0; length < datagram->size(); ++length)
            QVERIFY(!mailslot::parseMessengerDatagram(
                std::span<const std::uint8_t>(*datagram).first(length)));
        Bytes otherSlot = *datagram;
        otherSlot[14 + 68 + 33 + 36 + 10] = 'X'; // \MAILSLOT\XESSNGR
        QVERIFY(!mailslot::parseMessengerDatagram(otherSlot));
        Bytes noSeparator = *mailslot::messengerDatagram(source(), "WG", "no zero at all");
        QVERIFY(!mailslot::parseMessengerDatagram(noSeparator));
        Bytes lyingOffset = *datagram;
        lyingOffset[14 + 68 + 33 + 24] = 0xF0; // data offset far beyond the end
        QVERIFY(!mailslot::parseMessengerDatagram(lyingOffset));
    }

    void splitting() {
        // Short text: one datagram.
        auto parts = mailslot::messengerData("PC-07", "WG", "hi");
        QCOMPARE(parts, std::vector<std::string>{std::string("PC-07\0WG\0hi", 11)});
        QCOMPARE(mailslot::messengerData("PC-07", "WG", "").size(), std::size_t{1});

        // Long double-byte text: every part within 424 bytes, none cutting a character, and
        // together the whole text in order.
        // Appended, not "x" + ...: that insert trips GCC 12's -Wrestrict at -O3 (a false positive).
        std::string text = "x";
        text += *oem::fromUtf8(QString::fromUtf8("文字").repeated(300).toStdString());
        parts = mailslot::messengerData("PC-07", "WG", text);
        QVERIFY(parts.size() >= 3);
        std::string joined;
        const std::string head("PC-07\0WG\0", 9);
        for (const auto& part : parts) {
            QVERIFY(part.size() <= mailslot::MaxData);
            QCOMPARE(part.substr(0, head.size()), head);
            const std::string piece = part.substr(head.size());
            QVERIFY(oem::toUtf8(piece));
            joined += piece;
        }
        QCOMPARE(joined, text);
    }

    void senderRefusesBadInput_data() {
        QTest::addColumn<QByteArray>("workgroup");
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("expected");
        using R = MailslotSender::Result;
        QTest::newRow("zero in text")
            << QByteArray("WG") << QByteArray("a\0b", 3) << int(R::InvalidText);
        QTest::newRow("zero in workgroup")
            << QByteArray("W\0G", 3) << QByteArray("hi") << int(R::InvalidText);
        QTest::newRow("broken UTF-8")
            << QByteArray("WG") << QByteArray("\xE4\xBD") << int(R::InvalidText);
        QTest::newRow("not in CP936")
            << QByteArray("WG") << QByteArray("\xF0\x9F\x98\x80") << int(R::InvalidText);
        QTest::newRow("empty workgroup") << QByteArray() << QByteArray("hi") << int(R::InvalidText);
        QTest::newRow("16 byte workgroup")
            << QByteArray(16, 'W') << QByteArray("hi") << int(R::TooLong);
        QTest::newRow("10000 characters")
            << QByteArray("WG") << QByteArray(10000, 'x') << int(R::TooLong);
    }
    void senderRefusesBadInput() {
        QFETCH(QByteArray, workgroup);
        QFETCH(QByteArray, text);
        QFETCH(int, expected);
        MailslotSender sender;
        QCOMPARE(int(sender.send(workgroup.toStdString(), {}, text.toStdString())), expected);
        QCOMPARE(sender.interfacesReached(), 0);
    }
};

QTEST_GUILESS_MAIN(TestMailslot)
#include "tst_mailslot.moc"
