#include "widgets/PopupMenuBinding.h"

#include <QActionEvent>

#include <algorithm>
#include <vector>

namespace lanquill::widgets {

namespace {

// One watcher per menu, whatever the number of widgets bound to it: a book of hundreds of
// workgroups binds its two menus to hundreds of lists and buttons, and an event filter each would
// make every bind and every event of the menu cost as many.
class MenuWatcher : public QObject {
public:
    explicit MenuWatcher(QMenu* menu) : QObject(menu) {
        setObjectName(QLatin1String(Name));
        menu->installEventFilter(this);
    }

    static MenuWatcher* of(QMenu* menu) {
        auto* watcher = dynamic_cast<MenuWatcher*>(
            menu->findChild<QObject*>(QLatin1String(Name), Qt::FindDirectChildrenOnly));
        return watcher != nullptr ? watcher : new MenuWatcher(menu);
    }

    void add(QWidget* host) { hosts_.push_back(host); }
    void remove(QWidget* host) {
        hosts_.erase(std::remove(hosts_.begin(), hosts_.end(), host), hosts_.end());
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        // `watched` is the menu, possibly half destroyed: it is not looked at.
        if (event->type() == QEvent::ActionAdded || event->type() == QEvent::ActionRemoved) {
            QAction* action = static_cast<QActionEvent*>(event)->action();
            for (QWidget* host : hosts_) {
                if (event->type() == QEvent::ActionAdded)
                    host->addAction(action);
                else
                    host->removeAction(action);
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    static constexpr const char* Name = "lanquill-popup-menu-watcher";
    std::vector<QWidget*> hosts_;
};

} // namespace

PopupMenuBinding::PopupMenuBinding(QWidget* host) : QObject(host), host_(host) {}

PopupMenuBinding::~PopupMenuBinding() {
    if (menu_)
        MenuWatcher::of(menu_)->remove(host_);
}

void PopupMenuBinding::setMenu(QMenu* menu) {
    if (menu == menu_) {
        return;
    }
    if (menu_) {
        MenuWatcher::of(menu_)->remove(host_);
        const auto oldActions = menu_->actions();
        for (QAction* action : oldActions) {
            host_->removeAction(action);
        }
    }
    menu_ = menu;
    if (menu_) {
        host_->addActions(menu_->actions());
        MenuWatcher::of(menu_)->add(host_);
    }
}

} // namespace lanquill::widgets
