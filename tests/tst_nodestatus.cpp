// The node-status query and the decoder of its replies, on replies captured from Samba's nmbd
// and on hand-built ones for the cases nmbd does not produce.
#include "net/NodeStatus.h"
#include "support/Files.h"

#include <QtTest>

#include <cstdint>
#include <string>
#include <vector>

using lanquill::net::handleDatagram;
using lanquill::net::NbStatQuery;
using lanquill::net::NodeStatusResults;
using lanquill::net::RecvNbMsg;
using lanquill::testsupport::nodeStatusCapture;

using Bytes = std::vector<std::uint8_t>;

namespace {

struct Entry {
    std::string name; // up to 15 bytes, padded with blanks unless `raw` is set
    std::uint8_t suffix = 0x00;
    bool group = false;
    bool raw = false; // name already holds the 15 name bytes as they go on the wire
};

// A node status response as RFC 1002 lays it out. `answerName` is the encoded answer name
// with its length bytes; the usual one is the 34-byte encoded "*".
Bytes buildReply(const std::vector<Entry>& entries, const Bytes& unitId,
                 const Bytes& answerName = {}) {
    Bytes out = {0x00, 0x00, 0x84, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00};
    // Reserved ahead, here and below: GCC 12 at -O3 otherwise takes the inserts after a vector
    // made from a brace list for a memmove out of its bounds (-Warray-bounds, a false positive).
    out.reserve(512);
    if (answerName.empty()) {
        out.push_back(0x20);
        out.push_back('C');
        out.push_back('K');
        out.insert(out.end(), 30, 'A');
        out.push_back(0x00);
    } else {
        out.insert(out.end(), answerName.begin(), answerName.end());
    }
    const Bytes rest = {0x00, 0x21, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    out.insert(out.end(), rest.begin(), rest.end());
    out.push_back(static_cast<std::uint8_t>(entries.size()));
    for (const Entry& e : entries) {
        Bytes name(15, e.raw ? 0x00 : 0x20);
        std::copy_n(e.name.begin(), std::min<std::size_t>(e.name.size(), 15), name.begin());
        out.insert(out.end(), name.begin(), name.end());
        out.push_back(e.suffix);
        out.push_back(e.group ? 0x84 : 0x04);
        out.push_back(0x00);
    }
    out.insert(out.end(), unitId.begin(), unitId.end());
    out.insert(out.end(), 40, 0x00); // the rest of the statistics
    return out;
}

// Results already holding values, so that a test can tell "left alone" from "cleared".
NodeStatusResults earlier() {
    NodeStatusResults r;
    r.NbCurrentUser = "OLDUSER";
    r.NbExtraName = "OLDEXTRA";
    r.NbWorkstationName = "OLDPC";
    r.NbBrowserGroup = "OLDGROUP";
    r.NbMacAddress = "11-22-33-44-55-66";
    return r;
}

bool same(const NodeStatusResults& a, const NodeStatusResults& b) {
    return a.NbCurrentUser == b.NbCurrentUser && a.NbExtraName == b.NbExtraName &&
           a.NbWorkstationName == b.NbWorkstationName && a.NbBrowserGroup == b.NbBrowserGroup &&
           a.NbMacAddress == b.NbMacAddress && a.NbReplyReceived == b.NbReplyReceived;
}

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

const Bytes Mac = {0x00, 0x0C, 0x29, 0x05, 0xAB, 0xCD};

// Five names as a Windows machine registers them: entries 1 to 5 at offsets 57 ... 129.
std::vector<Entry> fiveNames() {
    return {{"PC-01", 0x00, false},
            {"WORKGROUP", 0x00, true},
            {"PC-01", 0x20, false},
            {"PC-01", 0x03, false},
            {"WORKGROUP", 0x1E, true}};
}

} // namespace

class TestNodeStatus : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void queryIsTheConstantDatagram() {
        Bytes expected = {0x00, 0x00, 0x00, 0x10, 0x00, 0x01, 0x00, 0x00,
                          0x00, 0x00, 0x00, 0x00, 0x20, 0x43, 0x4B};
        expected.insert(expected.end(), 30, 0x41);
        const Bytes tail = {0x00, 0x00, 0x21, 0x00, 0x01};
        expected.insert(expected.end(), tail.begin(), tail.end());
        QCOMPARE(expected.size(), std::size_t{50});
        QVERIFY(std::equal(NbStatQuery.begin(), NbStatQuery.end(), expected.begin()));
    }

    void capturedReplies_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("currentUser");
        QTest::addColumn<QString>("browserGroup");
        // Right after start: PEER <00> <03> <20>, WORKGROUP <00> <1E> groups; no sixth name.
        QTest::newRow("5 names") << "nmbd-193.bin"
                                 << "OLDUSER"
                                 << "OLDGROUP";
        // Master browser: __MSBROWSE__ <01> fourth, WORKGROUP <1D> unique sixth at 147: the
        // workgroup is nobody's user name.
        QTest::newRow("7 names") << "nmbd-229.bin"
                                 << "OLDUSER"
                                 << "__MSBROWSE__";
    }
    void capturedReplies() {
        QFETCH(QString, file);
        QFETCH(QString, currentUser);
        QFETCH(QString, browserGroup);
        const Bytes reply = nodeStatusCapture(file.toStdString());
        QVERIFY2(!reply.empty(), "fixture missing");
        NodeStatusResults r = earlier();
        RecvNbMsg(reply, r);
        QCOMPARE(q(r.NbWorkstationName), QStringLiteral("PEER"));
        QCOMPARE(q(r.NbCurrentUser), currentUser);
        QCOMPARE(q(r.NbBrowserGroup), browserGroup);
        QCOMPARE(q(r.NbExtraName), QStringLiteral("OLDEXTRA"));
        // Samba zeroes the statistics block, unit id included: no adapter address to report.
        QCOMPARE(q(r.NbMacAddress), QStringLiteral("11-22-33-44-55-66"));
        QVERIFY(!r.NbReplyReceived);
    }

    void sixthName_data() {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<bool>("group");
        QTest::addColumn<int>("suffix");
        QTest::addColumn<QString>("currentUser");
        QTest::newRow("unique <03>") << QByteArray("ALICE") << false << 0x03 << "ALICE";
        QTest::newRow("unique <06>") << QByteArray("ALICE") << false << 0x06 << "ALICE";
        QTest::newRow("group <03>") << QByteArray("ALICE") << true << 0x03 << "OLDUSER";
        QTest::newRow("unique <20>") << QByteArray("ALICE") << false << 0x20 << "OLDUSER";
        // A master browser's name is its workgroup's, whatever that workgroup is called.
        QTest::newRow("unique <1D>") << QByteArray("ALICE") << false << 0x1D << "OLDUSER";
        QTest::newRow("the workgroup") << QByteArray("WORKGROUP") << false << 0x06 << "OLDUSER";
        QTest::newRow("the workgroup in lower case")
            << QByteArray("workgroup") << false << 0x06 << "OLDUSER";
        QTest::newRow("the computer's own name")
            << QByteArray("PC-01") << false << 0x06 << "OLDUSER";
        QTest::newRow("master browser mark")
            << QByteArray("\x01\x02__MSBROWSE__\x02") << false << 0x01 << "OLDUSER";
    }
    void sixthName() {
        QFETCH(QByteArray, name);
        QFETCH(bool, group);
        QFETCH(int, suffix);
        QFETCH(QString, currentUser);
        auto entries = fiveNames();
        entries.push_back({name.toStdString(), static_cast<std::uint8_t>(suffix), group});
        NodeStatusResults r = earlier();
        RecvNbMsg(buildReply(entries, Mac), r);
        QCOMPARE(q(r.NbCurrentUser), currentUser);
        QCOMPARE(q(r.NbWorkstationName), QStringLiteral("PC-01"));
        QCOMPARE(q(r.NbExtraName), QStringLiteral("OLDEXTRA"));
    }

    void entriesAtFixedOffsets() {
        // A <00> unique name at 147 is the workstation name; the seventh (165) is the extra name
        // and, as a unique <03> other than the computer's name, the current user; an eighth
        // unique name goes nowhere but <00>.
        auto entries = fiveNames();
        entries.push_back({"PC-SIXTH", 0x00, false});
        entries.push_back({"BOB", 0x03, false});
        entries.push_back({"EIGHTH", 0x03, false});
        NodeStatusResults r = earlier();
        RecvNbMsg(buildReply(entries, Mac), r);
        QCOMPARE(q(r.NbCurrentUser), QStringLiteral("BOB"));
        QCOMPARE(q(r.NbWorkstationName), QStringLiteral("PC-SIXTH"));
        QCOMPARE(q(r.NbExtraName), QStringLiteral("BOB"));
        QCOMPARE(q(r.NbBrowserGroup), QStringLiteral("OLDGROUP"));
        QCOMPARE(q(r.NbMacAddress), QStringLiteral("00-0C-29-05-AB-CD"));
    }

    void nameBytes_data() {
        QTest::addColumn<QByteArray>("wire");
        QTest::addColumn<QString>("name");
        const auto row = [](const char* name, QByteArray wire, const char* shown) {
            QTest::newRow(name) << wire << QString::fromUtf8(shown);
        };
        row("master browser", QByteArray("\x01\x02__MSBROWSE__\x02", 15), "__MSBROWSE__");
        row("control inside", QByteArray("\0\0AB\tCD\x1F ", 9), "AB CD");
        row("all blank", QByteArray("\x00\x20\x10", 3), "");
        row("CP936", "\xD5\xC5\xC8\xFD", "张三");
        row("CP936 and ASCII", "PC-\xB2\xE2\xCA\xD4", "PC-测试");
        row("undecodable byte", "A\377B", "A\uFFFDB");
        row("lead byte cut off", "AB\xD5", "AB\uFFFD");
        row("15 bytes", "ABCDEFGHIJKLMNO", "ABCDEFGHIJKLMNO");
    }
    void nameBytes() {
        QFETCH(QByteArray, wire);
        QFETCH(QString, name);
        Entry browse{wire.toStdString(), 0x01, true, true};
        std::vector<Entry> entries = {{"PC-01", 0x00, false}, browse};
        NodeStatusResults r = earlier();
        RecvNbMsg(buildReply(entries, Mac), r);
        QCOMPARE(q(r.NbBrowserGroup), name);
    }

    void theResultsHoldOneComputersReplies() {
        NodeStatusResults r;
        std::vector<Entry> first = fiveNames();
        first.push_back({"ALICE", 0x03, false});
        first.push_back({"RAS", 0x06, false});
        handleDatagram(buildReply(first, Mac), "10.0.0.1", r);
        QCOMPARE(q(r.NbReplyFrom), QStringLiteral("10.0.0.1"));
        QCOMPARE(q(r.NbCurrentUser), QStringLiteral("ALICE"));
        // The same computer again, without a sixth name: what it said before stays.
        handleDatagram(buildReply(fiveNames(), Mac), "10.0.0.1", r);
        QCOMPARE(q(r.NbCurrentUser), QStringLiteral("ALICE"));
        // Another computer: nothing of the first one's is left, not even what its reply lacks.
        const std::vector<Entry> second = {{"PC-02", 0x00, false}, {"OFFICE", 0x00, true}};
        handleDatagram(buildReply(second, {0, 0, 0, 0, 0, 0}), "10.0.0.2", r);
        QCOMPARE(q(r.NbReplyFrom), QStringLiteral("10.0.0.2"));
        QCOMPARE(q(r.NbWorkstationName), QStringLiteral("PC-02"));
        QCOMPARE(q(r.NbCurrentUser), QString());
        QCOMPARE(q(r.NbExtraName), QString());
        QCOMPARE(q(r.NbMacAddress), QString());
        QVERIFY(r.NbReplyReceived);
    }

    void datagramsThatDecodeNothing_data() {
        QTest::addColumn<QByteArray>("datagram");
        QTest::newRow("one byte") << QByteArray(1, '\x21');
        QTest::newRow("empty") << QByteArray();
        Bytes noMarker = buildReply(fiveNames(), Mac);
        noMarker[47] = 0x20; // type 00 20 (NB) instead of NBSTAT
        QTest::newRow("no marker") << QByteArray(reinterpret_cast<const char*>(noMarker.data()),
                                                 static_cast<qsizetype>(noMarker.size()));
        Bytes zero = buildReply({}, Mac);
        QTest::newRow("no names") << QByteArray(reinterpret_cast<const char*>(zero.data()),
                                                static_cast<qsizetype>(zero.size()));
        // The marker at position 0 is never looked for, even with a valid entry after it.
        Bytes atZero = {0x21, 0x00, 0x01, 0, 0, 0, 0, 0, 0, 0x01};
        atZero.insert(atZero.end(), {'P', 'C', ' ', ' ',  ' ',  ' ',  ' ', ' ', ' ', ' ', ' ', ' ',
                                     ' ', ' ', ' ', 0x00, 0x04, 0x00, 1,   2,   3,   4,   5,   6});
        QTest::newRow("marker at 0") << QByteArray(reinterpret_cast<const char*>(atZero.data()),
                                                   static_cast<qsizetype>(atZero.size()));
        // 25 names put the unit id at 507..512, past the 500-byte receive buffer.
        std::vector<Entry> many(25, Entry{"MANY", 0x00, false});
        Bytes big = buildReply(many, Mac);
        QTest::newRow("past 500 bytes") << QByteArray(reinterpret_cast<const char*>(big.data()),
                                                      static_cast<qsizetype>(big.size()));
    }
    void datagramsThatDecodeNothing() {
        QFETCH(QByteArray, datagram);
        const Bytes bytes(datagram.begin(), datagram.end());
        NodeStatusResults r = earlier();
        RecvNbMsg(bytes, r);
        QVERIFY(same(r, earlier()));
        handleDatagram(bytes, r.NbReplyFrom, r);
        NodeStatusResults expected = earlier();
        expected.NbReplyReceived = true;
        QVERIFY(same(r, expected));
    }

    void lastNamesWithinTheBuffer() {
        // 24 names end the unit id at byte 495: still inside the 500-byte buffer.
        std::vector<Entry> many(23, Entry{"MANY", 0x03, false});
        many.push_back({"LAST", 0x00, false});
        NodeStatusResults r = earlier();
        RecvNbMsg(buildReply(many, Mac), r);
        QCOMPARE(q(r.NbWorkstationName), QStringLiteral("LAST"));
        QCOMPARE(q(r.NbMacAddress), QStringLiteral("00-0C-29-05-AB-CD"));
    }

    void truncatedReplies() {
        const Bytes reply = nodeStatusCapture("nmbd-229.bin");
        QVERIFY2(reply.size() == 229, "fixture missing");
        NodeStatusResults full = earlier();
        RecvNbMsg(reply, full);
        // Seven entries from 57 and the unit id: the reply is complete from 57 + 126 + 6 bytes.
        const std::size_t complete = 57 + 7 * 18 + 6;
        for (std::size_t n = 0; n <= reply.size(); ++n) {
            // A copy of exactly n bytes, so that a read past them is caught by the sanitizers.
            const Bytes prefix(reply.begin(), reply.begin() + static_cast<std::ptrdiff_t>(n));
            NodeStatusResults r = earlier();
            RecvNbMsg(prefix, r);
            if (n < complete)
                QVERIFY2(same(r, earlier()), qPrintable(QStringLiteral("length %1").arg(n)));
            else
                QVERIFY2(same(r, full), qPrintable(QStringLiteral("length %1").arg(n)));
        }
    }

    void answerNameOfAnotherLength() {
        auto entries = fiveNames();
        // Not <03>: a messenger name would be the user wherever it stands.
        entries.push_back({"SIXTH", 0x06, false});
        entries.push_back({"SEVENTH", 0x06, false});
        // A scope label after the name moves everything 6 bytes on: no entry starts at 147 or
        // 165, so neither field is written.
        Bytes scoped = {0x20, 'C', 'K'};
        scoped.reserve(40);
        scoped.insert(scoped.end(), 30, 'A');
        scoped.insert(scoped.end(), {0x05, 'S', 'C', 'O', 'P', 'E', 0x00});
        NodeStatusResults r = earlier();
        RecvNbMsg(buildReply(entries, Mac, scoped), r);
        QCOMPARE(q(r.NbCurrentUser), QStringLiteral("OLDUSER"));
        QCOMPARE(q(r.NbExtraName), QStringLiteral("OLDEXTRA"));
        QCOMPARE(q(r.NbWorkstationName), QStringLiteral("PC-01"));
        QCOMPARE(q(r.NbMacAddress), QStringLiteral("00-0C-29-05-AB-CD"));

        // An answer name 18 bytes shorter puts the seventh entry at 147 and none at 165.
        Bytes shortName = {0x0C};
        shortName.reserve(16);
        shortName.insert(shortName.end(), 12, 'A');
        shortName.insert(shortName.end(), {0x01, 'B', 0x00});
        QCOMPARE(shortName.size(), std::size_t{34 - 18});
        r = earlier();
        RecvNbMsg(buildReply(entries, Mac, shortName), r);
        QCOMPARE(q(r.NbCurrentUser), QStringLiteral("SEVENTH"));
        QCOMPARE(q(r.NbExtraName), QStringLiteral("OLDEXTRA"));
    }
};

QTEST_APPLESS_MAIN(TestNodeStatus)
#include "tst_nodestatus.moc"
