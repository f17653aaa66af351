// NetBIOS name-service packets and the OEM code page: the encodings Windows and nmbd expect,
// and parsers that refuse anything malformed without reading past it.
#include "platform/NameService.h"
#include "protocol/NetBios.h"
#include "protocol/OemCodePage.h"

#include <QFile>
#include <QtTest>

using namespace lanquill::platform;
using namespace lanquill::protocol;
using Bytes = std::vector<std::uint8_t>;

namespace {

Bytes fromHex(const char* hex) {
    return [](const QByteArray& raw) {
        return Bytes(raw.begin(), raw.end());
    }(QByteArray::fromHex(hex));
}

void put16(Bytes& out, unsigned value) {
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
}

// A positive name query response with `id`, answering NAME<00> with the given addresses.
Bytes nameResponse(std::uint16_t id, const std::vector<Ipv4>& addresses, unsigned flags = 0x8500) {
    Bytes out;
    put16(out, id);
    put16(out, flags);
    put16(out, 0);
    put16(out, 1);
    put16(out, 0);
    put16(out, 0);
    const auto name = *netbios::encodeName("PEER", 0x00);
    out.insert(out.end(), name.begin(), name.end());
    put16(out, 0x0020);
    put16(out, 0x0001);
    out.insert(out.end(), {0, 0, 0x0E, 0x10}); // ttl
    put16(out, static_cast<unsigned>(6 * addresses.size()));
    for (const auto& address : addresses) {
        put16(out, 0x6000);
        out.insert(out.end(), address.begin(), address.end());
    }
    return out;
}

Bytes readData(const QString& name) {
    QFile file(QStringLiteral(LANQUILL_TEST_DATA) + "/" + name);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray raw = file.readAll();
    return Bytes(raw.begin(), raw.end());
}

std::span<const std::uint8_t> prefix(const Bytes& bytes, std::size_t length) {
    return std::span<const std::uint8_t>(bytes).first(length);
}

} // namespace

class TestNetBios : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void nameEncoding() {
        // The worked example: "PC01"<03>.
        const auto encoded = netbios::encodeName("PC01", 0x03);
        QVERIFY(encoded);
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(encoded->data()) + 1, 32),
                 QByteArray("FAEDDADBCACACACACACACACACACACAAD"));
        QCOMPARE((*encoded)[0], std::uint8_t{0x20});
        QCOMPARE((*encoded)[33], std::uint8_t{0x00});
        // The wildcard is padded with zeros, not blanks.
        const auto star = netbios::encodeName("*", 0x00);
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(star->data()) + 1, 32),
                 QByteArray("CK") + QByteArray(30, 'A'));
        // Exactly 15 bytes fit; 16 or none do not.
        QVERIFY(netbios::encodeName("ABCDEFGHIJKLMNO", 0x20));
        QVERIFY(!netbios::encodeName("ABCDEFGHIJKLMNOP", 0x20));
        QVERIFY(!netbios::encodeName("", 0x00));
    }

    void nameDecoding() {
        for (const std::string name : {"PC01", "ABCDEFGHIJKLMNO", "\xC4\xE3\xBA\xC3"}) {
            const auto encoded = netbios::encodeName(name, 0x1D);
            const auto decoded = netbios::decodeName(*encoded);
            QVERIFY(decoded);
            QCOMPARE(decoded->name, name);
            QCOMPARE(decoded->suffix, std::uint8_t{0x1D});
        }
        auto broken = *netbios::encodeName("PC01", 0x00);
        broken[5] = 'Q'; // beyond 'P': not a nibble
        QVERIFY(!netbios::decodeName(broken));
        QVERIFY(!netbios::decodeName(std::span<const std::uint8_t>(broken).first(33)));
        broken = *netbios::encodeName("PC01", 0x00);
        broken[0] = 0x1F;
        QVERIFY(!netbios::decodeName(broken));
    }

    void nameQueryRequest() {
        const auto request = netbios::nameQueryRequest(0x1234, "PEER", 0x00);
        QVERIFY(request);
        QCOMPARE(request->size(), std::size_t{50});
        const Bytes head(request->begin(), request->begin() + 12);
        QCOMPARE(head, fromHex("123401100001000000000000"));
        const Bytes tail(request->end() - 4, request->end());
        QCOMPARE(tail, fromHex("00200001")); // NB, IN
        QVERIFY(!netbios::nameQueryRequest(1, "NAME-LONGER-THAN-15", 0x00));
    }

    void nameQueryResponse() {
        const Ipv4 first{192, 168, 0, 5};
        const Ipv4 second{10, 0, 0, 7};
        const Bytes reply = nameResponse(0x4242, {first, second});
        const auto addresses = netbios::parseNameQueryResponse(reply, 0x4242);
        QVERIFY(addresses);
        QCOMPARE(*addresses, (std::vector<Ipv4>{first, second}));

        QVERIFY(!netbios::parseNameQueryResponse(reply, 0x4243)); // another query's answer
        QVERIFY(!netbios::parseNameQueryResponse(nameResponse(7, {first}, 0x8503), 7)); // NXDOMAIN
        QVERIFY(!netbios::parseNameQueryResponse(nameResponse(7, {first}, 0x0110), 7)); // a request
        QVERIFY(!netbios::parseNameQueryResponse(nameResponse(7, {}), 7)); // no address
        // A request of our own, heard back on the broadcast, is no answer.
        QVERIFY(!netbios::parseNameQueryResponse(*netbios::nameQueryRequest(9, "PEER", 0), 9));
        // Every truncation is refused (that none reads past the end, fuzz_netbios checks under
        // ASan).
        for (std::size_t length = 0; length < reply.size(); ++length)
            QVERIFY(!netbios::parseNameQueryResponse(prefix(reply, length), 0x4242));
    }

    void nodeStatusRequest() {
        // As nbtstat sends it: the 50-byte NBSTAT question for "*", unicast flags.
        const Bytes request = netbios::nodeStatusRequest(0x0102);
        Bytes expected = fromHex("010200000001000000000000");
        expected.push_back(0x20);
        expected.insert(expected.end(), {'C', 'K'});
        expected.insert(expected.end(), 30, 'A');
        expected.insert(expected.end(), {0x00, 0x00, 0x21, 0x00, 0x01});
        QCOMPARE(request, expected);
    }

    void nodeStatusOfRealNmbd() {
        const Bytes reply = readData("nodestatus/nmbd-229.bin");
        QVERIFY2(reply.size() == 229, "tests/data/nodestatus/nmbd-229.bin missing");
        const std::uint16_t id = static_cast<std::uint16_t>((reply[0] << 8) | reply[1]);
        const auto status = netbios::parseNodeStatusResponse(reply, id);
        QVERIFY(status);
        QCOMPARE(status->names.size(), std::size_t{7});
        QCOMPARE(status->unitId, (std::array<std::uint8_t, 6>{}));
        const auto workstation = netbios::firstUniqueName(*status, {0x00});
        QVERIFY(!workstation.empty());
        QCOMPARE(netbios::firstUniqueName(*status, {0x03}), workstation);
        bool browse = false;
        for (const auto& entry : status->names)
            browse = browse || (entry.group && entry.suffix == 0x01 &&
                                entry.name == std::string("\x01\x02__MSBROWSE__\x02"));
        QVERIFY(browse);
        QVERIFY(!netbios::parseNodeStatusResponse(reply, static_cast<std::uint16_t>(id + 1)));
        // Cut anywhere inside the name table: refused as a whole.
        for (std::size_t length = 0; length < 57 + 18 * 7; ++length)
            QVERIFY(!netbios::parseNodeStatusResponse(prefix(reply, length), id));
        // Cut in the statistics: the names stand, the unit id is unknown (zeros).
        QVERIFY(netbios::parseNodeStatusResponse(prefix(reply, 57 + 18 * 7 + 3), id));
    }

    void nodeStatusHandBuilt() {
        // Windows fills the unit id; a group <00> name is never the computer's name.
        Bytes reply = fromHex("000084000000000100000000");
        const auto star = *netbios::encodeName("*", 0);
        reply.insert(reply.end(), star.begin(), star.end());
        reply.insert(reply.end(), {0x00, 0x21, 0x00, 0x01, 0, 0, 0, 0});
        put16(reply, 1 + 2 * 18 + 6);
        reply.push_back(2);
        auto addEntry = [&](const char* name, std::uint8_t suffix, std::uint8_t flagsHigh) {
            std::string padded(name);
            padded.resize(15, ' ');
            reply.insert(reply.end(), padded.begin(), padded.end());
            reply.push_back(suffix);
            reply.push_back(flagsHigh);
            reply.push_back(0x00);
        };
        addEntry("WORKGROUP", 0x00, 0x84);
        addEntry("PC-07", 0x00, 0x04);
        reply.insert(reply.end(), {0x00, 0x0C, 0x29, 0x1A, 0x2B, 0x3C});
        const auto status = netbios::parseNodeStatusResponse(reply, 0);
        QVERIFY(status);
        QVERIFY(status->names[0].group);
        QVERIFY(!status->names[1].group);
        QCOMPARE(netbios::firstUniqueName(*status, {0x00}), std::string("PC-07"));
        QCOMPARE(status->unitId, (std::array<std::uint8_t, 6>{0x00, 0x0C, 0x29, 0x1A, 0x2B, 0x3C}));
        // A name count larger than the data really holds.
        Bytes lying = reply;
        lying[56] = 200; // the name count
        QVERIFY(!netbios::parseNodeStatusResponse(lying, 0));
        // Answer of the wrong type (NB instead of NBSTAT).
        Bytes wrongType = reply;
        wrongType[47] = 0x20;
        QVERIFY(!netbios::parseNodeStatusResponse(wrongType, 0));
    }

    void oemConversion() {
        const std::string chinese = "你好，世界"; // UTF-8
        const auto oemText = oem::fromUtf8(chinese);
        QVERIFY(oemText);
        QCOMPARE(*oemText, std::string("\xC4\xE3\xBA\xC3\xA3\xAC\xCA\xC0\xBD\xE7"));
        QCOMPARE(oem::toUtf8(*oemText), std::optional<std::string>(chinese));
        QCOMPARE(oem::fromUtf8("line\r\nnext"), std::optional<std::string>("line\r\nnext"));
        // Nothing is dropped or replaced: characters GBK lacks and broken UTF-8 are errors.
        QVERIFY(!oem::fromUtf8("smile \xF0\x9F\x98\x80"));
        QVERIFY(!oem::fromUtf8("\xC3"));
        QVERIFY(!oem::fromUtf8("\xC0\xAF"));     // overlong '/'
        QVERIFY(!oem::fromUtf8("\xED\xA0\x80")); // a lone surrogate
        QVERIFY(!oem::toUtf8("\xC4"));           // half a double-byte character
    }

    void utf16Units() {
        QCOMPARE(oem::utf16Length(""), std::optional<std::size_t>(0));
        QCOMPARE(oem::utf16Length("abc"), std::optional<std::size_t>(3));
        QCOMPARE(oem::utf16Length("你好"), std::optional<std::size_t>(2));
        QCOMPARE(oem::utf16Length("\xF0\x9F\x98\x80"), std::optional<std::size_t>(2));
        QVERIFY(!oem::utf16Length("\xFF"));
        QVERIFY(!oem::utf16Length("\xE4\xBD")); // cut short
    }

    void printableNames_data() {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QByteArray>("shown");
        QTest::newRow("plain") << QByteArray("PC-07") << QByteArray("PC-07");
        QTest::newRow("escape") << QByteArray("WG\x1b[31m") << QByteArray("WG.[31m");
        QTest::newRow("bell, CR LF") << QByteArray("a\ab\r\n") << QByteArray("a.b..");
        QTest::newRow("DEL") << QByteArray("x\x7f") << QByteArray("x.");
        QTest::newRow("C1 CSI") << QByteArray("x\xc2\x9b"
                                              "31m")
                                << QByteArray("x.31m");
        QTest::newRow("Chinese and NBSP kept")
            << QByteArray("办公\xc2\xa0室") << QByteArray("办公\xc2\xa0室");
        QTest::newRow("cut at C2") << QByteArray("x\xc2") << QByteArray("x\xc2");
    }
    void printableNames() {
        QFETCH(QByteArray, name);
        QFETCH(QByteArray, shown);
        QCOMPARE(QByteArray::fromStdString(oem::printable(name.toStdString())), shown);
    }

    void characterBoundaries() {
        const std::string mixed = "a\xC4\xE3"
                                  "b"; // a, 你, b
        QCOMPARE(oem::characterBoundary(mixed, 1), std::size_t{1});
        QCOMPARE(oem::characterBoundary(mixed, 2), std::size_t{1}); // never half of 你
        QCOMPARE(oem::characterBoundary(mixed, 3), std::size_t{3});
        QCOMPARE(oem::characterBoundary(mixed, 100), mixed.size());
        // A lone lead byte at the end is not waited for beyond the text.
        QCOMPARE(oem::characterBoundary("ab\xC4", 10), std::size_t{3});
    }

    void netbiosNames() {
        QCOMPARE(netbios::netbiosName("pc-07"), std::optional<std::string>("PC-07"));
        QCOMPARE(netbios::netbiosName("办公室"), oem::fromUtf8("办公室"));
        QVERIFY(!netbios::netbiosName(""));
        QVERIFY(!netbios::netbiosName("host.example.com")); // a DNS name, not a NetBIOS one
        QVERIFY(!netbios::netbiosName("*"));
        QVERIFY(!netbios::netbiosName("ABCDEFGHIJKLMNOP"));
        QVERIFY(!netbios::netbiosName("八个汉字八个汉字")); // 16 OEM bytes
        QVERIFY(!netbios::netbiosName("tab\there"));
        const std::string own = ownNetbiosName();
        QVERIFY(!own.empty() && own.size() <= 15);
        QCOMPARE(oem::upperAscii(own), own);
    }
};

QTEST_GUILESS_MAIN(TestNetBios)
#include "tst_netbios.moc"
