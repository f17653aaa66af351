// The page button of the group bar: a flat, shaded push button that reports when its page should
// become the active one (left click, or right release after its popup menu has closed).
#pragma once

#include <QPushButton>

namespace lanquill::widgets {

class PopupMenuBinding;

class TfcShapeBtn : public QPushButton {
    Q_OBJECT
public:
    explicit TfcShapeBtn(QWidget* parent = nullptr);

    // The menu opened by a right-button release over the button. Its actions are also added to
    // the button, so their shortcuts work while the button has the focus. Not owned.
    void setPopupMenu(QMenu* menu);
    QMenu* popupMenu() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

Q_SIGNALS:
    // Left click; or right release over the button, emitted when its popup menu is closing, that
    // is before the command chosen from the menu runs.
    void activationRequested();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    friend class TfcOutlookPage;
    // Back to the state of a new button, for a page the bar hands out again: no caption, no
    // menu, and no receivers but its own.
    void resetForReuse();
    void openPopupMenu(const QPoint& globalPos);

    PopupMenuBinding* menuBinding_;
    bool rightPressed_ = false;
};

} // namespace lanquill::widgets
