#include "widgets/PopupMenuBinding.h"

#include <QActionEvent>

namespace lanquill::widgets {

PopupMenuBinding::PopupMenuBinding(QWidget* host) : QObject(host), host_(host) {}

void PopupMenuBinding::setMenu(QMenu* menu) {
    if (menu == menu_) {
        return;
    }
    if (menu_) {
        menu_->removeEventFilter(this);
        const auto oldActions = menu_->actions();
        for (QAction* action : oldActions) {
            host_->removeAction(action);
        }
    }
    menu_ = menu;
    if (menu_) {
        host_->addActions(menu_->actions());
        menu_->installEventFilter(this);
    }
}

bool PopupMenuBinding::eventFilter(QObject* watched, QEvent* event) {
    // Installed on the bound menu only. `watched` is not compared with menu_: while the menu is
    // being destroyed it is no longer a QMenu, and QPointer<QMenu> would downcast it.
    if (event->type() == QEvent::ActionAdded) {
        host_->addAction(static_cast<QActionEvent*>(event)->action());
    } else if (event->type() == QEvent::ActionRemoved) {
        host_->removeAction(static_cast<QActionEvent*>(event)->action());
    }
    return QObject::eventFilter(watched, event);
}

} // namespace lanquill::widgets
