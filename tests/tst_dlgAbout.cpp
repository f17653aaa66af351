// The about box: the local host line in its resolved and unresolved forms, and the one button
// that Enter and Esc both stand for.
#include "dialogs/dlgAbout.h"
#include "fakes/FakePlatform.h"
#include "protocol/Addresses.h"
#include "ui_dlgAbout.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>

using namespace lanquill;

class TestAboutBox : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void theHostLineShowsNameAndFirstAddress_data() {
        QTest::addColumn<QString>("host");
        QTest::addColumn<bool>("known");
        QTest::addColumn<QString>("addresses");  // what the name resolves to
        QTest::addColumn<QString>("interfaces"); // the interfaces that are up
        QTest::addColumn<QString>("line");
        const QString up = QStringLiteral("10.1.2.3 172.16.0.1");
        QTest::newRow("resolved") << "pc-07" << true << "192.168.1.7 10.0.0.7" << up
                                  << "Name:PC-07    IP: 192.168.1.7";
        QTest::newRow("loopback only")
            << "pc-07" << true << "127.0.1.1" << up << "Name:PC-07    IP: 10.1.2.3";
        QTest::newRow("loopback first")
            << "pc-07" << true << "127.0.1.1 192.168.1.7" << up << "Name:PC-07    IP: 192.168.1.7";
        QTest::newRow("loopback, no interface up") << "pc-07" << true << "127.0.1.1"
                                                   << ""
                                                   << "Name:PC-07    IP: 127.0.1.1";
        QTest::newRow("not resolved") << "pc-07" << false << "" << up << "Name:    IP: ";
        QTest::newRow("entry without address") << "pc-07" << true << "" << up << "Name:    IP: ";
        QTest::newRow("no host name") << "" << false << "" << up << "Name:    IP: ";
    }
    void theHostLineShowsNameAndFirstAddress() {
        QFETCH(QString, host);
        QFETCH(bool, known);
        QFETCH(QString, addresses);
        QFETCH(QString, interfaces);
        QFETCH(QString, line);
        const auto parse = [](const QString& list) {
            std::vector<platform::Ipv4> out;
            for (const QString& text : list.split(' ', Qt::SkipEmptyParts))
                out.push_back(*protocol::parseIpv4(text.toStdString()));
            return out;
        };
        fakes::FakePlatform fake;
        fake.system.host = host.toStdString();
        fake.system.interfaces = parse(interfaces);
        if (known)
            fake.resolver.byName["pc-07"] = platform::HostEntry{"PC-07", parse(addresses)};
        dialogs::TAboutBox about(fake.platform(), nullptr);
        QCOMPARE(about.nameAndAddressLine(), line);
        QCOMPARE(about.findChild<QLabel*>("lblNameIP")->text(), line);
        if (!host.isEmpty())
            QCOMPARE(fake.resolver.asked, std::vector<std::string>{"pc-07"});
    }

    // The name stands out: bold italic, larger than the dialog's text, and still fits.
    void theProductNameStandsOut() {
        fakes::FakePlatform fake;
        dialogs::TAboutBox about(fake.platform(), nullptr);
        const auto* product = about.findChild<QLabel*>("ProductName");
        const QFontInfo shown(product->font());
        QVERIFY(shown.bold() && shown.italic());
        QVERIFY(shown.pixelSize() > QFontInfo(about.font()).pixelSize());
        QVERIFY(QFontMetrics(product->font()).height() <= product->height() + 2);
    }

    void enterEscAndTheButtonCloseTheBox_data() {
        QTest::addColumn<int>("key"); // 0: a click on the button
        QTest::newRow("button") << 0;
        QTest::newRow("enter") << int(Qt::Key_Return);
        QTest::newRow("esc") << int(Qt::Key_Escape);
    }
    void enterEscAndTheButtonCloseTheBox() {
        QFETCH(int, key);
        fakes::FakePlatform fake;
        dialogs::TAboutBox about(fake.platform(), nullptr);
        about.show();
        QVERIFY(QTest::qWaitForWindowExposed(&about));
        auto* button = about.findChild<QPushButton*>("Button1");
        if (key == 0) {
            QTest::mouseClick(button, Qt::LeftButton);
            QCOMPARE(about.result(), int(QDialog::Accepted));
        } else {
            QTest::keyClick(&about, Qt::Key(key));
        }
        QVERIFY(!about.isVisible());
    }
};

QTEST_MAIN(TestAboutBox)
#include "tst_dlgAbout.moc"
