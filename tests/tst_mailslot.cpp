// The workgroup message sender's refusal of input it cannot send, checked before anything goes on
// the network.
#include "platform/MailslotSender.h"

#include <QtTest>

using namespace lanquill::platform;

class TestMailslot : public QObject {
    Q_OBJECT

private Q_SLOTS:
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
