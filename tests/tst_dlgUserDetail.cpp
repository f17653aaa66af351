// The computer detail dialog: what a refresh shows of the node-status results decoded so far,
// what OK writes back into the book and what Cancel leaves alone, and which fields can be edited.
#include "contacts/XMLFile.h"
#include "desktop/ErrorReport.h"
#include "dialogs/dlgUserDetail.h"
#include "fakes/FakeMainWindow.h"
#include "ui_dlgUserDetail.h"

#include <QApplication>
#include <QTest>

using namespace lanquill;

namespace {

const char* const Book = R"(<Lanquill><group id="WG"><computer id="PC01">
<ComputerName>PC01</ComputerName><UserName>ann</UserName><IpAddress>10.0.0.5</IpAddress>
<Memo>by the window</Memo></computer></group></Lanquill>)";

struct Entry {
    std::string name = "PC01", user, address, memo;
};

Entry entryInBook(const contacts::XmlDocument& doc) {
    Entry e;
    contacts::GetComputerInfo(doc, "WG", "PC01", e.name, e.user, e.address, e.memo);
    return e;
}

} // namespace

class TestDetailDialog : public fakes::DialogFixture<dialogs::TdlgUserDetailInfo> {
    Q_OBJECT

private:
    Ui::dlgUserDetail& ui() { return dialog_->ui(); }

    // Filled as the send dialog's status button fills it.
    void open() {
        dialog_ = std::make_unique<dialogs::TdlgUserDetailInfo>(*main_, nullptr);
        ui().stxtCompName->setText(QStringLiteral("PC01"));
        ui().edtUserName->setText(QStringLiteral("ann"));
        ui().IPAddress->setText(QStringLiteral("10.0.0.6"));
        ui().stGroupName->setText(QStringLiteral("WG"));
        ui().Memo1->setPlainText(QStringLiteral("by the window"));
        ui().stMac->setText(QStringLiteral("00-0C-29-00-00-06"));
        dialog_->show();
        QCoreApplication::processEvents(); // the question the opening asks goes out
    }
    void refresh() { QTest::mouseClick(ui().BitBtnRefresh, Qt::LeftButton); }
    QStringList shown() {
        return {ui().stMac->text(), ui().stCurUser->text(), ui().memOther->toPlainText()};
    }
    // What node-status replies report of the computer at 10.0.0.6.
    static net::NodeStatusResults reported() {
        net::NodeStatusResults r;
        r.NbMacAddress = "00-0C-29-1A-2B-3C";
        r.NbCurrentUser = "ANN";
        r.NbWorkstationName = "PC01";
        r.NbExtraName = "";
        r.NbBrowserGroup = "WG";
        return r;
    }

private Q_SLOTS:
    void init() { setUpDialogTest(Book); }
    void cleanup() { tearDownDialogTest(); }

    // Opening asks the computer at once: its current user shows as soon as the answer arrives,
    // without a press of 刷新. A field that holds no address (a workgroup's name) asks nothing.
    void openingAsksAndShowsTheAnswerWhenItArrives() {
        open();
        QCOMPARE(main_->queried, std::vector<std::string>{"10.0.0.6"});
        QCOMPARE(ui().stCurUser->text(), QString());
        main_->reply("10.0.0.6", reported());
        QCOMPARE(shown(), (QStringList{"00-0C-29-1A-2B-3C", "ANN", "\nPC01\n\nWG"}));
        QVERIFY(reports_.isEmpty());

        dialog_ = std::make_unique<dialogs::TdlgUserDetailInfo>(*main_, nullptr);
        ui().IPAddress->setText(QStringLiteral("WG"));
        dialog_->show();
        QCoreApplication::processEvents();
        QCOMPARE(main_->queried.size(), std::size_t(1));
        main_->reply("10.0.0.6", reported());
        QCOMPARE(ui().stCurUser->text(), QString());
    }

    void refreshShowsTheReplyFromTheQueriedAddressWhenItArrives() {
        main_->reply("10.0.0.9", reported()); // another computer, answered before the press
        open();
        const QStringList before = shown();
        QCOMPARE(before.at(2), QString());    // one empty line to start with
        main_->reply("10.0.0.9", reported()); // not the address asked at the opening
        QCOMPARE(shown(), before);
        main_->reply("10.0.0.6", reported()); // the opening's answer
        ui().memOther->setPlainText(QString());
        ui().stCurUser->clear();
        const QStringList cleared = shown();
        refresh();
        QCOMPARE(shown(), cleared);
        main_->reply("10.0.0.9", reported()); // not the address asked
        QCOMPARE(shown(), cleared);
        main_->reply("10.0.0.6", reported());
        QCOMPARE(shown(), (QStringList{"00-0C-29-1A-2B-3C", "ANN", "\nPC01\n\nWG"}));
        main_->reply("10.0.0.6", reported()); // one answer shown for each press
        QCOMPARE(ui().memOther->toPlainText().split('\n'), (QStringList{"", "PC01", "", "WG"}));
        refresh(); // every press that is answered appends the three names again
        main_->reply("10.0.0.6", reported());
        QCOMPARE(ui().memOther->toPlainText().split('\n'),
                 (QStringList{"", "PC01", "", "WG", "PC01", "", "WG"}));
        QCOMPARE(main_->queried, (std::vector<std::string>(3, "10.0.0.6")));
        QVERIFY(QApplication::overrideCursor() == nullptr);
        QVERIFY(reports_.isEmpty());
    }

    void aReplyWithoutAdapterAddressKeepsTheOneKnown() {
        open();
        refresh();
        net::NodeStatusResults samba = reported();
        samba.NbMacAddress.clear(); // the reply's unit id was all zeros
        samba.NbCurrentUser.clear();
        main_->reply("10.0.0.6", samba);
        QCOMPARE(shown(), (QStringList{"00-0C-29-00-00-06", "", "\nPC01\n\nWG"}));
    }

    void aFailedSendChangesNothing() {
        main_->sendSucceeds = false;
        open();
        const QStringList before = shown();
        refresh();
        main_->reply("10.0.0.6", reported());
        QCOMPARE(main_->queried.size(), std::size_t(2)); // the opening's question and the press's
        QCOMPARE(shown(), before);
        QVERIFY(QApplication::overrideCursor() == nullptr);
    }

    void okWritesTheEntryBackAndSaves() {
        open();
        ui().edtUserName->clear();
        QTest::keyClicks(ui().edtUserName, QStringLiteral("bob"));
        ui().Memo1->setPlainText(QStringLiteral("第二行\nsecond line"));
        QTest::mouseClick(ui().OKBtn, Qt::LeftButton);
        QCOMPARE(dialog_->result(), int(QDialog::Accepted));
        QVERIFY(!dialog_->isVisible());
        const std::string file = main_->fileText();
        QVERIFY2(file.find("<UserName>bob</UserName>") != std::string::npos, file.c_str());
        QVERIFY2(file.find("<IpAddress>10.0.0.6</IpAddress>") != std::string::npos, file.c_str());
        QVERIFY2(file.find("<Memo>第二行\nsecond line</Memo>") != std::string::npos, file.c_str());
        QVERIFY(reports_.isEmpty());
    }

    void cancelWritesNothing() {
        const std::string before = main_->fileText();
        open();
        ui().edtUserName->setText(QStringLiteral("bob"));
        ui().Memo1->setPlainText(QStringLiteral("changed"));
        QTest::mouseClick(ui().CancelBtn, Qt::LeftButton);
        QCOMPARE(dialog_->result(), int(QDialog::Rejected));
        QCOMPARE(main_->fileText(), before);
        const Entry e = entryInBook(main_->XMLDoc());
        QCOMPARE(e.user, std::string("ann"));
        QCOMPARE(e.memo, std::string("by the window"));
    }

    void onlyTheUserNameAndTheNoteCanBeEdited() {
        open();
        QTest::keyClicks(ui().stxtCompName, QStringLiteral("X"));
        QTest::keyClicks(ui().stGroupName, QStringLiteral("X"));
        QTest::keyClicks(ui().IPAddress, QStringLiteral("9"));
        QTest::keyClicks(ui().memOther, QStringLiteral("X"));
        QTest::keyClicks(ui().edtUserName, QStringLiteral("X"));
        ui().PageControl1->setCurrentIndex(1);
        QTest::keyClicks(ui().Memo1, QStringLiteral("X"));
        QCOMPARE(ui().stxtCompName->text(), QStringLiteral("PC01"));
        QCOMPARE(ui().stGroupName->text(), QStringLiteral("WG"));
        QCOMPARE(ui().IPAddress->text(), QStringLiteral("10.0.0.6"));
        QCOMPARE(ui().memOther->toPlainText(), QString());
        QCOMPARE(ui().edtUserName->text(), QStringLiteral("annX"));
        QVERIFY(ui().Memo1->toPlainText().contains('X'));
    }

    void aRefusedWriteBackKeepsTheDialogAndWhatWasTyped() {
        const std::string before = main_->fileText();
        open();
        const QString tooLong(256, QLatin1Char('u'));
        ui().edtUserName->setText(tooLong);
        QTest::mouseClick(ui().OKBtn, Qt::LeftButton);
        QCOMPARE(reports_.size(), 1);
        QVERIFY2(reports_[0].contains(QStringLiteral("太长")), qPrintable(reports_[0]));
        QVERIFY(dialog_->isVisible());
        QCOMPARE(ui().edtUserName->text(), tooLong);
        QCOMPARE(main_->fileText(), before);
        // Shortened, it goes through and the dialog closes.
        ui().edtUserName->setText(tooLong.left(255));
        QTest::mouseClick(ui().OKBtn, Qt::LeftButton);
        QCOMPARE(dialog_->result(), int(QDialog::Accepted));
        QVERIFY(!dialog_->isVisible());
        QCOMPARE(entryInBook(main_->XMLDoc()).user, std::string(255, 'u'));
        QCOMPARE(reports_.size(), 1);
    }
};

QTEST_MAIN(TestDetailDialog)
#include "tst_dlgUserDetail.moc"
