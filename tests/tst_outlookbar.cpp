// The group bar driven by real mouse and key events through the window system layer (offscreen
// platform), so popups, mouse grabs, enter/leave and context-menu events behave as on a desktop.
#define QTEST_QPA_MOUSE_HANDLING
#include <QtTest>

#include "widgets/ImageList.h"
#include "widgets/TfcOutlookBar.h"
#include "widgets/TfcOutlookList.h"
#include "widgets/TfcOutlookListItem.h"
#include "widgets/TfcOutlookPage.h"
#include "widgets/TfcShapeBtn.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QMenu>
#include <QPointer>
#include <QWheelEvent>

#include <functional>
#include <memory>
#include <stdexcept>

using namespace lanquill::widgets;

namespace {

const QColor kListColor(58, 110, 165);
const QColor kHotColor(0, 128, 128);
const QColor kComputerColor(255, 0, 0);
const QColor kGroupColor(255, 255, 0);

QPixmap solid(const QColor& colour, QSize size = {24, 24}) {
    QPixmap picture(size);
    picture.fill(colour);
    return picture;
}

// QMenu::exec runs its own event loop, so the test acts on the menu from a timer inside it.
void whenShown(QMenu* menu, std::function<void()> step) {
    auto* timer = new QTimer(menu);
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, menu, [timer, menu, step, tries = 0]() mutable {
        if (!menu->isVisible() && ++tries < 400)
            return;
        timer->stop();
        timer->deleteLater();
        if (menu->isVisible())
            step();
    });
    timer->start();
}

void clickAction(QMenu* menu, QAction* action) {
    QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(action).center());
}

} // namespace

class TestOutlookBar : public QObject {
    Q_OBJECT

    std::unique_ptr<ImageList> images_;
    std::unique_ptr<QMenu> memberMenu_; // the lists' popup menu
    std::unique_ptr<QMenu> groupMenu_;  // the page buttons' popup menu
    std::unique_ptr<TfcOutlookBar> bar_;

    static QPoint centreOf(TfcOutlookList* list, int i) { return list->itemRect(i).center(); }
    static QColor pixelAt(QWidget* w, QPoint at) { return w->grab().toImage().pixelColor(at); }
    // Just inside an item's top right corner, clear of its icon and caption.
    static QPoint plainOf(TfcOutlookList* l, int i) {
        return l->itemRect(i).topRight() + QPoint(-1, 1);
    }

    // A page as the contact book loader builds it: the group-message item, then the computers.
    TfcOutlookPage* addGroup(const QString& name, int computers) {
        TfcOutlookPage* page = bar_->addPage();
        page->button()->setText(name);
        page->button()->setPopupMenu(groupMenu_.get());
        TfcOutlookList* list = page->outlookList();
        list->setImages(images_.get());
        list->setItemLayout(ItemLayout::GlyphLeft);
        list->setColor(kListColor);
        list->setItemSpacing(15);
        list->setPopupMenu(memberMenu_.get());
        list->setItemHotTrackColor(kHotColor);
        list->setScrollInterval(20);
        for (int index = 0; index <= computers; ++index) {
            TfcOutlookListItem* item = list->addItem();
            item->setText(index == 0 ? QStringLiteral("群体消息")
                                     : QStringLiteral("PC%1").arg(index));
            item->setGlyphOffset(1);
            item->setTextAlignment(Qt::AlignLeft);
            item->setImageIndex(index == 0 ? 6 : 0);
            item->setSeparation(5);
        }
        return page;
    }

    void showBar(int height) {
        bar_->resize(123, height);
        bar_->show();
        QVERIFY(QTest::qWaitForWindowExposed(bar_.get()));
    }

private Q_SLOTS:
    void init() {
        images_ = std::make_unique<ImageList>(QSize(24, 24));
        for (int index = 0; index < 10; ++index)
            images_->add(solid(index == 0 ? kComputerColor : index == 6 ? kGroupColor : Qt::gray));
        memberMenu_ = std::make_unique<QMenu>();
        groupMenu_ = std::make_unique<QMenu>();
        bar_ = std::make_unique<TfcOutlookBar>();
        bar_->setButtonSize(20);
    }

    // The bar goes first: its lists point at the menus and the images, which init replaces.
    void cleanup() { bar_.reset(); }

    void imageListFitsAndRefuses() {
        ImageList list(QSize(24, 24));
        QCOMPARE(list.add(solid(Qt::blue, QSize(48, 48))), 0);
        QCOMPARE(list.add(solid(Qt::green, QSize(10, 30))), 1);
        QCOMPARE(list.count(), 2);
        QCOMPARE(list.pixmap(0).size(), QSize(24, 24));
        QCOMPARE(list.pixmap(1).size(), QSize(24, 24));
        QCOMPARE(list.pixmap(0).toImage().pixelColor(12, 12), QColor(Qt::blue));
        // Scaled keeping its shape: the narrow picture is centred on a transparent ground.
        QCOMPARE(list.pixmap(1).toImage().pixelColor(0, 12).alpha(), 0);
        QVERIFY(list.pixmap(-1).isNull());
        QVERIFY(list.pixmap(2).isNull());
        QVERIFY(list.icon(2).isNull());
        QVERIFY(!list.icon(0).isNull());
        QVERIFY_THROWS_EXCEPTION(std::invalid_argument, list.add(QPixmap()));
        QCOMPARE(list.count(), 2);
        QVERIFY_THROWS_EXCEPTION(std::invalid_argument, ImageList(QSize(0, 24)));
    }

    void buttonsStackAroundTheActiveList() {
        QSignalSpy changes(bar_.get(), &TfcOutlookBar::activePageChanged);
        TfcOutlookPage* first = addGroup("WORKGROUP", 3);
        TfcOutlookPage* second = addGroup("OFFICE", 2);
        TfcOutlookPage* third = addGroup("LAB", 1);
        showBar(400);
        QCOMPARE(changes.count(), 1); // the first page became active on its own
        QCOMPARE(bar_->activePageEntry(), first);
        QCOMPARE(bar_->activePage(), first->button());
        QCOMPARE(third->index(), 2);

        const QRect area = bar_->contentsRect();
        QCOMPARE(first->button()->geometry(), QRect(area.left(), area.top(), area.width(), 20));
        QCOMPARE(second->button()->y(), area.bottom() + 1 - 40);
        QCOMPARE(third->button()->y(), area.bottom() + 1 - 20);
        QCOMPARE(first->outlookList()->geometry(), area.adjusted(0, 20, 0, -40));
        QVERIFY(first->outlookList()->isVisible());
        QVERIFY(!second->outlookList()->isVisible());

        QTest::mouseClick(third->button(), Qt::LeftButton);
        QCOMPARE(bar_->activePageEntry(), third);
        QCOMPARE(changes.count(), 2);
        QCOMPARE(changes.last().at(0).value<TfcOutlookPage*>(), third);
        QCOMPARE(second->button()->y(), area.top() + 20);
        QCOMPARE(third->button()->y(), area.top() + 40);
        TfcOutlookList* shown = third->outlookList();
        QCOMPARE(shown->geometry(), area.adjusted(0, 60, 0, 0));
        QVERIFY(shown->isVisible());
        QVERIFY(!first->outlookList()->isVisible());

        // A left press that is released elsewhere changes nothing.
        QTest::mousePress(first->button(), Qt::LeftButton);
        QTest::mouseMove(shown, centreOf(shown, 0));
        QTest::mouseRelease(shown, Qt::LeftButton, {}, centreOf(shown, 0));
        QCOMPARE(bar_->activePageEntry(), third);
        QCOMPARE(changes.count(), 2);

        // With the right button the page changes as the button's menu closes, so that a command
        // of the menu acts on it (tst_frmMainCommands deletes workgroups so); dismissed without a
        // command it changes as well.
        groupMenu_->addAction(QStringLiteral("删除工作组"));
        TfcOutlookPage* activeWhileShowing = nullptr;
        whenShown(groupMenu_.get(), [&] {
            activeWhileShowing = bar_->activePageEntry();
            QTest::keyClick(groupMenu_.get(), Qt::Key_Escape);
        });
        QTest::mousePress(second->button(), Qt::RightButton);
        QCOMPARE(bar_->activePageEntry(), third); // nothing happens on the press
        QTest::mouseRelease(second->button(), Qt::RightButton);
        QCOMPARE(activeWhileShowing, third);
        QCOMPARE(bar_->activePageEntry(), second);

        // Its button hidden, the active page keeps its place and its list, even an empty one.
        TfcOutlookList* list = second->outlookList();
        for (int remaining = list->count(); remaining > 0; --remaining)
            list->item(0)->destroy();
        second->button()->setVisible(false);
        QCoreApplication::processEvents(); // the bar lays its pages out on the next turn
        QCOMPARE(bar_->pageCount(), 3);
        QCOMPARE(bar_->page(1), second);
        QCOMPARE(bar_->activePageEntry(), second);
        QVERIFY(!second->button()->isVisible());
        QCOMPARE(first->button()->y(), area.top());
        QCOMPARE(third->button()->y(), area.bottom() + 1 - 20);
        QCOMPARE(list->geometry(), area.adjusted(0, 20, 0, -20));
        QVERIFY(list->isVisible());
        QTest::mouseClick(first->button(), Qt::LeftButton);
        QCOMPARE(bar_->activePageEntry(), first);
        QCOMPARE(third->button()->y(), area.bottom() + 1 - 20);
        QCOMPARE(first->outlookList()->height(), area.height() - 40);
    }

    void pressingReleasingAndDestroyingItems() {
        TfcOutlookList* list = addGroup("WORKGROUP", 4)->outlookList();
        showBar(400);
        QSignalSpy clicks(list, &TfcOutlookList::itemClick);

        QTest::mousePress(list, Qt::LeftButton, {}, centreOf(list, 1));
        QVERIFY(list->item(1)->isPressed());
        QTest::mouseRelease(list, Qt::LeftButton, {}, centreOf(list, 1));
        QCOMPARE(clicks.count(), 1);
        QCOMPARE(clicks.at(0).at(0).value<TfcOutlookList*>(), list);
        QCOMPARE(clicks.at(0).at(1).value<TfcOutlookListItem*>(), list->item(1));
        QVERIFY(!list->item(1)->isPressed());

        // Released over another item, or between items: no click.
        QTest::mousePress(list, Qt::LeftButton, {}, centreOf(list, 1));
        QTest::mouseMove(list, centreOf(list, 2));
        QTest::mouseRelease(list, Qt::LeftButton, {}, centreOf(list, 2));
        const QPoint gap(10, list->itemRect(2).bottom() + 5);
        QTest::mousePress(list, Qt::LeftButton, {}, centreOf(list, 2));
        QTest::mouseMove(list, gap);
        QTest::mouseRelease(list, Qt::LeftButton, {}, gap);
        QCOMPARE(clicks.count(), 1);

        // The right button neither presses nor clicks (no popup menu here).
        list->setPopupMenu(nullptr);
        QTest::mousePress(list, Qt::RightButton, {}, centreOf(list, 3));
        QVERIFY(!list->item(3)->isPressed());
        QTest::mouseRelease(list, Qt::RightButton, {}, centreOf(list, 3));
        QCOMPARE(clicks.count(), 1);

        // An item destroyed while pressed and hot takes both states along.
        QTest::mouseMove(list, centreOf(list, 1));
        QTest::mousePress(list, Qt::LeftButton, {}, centreOf(list, 1));
        QVERIFY(list->item(1)->isPressed() && list->item(1)->isHot());
        list->item(1)->destroy();
        QCOMPARE(list->pressedItem(), nullptr);
        QCOMPARE(list->hotItem(), nullptr);
        QCOMPARE(list->count(), 4);
        QCOMPARE(list->item(1)->text(), QStringLiteral("PC2"));
        QCOMPARE(list->item(3)->index(), 3);
        // Releasing over the item that moved up into the place is no click on it.
        QTest::mouseRelease(list, Qt::LeftButton, {}, centreOf(list, 1));
        QCOMPARE(clicks.count(), 1);

        // As the delete-workgroup command does: always the first remaining item.
        QTest::mouseMove(list, centreOf(list, 0));
        QVERIFY(list->hotItem() != nullptr);
        for (int remaining = list->count(); remaining > 0; --remaining)
            list->item(0)->destroy();
        QCOMPARE(list->count(), 0);
        QCOMPARE(list->hotItem(), nullptr);
        QCOMPARE(list->item(0), nullptr);
        QVERIFY(list->itemRect(0).isNull());
        QVERIFY(!list->grab().isNull());
        QTest::mouseMove(list, QPoint(10, 10));
        QCOMPARE(list->hotItem(), nullptr);
        QVERIFY(list->isVisible());
    }

    void hotItemFollowsPointerIsFilledAndSurvivesPopup() {
        TfcOutlookList* list = addGroup("WORKGROUP", 4)->outlookList();
        addGroup("OFFICE", 1);
        showBar(400);

        QTest::mouseMove(list, centreOf(list, 2));
        QCOMPARE(list->hotItem(), list->item(2));
        QVERIFY(list->item(2)->isHot());
        QTest::mouseMove(list, centreOf(list, 0));
        QCOMPARE(list->hotItem(), list->item(0));
        QVERIFY(!list->item(2)->isHot());

        QCOMPARE(pixelAt(list, plainOf(list, 0)), kHotColor);
        QCOMPARE(pixelAt(list, plainOf(list, 1)), kListColor);
        QCOMPARE(pixelAt(list, list->iconRect(0).center()), kGroupColor);
        QCOMPARE(pixelAt(list, list->iconRect(1).center()), kComputerColor);
        list->setItemHotTrackColor(kListColor); // same as the background: no fill
        QCOMPARE(pixelAt(list, plainOf(list, 0)), kListColor);

        // Leaving the list for another widget clears the hot item.
        QTest::mouseMove(bar_->page(1)->button());
        QCOMPARE(list->hotItem(), nullptr);
        QTest::mouseMove(list, centreOf(list, 1));
        QCOMPARE(list->hotItem(), list->item(1));
        QTest::mouseMove(list, QPoint(10, list->itemRect(1).bottom() + 5)); // between two items
        QCOMPARE(list->hotItem(), nullptr);

        // Over the popup the hot item stays until the command it was shown for has run.
        QAction* deleteMember = memberMenu_->addAction(QStringLiteral("删除成员"));
        QString deletedText;
        // What the main window's delete command does: the first hot item goes.
        connect(deleteMember, &QAction::triggered, this, [&] {
            for (int index = 0; index < list->count(); ++index)
                if (list->item(index)->isHot()) {
                    deletedText = list->item(index)->text();
                    list->item(index)->destroy();
                    return;
                }
        });

        TfcOutlookListItem* hotWhileShowing = nullptr;
        QTest::mouseMove(list, centreOf(list, 2));
        whenShown(memberMenu_.get(), [&] {
            // The pointer now belongs to the popup; the list is told it left.
            QEvent leave(QEvent::Leave);
            QCoreApplication::sendEvent(list, &leave);
            hotWhileShowing = list->hotItem();
            clickAction(memberMenu_.get(), deleteMember);
        });
        QTest::mousePress(list, Qt::RightButton, {}, centreOf(list, 2));
        QTest::mouseRelease(list, Qt::RightButton, {}, centreOf(list, 2));
        QVERIFY(hotWhileShowing != nullptr);
        QCOMPARE(deletedText, QStringLiteral("PC2"));
        QCOMPARE(list->count(), 4);
        QCOMPARE(list->item(2)->text(), QStringLiteral("PC3"));
        QCOMPARE(list->item(2)->index(), 2);

        // Right-click over the gap: no item is hot, the command finds nothing to delete.
        deletedText.clear();
        const QPoint gap(10, list->itemRect(0).bottom() + 5);
        QTest::mouseMove(list, gap);
        whenShown(memberMenu_.get(), [&] { clickAction(memberMenu_.get(), deleteMember); });
        QTest::mousePress(list, Qt::RightButton, {}, gap);
        QTest::mouseRelease(list, Qt::RightButton, {}, gap);
        QVERIFY(deletedText.isEmpty());
        QCOMPARE(list->count(), 4);

        // After the menu the hot item follows wherever the pointer went meanwhile, so a later Del
        // cannot hit an item the pointer has long left.
        const auto dismissWithPointerAt = [&](QWidget* target, QPoint pos) {
            whenShown(memberMenu_.get(), [&, target, pos] {
                // The button comes up while the menu still holds the pointer; nothing reaches the
                // list after the menu has gone.
                QCursor::setPos(target->mapToGlobal(pos));
                QTest::mouseRelease(target, Qt::RightButton, {}, pos);
                QTest::keyClick(memberMenu_.get(), Qt::Key_Escape);
            });
            QTest::mouseMove(list, centreOf(list, 1));
            QTest::mousePress(list, Qt::RightButton, {}, centreOf(list, 1));
        };
        dismissWithPointerAt(list, centreOf(list, 3));
        QCOMPARE(list->hotItem(), list->item(3));
        TfcShapeBtn* otherButton = bar_->page(1)->button();
        dismissWithPointerAt(otherButton, otherButton->rect().center());
        QCOMPARE(list->hotItem(), nullptr);
    }

    void selectedItemIsScrolledToAndFilledUntilThePointerMovesOn() {
        TfcOutlookList* list = addGroup("WORKGROUP", 30)->outlookList();
        showBar(300);
        QTest::mouseMove(bar_->page(0)->button()); // the pointer off the list

        // Far below the fold: brought into view whole, filled, and not the hot item.
        QVERIFY(!list->rect().contains(list->itemRect(25)));
        list->selectItem(list->item(25));
        QVERIFY(list->rect().contains(list->itemRect(25)));
        QCOMPARE(list->selectedItem(), list->item(25));
        QCOMPARE(list->hotItem(), nullptr);
        QCOMPARE(pixelAt(list, plainOf(list, 25)), kHotColor);

        // Leaving the list or resting between items keeps it; another item hot ends it.
        QTest::mouseMove(list, QPoint(10, list->itemRect(25).bottom() + 5));
        QCOMPARE(list->selectedItem(), list->item(25));
        QTest::mouseMove(list, centreOf(list, 25));
        QCOMPARE(list->selectedItem(), list->item(25));
        const int other = list->itemAt(list->rect().center()) == list->item(25) ? 24 : 26;
        QTest::mouseMove(list, centreOf(list, other));
        QCOMPARE(list->selectedItem(), nullptr);
        QTest::mouseMove(bar_->page(0)->button());
        QCOMPARE(pixelAt(list, plainOf(list, 25)), kListColor);

        // A selected item destroyed leaves no selection behind.
        list->selectItem(list->item(3));
        list->item(3)->destroy();
        QCOMPARE(list->selectedItem(), nullptr);
    }

    void shortcutsWorkWhileListOrButtonHasFocus() {
        TfcOutlookPage* page = addGroup("WORKGROUP", 4);
        TfcOutlookList* list = page->outlookList();
        auto* deleteMember = new QAction(QStringLiteral("删除成员"), memberMenu_.get());
        deleteMember->setShortcut(QKeySequence::Delete);
        deleteMember->setShortcutContext(Qt::WidgetShortcut);
        memberMenu_->addAction(deleteMember); // added after the menu was attached
        auto* deleteGroup = new QAction(QStringLiteral("删除工作组"), groupMenu_.get());
        deleteGroup->setShortcut(QKeySequence::Delete);
        deleteGroup->setShortcutContext(Qt::WidgetShortcut);
        groupMenu_->addAction(deleteGroup);
        QSignalSpy memberDeletes(deleteMember, &QAction::triggered);
        QSignalSpy groupDeletes(deleteGroup, &QAction::triggered);
        connect(deleteMember, &QAction::triggered, this, [list] {
            if (TfcOutlookListItem* hot = list->hotItem())
                hot->destroy();
        });
        showBar(400);
        bar_->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(bar_.get()));

        QTest::mouseClick(list, Qt::LeftButton, {}, centreOf(list, 3)); // a click gives the focus
        QVERIFY(list->hasFocus());
        QTest::mouseMove(list, centreOf(list, 1));
        QTest::keyClick(list, Qt::Key_Delete);
        QCOMPARE(memberDeletes.count(), 1);
        QCOMPARE(groupDeletes.count(), 0);
        QCOMPARE(list->count(), 4);
        QCOMPARE(list->item(1)->text(), QStringLiteral("PC2"));

        page->button()->setFocus();
        QTest::keyClick(page->button(), Qt::Key_Delete);
        QCOMPARE(groupDeletes.count(), 1);
        QCOMPARE(memberDeletes.count(), 1);

        // A disabled command does not run; another menu replaces the first one's keys.
        list->setFocus();
        deleteMember->setEnabled(false);
        QTest::keyClick(list, Qt::Key_Delete);
        QCOMPARE(memberDeletes.count(), 1);
        deleteMember->setEnabled(true);
        QMenu other;
        list->setPopupMenu(&other);
        QTest::keyClick(list, Qt::Key_Delete);
        QCOMPARE(memberDeletes.count(), 1);
        QCOMPARE(groupDeletes.count(), 1);
    }

    void clearingPages() {
        QSignalSpy changes(bar_.get(), &TfcOutlookBar::activePageChanged);
        bar_->clearPages();
        QCOMPARE(bar_->pageCount(), 0);
        QCOMPARE(bar_->activePageEntry(), nullptr);
        QCOMPARE(bar_->activePage(), nullptr);
        QCOMPARE(changes.count(), 0);

        TfcOutlookPage* first = addGroup("WORKGROUP", 2);
        addGroup("OFFICE", 1);
        showBar(400);
        const QPointer<TfcOutlookPage> page(first);
        const QPointer<TfcOutlookList> list(first->outlookList());
        const QPointer<TfcShapeBtn> button(first->button());
        bar_->clearPages();
        QCOMPARE(bar_->pageCount(), 0);
        QCOMPARE(bar_->activePageEntry(), nullptr);
        QCOMPARE(changes.last().at(0).value<TfcOutlookPage*>(), nullptr);
        QCOMPARE(first->index(), -1);
        QVERIFY(!list->isVisible() && !button->isVisible());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(page.isNull() && list.isNull() && button.isNull());

        TfcOutlookPage* fresh = addGroup("LAB", 1);
        QCOMPARE(bar_->activePageEntry(), fresh);
        QCOMPARE(changes.last().at(0).value<TfcOutlookPage*>(), fresh);

        // A command of a page button's own menu may rebuild the whole bar (reloading the book).
        TfcOutlookPage* second = addGroup("OFFICE", 1);
        QAction* reload = groupMenu_->addAction(QStringLiteral("添加工作组"));
        connect(reload, &QAction::triggered, this, [this] {
            bar_->clearPages();
            addGroup("WORKGROUP", 1);
        });
        whenShown(groupMenu_.get(), [&] { clickAction(groupMenu_.get(), reload); });
        QTest::mousePress(second->button(), Qt::RightButton);
        QTest::mouseRelease(second->button(), Qt::RightButton);
        QCOMPARE(bar_->pageCount(), 1);
        QCOMPARE(bar_->activePage()->text(), QStringLiteral("WORKGROUP"));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(bar_->pageCount(), 1);
    }

    // A reload clears the bar and fills it again in one turn of the event loop; the pages it adds
    // are then the ones it cleared, and must behave as new ones.
    void clearedPagesComeBackAsNew() {
        const QColor freshColour = bar_->addPage()->outlookList()->color();
        bar_->clearPages();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

        TfcOutlookPage* workgroup = addGroup("WORKGROUP", 12);
        TfcOutlookPage* office = addGroup("OFFICE", 1);
        const QPointer<TfcOutlookPage> lab(addGroup("LAB", 1));
        showBar(200);
        TfcOutlookList* list = workgroup->outlookList();
        TfcShapeBtn* button = workgroup->button();
        int oldItemClicks = 0, oldButtonClicks = 0;
        connect(list, &TfcOutlookList::itemClick, this, [&] { ++oldItemClicks; });
        connect(button, &QAbstractButton::clicked, this, [&] { ++oldButtonClicks; });
        QTest::mouseClick(list->findChild<QAbstractButton*>("scrollDownButton"), Qt::LeftButton);
        QVERIFY(list->scrollOffset() > 0);
        TfcOutlookListItem* oldItem = list->item(3);

        bar_->clearPages();
        QCOMPARE(bar_->addPage(), workgroup);
        QCOMPARE(bar_->addPage(), office);
        QCOMPARE(bar_->activePageEntry(), workgroup);
        QCOMPARE(office->index(), 1);
        QCOMPARE(button->text(), QString());
        QCOMPARE(button->popupMenu(), nullptr);
        QCOMPARE(list->popupMenu(), nullptr);
        QCOMPARE(list->count(), 0);
        QCOMPARE(list->scrollOffset(), 0);
        QCOMPARE(list->images(), nullptr);
        QCOMPARE(list->color(), freshColour);
        QCOMPARE(list->itemSpacing(), TfcOutlookList::kDefaultItemSpacing);
        QVERIFY(!list->itemHotTrackColor().isValid());
        // An item of the old book is out of its list, yet still there for a command holding it.
        QCOMPARE(oldItem->index(), -1);
        QCOMPARE(oldItem->text(), QStringLiteral("PC3"));

        // What was not handed out again goes with the next turn of the event loop; the rest stays.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(lab.isNull());
        QCOMPARE(bar_->pageCount(), 2);

        // Filled again, the page answers its new receivers only, and page changes still work.
        int newItemClicks = 0;
        connect(list, &TfcOutlookList::itemClick, this, [&] { ++newItemClicks; });
        list->addItem()->setText(QStringLiteral("NEW"));
        bar_->ensureLaidOut();
        QTest::mouseClick(list, Qt::LeftButton, {}, centreOf(list, 0));
        QCOMPARE(newItemClicks, 1);
        QCOMPARE(oldItemClicks, 0);
        QTest::mouseClick(office->button(), Qt::LeftButton);
        QCOMPARE(bar_->activePageEntry(), office);
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(bar_->activePageEntry(), workgroup);
        QCOMPARE(oldButtonClicks, 0);
    }

    void itemSourceFillsOnceWhenFirstNeeded_data() {
        QTest::addColumn<QString>("need");
        QTest::addColumn<QStringList>("expected");
        const QStringList filled{"群体消息", "PC1", "PC2"};
        QTest::newRow("page shown") << "shown" << filled;
        QTest::newRow("count asked") << "count" << filled;
        QTest::newRow("item asked") << "item" << filled;
        QTest::newRow("item added") << "add" << filled + QStringList{QStringLiteral("LATE")};
        QTest::newRow("cleared and handed out again first") << "reuse" << QStringList{};
    }

    // A page behind the active one makes its items only when they are first needed, and once.
    void itemSourceFillsOnceWhenFirstNeeded() {
        QFETCH(QString, need);
        QFETCH(QStringList, expected);
        addGroup("WORKGROUP", 1);
        TfcOutlookPage* later = bar_->addPage();
        TfcOutlookList* list = later->outlookList();
        int fills = 0;
        list->setItemSource([&fills](TfcOutlookList& target) {
            ++fills;
            for (const char* text : {"群体消息", "PC1", "PC2"})
                target.addItem()->setText(QString::fromUtf8(text));
        });
        showBar(300);
        QCOMPARE(fills, 0);

        QSignalSpy clicks(list, &TfcOutlookList::itemClick);
        if (need == "shown") {
            QTest::mouseClick(later->button(), Qt::LeftButton);
            QCOMPARE(fills, 1);
            QTest::mouseClick(list, Qt::LeftButton, {}, centreOf(list, 1));
            QCOMPARE(clicks.count(), 1);
            QCOMPARE(clicks.at(0).at(1).value<TfcOutlookListItem*>()->text(),
                     QStringLiteral("PC1"));
        } else if (need == "count") {
            QCOMPARE(list->count(), 3);
        } else if (need == "item") {
            QCOMPARE(list->item(2)->text(), QStringLiteral("PC2"));
        } else if (need == "add") {
            list->addItem()->setText(QStringLiteral("LATE"));
        } else {
            bar_->clearPages();
            bar_->addPage();
            QCOMPARE(bar_->addPage(), later);
        }

        QStringList shown;
        for (int index = 0; index < list->count(); ++index)
            shown << list->item(index)->text();
        QCOMPARE(shown, expected);
        bar_->setActivePage(later);
        bar_->ensureLaidOut();
        QVERIFY(list->isVisible());
        QCOMPARE(list->count(), expected.size());
        QCOMPARE(fills, need == "reuse" ? 0 : 1);
    }

    void scrollButtonsAppearAndRepeatWhileHeld() {
        TfcOutlookList* list = addGroup("WORKGROUP", 20)->outlookList();
        showBar(200);
        auto* up = list->findChild<QAbstractButton*>("scrollUpButton");
        auto* down = list->findChild<QAbstractButton*>("scrollDownButton");
        QVERIFY(up && down);
        QVERIFY(up->isVisible() && down->isVisible());
        QVERIFY(!up->isEnabled() && down->isEnabled());
        QCOMPARE(down->geometry().bottom() < list->height(), true);

        const int pitch = list->itemHeight() + list->itemSpacing();
        const int firstTop = list->itemRect(0).top();
        QTest::mouseClick(down, Qt::LeftButton);
        QCOMPARE(list->scrollOffset(), pitch);
        QCOMPARE(list->itemRect(0).top(), firstTop - pitch);
        QVERIFY(up->isEnabled());
        QCOMPARE(list->itemAt(centreOf(list, 3)), list->item(3)); // hit testing follows the scroll

        QTest::mousePress(down, Qt::LeftButton);
        QTRY_VERIFY(list->scrollOffset() >= 3 * pitch);
        QTest::mouseRelease(down, Qt::LeftButton);
        const int stopped = list->scrollOffset();
        QTest::qWait(10 * list->scrollInterval());
        QCOMPARE(list->scrollOffset(), stopped);

        // Held to the end: stops there with the down button disabled; then all the way back.
        QTest::mousePress(down, Qt::LeftButton);
        QTRY_VERIFY(!down->isEnabled());
        QTest::mouseRelease(down, Qt::LeftButton);
        QCOMPARE(list->itemRect(list->count() - 1).bottom() + list->itemSpacing() / 2 + 1,
                 list->height());
        QTest::mousePress(up, Qt::LeftButton);
        QTRY_COMPARE(list->scrollOffset(), 0);
        QTest::mouseRelease(up, Qt::LeftButton);
        QVERIFY(!up->isEnabled());

        // The wheel: one item per notch, down and back up, never past either end.
        for (const auto& [notches, offset] :
             {std::pair{-2, 2 * pitch}, std::pair{1, pitch}, std::pair{5, 0}}) {
            const QPoint at = centreOf(list, 1);
            QWheelEvent wheel(at, list->mapToGlobal(at), {}, {0, 120 * notches}, Qt::NoButton,
                              Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(list, &wheel);
            QCOMPARE(list->scrollOffset(), offset);
        }
        // The arrows are drawn in the button's own colour, not in the list's white.
        QVERIFY(down->palette().color(QPalette::ButtonText) !=
                list->palette().color(QPalette::Window));
        QVERIFY(down->palette().color(QPalette::ButtonText) != QColor(Qt::white));

        // Room for every item: no scroll buttons.
        bar_->resize(123, 1200);
        QTRY_VERIFY(!down->isVisible());
        QVERIFY(!up->isVisible());
        QCOMPARE(list->scrollOffset(), 0);
    }

    void itemLayoutPaintingAndRefusedSettings() {
        TfcOutlookList* list = addGroup("WORKGROUP", 2)->outlookList();
        showBar(400);
        QCOMPARE(list->palette().color(QPalette::WindowText), QColor(Qt::white));

        const QRect first = list->itemRect(0);
        QVERIFY(first.height() >= 24 && first.height() >= list->fontMetrics().height());
        QCOMPARE(list->itemRect(1).top() - first.bottom() - 1, 15);
        QCOMPARE(list->iconRect(0),
                 QRect(first.left() + 1, first.top() + (first.height() - 24) / 2, 24, 24));
        QCOMPARE(list->textRect(0).left(), first.left() + 1 + 24 + 5);
        QVERIFY(list->textRect(0).right() < first.right());

        TfcOutlookListItem* fresh = list->addItem();
        QCOMPARE(fresh->separation(), 10);
        QCOMPARE(fresh->textAlignment(), Qt::AlignHCenter);
        QCOMPARE(fresh->list(), list);
        QCOMPARE(list->textRect(3).left(), 24 + 10);

        // The caption is drawn inside its text area in the foreground colour.
        const QImage picture = list->grab().toImage();
        const QRect text = list->textRect(1);
        int foreground = 0;
        for (int y = text.top(); y <= text.bottom(); ++y)
            for (int x = text.left(); x <= text.right(); ++x)
                foreground += picture.pixelColor(x, y).lightness() > 200 ? 1 : 0;
        QVERIFY(foreground > 0);

        // Icon above the caption: centred, the caption Separation pixels below it.
        list->setItemLayout(ItemLayout::GlyphTop);
        const QRect top = list->itemRect(1);
        QCOMPARE(list->iconRect(1).top(), top.top() + 2);
        QCOMPARE(list->iconRect(1).left(), top.left() + (top.width() - 24) / 2 + 1);
        QCOMPARE(list->textRect(1).top(), list->iconRect(1).bottom() + 1 + 5);
        QVERIFY(list->textRect(3).bottom() <= list->itemRect(3).bottom()); // the widest gap fits

        // Settings out of range are refused and change nothing. A caption of any length is kept
        // whole (a click looks it up as the id); painting elides it.
        TfcOutlookListItem* item = list->item(1);
        const QString longId(5000, QLatin1Char('x'));
        item->setText(longId);
        QCOMPARE(item->text(), longId);
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, item->setGlyphOffset(-1));
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, item->setSeparation(5000));
        QCOMPARE(item->separation(), 5);
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, list->setItemSpacing(-1));
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, list->setScrollInterval(0));
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, bar_->setButtonSize(0));
        QCOMPARE(list->itemSpacing(), 15);
        QCOMPARE(list->scrollInterval(), 20);
        QCOMPARE(bar_->buttonSize(), 20);
        QCOMPARE(bar_->page(5), nullptr);
        QCOMPARE(list->item(-1), nullptr);
    }

    // What a screen reader walks (names and actions are checked through AT-SPI by a desktop
    // scenario): page tabs in their order with the shown list after the active page's tab, items
    // where they are drawn, and nothing left behind for items that went, also for those a reload
    // took out of their lists.
    void screenReadersSeePagesListsAndItems() {
        addGroup("WORKGROUP", 2);
        TfcOutlookPage* office = addGroup("OFFICE", 1);
        addGroup("LAB", 0);
        showBar(300);
        QAccessibleInterface* bar = QAccessible::queryAccessibleInterface(bar_.get());
        QVERIFY(bar != nullptr);
        QCOMPARE(bar->role(), QAccessible::PageTabList);
        const QMap<QAccessible::Role, QString> roles{{QAccessible::PageTab, "tab"},
                                                     {QAccessible::List, "list"},
                                                     {QAccessible::ListItem, "item"}};
        const auto outline = [&roles](QAccessibleInterface* parent) {
            QStringList shown;
            for (int index = 0; index < parent->childCount(); ++index) {
                QAccessibleInterface* child = parent->child(index);
                shown << roles.value(child->role(), "other") + ' ' +
                             child->text(QAccessible::Name) + (child->state().selected ? "*" : "");
                if (parent->indexOfChild(child) != index ||
                    child->parent()->object() != parent->object())
                    shown << QStringLiteral("(index or parent wrong)");
            }
            return shown;
        };
        QCOMPARE(outline(bar),
                 QStringList({"tab WORKGROUP*", "list WORKGROUP", "tab OFFICE", "tab LAB"}));

        bar_->setActivePage(office);
        QCOMPARE(outline(bar),
                 QStringList({"tab WORKGROUP", "tab OFFICE*", "list OFFICE", "tab LAB"}));

        TfcOutlookList* list = office->outlookList();
        QAccessibleInterface* shownList = bar->child(2);
        QCOMPARE(shownList->object(), list);
        QCOMPARE(outline(shownList), QStringList({"item 群体消息", "item PC1"}));
        const QPoint centre = list->mapToGlobal(centreOf(list, 1));
        QCOMPARE(shownList->childAt(centre.x(), centre.y()), shownList->child(1));
        QCOMPARE(shownList->child(1)->rect().center(), centre);

        const QAccessible::Id gone = QAccessible::uniqueId(shownList->child(1));
        list->item(1)->destroy();
        QCOMPARE(QAccessible::accessibleInterface(gone), nullptr);
        QCOMPARE(outline(shownList), QStringList({"item 群体消息"}));

        // A reload retires the pages, hands them out again with their items taken out, and deletes
        // those items later.
        QAccessibleInterface* retired = shownList->child(0);
        const QAccessible::Id retiredId = QAccessible::uniqueId(retired);
        TfcOutlookListItem* retiredItem = list->item(0);
        bar_->clearPages();
        QCOMPARE(bar->childCount(), 0);
        QVERIFY(retired->state().invisible);
        addGroup("NEW", 0);
        QCOMPARE(addGroup("NEXT", 0), office); // handed out in the order they were
        QCOMPARE(retiredItem->index(), -1);
        QVERIFY(!retired->isValid());
        QCOMPARE(retired->text(QAccessible::Name), QString());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(QAccessible::accessibleInterface(retiredId), nullptr);
        QCOMPARE(outline(bar), QStringList({"tab NEW*", "list NEW", "tab NEXT"}));
    }
};

QTEST_MAIN(TestOutlookBar)
#include "tst_outlookbar.moc"
