// Keeps a widget's own actions in step with the actions of its popup menu, so that a menu
// command's shortcut (with Qt::WidgetShortcut context) works while that widget has the focus,
// also for actions added to the menu after it was attached.
#pragma once

#include <QMenu>
#include <QObject>
#include <QPointer>

namespace lanquill::widgets {

class PopupMenuBinding : public QObject {
    Q_OBJECT
public:
    explicit PopupMenuBinding(QWidget* host);
    ~PopupMenuBinding() override;

    // Detaches the previous menu's actions from the host and attaches the new menu's.
    void setMenu(QMenu* menu);
    QMenu* menu() const { return menu_; }

private:
    QWidget* host_;
    QPointer<QMenu> menu_;
};

} // namespace lanquill::widgets
