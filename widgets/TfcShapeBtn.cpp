#include "widgets/TfcShapeBtn.h"

#include "widgets/GroupBarAccessible.h"
#include "widgets/PopupMenuBinding.h"

#include <QContextMenuEvent>
#include <QLinearGradient>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QStyleOptionFocusRect>

#include <utility>

namespace lanquill::widgets {

namespace {
constexpr int kTextMargin = 4;
} // namespace

TfcShapeBtn::TfcShapeBtn(QWidget* parent)
    : QPushButton(parent), menuBinding_(new PopupMenuBinding(this)) {
    installGroupBarAccessibility();
    setAttribute(Qt::WA_Hover);
    setFocusPolicy(Qt::StrongFocus);
    setAutoDefault(false);
    connect(this, &QAbstractButton::clicked, this, &TfcShapeBtn::activationRequested);
}

void TfcShapeBtn::resetForReuse() {
    disconnect(this, &QAbstractButton::clicked, nullptr, nullptr);
    disconnect(this, &QAbstractButton::pressed, nullptr, nullptr);
    disconnect(this, &QAbstractButton::released, nullptr, nullptr);
    disconnect(this, &QAbstractButton::toggled, nullptr, nullptr);
    disconnect(this, &TfcShapeBtn::activationRequested, nullptr, nullptr);
    connect(this, &QAbstractButton::clicked, this, &TfcShapeBtn::activationRequested);
    setText(QString());
    setPopupMenu(nullptr);
    setDown(false);
    setEnabled(true);
    rightPressed_ = false;
}

void TfcShapeBtn::setPopupMenu(QMenu* menu) {
    menuBinding_->setMenu(menu);
}

QMenu* TfcShapeBtn::popupMenu() const {
    return menuBinding_->menu();
}

QSize TfcShapeBtn::sizeHint() const {
    const QFontMetrics metrics = fontMetrics();
    return {metrics.horizontalAdvance(text()) + 2 * kTextMargin, metrics.height() + 4};
}

QSize TfcShapeBtn::minimumSizeHint() const {
    return {2 * kTextMargin, fontMetrics().height()};
}

void TfcShapeBtn::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::RightButton) {
        // Taken here so the release comes back to us; the page changes on the release.
        rightPressed_ = true;
        event->accept();
        return;
    }
    QPushButton::mousePressEvent(event);
}

void TfcShapeBtn::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::RightButton) {
        event->accept();
        const bool wasPressed = std::exchange(rightPressed_, false);
        if (wasPressed && rect().contains(event->position().toPoint())) {
            openPopupMenu(event->globalPosition().toPoint());
        }
        return;
    }
    QPushButton::mouseReleaseEvent(event);
}

void TfcShapeBtn::contextMenuEvent(QContextMenuEvent* event) {
    event->accept();
    // A mouse context request is answered by the right-button release; the menu key opens the
    // menu at once, just under the button.
    if (event->reason() == QContextMenuEvent::Keyboard) {
        openPopupMenu(mapToGlobal(QPoint(0, height())));
    }
}

void TfcShapeBtn::openPopupMenu(const QPoint& globalPos) {
    QMenu* menu = popupMenu();
    if (!menu) {
        Q_EMIT activationRequested();
        return;
    }
    // The page must be active before the chosen command runs (the group commands act on the
    // active page). QMenu hides itself, emitting aboutToHide, before it triggers the chosen
    // action, so switching pages from aboutToHide gives exactly that order.
    bool requested = false;
    const QMetaObject::Connection connection =
        connect(menu, &QMenu::aboutToHide, this, [this, &requested] {
            if (!requested) {
                requested = true;
                Q_EMIT activationRequested();
            }
        });
    const QPointer<TfcShapeBtn> self(this);
    menu->exec(globalPos);
    if (!self) {
        return; // a command removed this button; the connection died with it
    }
    disconnect(connection);
    if (!requested) {
        Q_EMIT activationRequested(); // the menu never showed (for instance it has no actions)
    }
}

void TfcShapeBtn::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    const QRect area = rect();
    QColor base = palette().color(QPalette::Button);
    if (isDown()) {
        base = base.darker(115);
    } else if (underMouse()) {
        base = base.lighter(106);
    }
    QLinearGradient shade(area.topLeft(), area.bottomLeft());
    shade.setColorAt(0.0, base.lighter(112));
    shade.setColorAt(1.0, base.darker(110));
    painter.fillRect(area, shade);
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(area.adjusted(0, 0, -1, -1));

    if (hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = area.adjusted(2, 2, -2, -2);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
    }

    // The caption stays in the normal weight on the active page too (no automatic bold).
    QRect textArea = area.adjusted(kTextMargin, 0, -kTextMargin, 0);
    if (isDown()) {
        textArea.translate(1, 1);
    }
    painter.setPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText));
    const QString shown =
        painter.fontMetrics().elidedText(text(), Qt::ElideRight, textArea.width());
    painter.drawText(textArea, Qt::AlignCenter | Qt::TextSingleLine, shown);
}

} // namespace lanquill::widgets
