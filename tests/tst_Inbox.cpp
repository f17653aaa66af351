// The inbox in the program, with fake platform layers and a session socket of the test's own:
// the message window (sender from the book or by name and address, text as typed, stepping,
// reply, add to book), who a sender is taken to be, the notification, the tray's unread count and
// status, sent messages, a history that cannot be written, and a damaged history put aside.
#include "app/Inbox.h"
#include "app/frmMain.h"
#include "contacts/XMLFile.h"
#include "desktop/ErrorReport.h"
#include "dialogs/dlgDetail.h"
#include "dialogs/dlgMessage.h"
#include "fakes/FakePlatform.h"
#include "support/BookFiles.h"
#include "ui_dlgDetail.h"
#include "ui_dlgMessage.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalServer>
#include <QLocalSocket>
#include <QMenu>
#include <QPlainTextEdit>
#include <QScreen>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

using namespace lanquill;

namespace {

const char* const Book = R"(<Lanquill>
<group id="WG">
<computer id="PC01"><ComputerName>PC01</ComputerName><UserName>ann</UserName><IpAddress>10.0.0.1</IpAddress><Memo/></computer>
</group>
<group id="RTWG">
<computer id="BOSS"><ComputerName>BOSS-PC</ComputerName><UserName>老板</UserName><IpAddress>10.0.0.2</IpAddress><Memo/></computer>
<computer id="NOADDR"><ComputerName>NOADDR</ComputerName><UserName>bob</UserName><IpAddress/><Memo/></computer>
</group>
</Lanquill>
)";

constexpr char Receiving[] = "{\"status\":\"receiving\"}\n";

QByteArray messageLine(const char* id, const char* from, const char* address, const char* text) {
    return QJsonDocument(
               QJsonObject{{QStringLiteral("id"), QString::fromUtf8(id)},
                           {QStringLiteral("time"), QStringLiteral("2026-12-08T10:00:00Z")},
                           {QStringLiteral("kind"), QStringLiteral("direct")},
                           {QStringLiteral("from"), QString::fromUtf8(from)},
                           {QStringLiteral("address"), QString::fromUtf8(address)},
                           {QStringLiteral("to"), QStringLiteral("PC-07")},
                           {QStringLiteral("text"), QString::fromUtf8(text)}})
               .toJson(QJsonDocument::Compact) +
           '\n';
}

QWidget* shownHistoryWindow() {
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (top->isVisible() && top->windowTitle() == QStringLiteral("消息记录"))
            return top;
    }
    return nullptr;
}

} // namespace

class tst_Inbox : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir_;
    std::unique_ptr<fakes::FakePlatform> fake_;
    std::unique_ptr<app::TMainForm> form_;
    std::unique_ptr<app::Inbox> inbox_;
    QLocalServer server_;

    QString path(const char* name) const { return dir_.filePath(QString::fromLatin1(name)); }

    void start() {
        testsupport::writeBytes(path("config.xml").toStdString(), Book);
        fake_->system.directory = dir_.path().toStdString();
        form_ = std::make_unique<app::TMainForm>(fake_->platform());
        desktop::runReported([this] { form_->FormCreate(); });
        inbox_ = std::make_unique<app::Inbox>(*form_, fake_->platform(), path("history.sqlite"),
                                              path("lanquill.conf"));
        inbox_->start();
    }

    QLocalSocket* lanquilld() {
        QDeadlineTimer deadline(5000);
        while (!server_.hasPendingConnections() && !deadline.hasExpired())
            QTest::qWait(10);
        return server_.nextPendingConnection();
    }

    // start() with a lanquilld of the test's own: its connection, or null.
    QLocalSocket* serve() {
        QLocalServer::removeServer(path("session.sock"));
        if (!server_.listen(path("session.sock")))
            return nullptr;
        start();
        return lanquilld();
    }

private Q_SLOTS:
    void init() {
        fake_ = std::make_unique<fakes::FakePlatform>();
        desktop::setErrorSink([this](const QString& text) { fake_->messages.show(nullptr, text); });
        qputenv("LANQUILL_SESSION_SOCKET", path("session.sock").toUtf8());
        QFile::remove(path("history.sqlite"));
        QFile::remove(path("lanquill.conf"));
    }
    void cleanup() {
        inbox_.reset();
        form_.reset();
        server_.close();
        desktop::setErrorSink(nullptr);
    }

    void arrivalsShownCountedAnswered() {
        QLocalSocket* client = serve();
        QVERIFY(client);
        client->write(Receiving);
        client->write(messageLine("1", "PC01", "10.0.0.1", "lunch?"));
        client->write(messageLine("2", "STRANGER", "10.9.9.9", "<b>not bold</b> & <i>raw</i>"));
        // A contact's name claimed from an address the book does not give it.
        client->write(messageLine("3", "BOSS", "10.6.6.6", "pay me"));
        dialogs::TdlgMessage& window = inbox_->messageWindow();
        QTRY_COMPARE(window.count(), 3);
        QVERIFY(window.isVisible());
        QVERIFY(window.testAttribute(Qt::WA_ShowWithoutActivating));
        QVERIFY(fake_->tray.tip.contains(QStringLiteral("正在接收消息")));
        // The first is on screen, and so read; the two behind it wait.
        QTRY_COMPARE(inbox_->unreadCount(), 2);
        QVERIFY(fake_->tray.tip.contains(QStringLiteral("2 条未读消息")));
        QCOMPARE(fake_->notifications.raised.size(), std::size_t(3));
        QCOMPARE(fake_->notifications.raised[2].summary, QStringLiteral("未核实：BOSS (10.6.6.6)"));
        QCOMPARE(fake_->notifications.raised[1].body,
                 QStringLiteral("<b>not bold</b> & <i>raw</i>"));

        auto& ui = window.ui();
        const struct {
            int index;
            const char* sender;
            const char* text;
            bool addVisible;
        } shown[] = {
            {0, "ann (WG)", "lunch?", false},
            {1, "未核实：STRANGER (10.9.9.9)", "<b>not bold</b> & <i>raw</i>", true},
            // Adding it would give BOSS twice: the contact's details are the place to fix.
            {2, "未核实：BOSS (10.6.6.6)", "pay me", false},
        };
        for (const auto& s : shown) {
            if (window.current() != s.index)
                ui.btnNext->click();
            QCOMPARE(window.current(), s.index);
            QCOMPARE(ui.stSender->text(), QString::fromUtf8(s.sender));
            QCOMPARE(ui.Memo1->toPlainText(), QString::fromUtf8(s.text));
            QCOMPARE(ui.btnAddToBook->isVisibleTo(&window), s.addVisible);
            QVERIFY(ui.btnPrev->isVisibleTo(&window) && ui.btnNext->isVisibleTo(&window));
        }

        // Filed by the address it came from, not in the contact's conversation.
        QCOMPARE(inbox_->history()->conversation(QStringLiteral("10.6.6.6")).size(),
                 std::size_t(1));
        QVERIFY(inbox_->history()->conversation(QStringLiteral("BOSS")).empty());

        // The stranger joins the page's workgroup; the window then shows the book's view of it.
        ui.btnPrev->click();
        ui.btnAddToBook->click();
        QFile book(path("config.xml"));
        QVERIFY(book.open(QIODevice::ReadOnly));
        QVERIFY(book.readAll().contains("<computer id=\"STRANGER\">"));
        QCOMPARE(ui.stSender->text(), QStringLiteral("STRANGER (WG)"));
        QVERIFY(!ui.btnAddToBook->isVisibleTo(&window));

        // 回复 opens the send dialog to the sender; what goes out lands in the history.
        ui.btnPrev->click();
        fake_->resolver.byName["PC01"] = {"PC01", {platform::Ipv4{10, 0, 0, 1}}};
        // The real BOSS: a reply to the claim must not find it by name.
        fake_->resolver.byName["BOSS"] = {"BOSS", {platform::Ipv4{10, 0, 0, 2}}};
        QString replyTo = QStringLiteral("PC01");
        connect(form_.get(), &app::TMainForm::dialogOpened, this, [&replyTo](QDialog* dialog) {
            QTimer::singleShot(0, dialog, [dialog, replyTo] {
                auto* send = static_cast<dialogs::TdlgSendMessage*>(dialog);
                QCOMPARE(send->ui().stxtCompName->text(), replyTo);
                send->ui().Memo1->setPlainText(QStringLiteral("yes, 12:00"));
                send->ui().OKBtn->click();
            });
        });
        ui.btnReply->click();
        QCOMPARE(fake_->messenger.messages.size(), std::size_t(1));
        QCOMPARE(fake_->messenger.messages[0].to, std::string("10.0.0.1"));
        QCOMPARE(fake_->tray.notes, QStringList{QStringLiteral("Lanquill: 已发送给 PC01")});
        const auto pc01 = inbox_->history()->conversation(QStringLiteral("PC01"));
        QCOMPARE(pc01.size(), std::size_t(2));
        QCOMPARE(pc01[1].text, QStringLiteral("yes, 12:00"));
        QCOMPARE(pc01[1].direction, inbox::Direction::Sent);

        // 回复 to the claimed BOSS goes to the address it came from, and files beside it.
        ui.btnNext->click();
        ui.btnNext->click();
        replyTo = QStringLiteral("10.6.6.6");
        ui.btnReply->click();
        QCOMPARE(fake_->messenger.messages.size(), std::size_t(2));
        QCOMPARE(fake_->messenger.messages[1].to, std::string("10.6.6.6"));
        QCOMPARE(inbox_->history()->conversation(QStringLiteral("10.6.6.6")).size(),
                 std::size_t(2));

        // Each was read as it came on screen: the unread mark and count are gone.
        ui.CancelBtn->click();
        QCOMPARE(inbox_->unreadCount(), 0);
        QVERIFY(!fake_->tray.tip.contains(QStringLiteral("未读")));
    }

    // A burst of 20 from one sender: all of them reachable in the window, the count on the tray
    // what the history holds unread at every step, one notification counting them with one
    // sound; stepping, closing, the tray's click, the history window and 全部标为已读 move the
    // count exactly as far as messages came on screen.
    void unreadAddsUp() {
        QLocalSocket* client = serve();
        QVERIFY(client);
        QByteArray burst = Receiving;
        for (int i = 1; i <= 20; ++i)
            burst += messageLine(QByteArray::number(i).constData(), "PC01", "10.0.0.1",
                                 QByteArray("burst " + QByteArray::number(i)).constData());
        client->write(burst);
        dialogs::TdlgMessage& window = inbox_->messageWindow();
        auto& ui = window.ui();
        const auto tipCount = [&] {
            return fake_->tray.tip.contains(
                       QStringLiteral("%1 条未读消息").arg(inbox_->unreadCount())) ||
                   (inbox_->unreadCount() == 0 &&
                    !fake_->tray.tip.contains(QStringLiteral("未读")));
        };
        QTRY_COMPARE(window.count(), 20);
        QTRY_COMPARE(inbox_->unreadCount(), 19);
        QVERIFY(tipCount());
        QCOMPARE(ui.Memo1->toPlainText(), QStringLiteral("burst 1"));
        QCOMPARE(ui.stPosition->text(), QStringLiteral("1 / 20"));
        QVERIFY(ui.stPosition->isVisibleTo(&window) && ui.btnAllRead->isVisibleTo(&window));

        const auto& raised = fake_->notifications.raised;
        QCOMPARE(raised.size(), std::size_t(20));
        for (std::size_t i = 0; i < raised.size(); ++i) {
            QCOMPARE(raised[i].options.thread, raised[0].options.thread);
            QCOMPARE(raised[i].options.sound, i == 0);
        }
        QCOMPARE(raised.back().summary, QStringLiteral("ann (WG)（20 条消息）"));
        QCOMPARE(raised.back().body, QStringLiteral("burst 20"));

        ui.btnNext->click();
        ui.btnNext->click();
        QCOMPARE(ui.stPosition->text(), QStringLiteral("3 / 20"));
        QCOMPARE(inbox_->unreadCount(), 17);
        QVERIFY(tipCount());

        // Closed with 17 not yet on screen: they stay unread and stay in the window.
        ui.CancelBtn->click();
        QVERIFY(!window.isVisible());
        QCOMPARE(inbox_->unreadCount(), 17);
        QCOMPARE(window.count(), 17);
        // The tray's click brings back the main window and the oldest of them over it (an inbox
        // that went took only its own answer with it).
        { app::Inbox other(*form_, fake_->platform(), path("other.sqlite"), path("x.conf")); }
        form_->hide();
        fake_->tray.leftPress();
        QTRY_VERIFY(form_->isVisible());
        QVERIFY(window.isVisible());
        QCOMPARE(ui.Memo1->toPlainText(), QStringLiteral("burst 4"));
        QCOMPARE(ui.stPosition->text(), QStringLiteral("1 / 17"));
        QTRY_COMPARE(inbox_->unreadCount(), 16);
        // The notification's click goes to the first of the burst still held.
        ui.CancelBtn->click();
        raised.back().onOpen();
        QCOMPARE(ui.Memo1->toPlainText(), QStringLiteral("burst 5"));
        QTRY_COMPARE(inbox_->unreadCount(), 15);
        ui.CancelBtn->click();

        // The history window shows the marks and reads what it shows; the window lets go of them.
        form_->mnuHistory->trigger();
        auto* historyWindow = qobject_cast<QDialog*>(shownHistoryWindow());
        QVERIFY(historyWindow);
        auto* text = historyWindow->findChild<QPlainTextEdit*>(QStringLiteral("Memo1"));
        QVERIFY(text);
        QCOMPARE(text->toPlainText().count(QStringLiteral("(未读)")), 15);
        QCOMPARE(inbox_->unreadCount(), 0);
        QVERIFY(tipCount());
        QCOMPARE(window.count(), 0);
        historyWindow->close();

        // 全部标为已读 reads what the window holds and closes it.
        for (const char* word : {"one", "two", "three"})
            client->write(messageLine(word, "STRANGER", "10.9.9.9", word));
        QTRY_COMPARE(window.count(), 3);
        QTRY_COMPARE(inbox_->unreadCount(), 2);
        ui.btnAllRead->click();
        QVERIFY(!window.isVisible());
        QCOMPARE(inbox_->unreadCount(), 0);
        QVERIFY(tipCount());
        // A notification of messages all read opens the conversations, where they are.
        raised.back().onOpen();
        QVERIFY(!window.isVisible());
        QVERIFY(shownHistoryWindow());

        // Silenced: the window still opens, no notification and no sound; the setting stays.
        const std::size_t before = raised.size();
        inbox_->alertsAction()->trigger();
        QVERIFY(!inbox_->alertsOn());
        QVERIFY(form_->pMnuCallBack->actions().contains(inbox_->alertsAction()));
        QVERIFY(form_->PopupMenuMain->actions().contains(inbox_->alertsAction()));
        client->write(messageLine("24", "PC01", "10.0.0.1", "quiet"));
        QTRY_COMPARE(window.count(), 1);
        QCOMPARE(raised.size(), before);
        app::Inbox again(*form_, fake_->platform(), path("other.sqlite"), path("lanquill.conf"));
        QVERIFY(!again.alertsOn());
        // With the inbox gone, the tray's click still brings back the main window.
        inbox_.reset();
        form_->hide();
        fake_->tray.leftPress();
        QTRY_VERIFY(form_->isVisible());
    }

    void aNewMessageWindowLeavesTheSendDialogUsable_data() {
        QTest::addColumn<QString>("where"); // of the send dialog on the screen
        QTest::newRow("centre") << "centre";
        QTest::newRow("left edge") << "left";
        QTest::newRow("right edge") << "right";
    }

    // A message arriving while the user types in a send dialog opens beside it, not over the
    // text box and 发送.
    void aNewMessageWindowLeavesTheSendDialogUsable() {
        QFETCH(QString, where);
        start();
        dialogs::TdlgSendMessage send(*form_, form_.get());
        send.setModal(true);
        const QRect room = send.screen()->availableGeometry();
        QRect place(QPoint(), send.size());
        place.moveCenter(room.center());
        if (where == QLatin1String("left"))
            place.moveLeft(room.left());
        else if (where == QLatin1String("right"))
            place.moveRight(room.right());
        send.move(place.topLeft());
        send.show();
        QVERIFY(QTest::qWaitForWindowExposed(&send));
        QCOMPARE(QApplication::activeModalWidget(), &send);

        inbox::Message message;
        message.id = QStringLiteral("m1");
        message.peer = QStringLiteral("PC01");
        message.text = QStringLiteral("hi");
        dialogs::TdlgMessage window([](const inbox::Message&) { return dialogs::SenderView{}; },
                                    nullptr);
        window.append(message);
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QRect shown = window.frameGeometry();
        QVERIFY(room.contains(shown));
        QVERIFY(shown != send.frameGeometry());
        for (const QWidget* part :
             std::initializer_list<const QWidget*>{send.ui().Memo1, send.ui().OKBtn}) {
            const QRect global(part->mapToGlobal(QPoint()), part->size());
            QVERIFY2(!shown.intersects(global), qPrintable(part->objectName()));
        }
    }

    // Messages left unread last time wait again, their texts read from the history as they come
    // on screen; one that came in a datagram from a contact's address is still not the contact's.
    void unreadFromLastTimeWait() {
        const auto message = [](const char* id, const QString& from, bool datagram) {
            inbox::Message m;
            m.id = QString::fromLatin1(id);
            m.sender = m.peer = from;
            m.address = datagram ? QStringLiteral("10.0.0.1") : QStringLiteral("10.6.6.6");
            m.text = QStringLiteral("text of ") + m.id;
            m.unread = m.datagram = datagram;
            return m;
        };
        {
            inbox::History history(path("history.sqlite"));
            QVERIFY(history.add(message("old1", QStringLiteral("PC01"), true)));
            QVERIFY(history.add(message("old2", QStringLiteral("PC01"), true)));
        }
        start();
        auto& ui = inbox_->messageWindow().ui();
        QCOMPARE(ui.stSender->text() + ui.Memo1->toPlainText(),
                 QStringLiteral("未核实：PC01 (10.0.0.1)text of old1"));
        ui.btnNext->click();
        QCOMPARE(ui.Memo1->toPlainText(), QStringLiteral("text of old2"));
        // A name too long for the sender's field is cut, never the address after it.
        inbox_->messageWindow().append(message("new", QString(60, u'W'), false));
        ui.btnNext->click();
        QVERIFY2(ui.stSender->text().endsWith(QStringLiteral("W\u2026 (10.6.6.6)")),
                 qPrintable(ui.stSender->text()));
        QVERIFY(ui.stSender->fontMetrics().horizontalAdvance(ui.stSender->text()) <=
                ui.stSender->contentsRect().width());
    }

    // Claimed name x address x the book's computers -> what the windows show and where the
    // history files it. Book: PC01 (user ann, WG) at 10.0.0.1; BOSS (computer name BOSS-PC, user
    // 老板, RTWG) at 10.0.0.2; NOADDR (user bob) without an address.
    void attribution_data() {
        QTest::addColumn<QString>("claimed");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("shown");
        // The book's computer that vouches for the sender and whose conversation holds the
        // message; without one the message is unverified and filed by the address it came from.
        QTest::addColumn<QString>("computer");
        QTest::addColumn<bool>("datagram");
        const auto row = [](const char* name, const char* claimed, const char* address,
                            const char* shown, const char* computer = "", bool datagram = false) {
            QTest::newRow(name) << QString::fromUtf8(claimed) << QString::fromUtf8(address)
                                << QString::fromUtf8(shown) << QString::fromUtf8(computer)
                                << datagram;
        };
        row("id at its address", "PC01", "10.0.0.1", "ann (WG)", "PC01");
        row("id folded", "pc01", "10.0.0.1", "ann (WG)", "PC01");
        row("user name, as smbclient sends it", "ANN", "10.0.0.1", "ann (WG)", "PC01");
        row("computer name beside the id", "BOSS-PC", "10.0.0.2", "老板 (RTWG)", "BOSS");
        row("Chinese user name", "老板", "10.0.0.2", "老板 (RTWG)", "BOSS");
        row("contact's id from elsewhere", "BOSS", "10.6.6.6", "未核实：BOSS (10.6.6.6)");
        row("contact's user name from elsewhere", "老板", "10.6.6.6", "未核实：老板 (10.6.6.6)");
        row("another name from a contact's address", "MALLORY", "10.0.0.1",
            "未核实：MALLORY (10.0.0.1)");
        row("an anonymous message from a contact's computer", "Lanquill", "10.0.0.1",
            "未核实：Lanquill (10.0.0.1)");
        row("another contact's name from a contact's address", "BOSS", "10.0.0.1",
            "未核实：BOSS (10.0.0.1)");
        row("a Chinese name that only looks alike", "老闆", "10.0.0.2", "未核实：老闆 (10.0.0.2)");
        row("computer without an address", "NOADDR", "10.0.0.7", "未核实：NOADDR (10.0.0.7)");
        row("nobody the book knows", "STRANGER", "10.9.9.9", "未核实：STRANGER (10.9.9.9)");
        // What a claim cannot do: push the address away, take the book's form, or be vouched for
        // by an address that a datagram's sender wrote.
        row("ideographic spaces, a line break, full-width brackets, a direction override",
            "老板\u3000\u3000\u3000\n（RTWG）\u202e", "10.6.6.6",
            "未核实：老板 （RTWG） (10.6.6.6)");
        row("a long name, cut before the address", "AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA",
            "10.6.6.6", "未核实：AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA\u2026 (10.6.6.6)");
        row("a datagram from a contact's address", "PC01", "10.0.0.1", "未核实：PC01 (10.0.0.1)",
            "", true);
    }

    void attribution() {
        QFETCH(QString, claimed);
        QFETCH(QString, address);
        QFETCH(QString, shown);
        QFETCH(QString, computer);
        QFETCH(bool, datagram);
        start();
        const app::Sender sender = app::attribute(form_->XMLDoc(), claimed, address, datagram);
        QCOMPARE(sender.view.text(), shown);
        QCOMPARE(sender.conversation, computer.isEmpty() ? address : computer);
        QCOMPARE(sender.entry.has_value(), !computer.isEmpty());
    }

    // The book's indexes follow its edits: a contact given a new address vouches from there only.
    void attributionFollowsTheBook() {
        start();
        contacts::XmlDocument& book = form_->XMLDoc();
        QVERIFY(app::attribute(book, QStringLiteral("BOSS"), QStringLiteral("10.0.0.2")).entry);
        QVERIFY(contacts::SetComputerInfo(book, form_->ConfigPath(), "RTWG", "boss", "老板",
                                          "10.0.0.9", ""));
        QVERIFY(!app::attribute(book, QStringLiteral("BOSS"), QStringLiteral("10.0.0.2")).entry);
        QCOMPARE(
            app::attribute(book, QStringLiteral("老板"), QStringLiteral("10.0.0.9")).view.text(),
            QStringLiteral("老板 (RTWG)"));
    }

    // A history that cannot be written (another program holds it locked) stops receiving: the
    // tray says so, nothing is acknowledged, and once a write succeeds the tip is as before.
    // Status lines that change after the hello reach the tip as they come.
    void historyWriteFailureShown() {
        QLocalSocket* client = serve();
        QVERIFY(client);
        const struct {
            const char *line, *tip;
        } statuses[] = {
            {R"({"status":"name-lost","reason":"PC-07<00> held by 10.0.0.9"})",
             "接收消息受阻：本机名称已被网络上的另一台计算机占用（PC-07<00> held by 10.0.0.9）"},
            {R"({"status":"spool-unwritable","reason":"No space left on device"})",
             "接收消息已关闭：lanquilld 无法保存收到的消息（No space left on device）"},
            {R"({"status":"receiving"})", "正在接收消息"},
        };
        for (const auto& s : statuses) {
            client->write(QByteArray(s.line) + '\n');
            QTRY_COMPARE(fake_->tray.tip, QStringLiteral("Lanquill\n") + QString::fromUtf8(s.tip));
        }

        QSqlDatabase locker =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("locker"));
        locker.setDatabaseName(path("history.sqlite"));
        QVERIFY(locker.open());
        QSqlQuery lock(locker);
        QVERIFY(lock.exec(QStringLiteral("BEGIN IMMEDIATE")));
        client->write(messageLine("w1", "PC01", "10.0.0.1", "kept later"));
        QTRY_VERIFY_WITH_TIMEOUT(
            fake_->tray.tip.startsWith(QStringLiteral("Lanquill\n消息记录无法写入：")), 15000);
        QVERIFY2(fake_->tray.tip.contains(QStringLiteral("locked")), qPrintable(fake_->tray.tip));
        QTRY_COMPARE(client->state(), QLocalSocket::UnconnectedState);
        // Not acknowledged: lanquilld keeps it.
        QVERIFY(!client->readAll().contains("\"ack\""));
        QVERIFY(lock.exec(QStringLiteral("ROLLBACK")));
        lock.finish();
        locker.close();
        locker = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("locker"));

        // The next connection offers it again; now it is kept and the tip says so no more.
        client = lanquilld();
        QVERIFY(client);
        client->write(Receiving);
        client->write(messageLine("w1", "PC01", "10.0.0.1", "kept later"));
        QTRY_COMPARE(inbox_->messageWindow().count(), 1);
        QCOMPARE(fake_->tray.tip, QStringLiteral("Lanquill\n正在接收消息\n1 条未读消息"));
    }

    void receivingOffSaysWhy() {
        QLocalServer::removeServer(path("session.sock"));
        start();
        QTRY_VERIFY(fake_->tray.tip.contains(QStringLiteral("接收消息已关闭")));
        QVERIFY(fake_->tray.tip.startsWith(QStringLiteral("Lanquill\n")));
    }

    void damagedHistoryPutAside() {
        testsupport::writeBytes(path("history.sqlite").toStdString(), QByteArray(8192, 'j'));
        start();
        QCOMPARE(fake_->messages.shown.size(), 1);
        QVERIFY(fake_->messages.shown[0].contains(QStringLiteral("已另存为")));
        QVERIFY(QFile::exists(inbox_->history()->outcome().keptAsidePath));
    }
};

QTEST_MAIN(tst_Inbox)
#include "tst_Inbox.moc"
