#include "widgets/GroupBarAccessible.h"

#include "widgets/TfcOutlookBar.h"
#include "widgets/TfcOutlookList.h"
#include "widgets/TfcOutlookListItem.h"
#include "widgets/TfcOutlookPage.h"
#include "widgets/TfcShapeBtn.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QHash>
#include <QPointer>
#include <QWidget>
#include <QWindow>

namespace lanquill::widgets {

namespace {

// The interfaces handed out for items, which are no QObjects: Qt's cache cannot tie them to an
// object's life, so an item drops its own when it goes (forgetAccessibleItem).
QHash<const TfcOutlookListItem*, QAccessible::Id>& itemIds() {
    static QHash<const TfcOutlookListItem*, QAccessible::Id> ids;
    return ids;
}

TfcOutlookPage* pageOfButton(const TfcShapeBtn* button) {
    auto* bar = qobject_cast<TfcOutlookBar*>(button->parentWidget());
    if (bar == nullptr)
        return nullptr;
    for (int index = 0; index < bar->pageCount(); ++index) {
        if (bar->page(index)->button() == button)
            return bar->page(index);
    }
    return nullptr;
}

// One item of a list: a list item named by its caption, selected while it is the item pointed
// out or the one under the pointer (the one the list's commands act on), and pressed to open it
// as a left click does.
class ItemAccessible : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    ItemAccessible(TfcOutlookList* list, const TfcOutlookListItem* item)
        : list_(list), item_(item) {}

    const TfcOutlookListItem* item() const { return item_; }

    // Also false for an item taken out of its list but not yet deleted (a reloaded page).
    bool isValid() const override { return list_ != nullptr && item_->index() >= 0; }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override {
        return list_ != nullptr ? list_->window()->windowHandle() : nullptr;
    }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessibleInterface* parent() const override {
        return QAccessible::queryAccessibleInterface(list_.data());
    }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }

    QString text(QAccessible::Text t) const override {
        if (!isValid())
            return {};
        if (t == QAccessible::Name)
            return item_->text();
        if (t == QAccessible::Description) {
            // The mark drawn on the icon.
            switch (item_->presence()) {
            case Presence::Online:
                return QCoreApplication::translate("lanquill::widgets::GroupBar", "在线");
            case Presence::Offline:
                return QCoreApplication::translate("lanquill::widgets::GroupBar", "离线");
            case Presence::Unknown:
                break;
            }
        }
        return {};
    }
    void setText(QAccessible::Text, const QString&) override {}

    QRect rect() const override {
        if (!isValid())
            return {};
        const QRect area = list_->itemRect(item_->index());
        return {list_->mapToGlobal(area.topLeft()), area.size()};
    }
    QAccessible::Role role() const override { return QAccessible::ListItem; }

    QAccessible::State state() const override {
        QAccessible::State state;
        if (!isValid()) {
            state.invalid = true;
            return state;
        }
        state.selectable = true;
        state.focusable = true;
        const bool pointedOut = item_ == list_->selectedItem() || item_ == list_->hotItem();
        state.selected = pointedOut;
        state.focused = pointedOut && list_->hasFocus();
        const QRect area = list_->itemRect(item_->index());
        if (!list_->isVisible() || !list_->rect().intersects(area)) {
            state.invisible = !list_->isVisible();
            state.offscreen = true;
        }
        if (item_->isPressed())
            state.pressed = true;
        return state;
    }

    void* interface_cast(QAccessible::InterfaceType type) override {
        return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this)
                                                    : nullptr;
    }

    QStringList actionNames() const override { return {pressAction()}; }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }
    void doAction(const QString& name) override {
        if (name != pressAction() || !isValid() || !list_->isEnabled())
            return;
        auto* item = const_cast<TfcOutlookListItem*>(item_);
        list_->selectItem(item);
        // Later, as the event loop runs: opening the item may run a modal dialog, and the
        // assistive technology waits for this call to return.
        QMetaObject::invokeMethod(
            list_.data(),
            [list = list_, item] {
                if (list != nullptr && item->index() >= 0)
                    Q_EMIT list->itemClick(list.data(), item);
            },
            Qt::QueuedConnection);
    }

private:
    QPointer<TfcOutlookList> list_;
    const TfcOutlookListItem* item_;
};

// A page's list, named by its page's caption.
class ListAccessible : public QAccessibleWidget {
public:
    explicit ListAccessible(TfcOutlookList* list) : QAccessibleWidget(list, QAccessible::List) {}

    TfcOutlookList* list() const { return static_cast<TfcOutlookList*>(widget()); }

    QString text(QAccessible::Text t) const override {
        QString text = QAccessibleWidget::text(t);
        if (t == QAccessible::Name && text.isEmpty() && list()->page() != nullptr &&
            list()->page()->button() != nullptr)
            text = list()->page()->button()->text();
        return text;
    }

    // Only items: the scroll buttons are there for the mouse.
    int childCount() const override { return list()->count(); }
    QAccessibleInterface* child(int index) const override {
        TfcOutlookListItem* item = list()->item(index);
        if (item == nullptr)
            return nullptr;
        auto& ids = itemIds();
        const auto found = ids.constFind(item);
        if (found != ids.constEnd())
            return QAccessible::accessibleInterface(*found);
        auto* made = new ItemAccessible(list(), item);
        ids.insert(item, QAccessible::registerAccessibleInterface(made));
        return made;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        const auto* item = dynamic_cast<const ItemAccessible*>(child);
        if (item == nullptr || !item->isValid() || item->item()->list() != list())
            return -1;
        return item->item()->index();
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        const TfcOutlookListItem* item = list()->itemAt(list()->mapFromGlobal(QPoint(x, y)));
        return item != nullptr ? child(item->index()) : nullptr;
    }
    QAccessibleInterface* focusChild() const override {
        if (!list()->hasFocus())
            return nullptr;
        const TfcOutlookListItem* item = list()->selectedItem();
        if (item == nullptr)
            item = list()->hotItem();
        return item != nullptr ? child(item->index()) : nullptr;
    }
};

// A page button: a page tab, selected while its page is the active one; pressing it makes the
// page active, as a click does.
class PageButtonAccessible : public QAccessibleWidget {
public:
    explicit PageButtonAccessible(TfcShapeBtn* button)
        : QAccessibleWidget(button, pageOfButton(button) != nullptr ? QAccessible::PageTab
                                                                    : QAccessible::Button) {}

    TfcShapeBtn* button() const { return static_cast<TfcShapeBtn*>(widget()); }

    QString text(QAccessible::Text t) const override {
        QString text = QAccessibleWidget::text(t);
        if (t == QAccessible::Name && text.isEmpty())
            text = button()->text();
        return text;
    }

    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        TfcOutlookPage* page = pageOfButton(button());
        if (page != nullptr) {
            state.selectable = true;
            state.selected = page->bar()->activePageEntry() == page;
        }
        if (button()->isDown())
            state.pressed = true;
        if (button()->popupMenu() != nullptr)
            state.hasPopup = true;
        return state;
    }

    QStringList actionNames() const override {
        QStringList names{pressAction()};
        if (button()->popupMenu() != nullptr)
            names << showMenuAction();
        return names + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& name) override {
        if (!button()->isEnabled())
            return;
        if (name == pressAction()) {
            button()->click();
        } else if (name == showMenuAction() && button()->popupMenu() != nullptr) {
            // As the menu key does; later, for the menu runs its own event loop.
            QMetaObject::invokeMethod(
                button(),
                [button = QPointer<TfcShapeBtn>(button())] {
                    if (button != nullptr) {
                        const QPoint corner(0, button->height());
                        QContextMenuEvent menuKey(QContextMenuEvent::Keyboard, corner,
                                                  button->mapToGlobal(corner));
                        QCoreApplication::sendEvent(button.data(), &menuKey);
                    }
                },
                Qt::QueuedConnection);
        } else {
            QAccessibleWidget::doAction(name);
        }
    }
};

// The bar: its page tabs top to bottom, with the active page's list right after its tab, where
// it shows. The lists of the other pages are hidden and left out.
class BarAccessible : public QAccessibleWidget {
public:
    explicit BarAccessible(TfcOutlookBar* bar) : QAccessibleWidget(bar, QAccessible::PageTabList) {}

    TfcOutlookBar* bar() const { return static_cast<TfcOutlookBar*>(widget()); }

    int childCount() const override {
        return bar()->pageCount() + (bar()->activePageEntry() != nullptr ? 1 : 0);
    }
    QAccessibleInterface* child(int index) const override {
        QObject* object = childObject(index);
        return object != nullptr ? QAccessible::queryAccessibleInterface(object) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        if (child == nullptr || child->object() == nullptr)
            return -1;
        const int active = bar()->indexOf(bar()->activePageEntry());
        if (auto* list = qobject_cast<TfcOutlookList*>(child->object()))
            return list->page() != nullptr && list->page() == bar()->activePageEntry() ? active + 1
                                                                                       : -1;
        if (auto* button = qobject_cast<TfcShapeBtn*>(child->object())) {
            const TfcOutlookPage* page = pageOfButton(button);
            const int index = page != nullptr ? bar()->indexOf(page) : -1;
            return index < 0 || active < 0 || index <= active ? index : index + 1;
        }
        return -1;
    }

private:
    QObject* childObject(int index) const {
        const int active = bar()->indexOf(bar()->activePageEntry());
        if (index < 0 || index >= childCount())
            return nullptr;
        if (active < 0 || index <= active)
            return bar()->page(index)->button();
        if (index == active + 1)
            return bar()->activePageEntry()->outlookList();
        return bar()->page(index - 1)->button();
    }
};

QAccessibleInterface* groupBarInterfaces(const QString& className, QObject* object) {
    if (className == QLatin1String(TfcOutlookBar::staticMetaObject.className()))
        return new BarAccessible(static_cast<TfcOutlookBar*>(object));
    if (className == QLatin1String(TfcOutlookList::staticMetaObject.className()))
        return new ListAccessible(static_cast<TfcOutlookList*>(object));
    if (className == QLatin1String(TfcShapeBtn::staticMetaObject.className()))
        return new PageButtonAccessible(static_cast<TfcShapeBtn*>(object));
    return nullptr;
}

} // namespace

void installGroupBarAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(groupBarInterfaces);
        return true;
    }();
    Q_UNUSED(installed);
}

void reportSelectedItem(TfcOutlookList* list, const TfcOutlookListItem* item) {
    if (!QAccessible::isActive() || item == nullptr)
        return;
    const int index = item->index();
    if (index < 0)
        return;
    QAccessibleEvent selection(list, QAccessible::Selection);
    selection.setChild(index);
    QAccessible::updateAccessibility(&selection);
    if (list->hasFocus()) {
        QAccessibleEvent focus(list, QAccessible::Focus);
        focus.setChild(index);
        QAccessible::updateAccessibility(&focus);
    }
}

void forgetAccessibleItem(const TfcOutlookListItem* item) {
    auto& ids = itemIds();
    if (ids.isEmpty())
        return;
    const auto found = ids.find(item);
    if (found == ids.end())
        return;
    const QAccessible::Id id = *found;
    ids.erase(found);
    QAccessible::deleteAccessibleInterface(id);
}

} // namespace lanquill::widgets
