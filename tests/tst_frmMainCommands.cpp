// The main window's commands driven by real mouse and key events through the window-system layer:
// deleting members and workgroups from the popup menus, the item click that opens the send
// dialog, and the commands that open the other dialogs.
#define QTEST_QPA_MOUSE_HANDLING
#include <QtTest>

#include "app/frmMain.h"
#include "contacts/XmlDocument.h"
#include "dialogs/dlgDetail.h"
#include "fakes/FakePlatform.h"
#include "support/BookFiles.h"
#include "support/MainFormFixture.h"
#include "ui_dlgDetail.h"
#include "widgets/TfcOutlookBar.h"
#include "widgets/TfcOutlookList.h"
#include "widgets/TfcOutlookListItem.h"
#include "widgets/TfcOutlookPage.h"
#include "widgets/TfcShapeBtn.h"

#include <QContextMenuEvent>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QRegularExpression>

using namespace lanquill;

namespace {

// PC02 twice in WG, and a second group WG that holds PC09.
const char* const Book = R"(<Lanquill>
<group id="WG">
<computer id="PC01"><ComputerName>PC01</ComputerName><UserName>ann</UserName><IpAddress>10.0.0.1</IpAddress><Memo/></computer>
<computer id="PC02"><ComputerName>PC02</ComputerName><UserName>first</UserName><IpAddress>10.0.0.2</IpAddress><Memo/></computer>
<computer id="pc02"><ComputerName>pc02</ComputerName><UserName>second</UserName><IpAddress>10.0.0.3</IpAddress><Memo/></computer>
</group>
<group id="OFFICE"><computer id="BOSS"><ComputerName>BOSS</ComputerName><UserName/><IpAddress/><Memo/></computer></group>
<group id="wg"><computer id="PC09"><ComputerName>PC09</ComputerName><UserName/><IpAddress/><Memo/></computer></group>
</Lanquill>
)";

// QMenu::exec runs its own event loop: click `action` from a timer inside it.
void chooseWhenShown(QMenu* menu, QAction* action) {
    auto* timer = new QTimer(menu);
    timer->setInterval(5);
    auto tries = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, menu, [timer, menu, action, tries] {
        if (!menu->isVisible() && ++*tries < 400)
            return;
        timer->stop();
        timer->deleteLater();
        if (menu->isVisible())
            QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(action).center());
    });
    timer->start();
}

// The book at `path` as one line, groups in document order: GROUP:COMPUTER,COMPUTER with /USER
// after a computer that has a user name, so that entries of one id are told apart.
QString bookOutline(const QString& path) {
    contacts::XmlDocument doc;
    if (doc.load(path.toStdString()).kind != contacts::LoadOutcome::Kind::Loaded)
        return QStringLiteral("(unreadable)");
    QStringList groups;
    const contacts::XmlNodeList groupNodes = doc.documentElement().childNodes();
    for (int g = 0; g < groupNodes.length(); ++g) {
        QStringList computers;
        const contacts::XmlNodeList computerNodes = groupNodes.item(g).childNodes();
        for (int c = 0; c < computerNodes.length(); ++c) {
            const std::string id = computerNodes.item(c).getAttribute("id");
            std::string user;
            const contacts::XmlNodeList fields = computerNodes.item(c).childNodes();
            for (int f = 0; f < fields.length(); ++f)
                if (fields.item(f).nodeName() == "UserName")
                    user = fields.item(f).text();
            computers << QString::fromStdString(user.empty() ? id : id + "/" + user);
        }
        groups << QString::fromStdString(groupNodes.item(g).getAttribute("id")) +
                      QStringLiteral(":") + computers.join(QLatin1Char(','));
    }
    return groups.join(QLatin1Char(' '));
}

QStringList captions(widgets::TfcOutlookList* list) {
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        texts << list->item(i)->text();
    return texts;
}

} // namespace

class TestMainFormCommands : public fakes::MainFormFixture {
    Q_OBJECT

private:
    widgets::TfcOutlookBar* bar() const { return form_->fcOutlookBar1; }
    widgets::TfcOutlookList* list(int page) const { return bar()->page(page)->outlookList(); }
    static QPoint centreOf(widgets::TfcOutlookList* l, int i) { return l->itemRect(i).center(); }

    void start(const QByteArray& book = Book) {
        createForm(book);
        form_->resize(160, 500);
        showForm();
    }

    void deleteMemberByMenu(int page, int index) {
        bar()->setActivePage(bar()->page(page));
        QTRY_VERIFY(list(page)->isVisible());
        widgets::TfcOutlookList* l = list(page);
        const QPoint at = centreOf(l, index);
        chooseWhenShown(form_->PopupMenu1, form_->mnuDelete);
        QTest::mouseMove(l, at);
        QTest::mousePress(l, Qt::RightButton, {}, at);
        QTest::mouseRelease(l, Qt::RightButton, {}, at);
        QTRY_VERIFY(!form_->PopupMenu1->isVisible());
    }

    // What the bar shows, as bookOutline writes a book without its user names: the pages whose
    // buttons show, each with its computers.
    QString barOutline() const {
        QStringList pages;
        for (int p = 0; p < bar()->pageCount(); ++p) {
            widgets::TfcOutlookPage* page = bar()->page(p);
            if (page->button()->isHidden())
                continue;
            pages << page->button()->text() + QStringLiteral(":") +
                         captions(page->outlookList()).mid(1).join(QLatin1Char(','));
        }
        return pages.join(QLatin1Char(' '));
    }

    void deleteWorkgroupByMenu(int page) {
        widgets::TfcShapeBtn* button = bar()->page(page)->button();
        chooseWhenShown(form_->PopupMenu2, form_->munDeleteGroup);
        QTest::mousePress(button, Qt::RightButton);
        QTest::mouseRelease(button, Qt::RightButton);
        QTRY_VERIFY(!form_->PopupMenu2->isVisible());
    }

private Q_SLOTS:
    void init() { resetFixture(); }

    void cleanup() {
        tearDownFixture();
        QFile::setPermissions(configPath(), QFile::ReadOwner | QFile::WriteOwner);
    }

    void deleteRemovesExactlyTheEntryClicked_data() {
        QTest::addColumn<QByteArray>("book");
        // "member PAGE ITEM" or "group PAGE", one after the other.
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QString>("left");

        auto pc = [](const char* id, const char* user = "") {
            return QByteArray("<computer id=\"") + id + "\"><ComputerName>" + id +
                   "</ComputerName><UserName>" + user +
                   "</UserName><IpAddress/><Memo>note</Memo></computer>";
        };
        auto group = [](const char* id, const QByteArray& computers) {
            return QByteArray("<group id=\"") + id + "\">" + computers + "</group>";
        };
        auto book = [](const QByteArray& groups) { return "<Lanquill>" + groups + "</Lanquill>"; };

        const QByteArray caseTwins =
            book(group("WG", pc("renshi-pc", "张三") + pc("RENSHI-PC") + pc("PC01", "ann")));
        QTest::newRow("the later of two case twins")
            << caseTwins << QStringList{"member 0 2"} << "WG:renshi-pc/张三,PC01/ann";
        QTest::newRow("the earlier of two case twins")
            << caseTwins << QStringList{"member 0 1"} << "WG:RENSHI-PC,PC01/ann";
        QTest::newRow("both twins, later first")
            << caseTwins << QStringList{"member 0 2", "member 0 1"} << "WG:PC01/ann";
        QTest::newRow("the second of two equal ids")
            << book(group("WG", pc("TWIN", "first") + pc("TWIN", "second")))
            << QStringList{"member 0 2"} << "WG:TWIN/first";
        QTest::newRow("a member of the later of two case-twin groups")
            << book(group("WG", pc("PC01", "a")) + group("wg", pc("PC01", "b")))
            << QStringList{"member 1 1"} << "WG:PC01/a wg:";
        QTest::newRow("a member of the later of two equal groups, the earlier deleted first")
            << book(group("WG", pc("PC01", "a")) + group("WG", pc("PC01", "b")) +
                    group("WG", pc("PC01", "c")))
            << QStringList{"group 0", "member 2 1"} << "WG:PC01/b WG:";
        QTest::newRow("the later of two case-twin groups")
            << book(group("WG", pc("PC01", "a")) + group("OFFICE", "") + group("wg", pc("PC09")))
            << QStringList{"group 2"} << "WG:PC01/a OFFICE:";
        QTest::newRow("the later of two equal groups, then the earlier")
            << book(group("WG", pc("PC01", "a")) + group("WG", pc("PC02", "b")) +
                    group("WG", pc("PC03", "c")))
            << QStringList{"group 1", "group 0"} << "WG:PC03/c";
    }

    // Ids that differ only in case, or not at all, are separate entries: the one clicked leaves
    // the book and the bar alike, and the next load shows the same.
    void deleteRemovesExactlyTheEntryClicked() {
        QFETCH(QByteArray, book);
        QFETCH(QStringList, steps);
        QFETCH(QString, left);
        start(book);
        for (const QString& step : steps) {
            const QStringList words = step.split(QLatin1Char(' '));
            if (words.at(0) == QStringLiteral("group"))
                deleteWorkgroupByMenu(words.at(1).toInt());
            else
                deleteMemberByMenu(words.at(1).toInt(), words.at(2).toInt());
        }
        QCOMPARE(bookOutline(configPath()), left);
        const QString withoutUsers = QString(left).remove(QRegularExpression("/[^, ]*"));
        QCOMPARE(barOutline(), withoutUsers);
        QVERIFY(fake_->messages.shown.isEmpty());

        QTest::mouseClick(form_->Label1, Qt::LeftButton); // the next load
        QCOMPARE(barOutline(), withoutUsers);
    }

    void selectComputerShowsThatEntry_data() {
        QTest::addColumn<QString>("group");
        QTest::addColumn<QString>("computer");
        QTest::addColumn<int>("page");
        QTest::addColumn<int>("item"); // -1: nothing selected
        const auto row = [](const char* name, const char* group, const char* computer, int page,
                            int item) {
            QTest::newRow(name) << QString(group) << QString(computer) << page << item;
        };
        row("exact twin, the later", "WG", "pc02", 0, 3);
        row("exact twin, the earlier", "WG", "PC02", 0, 2);
        row("the later of two case-twin groups", "wg", "PC09", 2, 1);
        row("group named in another case", "office", "BOSS", 1, 1);
        row("no such computer", "WG", "NOBODY", 0, -1);
    }

    // The entry an add would have duplicated is brought forward: its page, and the item itself.
    void selectComputerShowsThatEntry() {
        QFETCH(QString, group);
        QFETCH(QString, computer);
        QFETCH(int, page);
        QFETCH(int, item);
        start();
        bar()->setActivePage(bar()->page(page == 0 ? 1 : 0));
        form_->selectComputer(group.toStdString(), computer.toStdString());
        QCOMPARE(bar()->activePageEntry(), bar()->page(page));
        QCOMPARE(list(page)->selectedItem(), list(page)->item(item));
    }

    // Neither the group item's menu nor the key with the pointer beside every item deletes, and
    // a read-only book is reported.
    void deleteWithoutAMemberOrAWritableBookChangesNothing() {
        start();
        const QByteArray before = configBytes();
        widgets::TfcOutlookList* l = list(0);
        deleteMemberByMenu(0, 0);
        QCOMPARE(l->count(), 4);
        QCOMPARE(configBytes(), before);

        QVERIFY(QFile::setPermissions(configPath(), QFile::ReadOwner | QFile::ReadGroup));
        deleteMemberByMenu(0, 1);
        QCOMPARE(fake_->messages.shown.size(), 1);
        QVERIFY(fake_->messages.shown.front().contains(QStringLiteral("只读")));
        // The command stopped at the failed save: the item is still in view.
        QCOMPARE(l->count(), 4);
        QCOMPARE(configBytes(), before);
        QVERIFY(QFile::setPermissions(configPath(), QFile::ReadOwner | QFile::WriteOwner));

        const QPoint below(10, l->itemRect(l->count() - 1).bottom() + 40);
        // A widget gets focus only in the active window, which the offscreen platform makes so
        // on its own time.
        l->window()->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(l->window()));
        QTest::mouseClick(l, Qt::LeftButton, {}, below); // focus, no item
        QTest::mouseMove(l, below);
        QTRY_VERIFY(l->hasFocus());
        QTest::keyClick(l, Qt::Key_Delete);
        QCOMPARE(l->count(), 4);
        QCOMPARE(configBytes(), before);

        // The same key with the pointer on an item deletes that member.
        QTest::mouseMove(l, centreOf(l, 1));
        QTest::keyClick(l, Qt::Key_Delete);
        QCOMPARE(captions(l).mid(1), QStringList({QStringLiteral("PC02"), QStringLiteral("pc02")}));
        QVERIFY(!configBytes().contains("PC01"));
    }

    // A computer item shows online or not by a fresh lookup; the group item needs none. Find and
    // About open from their commands.
    void itemsAndCommandsOpenTheirDialogs() {
        start();
        fake_->resolver.byName["PC01"] = {"PC01", {{192, 168, 9, 9}}};
        QStringList seen;
        onDialog_ = [&](QDialog* dialog) {
            auto& ui = static_cast<dialogs::TdlgSendMessage*>(dialog)->ui();
            seen << ui.stStatus->text() << ui.IPAddress->text() << ui.stUserName->text();
            dialog->reject();
        };
        // PC02 does not resolve: offline, with the address the book holds; pc02 beside it is an
        // entry of its own, with its own user and address.
        const QStringList expected[] = {{"在线", "192.168.9.9", "ann"},
                                        {"不在线", "10.0.0.2", "first"},
                                        {"不在线", "10.0.0.3", "second"}};
        for (int item = 1; item <= 3; ++item) {
            seen.clear();
            QTest::mouseClick(list(0), Qt::LeftButton, {}, centreOf(list(0), item));
            QTRY_COMPARE(seen.size(), 3);
            QCOMPARE(seen, expected[item - 1]);
        }
        QVERIFY(QApplication::overrideCursor() == nullptr);

        QString mode;
        onDialog_ = [&](QDialog* dialog) {
            auto* send = qobject_cast<dialogs::TdlgSendMessage*>(dialog);
            QVERIFY(send);
            mode = send->mode() == dialogs::TdlgSendMessage::Mode::Group ? "group" : "computer";
            QCOMPARE(send->ui().stxtCompName->text(), QStringLiteral("WG"));
            dialog->reject();
        };
        const std::size_t asked = fake_->resolver.askedFor("WG");
        QTest::mouseClick(list(0), Qt::LeftButton, {}, centreOf(list(0), 0));
        QTRY_COMPARE(mode, QStringLiteral("group"));
        QCOMPARE(fake_->resolver.askedFor("WG"), asked);
        onDialog_ = nullptr;

        // Reloaded twice, the bar is made from the previous bar's pages: a click still opens
        // exactly one dialog, with no handler of an earlier load left on the item.
        const qsizetype opened = dialogsSeen_.size();
        QTest::mouseClick(form_->Label1, Qt::LeftButton);
        QTest::mouseClick(form_->Label1, Qt::LeftButton);
        QTest::mouseClick(list(0), Qt::LeftButton, {}, centreOf(list(0), 0));
        QCOMPARE(dialogsSeen_.size(), opened + 1);

        form_->N2->trigger();
        QTest::mouseClick(form_->Image1, Qt::LeftButton);
        QCOMPARE(dialogsSeen_.mid(opened + 1), QStringList({"查找", "About"}));
    }

    // Without a workgroup the bar says how to add one, and its right-click, Ctrl+A and the link
    // in the hint all open 添加工作组; once the last page is deleted the hint is back.
    void anEmptyBarShowsAHintAndOffersAddGroup() {
        start("<Lanquill/>");
        QVERIFY(QTest::qWaitForWindowActive(form_.get()));
        QLabel* hint = form_->lblEmptyBar;
        QVERIFY(hint->isVisible());
        QVERIFY(hint->text().contains(QStringLiteral("添加工作组")));
        QVERIFY(bar()->rect().contains(hint->geometry()));

        QTest::keyClick(form_.get(), Qt::Key_A, Qt::ControlModifier);
        chooseWhenShown(form_->PopupMenuEmpty, form_->mnuEmptyAddGroup);
        QContextMenuEvent rightClick(QContextMenuEvent::Mouse, hint->rect().center(),
                                     hint->mapToGlobal(hint->rect().center()));
        QApplication::sendEvent(hint, &rightClick);
        QTRY_VERIFY(!form_->PopupMenuEmpty->isVisible());
        Q_EMIT hint->linkActivated(QStringLiteral("add"));
        QTRY_COMPARE(dialogsSeen_, QStringList(4, QStringLiteral("添加工作组")));

        // A workgroup arrives: the hint goes and Ctrl+A is the lists' again.
        testsupport::writeBytes(configPath().toStdString(), Book);
        QTest::mouseClick(form_->Label1, Qt::LeftButton);
        QVERIFY(!hint->isVisible());
        QVERIFY(!form_->mnuEmptyAddGroup->isEnabled());
        for (int page = bar()->pageCount() - 1; page >= 0; --page) {
            QVERIFY(!hint->isVisible());
            deleteWorkgroupByMenu(page);
        }
        QVERIFY(hint->isVisible());
        QVERIFY(form_->mnuEmptyAddGroup->isEnabled());
    }
};

QTEST_MAIN(TestMainFormCommands)
#include "tst_frmMainCommands.moc"
