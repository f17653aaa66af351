// The about box: the local host line in its resolved and unresolved forms, and the one button
// that Enter and Esc both stand for.
#include "dialogs/dlgAbout.h"
#include "fakes/FakePlatform.h"
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
        QTest::addColumn<int>("addresses");
        QTest::addColumn<QString>("line");
        QTest::newRow("resolved") << "pc-07" << true << 2 << "Name:PC-07    IP: 192.168.1.7";
        QTest::newRow("not resolved") << "pc-07" << false << 0 << "Name:    IP: ";
        QTest::newRow("entry without address") << "pc-07" << true << 0 << "Name:    IP: ";
        QTest::newRow("no host name") << "" << false << 0 << "Name:    IP: ";
    }
    void theHostLineShowsNameAndFirstAddress() {
        QFETCH(QString, host);
        QFETCH(bool, known);
        QFETCH(int, addresses);
        QFETCH(QString, line);
        fakes::FakePlatform fake;
        fake.system.host = host.toStdString();
        if (known) {
            platform::HostEntry entry{"PC-07", {}};
            if (addresses > 0)
                entry.addresses = {{192, 168, 1, 7}, {10, 0, 0, 7}};
            fake.resolver.byName["pc-07"] = entry;
        }
        dialogs::TAboutBox about(fake.platform(), nullptr);
        QCOMPARE(about.nameAndAddressLine(), line);
        QCOMPARE(about.findChild<QLabel*>("lblNameIP")->text(), line);
        if (!host.isEmpty())
            QCOMPARE(fake.resolver.asked, std::vector<std::string>{"pc-07"});
    }

    void theFixedTexts() {
        fakes::FakePlatform fake;
        dialogs::TAboutBox about(fake.platform(), nullptr);
        QCOMPARE(about.windowTitle(), QStringLiteral("About"));
        const auto* product = about.findChild<QLabel*>("ProductName");
        QCOMPARE(product->text(), QStringLiteral("Lanquill"));
        // The name stands out: bold italic, larger than the dialog's text, and still fits.
        const QFontInfo shown(product->font());
        QVERIFY(shown.bold() && shown.italic());
        QVERIFY(shown.pixelSize() > QFontInfo(about.font()).pixelSize());
        QVERIFY(QFontMetrics(product->font()).height() <= product->height() + 2);
        QCOMPARE(about.findChild<QLabel*>("Label3")->text(), QStringLiteral("Version     1.0"));
        QCOMPARE(about.findChild<QPushButton*>("Button1")->text(), QStringLiteral("OK"));
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
