// A widget's popup menu keys: while the widget has the focus, a key that is the shortcut of an
// enabled command of its popup menu triggers that command (the menu's own actions carry
// Qt::WidgetShortcut context and belong to no widget). The menu is asked at each key, so
// commands added to it later work too.
//
// The actions are deliberately not added to the widget: a book of thousands of workgroups binds
// each menu to thousands of buttons and lists, and Qt keeps, per action, the list of its
// widgets, which every widget looks through as it goes.
#pragma once

#include <QMenu>
#include <QObject>
#include <QPointer>

class QKeyEvent;

namespace lanquill::widgets {

class PopupMenuBinding : public QObject {
    Q_OBJECT
public:
    explicit PopupMenuBinding(QWidget* host);

    void setMenu(QMenu* menu) { menu_ = menu; }
    QMenu* menu() const { return menu_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The enabled command of the menu whose shortcut `key` is, if any.
    QAction* commandFor(const QKeyEvent& key) const;

    QPointer<QMenu> menu_;
};

} // namespace lanquill::widgets
