#include "widgets/PopupMenuBinding.h"

#include <QAction>
#include <QKeyEvent>
#include <QKeySequence>

namespace lanquill::widgets {

PopupMenuBinding::PopupMenuBinding(QWidget* host) : QObject(host) {
    host->installEventFilter(this);
}

QAction* PopupMenuBinding::commandFor(const QKeyEvent& key) const {
    if (!menu_)
        return nullptr;
    // A key of the numeric keypad counts as the same key elsewhere, as in Qt's own shortcuts.
    const QKeySequence pressed(key.keyCombination());
    const QKeySequence unpadded(
        QKeyCombination(key.modifiers() & ~Qt::KeypadModifier, Qt::Key(key.key())));
    const auto actions = menu_->actions();
    for (QAction* action : actions) {
        if (!action->isEnabled() || action->isSeparator())
            continue;
        for (const QKeySequence& shortcut : action->shortcuts())
            if (shortcut == pressed || shortcut == unpadded)
                return action;
    }
    return nullptr;
}

bool PopupMenuBinding::eventFilter(QObject* watched, QEvent* event) {
    // Claimed before Qt's shortcut map sees the key, so that the focused widget's menu wins.
    if (event->type() == QEvent::ShortcutOverride &&
        commandFor(*static_cast<QKeyEvent*>(event)) != nullptr) {
        event->accept();
        return true;
    }
    if (event->type() == QEvent::KeyPress) {
        if (QAction* command = commandFor(*static_cast<QKeyEvent*>(event))) {
            command->trigger();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

} // namespace lanquill::widgets
