// The add-group dialog: the workgroup list and the computer check-list from a scripted
// neighbourhood, what OK writes into the book (and when it writes nothing), and the failures that
// are reported while the dialog carries on.
#include "desktop/ErrorReport.h"
#include "dialogs/dlgAddGroup.h"
#include "fakes/FakeMainWindow.h"
#include "support/BookFiles.h"
#include "ui_dlgAddGroup.h"

#include <QApplication>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QTest>

#include <sys/stat.h>

using namespace lanquill;
using fakes::FakeNetworkEnumerator;
using testsupport::bookOnDisk;

namespace {

const char* const Book = R"(<Lanquill><group id="OFFICE"><computer id="PC1">
<ComputerName>PC1</ComputerName><UserName>ann</UserName><IpAddress>10.0.0.1</IpAddress>
<Memo/></computer></group><group id="Office"/></Lanquill>)";

FakeNetworkEnumerator::Batch computers(std::initializer_list<const char*> names) {
    FakeNetworkEnumerator::Batch batch;
    for (const char* name : names)
        batch.push_back(FakeNetworkEnumerator::computer(name));
    return batch;
}

} // namespace

class TestAddGroupDialog : public fakes::DialogFixture<dialogs::TdlgAddNewGroup> {
    Q_OBJECT

private:
    Ui::dlgAddGroup& ui() { return dialog_->ui(); }
    FakeNetworkEnumerator& network() { return main_->fake.network; }

    void open() {
        dialog_ = std::make_unique<dialogs::TdlgAddNewGroup>(*main_, nullptr);
        dialog_->show();
        // The workgroups are listed once the dialog is on the screen and events run.
        QCoreApplication::processEvents();
        QCOMPARE(dialog_->focusWidget(), ui().cbGroupName); // typing goes to the workgroup
    }
    void typeGroup(const QString& text) {
        QLineEdit* edit = ui().cbGroupName->lineEdit();
        edit->clear();
        if (text.toLatin1() == text.toUtf8()) {
            QTest::keyClicks(edit, text);
            return;
        }
        // Chinese arrives from the input method as one committed string, not as key presses.
        QInputMethodEvent commit;
        commit.setCommitString(text);
        QApplication::sendEvent(edit, &commit);
    }
    // The lines once the typing pause and the listing it started are over.
    QStringList lines() const {
        if (!QTest::qWaitFor([this] { return !dialog_->listingPending(); }))
            return {QStringLiteral("<still listing>")};
        QStringList out;
        for (int i = 0; i < dialog_->ui().clbComputer->count(); ++i) {
            const QListWidgetItem* line = dialog_->ui().clbComputer->item(i);
            out << line->text() + (line->checkState() == Qt::Checked ? "+" : "-");
        }
        return out;
    }
    void tick(const QString& name) {
        QVERIFY(QTest::qWaitFor([this] { return !dialog_->listingPending(); }));
        const auto found = ui().clbComputer->findItems(name, Qt::MatchExactly);
        QCOMPARE(found.size(), 1);
        found.front()->setCheckState(Qt::Checked);
    }

private Q_SLOTS:
    void init() {
        setUpDialogTest(Book);
        network().script(FakeNetworkEnumerator::TopLevel,
                         {{FakeNetworkEnumerator::provider("Microsoft Windows Network")}});
        network().script("Microsoft Windows Network",
                         {{FakeNetworkEnumerator::workgroup("SALES"),
                           FakeNetworkEnumerator::workgroup("BUILD")}});
        network().script("SALES", {computers({"SALES-01"})});
        network().script("BUILD", {computers({"BUILD-02", "PC-07"})});
        network().script("office", {computers({"PC1", "OFF-2", "OFF-1"})});
        main_->fake.resolver.byName["OFF-2"] = {"OFF-2", {{10, 0, 0, 12}}};
    }
    void cleanup() { tearDownDialogTest(); }

    void showingListsWorkgroupsAndAnEmptyTextListsTheLocalGroup() {
        open();
        QCOMPARE(ui().cbGroupName->count(), 2);
        QCOMPARE(ui().cbGroupName->itemText(0), QStringLiteral("BUILD"));
        QCOMPARE(ui().cbGroupName->itemText(1), QStringLiteral("SALES"));
        QCOMPARE(ui().cbGroupName->currentText(), QString());
        QCOMPARE(ui().clbComputer->count(), 0);
        QVERIFY(QApplication::overrideCursor() == nullptr);

        ui().cbGroupName->setCurrentIndex(1);
        QCOMPARE(lines(), (QStringList{"SALES-01-"}));
        // Emptied, the text stands for the workgroup the local computer (PC-07) is in.
        ui().cbGroupName->lineEdit()->clear();
        QCOMPARE(lines(), (QStringList{"BUILD-02-", "PC-07-"}));
        QVERIFY(reports_.isEmpty());
    }

    void theComputersAreListedWithoutRegardToCase() {
        network().script("MIXED", {computers({"beta", "Alpha", "gamma", "Delta"})});
        open();
        ui().cbGroupName->lineEdit()->setText(QStringLiteral("MIXED"));
        QCOMPARE(lines(), (QStringList{"Alpha-", "beta-", "Delta-", "gamma-"}));
        QVERIFY(reports_.isEmpty());
    }

    void selectAllTicksTheLinesPresentAndAChangeRefillsUnticked() {
        open();
        ui().cbGroupName->setCurrentIndex(0);
        QCOMPARE(lines(), (QStringList{"BUILD-02-", "PC-07-"}));
        QTest::mouseClick(ui().cbSelectAll, Qt::LeftButton);
        QVERIFY(ui().cbSelectAll->isChecked());
        QCOMPARE(lines(), (QStringList{"BUILD-02+", "PC-07+"}));
        ui().cbGroupName->setCurrentIndex(1);
        QCOMPARE(lines(), (QStringList{"SALES-01-"}));
        QVERIFY(ui().cbSelectAll->isChecked());
        tick("SALES-01");
        QTest::mouseClick(ui().cbSelectAll, Qt::LeftButton);
        QCOMPARE(lines(), (QStringList{"SALES-01-"}));
    }

    void okAppendsTheTickedComputersNotYetThereToTheFirstMatchingGroup() {
        open();
        typeGroup(QStringLiteral("office")); // folded like every id: this is the group OFFICE
        QCOMPARE(lines(), (QStringList{"OFF-1-", "OFF-2-", "PC1-"}));
        tick("PC1");
        tick("OFF-2");
        QTest::mouseClick(ui().OKBtn, Qt::LeftButton);
        QCOMPARE(dialog_->result(), int(QDialog::Accepted));
        QVERIFY(reports_.isEmpty());
        // Appended in list order; the entry already there keeps its user name, and the user
        // is told so.
        QCOMPARE(bookOnDisk(main_->configPath),
                 (QStringList{"OFFICE: PC1[ComputerName=PC1;UserName=ann;IpAddress=10.0.0.1;Memo=;]"
                              " OFF-2[ComputerName=OFF-2;UserName=;IpAddress=10.0.0.12;Memo=;]",
                              "Office:"}));
        QCOMPARE(main_->fake.messages.shown,
                 QStringList{QStringLiteral("工作组 OFFICE 中已有 PC1，没有重复添加。")});
        QCOMPARE(dialog_->alreadyInBook(), std::vector<std::string>{"PC1"});
    }

    void aNewGroupIsAppendedLastAndSavedWithNothingTicked() {
        open();
        typeGroup(QStringLiteral("销售部"));
        QTest::mouseClick(ui().OKBtn, Qt::LeftButton);
        QCOMPARE(bookOnDisk(main_->configPath).mid(2), QStringList{"销售部:"});

        // The same name next time finds that group instead of making another.
        main_->LoadXMLFile(main_->configPath);
        open();
        typeGroup(QStringLiteral("销售部"));
        QTest::mouseClick(ui().OKBtn, Qt::LeftButton);
        QCOMPARE(bookOnDisk(main_->configPath).size(), 3);
        QVERIFY(reports_.isEmpty());
    }

    void cancelWritesNothing() {
        const std::string before = main_->fileText();
        open();
        ui().cbGroupName->setCurrentIndex(1);
        tick("SALES-01");
        QTest::mouseClick(ui().CancelBtn, Qt::LeftButton);
        QCOMPARE(dialog_->result(), int(QDialog::Rejected));
        QCOMPARE(main_->fileText(), before);
        QCOMPARE(main_->XMLDoc().documentElement().childNodes().length(), 2);
    }

    void aFailedEnumerationAtShowIsReportedAndTheDialogStillOpens() {
        network().failOpen(FakeNetworkEnumerator::TopLevel, platform::netenum::NoNetwork);
        open();
        QCOMPARE(reports_.size(), 1);
        QVERIFY2(reports_[0].contains("1222"), qPrintable(reports_[0]));
        QVERIFY(dialog_->isVisible());
        QCOMPARE(ui().cbGroupName->count(), 0);
        QVERIFY(QApplication::overrideCursor() == nullptr);
        // A name can still be typed and written.
        typeGroup(QStringLiteral("LAB"));
        QTest::mouseClick(ui().OKBtn, Qt::LeftButton);
        QCOMPARE(bookOnDisk(main_->configPath).last(), QStringLiteral("LAB:"));
    }

    void aFailedSaveIsReportedAndStillClosesWithOk() {
        const std::string before = main_->fileText();
        QCOMPARE(::chmod(main_->configPath.c_str(), 0444), 0);
        open();
        ui().cbGroupName->setCurrentIndex(1);
        tick("SALES-01");
        QTest::mouseClick(ui().OKBtn, Qt::LeftButton);
        QCOMPARE(dialog_->result(), int(QDialog::Accepted));
        QCOMPARE(reports_.size(), 1);
        QVERIFY2(reports_[0].contains(QStringLiteral("只读")), qPrintable(reports_[0]));
        QCOMPARE(main_->fileText(), before);
    }

    void typingQuicklyListsOnceWhenTheTypingPauses() {
        network().script("EVIL", {computers({"EVIL-1"})});
        open();
        const std::size_t before = network().opens().size();
        typeGroup(QStringLiteral("EVIL"));
        QCOMPARE(lines(), (QStringList{"EVIL-1-"}));
        QCOMPARE(network().openedKeys().size() - before, std::size_t{1});
        QCOMPARE(network().openedKeys().back(), std::string("EVIL"));
        QVERIFY(QApplication::overrideCursor() == nullptr);
        QVERIFY(reports_.isEmpty());
    }

    void aListingMadeStaleByTypingIsNotShown() {
        network().script("SALESX", {computers({"SALESX-9"})});
        open();
        QStringList shown;
        connect(ui().clbComputer->model(), &QAbstractItemModel::rowsInserted, this,
                [&](const QModelIndex&, int first, int last) {
                    for (int row = first; row <= last; ++row)
                        shown << ui().clbComputer->item(row)->text();
                });
        ui().cbGroupName->setEditText(QStringLiteral("SALES"));
        dialog_->cbGroupNameChange(); // the pause is over: SALES is being listed
        QTest::keyClicks(ui().cbGroupName->lineEdit(), QStringLiteral("X"));
        QCOMPARE(lines(), (QStringList{"SALESX-9-"}));
        QCOMPARE(shown, (QStringList{"SALESX-9"}));
        const std::vector<std::string> keys = network().openedKeys();
        QCOMPARE(std::vector<std::string>(keys.end() - 2, keys.end()),
                 (std::vector<std::string>{"SALES", "SALESX"}));
        QVERIFY(QApplication::overrideCursor() == nullptr);
    }

    void anOverLongGroupNameIsRefusedWhole() {
        const std::string before = main_->fileText();
        network().script(std::string(256, 'G'), {computers({"PC-07"})});
        open();
        ui().cbGroupName->setEditText(QString(256, QLatin1Char('G')));
        tick("PC-07");
        QTest::mouseClick(ui().OKBtn, Qt::LeftButton);
        QCOMPARE(dialog_->result(), int(QDialog::Accepted));
        QCOMPARE(reports_.size(), 1);
        QVERIFY2(reports_[0].contains(QStringLiteral("太长")), qPrintable(reports_[0]));
        QCOMPARE(main_->fileText(), before);
        QCOMPARE(main_->XMLDoc().documentElement().childNodes().length(), 2);

        // 255 bytes fit.
        open();
        ui().cbGroupName->setEditText(QString(255, QLatin1Char('G')));
        QTest::mouseClick(ui().OKBtn, Qt::LeftButton);
        QCOMPARE(reports_.size(), 1);
        QCOMPARE(bookOnDisk(main_->configPath).size(), 3);
    }
};

QTEST_MAIN(TestAddGroupDialog)
#include "tst_dlgAddGroup.moc"
