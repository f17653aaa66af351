// The main window on fake platform layers: start-up and shutdown order, the socket messages,
// tray, hot key and help, and the contact book shown in the group bar.
#include "app/Autostart.h"
#include "app/frmMain.h"
#include "fakes/FakePlatform.h"
#include "net/NodeStatus.h"
#include "support/BookFiles.h"
#include "support/MainFormFixture.h"
#include "widgets/TfcOutlookBar.h"
#include "widgets/TfcOutlookList.h"
#include "widgets/TfcOutlookListItem.h"
#include "widgets/TfcOutlookPage.h"
#include "widgets/TfcShapeBtn.h"

#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <algorithm>

using namespace lanquill;

namespace {

const char* const TwoGroups = R"(<Lanquill>
  <group id="WORKGROUP">
    <computer id="PC01"><ComputerName>PC01</ComputerName><UserName>ann</UserName>
      <IpAddress>192.168.0.5</IpAddress><Memo/></computer>
    <computer id="pc02"><ComputerName>pc02</ComputerName><UserName/><IpAddress/><Memo/></computer>
  </group>
  <group id=""><computer id="HIDDEN"/></group>
  <group id="Office"/>
</Lanquill>
)";

QStringList captions(widgets::TfcOutlookList* list) {
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        texts << list->item(i)->text();
    return texts;
}

bool hasLine(const QString& entry, const char* key, const QString& value) {
    return entry.contains(QStringLiteral("\n%1=%2\n").arg(QLatin1String(key), value));
}

} // namespace

class TestMainForm : public fakes::MainFormFixture {
    Q_OBJECT

private:
    void start(const QByteArray& book = TwoGroups) {
        fake_->resolver.byName["pc-07"] = {"pc-07.lan", {{192, 168, 1, 7}}};
        createForm(book);
        showForm();
    }

    void reload(const QByteArray& book) {
        testsupport::writeBytes(configPath().toStdString(), book);
        QTest::mouseClick(form_->Label1, Qt::LeftButton);
    }

private Q_SLOTS:
    void init() { resetFixture(); }
    void cleanup() { tearDownFixture(); }

    void startsUpShowsTheBookAndShutsDownInOrder() {
        start();
        const fakes::Log expected = {"tray.add",         "taskbar.hide", "hotkey.grab",
                                     "currentDirectory", "socket.open",  "socket.notify"};
        QCOMPARE(fake_->log, expected);
        QTRY_VERIFY(!form_->captionPending());
        QCOMPARE(form_->windowTitle(), QStringLiteral("pc-07.lan"));
        QCOMPARE(form_->appDir(), dir_.path().toStdString());
        QCOMPARE(form_->ConfigPath(), configPath().toStdString());
        QCOMPARE(fake_->tray.tip, QStringLiteral("Lanquill"));
        const auto& hotKey = fake_->hotKeys.registered.at(form_->hotKeyAtom());
        QCOMPARE(hotKey.key, int(Qt::Key_Z));
        QCOMPARE(hotKey.modifiers, int(Qt::ControlModifier | Qt::ShiftModifier));
        QCOMPARE(fake_->hotKeys.names.at(form_->hotKeyAtom()), std::string("hotkey"));
        QCOMPARE(fake_->socket.boundPort, std::uint16_t(6767));
        QVERIFY(fake_->messages.shown.isEmpty());

        widgets::TfcOutlookBar* bar = form_->fcOutlookBar1;
        QCOMPARE(bar->pageCount(), 2); // the group with an empty id has no page
        // Page and item captions in book order: tst_frmMainCommands compares them with the book.
        widgets::TfcOutlookListItem* first = bar->page(0)->outlookList()->item(0);
        QCOMPARE(first->imageIndex(), 6);
        QCOMPARE(first->glyphOffset(), 1);
        QCOMPARE(first->separation(), 5);
        QCOMPARE(bar->page(0)->outlookList()->item(1)->imageIndex(), 0);
        QCOMPARE(bar->activePageEntry(), bar->page(0));

        QVERIFY(form_->SendUDPData("192.168.0.9"));
        QCOMPARE(fake_->socket.sent.size(), std::size_t(1));
        QCOMPARE(fake_->socket.sent[0].port, std::uint16_t(137));
        QCOMPARE(fake_->socket.sent[0].data.size(), std::size_t(50));
        QVERIFY(!form_->SendUDPData("not an address"));
        QVERIFY(!form_->nodeStatus().NbReplyReceived);
        int decoded = 0;
        connect(form_.get(), &app::TMainForm::nodeStatusDecoded, this, [&] { ++decoded; });
        fake_->socket.deliver({0x42}, {192, 168, 0, 7});
        QVERIFY(form_->nodeStatus().NbReplyReceived);
        QCOMPARE(form_->nodeStatus().NbReplyFrom, std::string("192.168.0.7"));
        QCOMPARE(decoded, 1);

        fake_->help.open("x");
        fake_->log.clear();
        QSignalSpy closed(form_.get(), &app::TMainForm::closed);
        form_->mnuExit->trigger();
        const fakes::Log down = {"socket.close", "tray.remove", "hotkey.release",
                                 "help.close:Lanquill 2.0"};
        QCOMPARE(fake_->log, down);
        QCOMPARE(closed.count(), 1);
        QCOMPARE(fake_->help.openWindows, 0);
        QVERIFY(fake_->hotKeys.registered.empty());
        QVERIFY(!fake_->tray.visible);
    }

    void captionIsEmptyWhenTheHostDoesNotResolve() {
        fake_->system.host = "nowhere";
        start();
        QTRY_VERIFY(!form_->captionPending());
        QCOMPARE(fake_->resolver.asked, std::vector<std::string>{"nowhere"});
        QCOMPARE(form_->windowTitle(), QString());
        QVERIFY(fake_->socket.isOpen());
    }

    // However long the resolver takes over the host's own name, the window is up and working
    // meanwhile: the book loaded, the socket open; the caption comes with the answer.
    void startUpDoesNotWaitForTheHostName() {
        fake_->resolver.hold("pc-07");
        start();
        QTRY_VERIFY(fake_->resolver.waiting("pc-07"));
        QVERIFY(form_->isVisible());
        QVERIFY(form_->captionPending());
        QCOMPARE(form_->windowTitle(), QString());
        QCOMPARE(form_->fcOutlookBar1->pageCount(), 2);
        QVERIFY(fake_->socket.isOpen());
        fake_->resolver.release("pc-07");
        QTRY_VERIFY(!form_->captionPending());
        QCOMPARE(form_->windowTitle(), QStringLiteral("pc-07.lan"));
    }

    void socketFailuresAreReported_data() {
        QTest::addColumn<bool>("failCreate");
        QTest::addColumn<QStringList>("shown");
        QTest::newRow("creation: the last two")
            << true << QStringList{"24  Socket创建失败", "bind fail"};
        QTest::newRow("bind, a second copy") << false << QStringList{"bind fail"};
    }

    void socketFailuresAreReported() {
        QFETCH(bool, failCreate);
        QFETCH(QStringList, shown);
        fake_->socket.failCreate = failCreate;
        fake_->socket.failBind = !failCreate;
        fake_->socket.createError = 24;
        start();
        QCOMPARE(fake_->messages.shown, shown);
    }

    void failingStepStopsTheLaterOnes() {
        fake_->system.directoryError = 2;
        start();
        QCOMPARE(fake_->messages.shown.size(), 1);
        QVERIFY(fake_->messages.shown.front().startsWith("System Error.  Code: 2."));
        QCOMPARE(form_->windowTitle(), QString());
        QVERIFY(form_->ConfigPath().empty());
        QCOMPARE(form_->fcOutlookBar1->pageCount(), 0);
        QVERIFY(!fake_->socket.isOpen());
        QVERIFY(std::ranges::find(fake_->log, "socket.open") == fake_->log.end());
        QVERIFY(form_->isVisible());
    }

    // Pages behind the first make their items when first shown; a reload before then hands the
    // same pages out again, which must show the new book's computers only.
    void laterPagesShowTheBookOfTheLastLoad() {
        start(R"(<Lanquill><group id="A"><computer id="PC01"/></group>
                 <group id="B"><computer id="OLD1"/><computer id="OLD2"/></group></Lanquill>)");
        widgets::TfcOutlookBar* bar = form_->fcOutlookBar1;
        widgets::TfcOutlookList* later = bar->page(1)->outlookList();
        reload(R"(<Lanquill><group id="A"/><group id="B"><computer id="NEW1"/>
                  </group><group id="C"><computer id="NEW2"/></group></Lanquill>)");
        QCOMPARE(bar->page(1)->outlookList(), later);
        bar->ensureLaidOut();
        QTest::mouseClick(bar->page(1)->button(), Qt::LeftButton);
        QVERIFY(later->isVisible());
        QCOMPARE(captions(later), QStringList({"群体消息", "NEW1"}));
        QCOMPARE(captions(bar->page(2)->outlookList()), QStringList({"群体消息", "NEW2"}));
    }

    void unreadableBookIsReportedAndKept() {
        const QByteArray broken = "<Lanquill><group id=\"A\">";
        start(broken);
        QCOMPARE(fake_->messages.shown.size(), 1);
        QVERIFY(fake_->messages.shown.front().contains(QStringLiteral("config.xml")));
        QCOMPARE(configBytes(), broken);
        // The socket still opens: the book's trouble is reported, not raised.
        QVERIFY(fake_->socket.isOpen());
    }

    // F1 with any modifiers, and Label1, which then reloads the book even without the help.
    void f1AndLabel1OpenTheHelp() {
        start();
        const Qt::KeyboardModifiers combos[] = {
            Qt::NoModifier, Qt::ShiftModifier, Qt::ControlModifier | Qt::AltModifier,
            Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier};
        int opened = 0;
        for (Qt::KeyboardModifiers modifiers : combos) {
            QTest::keyClick(form_->fcOutlookBar1, Qt::Key_F1, modifiers);
            QCOMPARE(int(fake_->help.opened.size()), ++opened);
        }
        // Twice in a row: the first window is closed before the second opens.
        QCOMPARE(fake_->help.openWindows, 1);
        // The tray menu's 帮助 names the key.
        QCOMPARE(form_->mnuHelp->shortcut(), QKeySequence(Qt::Key_F1));

        fake_->log.clear();
        fake_->help.fileExists = false; // help missing: the reload still happens
        reload("<Lanquill><group id=\"NEW\"/></Lanquill>");
        QCOMPARE(fake_->log.at(0), std::string("help.close:Lanquill 2.0"));
        QCOMPARE(fake_->log.at(1), std::string("help.open"));
        QCOMPARE(fake_->help.opened.back(), dir_.filePath("LANQUILL.CHM").toStdString());
        QCOMPARE(form_->fcOutlookBar1->pageCount(), 1);
        QCOMPARE(form_->fcOutlookBar1->page(0)->button()->text(), QStringLiteral("NEW"));
    }

    void trayAndHotKeyRestoreTheWindowAndTheTrayOpensItsMenu() {
        start();
        form_->showMinimized();
        QTRY_VERIFY(form_->isMinimized());
        fake_->hotKeys.press(form_->hotKeyAtom());
        QTRY_VERIFY(!form_->isMinimized());
        form_->hide();
        fake_->tray.leftPress();
        QTRY_VERIFY(form_->isVisible());
        // A second hot key with the window in front changes nothing.
        fake_->hotKeys.press(form_->hotKeyAtom());
        QVERIFY(form_->isVisible() && !form_->isMinimized());

        const QPoint where(40, 50);
        QTimer::singleShot(0, this, [this, where] {
            QTRY_VERIFY(form_->pMnuCallBack->isVisible());
            QCOMPARE(form_->pMnuCallBack->pos(), where);
            form_->pMnuCallBack->close();
        });
        fake_->tray.rightRelease(where);
        QTRY_VERIFY(!form_->pMnuCallBack->isVisible());
    }

    // Without a tray host the task-bar button is the way back; it goes when the icon appears.
    void taskbarButtonStaysUntilATrayHostAppears() {
        fake_->tray.hostUp = false;
        start();
        QVERIFY(!fake_->tray.visible);
        QCOMPARE(fake_->taskbar.hidden, nullptr);
        fake_->tray.hostAppears();
        QCOMPARE(fake_->taskbar.hidden, form_.get());
    }

    void stripMenuReachesTheTrayCommands_data() {
        QTest::addColumn<QString>("item");
        QTest::addColumn<QString>("effect");
        for (const char* row :
             {"消息记录 mnuHistory history", "开机启动 mnuAutoStart autostart", "帮助 mnuHelp help",
              "关于 mnuAbout about", "关闭退出 mnuExit exit"}) {
            const QStringList words = QString::fromUtf8(row).split(' ');
            QTest::newRow(row) << words[1] << words[2];
        }
    }

    // Without a tray the bottom strip's menu, opened by F10, reaches what the tray menu does.
    void stripMenuReachesTheTrayCommands() {
        QFETCH(QString, item);
        QFETCH(QString, effect);
        QTemporaryDir config;
        qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
        const auto restore = qScopeGuard([] { qunsetenv("XDG_CONFIG_HOME"); });
        start();
        QVERIFY(QTest::qWaitForWindowActive(form_.get()));
        QStringList effects;
        connect(form_.get(), &app::TMainForm::historyRequested, this,
                [&] { effects << "history"; });
        connect(form_.get(), &app::TMainForm::closed, this, [&] { effects << "exit"; });
        connect(form_.get(), &app::TMainForm::dialogOpened, this, [&] { effects << "about"; });
        QMenu* menu = form_->PopupMenuMain;
        QTest::keyClick(form_.get(), Qt::Key_F10);
        QTRY_VERIFY(menu->isVisible());
        // Above the strip, not over it.
        QVERIFY(menu->geometry().bottom() < form_->btnMenu->mapToGlobal(QPoint(0, 0)).y());
        const QList<QAction*> actions = menu->actions();
        const auto chosen = std::ranges::find(actions, item, &QAction::objectName);
        QVERIFY(chosen != actions.end());
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(*chosen).center());
        QTRY_VERIFY(!menu->isVisible());
        if (!fake_->help.opened.empty())
            effects << "help";
        if (QFile::exists(config.filePath(QStringLiteral("autostart/lanquill.desktop"))))
            effects << "autostart";
        QCOMPARE(effects, QStringList{effect});
        QCOMPARE(form_->pMnuCallBack->actions().size(), 6); // the tray menu as it was
    }

    // 开机启动 writes the session's autostart entry for this program in this program directory,
    // and removes it again.
    void autostartItemWritesAndRemovesTheEntry() {
        QTemporaryDir config;
        qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
        const auto restore = qScopeGuard([] { qunsetenv("XDG_CONFIG_HOME"); });
        start();
        const QString path = config.filePath(QStringLiteral("autostart/lanquill.desktop"));
        form_->mnuAutoStart->trigger();
        QVERIFY(form_->mnuAutoStart->isChecked());
        QFile entry(path);
        QVERIFY(entry.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(entry.readAll());
        QVERIFY2(hasLine(text, "Exec", QCoreApplication::applicationFilePath()), qPrintable(text));
        QVERIFY2(hasLine(text, "Path", dir_.path()), qPrintable(text));
        form_->mnuAutoStart->trigger();
        QVERIFY(!QFile::exists(path));
        QVERIFY(!form_->mnuAutoStart->isChecked());
    }

    void autostartEntryEscapesPaths_data() {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("directory");
        QTest::addColumn<QString>("exec");
        QTest::addColumn<QString>("path");
        auto row = [](const char* name, const char* program, const char* directory,
                      const char* exec, const char* path) {
            QTest::newRow(name) << QString::fromUtf8(program) << QString::fromUtf8(directory)
                                << QString::fromUtf8(exec) << QString::fromUtf8(path);
        };
        row("plain", "/usr/bin/lanquill", "/home/ann/lq", "/usr/bin/lanquill", "/home/ann/lq");
        row("blank and Chinese", "/opt/my apps/lanquill", "/home/ann/通讯录",
            "\"/opt/my apps/lanquill\"", "/home/ann/通讯录");
        row("quote, dollar, backslash", "/tmp/a\"$b\\d/lanquill", "/tmp/x\\y",
            "\"/tmp/a\\\\\"\\\\$b\\\\\\\\d/lanquill\"", "/tmp/x\\\\y");
        // GLib looks for the program under the Exec line's spelling, %% and all, and skips an
        // entry whose program it cannot find: a path with % goes to the shell as an argument.
        row("percent, blank and quote in the directory", "/opt/50% off/it's/lanquill",
            "/opt/50% off",
            "/bin/sh -c \"exec \\\\\"\\\\$0\\\\\"\" \"/opt/50%% off/it's/lanquill\"",
            "/opt/50% off");
        // No exec line: the entry is refused.
        row("line break in the program", "/bin/x\nTerminal=true", "/tmp", nullptr, nullptr);
        row("line break in the directory", "/bin/x", "/tmp\rExec=evil", nullptr, nullptr);
    }

    void autostartEntryEscapesPaths() {
        QFETCH(QString, program);
        QFETCH(QString, directory);
        QFETCH(QString, exec);
        QFETCH(QString, path);
        if (exec.isNull()) {
            QVERIFY_THROWS_EXCEPTION(std::invalid_argument,
                                     app::autostartEntry(program, directory));
        } else {
            const QString entry = app::autostartEntry(program, directory);
            QVERIFY2(hasLine(entry, "Exec", exec), qPrintable(entry));
            QVERIFY2(hasLine(entry, "Path", path), qPrintable(entry));
        }
    }

    void logoBevelFollowsThePointer() {
        start();
        QVERIFY(!form_->logoRaised());
        auto raisedAfterMove = [this](QWidget* widget, QPoint at) {
            QMouseEvent move(QEvent::MouseMove, at, widget->mapToGlobal(at), Qt::NoButton,
                             Qt::NoButton, Qt::NoModifier);
            QApplication::sendEvent(widget, &move);
            return form_->logoRaised();
        };
        QVERIFY(raisedAfterMove(form_->Image1, QPoint(5, 5)));
        QVERIFY(raisedAfterMove(form_->Image1, QPoint(6, 5)));
        QVERIFY(!raisedAfterMove(form_->pnlLogo, QPoint(34, 17)));
    }
};

QTEST_MAIN(TestMainForm)
#include "tst_frmMain.moc"
