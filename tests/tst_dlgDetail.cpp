// The send-message dialog: both modes, what goes to the messenger and to the group command, the
// failed send that keeps the text, the limits, and the status button.
#include "desktop/ErrorReport.h"
#include "dialogs/dlgDetail.h"
#include "dialogs/dlgUserDetail.h"
#include "fakes/FakeMainWindow.h"
#include "ui_dlgDetail.h"
#include "ui_dlgUserDetail.h"

#include <QApplication>
#include <QTest>
#include <QTimer>

using namespace lanquill;

namespace {

const char* const Book = R"(<Lanquill><group id="WG"><computer id="PC01">
<ComputerName>PC01</ComputerName><UserName>ann</UserName><IpAddress>10.0.0.5</IpAddress>
<Memo>by the window</Memo></computer></group></Lanquill>)";

} // namespace

class TestSendDialog : public fakes::DialogFixture<dialogs::TdlgSendMessage> {
    Q_OBJECT

private:
    Ui::dlgDetail& ui() { return dialog_->ui(); }

    void open() {
        dialog_ = std::make_unique<dialogs::TdlgSendMessage>(*main_, nullptr);
        dialog_->show();
    }
    void openComputer(const QString& user = QStringLiteral("ann"), bool online = true) {
        open();
        dialog_->setComputerMode(QStringLiteral("WG"), QStringLiteral("PC01"), user,
                                 QStringLiteral("10.0.0.5"), online);
    }
    void type(const QString& text) { ui().Memo1->setPlainText(text); }
    void send() { QTest::mouseClick(ui().OKBtn, Qt::LeftButton); }

private Q_SLOTS:
    void init() {
        setUpDialogTest(Book);
        // Errors go to the message box, where the tests look for them.
        desktop::setErrorSink(
            [this](const QString& text) { main_->fake.messages.show(nullptr, text); });
    }
    void cleanup() { tearDownDialogTest(); }

    void groupModeRunsTheGroupCommand() {
        open();
        dialog_->setGroupMode(QStringLiteral("MY OFFICE")); // a blank in it is kept, not split
        QCOMPARE(ui().stUserName->text(), QStringLiteral("群体消息"));
        QCOMPARE(ui().stxtCompName->text(), QStringLiteral("MY OFFICE"));
        QCOMPARE(ui().IPAddress->text(), QStringLiteral("MY OFFICE"));
        QCOMPARE(ui().stStatus->text(), QStringLiteral("群发"));
        QVERIFY(!ui().cbAnonymous->isEnabled());
        QVERIFY(ui().sbtnOffLine->isVisible() && ui().spbtnOnline->isVisible());
        type(QStringLiteral("first line\nsecond \"line\" & $(rm -rf x)"));
        send();
        const std::vector<platform::CommandLine> expected{
            {"net", {"send", "/domain:MY OFFICE", "first line\r\nsecond \"line\" & $(rm -rf x)"}}};
        QCOMPARE(main_->fake.commands.started, expected);
        QVERIFY(main_->fake.messenger.messages.empty());
        QCOMPARE(dialog_->result(), int(QDialog::Accepted));
    }

    void groupModePassesTheBooksComputers() {
        open();
        // A name no computer can have is left out, not sent to make the command refuse it all;
        // the text, however it begins, stays the text.
        dialog_->setGroupMode(QStringLiteral("WG"), {"PEER1", "BAD*NAME", "peer 2"});
        type(QStringLiteral("--member X"));
        send();
        const std::vector<platform::CommandLine> expected{
            {"net",
             {"send", "/domain:WG", "--member", "PEER1", "--member", "peer 2", "--",
              "--member X"}}};
        QCOMPARE(main_->fake.commands.started, expected);
    }

    void sendWaitsForText_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("sendable");
        QTest::newRow("empty") << QString() << false;
        QTest::newRow("blanks") << QStringLiteral("   ") << false;
        QTest::newRow("line breaks and a tab") << QStringLiteral("\n\t\n") << false;
        QTest::newRow("ideographic space") << QStringLiteral("\u3000") << false;
        QTest::newRow("one letter among blanks") << QStringLiteral(" a\n") << true;
        QTest::newRow("Chinese") << QStringLiteral("你好") << true;
    }

    // 发送, by click or by its key, sends only a text with something to read in it.
    void sendWaitsForText() {
        QFETCH(QString, text);
        QFETCH(bool, sendable);
        openComputer();
        type(QStringLiteral("first"));
        type(text);
        QCOMPARE(ui().OKBtn->isEnabled(), sendable);
        QTest::keyClick(dialog_.get(), Qt::Key_S, Qt::AltModifier);
        send();
        QCOMPARE(main_->fake.messenger.messages.size(), sendable ? std::size_t(1) : 0);
        QCOMPARE(dialog_->isVisible(), !sendable);
        QVERIFY(main_->fake.messages.shown.isEmpty());
    }

    // A user named like the group item is still a computer's user.
    void computerModeSendsToTheAddressShown() {
        openComputer(QStringLiteral("群体消息"));
        QCOMPARE(ui().stStatus->text(), QStringLiteral("在线"));
        QVERIFY(ui().spbtnOnline->isVisible() && !ui().sbtnOffLine->isVisible());
        ui().IPAddress->setText(QStringLiteral("10.0.0.9")); // the user may edit it
        type(QStringLiteral("你好\nbye"));
        send();
        QCOMPARE(main_->fake.messenger.messages.size(), std::size_t(1));
        const auto& message = main_->fake.messenger.messages[0];
        QCOMPARE(message.to, std::string("10.0.0.9"));
        QCOMPARE(message.from, std::string());
        QCOMPARE(message.text, std::string("你好\r\nbye"));
        QVERIFY(main_->fake.commands.started.empty());
        QCOMPARE(dialog_->result(), int(QDialog::Accepted));
    }

    // The history files a sent message under the computer that was addressed: the book's entry
    // while its address stands, the typed recipient once the user has put another one there,
    // whether or not the send went through.
    void historyFilesUnderWhatWasAddressed_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("delivered");
        QTest::addColumn<QString>("peer");
        QTest::newRow("as opened, delivered") << "10.0.0.5" << true << "PC01";
        QTest::newRow("as opened, failed") << "10.0.0.5" << false << "PC01";
        QTest::newRow("as opened, blanks around") << " 10.0.0.5 " << true << "PC01";
        QTest::newRow("typed address, delivered") << "10.0.0.9" << true << "10.0.0.9";
        QTest::newRow("typed address, failed") << "10.0.0.9" << false << "10.0.0.9";
        QTest::newRow("typed name, failed") << " PRINTROOM " << false << "PRINTROOM";
        QTest::newRow("emptied, failed") << "" << false << "PC01";
    }
    void historyFilesUnderWhatWasAddressed() {
        QFETCH(QString, typed);
        QFETCH(bool, delivered);
        QFETCH(QString, peer);
        main_->fake.messenger.result =
            delivered ? platform::messenger::Success : platform::messenger::NameNotFound;
        openComputer();
        ui().IPAddress->setText(typed);
        type(QStringLiteral("hi"));
        send();
        QCOMPARE(main_->sent.size(), std::size_t(1));
        const inbox::Message& logged = main_->sent[0];
        QCOMPARE(logged.peer, peer);
        QCOMPARE(logged.to, typed);
        QCOMPARE(logged.delivered, delivered);
        QCOMPARE(logged.direction, inbox::Direction::Sent);
        QCOMPARE(logged.text, QStringLiteral("hi"));
    }

    void anonymousSendsUnderTheProductName() {
        openComputer(QString(), false);
        QCOMPARE(ui().stStatus->text(), QStringLiteral("不在线"));
        ui().cbAnonymous->setChecked(true);
        type(QStringLiteral("hi"));
        send();
        QCOMPARE(main_->fake.messenger.messages.at(0).from, std::string("Lanquill"));
        QCOMPARE(main_->fake.messenger.messages.at(0).text, std::string("hi"));
    }

    // A computer whose name did not resolve has no address to send to; the reason says so
    // rather than blaming the text.
    void aComputerWithoutAnAddressIsNotSentTo() {
        open();
        dialog_->setComputerMode(QStringLiteral("WG"), QStringLiteral("PC01"), QString(), QString(),
                                 false);
        type(QStringLiteral("hello"));
        send();
        QVERIFY(main_->fake.messenger.messages.empty());
        QCOMPARE(main_->fake.messages.shown,
                 QStringList{QStringLiteral("无法发送！\n不知道接收方的地址。")});
        QVERIFY(dialog_->isVisible());
    }

    void failedSendKeepsTheDialogAndTheText_data() {
        QTest::addColumn<QString>("failure");
        QTest::addColumn<uint>("result");
        QTest::addColumn<QString>("reason");
        namespace m = platform::messenger;
        QTest::newRow("not known")
            << "result" << uint(m::NameNotFound) << QStringLiteral("网络上找不到接收方。");
        QTest::newRow("no answer")
            << "result" << uint(m::NetworkError) << QStringLiteral("接收方没有应答。");
        QTest::newRow("refused") << "result" << uint(m::MessageRejected)
                                 << QStringLiteral("接收方拒绝了这条消息。");
        QTest::newRow("unknown code") << "result" << 1234u << QStringLiteral("错误代码 1234。");
        QTest::newRow("exception below")
            << "throws" << uint(m::Success) << QStringLiteral("发送时出现意外错误。");
        QTest::newRow("group command not started")
            << "group" << uint(m::Success) << QStringLiteral("无法启动群发命令。");
    }
    void failedSendKeepsTheDialogAndTheText() {
        QFETCH(QString, failure);
        QFETCH(uint, result);
        QFETCH(QString, reason);
        auto& fake = main_->fake;
        fake.messenger.result = result;
        fake.messenger.throws = failure == QLatin1String("throws");
        fake.commands.starts = failure != QLatin1String("group");
        openComputer();
        if (failure == QLatin1String("group"))
            dialog_->setGroupMode(QStringLiteral("WG"));
        type(QStringLiteral("important"));
        send();
        QCOMPARE(fake.messages.shown, QStringList{QStringLiteral("无法发送！\n") + reason});
        QVERIFY(dialog_->isVisible());
        QCOMPARE(ui().Memo1->toPlainText(), QStringLiteral("important"));
        QVERIFY(!ui().SendStstus->isVisible());
        QVERIFY(QApplication::overrideCursor() == nullptr);
        // A second try that works closes it.
        fake.messenger.result = platform::messenger::Success;
        fake.messenger.throws = false;
        fake.commands.starts = true;
        send();
        QCOMPARE(dialog_->result(), int(QDialog::Accepted));
        QCOMPARE(fake.messenger.messages.size() + fake.commands.started.size(), std::size_t(2));
    }

    void overLongNamesAndTextsAreRefusedWhole() {
        platform::Messenger& messenger = main_->fake.messenger;
        using dialogs::SendNetMessage;
        const std::string name64(64, 'N');
        QCOMPARE(SendNetMessage(messenger, name64, "", "hi"), platform::messenger::Success);
        QCOMPARE(SendNetMessage(messenger, name64 + "N", "", "hi"),
                 platform::messenger::BufferTooSmall);
        QCOMPARE(SendNetMessage(messenger, "PC", name64 + "N", "hi"),
                 platform::messenger::BufferTooSmall);
        // 1000 Chinese characters are 1000 UTF-16 units: they fit; one more does not.
        QString thousand(1000, QChar(0x4F60));
        QCOMPARE(SendNetMessage(messenger, "PC", "", thousand.toStdString()),
                 platform::messenger::Success);
        QCOMPARE(SendNetMessage(messenger, "PC", "", (thousand + QLatin1Char('x')).toStdString()),
                 platform::messenger::BufferTooSmall);
        QCOMPARE(main_->fake.messenger.messages.size(), std::size_t(2));
        QCOMPARE(main_->fake.messenger.messages[1].text.size(), std::size_t(3000));

        openComputer();
        type(QString(10000, QLatin1Char('a')));
        send();
        QCOMPARE(main_->fake.messages.shown,
                 QStringList{QStringLiteral("无法发送！\n名称或消息太长。")});
        QCOMPARE(main_->fake.messenger.messages.size(), std::size_t(2));
    }

    void statusButtonOpensTheDetailsAndKeepsTheMode() {
        openComputer();
        main_->fake.neighbours.table[{10, 0, 0, 5}] = {0x00, 0x0C, 0x29, 0x1A, 0x2B, 0x3C};
        bool checked = false;
        // The adapter address is read before the detail dialog opens, while events go on.
        QTimer poll;
        connect(&poll, &QTimer::timeout, this, [&] {
            auto* detail =
                qobject_cast<dialogs::TdlgUserDetailInfo*>(QApplication::activeModalWidget());
            if (detail == nullptr)
                return;
            poll.stop();
            auto& d = detail->ui();
            QCOMPARE(d.stxtCompName->text(), QStringLiteral("PC01"));
            QCOMPARE(d.edtUserName->text(), QStringLiteral("ann"));
            QCOMPARE(d.IPAddress->text(), QStringLiteral("10.0.0.5"));
            QCOMPARE(d.stGroupName->text(), QStringLiteral("WG"));
            QCOMPARE(d.Memo1->toPlainText(), QStringLiteral("by the window"));
            QCOMPARE(d.stMac->text(), QStringLiteral("00-0C-29-1A-2B-3C"));
            d.edtUserName->setText(QStringLiteral("群体消息"));
            checked = true;
            QTest::mouseClick(d.OKBtn, Qt::LeftButton);
        });
        poll.start(0);
        QTest::mouseClick(ui().spbtnOnline, Qt::LeftButton);
        QVERIFY(checked);
        QVERIFY(dialog_->isVisible());
        QCOMPARE(ui().stUserName->text(), QStringLiteral("群体消息"));
        QVERIFY(main_->fileText().find("<UserName>群体消息</UserName>") != std::string::npos);
        // The caption changed; the mode did not.
        type(QStringLiteral("hi"));
        send();
        QCOMPARE(main_->fake.messenger.messages.size(), std::size_t(1));
        QVERIFY(main_->fake.commands.started.empty());
    }

    void cancelSendsNothing() {
        openComputer();
        type(QStringLiteral("hi"));
        QTest::mouseClick(ui().CancelBtn, Qt::LeftButton);
        QCOMPARE(dialog_->result(), int(QDialog::Rejected));
        QVERIFY(main_->fake.messenger.messages.empty() && main_->fake.commands.started.empty());
    }
};

QTEST_MAIN(TestSendDialog)
#include "tst_dlgDetail.moc"
