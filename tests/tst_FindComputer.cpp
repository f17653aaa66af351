// The find-computer dialog: a name or an address looked up, the details shown for confirmation,
// and what lands in the book (or does not) after "添加", Cancel or a failed lookup.
#include "desktop/ErrorReport.h"
#include "dialogs/FindComputer.h"
#include "dialogs/dlgUserDetail.h"
#include "fakes/FakeMainWindow.h"
#include "support/BookFiles.h"
#include "ui_FindComputer.h"
#include "ui_dlgUserDetail.h"

#include <QTest>
#include <QTimer>

#include <functional>

using namespace lanquill;
using testsupport::groupOnDisk;

namespace {

const char* const Book = R"(<Lanquill><group id="WG"><computer id="PC01">
<ComputerName>PC01</ComputerName><UserName>ann</UserName><IpAddress>10.0.0.5</IpAddress>
<Memo/></computer></group><group id="LAB"/></Lanquill>)";

} // namespace

class TestFindComputer : public fakes::DialogFixture<dialogs::TdlgFindComputer> {
    Q_OBJECT

private:
    int detailsShown_ = 0;

    using InDetail = std::function<void(Ui::dlgUserDetail&)>;

    // Searches for `text` with WG as the target group; `inDetail` runs while the detail dialog
    // is shown and must close it. Counts the detail dialogs shown in detailsShown_.
    void find(const QString& text, bool byAddress, InDetail inDetail = {}) {
        dialog_ = std::make_unique<dialogs::TdlgFindComputer>(*main_, "WG", nullptr);
        connect(dialog_.get(), &dialogs::TdlgFindComputer::detailShown, this, [&](QDialog* d) {
            ++detailsShown_;
            QTimer::singleShot(0, d, [d, &inDetail] {
                [&] {
                    QVERIFY(d->isModal() && d->isVisible());
                    if (!inDetail)
                        QFAIL("a detail dialog where none was expected");
                    auto* detail = qobject_cast<dialogs::TdlgUserDetailInfo*>(d);
                    QVERIFY(detail != nullptr);
                    inDetail(detail->ui());
                }();
                if (d->isVisible()) {
                    d->reject(); // never leave the test hanging in the nested loop
                    QFAIL("the detail dialog was left open");
                }
            });
        });
        dialog_->show();
        auto& ui = dialog_->ui();
        QVERIFY(ui.rbName->isChecked());
        QCOMPARE(dialog_->focusWidget(), ui.edtUserName); // typing goes to the search text
        if (byAddress)
            QTest::mouseClick(ui.rbAddress, Qt::LeftButton);
        QTest::keyClicks(ui.edtUserName, text);
        QTest::mouseClick(ui.OKBtn, Qt::LeftButton);
        // The dialog closes after every search.
        QVERIFY(!dialog_->isVisible());
        QCOMPARE(dialog_->result(), int(QDialog::Accepted));
    }

private Q_SLOTS:
    void init() {
        setUpDialogTest(Book);
        detailsShown_ = 0;
        main_->fake.resolver.byName["PC-09"] = {"PC-09", {{10, 0, 0, 9}}};
        main_->fake.resolver.byAddress[{10, 0, 0, 7}] = "LAB-7";
        main_->fake.neighbours.table[{10, 0, 0, 9}] = {0x00, 0x0C, 0x29, 0x1A, 0x2B, 0x3C};
    }
    void cleanup() {
        tearDownDialogTest();
        QVERIFY(reports_.isEmpty());
    }

    void aFoundNameJoinsTheTargetGroupWithTheUserNameTyped() {
        find(QStringLiteral("PC-09"), false, [](Ui::dlgUserDetail& d) {
            QCOMPARE(d.edtUserName->text(), QStringLiteral("PC-09"));
            QCOMPARE(d.stxtCompName->text(), QStringLiteral("PC-09"));
            QCOMPARE(d.stGroupName->text(), QStringLiteral("WG"));
            QCOMPARE(d.IPAddress->text(), QStringLiteral("10.0.0.9"));
            QCOMPARE(d.stMac->text(), QStringLiteral("00-0C-29-1A-2B-3C"));
            QCOMPARE(d.OKBtn->text(), QStringLiteral("添加"));
            QCOMPARE(d.Memo1->toPlainText(), QString());
            d.edtUserName->setText(QStringLiteral("bob"));
            d.Memo1->setPlainText(QStringLiteral("窗边"));
            QTest::mouseClick(d.OKBtn, Qt::LeftButton);
        });
        QCOMPARE(detailsShown_, 1);
        QCOMPARE(
            groupOnDisk(main_->configPath, "WG"),
            (QStringList{"PC01[ComputerName=PC01;UserName=ann;IpAddress=10.0.0.5;Memo=;]",
                         "PC-09[ComputerName=PC-09;UserName=bob;IpAddress=10.0.0.9;Memo=窗边;]"}));
        QCOMPARE(main_->reloads, 1);
        QCOMPARE(main_->XMLDoc().documentElement().childNodes().item(0).childNodes().length(), 2);
    }

    void anAddressSearchShowsTheNameBehindItAndCancelAddsNothing() {
        const std::string before = main_->fileText();
        find(QStringLiteral("10.0.0.7"), true, [](Ui::dlgUserDetail& d) {
            QCOMPARE(d.edtUserName->text(), QStringLiteral("LAB-7"));
            QCOMPARE(d.stxtCompName->text(), QStringLiteral("LAB-7"));
            QCOMPARE(d.IPAddress->text(), QStringLiteral("10.0.0.7"));
            QCOMPARE(d.stMac->text(), QString()); // no ARP answer: shown empty, no obstacle
            d.edtUserName->setText(QStringLiteral("eve"));
            QTest::mouseClick(d.CancelBtn, Qt::LeftButton);
        });
        QCOMPARE(detailsShown_, 1);
        QCOMPARE(main_->fileText(), before);
        QCOMPARE(main_->reloads, 0);
        QCOMPARE(main_->XMLDoc().documentElement().childNodes().item(0).childNodes().length(), 1);
    }

    void nothingFoundShowsTheNoticeAndAddsNothing() {
        const std::string before = main_->fileText();
        find(QStringLiteral("NOBODY"), false);        // the name does not resolve
        find(QStringLiteral("10.0.0.8"), true);       // no name behind the address
        find(QStringLiteral("not an address"), true); // read as 255.255.255.255
        QCOMPARE(detailsShown_, 0);
        QCOMPARE(main_->fake.messages.shown,
                 QStringList(3, QStringLiteral("没有此用户或用户不在线")));
        QCOMPARE(main_->fileText(), before);
        QCOMPARE(main_->reloads, 0);
    }

    void aComputerAlreadyInTheGroupIsShownNotAddedAgain_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("byAddress");
        QTest::newRow("the same name") << "PC01" << false;
        QTest::newRow("the name in another case") << "pc01" << false;
        // An address search gives the name as the network spells it, in capitals or not.
        QTest::newRow("an address whose name differs in case") << "10.0.0.6" << true;
    }

    // The entry there keeps its user name, address and note; no detail dialog asks for what
    // would be thrown away.
    void aComputerAlreadyInTheGroupIsShownNotAddedAgain() {
        QFETCH(QString, typed);
        QFETCH(bool, byAddress);
        main_->fake.resolver.byName["PC01"] = {"PC01", {{10, 0, 0, 6}}};
        main_->fake.resolver.byName["pc01"] = {"pc01", {{10, 0, 0, 6}}};
        main_->fake.resolver.byAddress[{10, 0, 0, 6}] = "Pc01";
        const std::string before = main_->fileText();
        find(typed, byAddress);
        QCOMPARE(detailsShown_, 0);
        QCOMPARE(main_->fake.messages.shown,
                 QStringList{QStringLiteral("工作组 WG 中已有 PC01，没有重复添加。")});
        QCOMPARE(main_->selected,
                 (std::vector<std::pair<std::string, std::string>>{{"WG", "PC01"}}));
        QCOMPARE(main_->fileText(), before);
    }
};

QTEST_MAIN(TestFindComputer)
#include "tst_FindComputer.moc"
