#include "widgets/TfcOutlookList.h"

#include "widgets/GroupBarAccessible.h"
#include "widgets/ImageList.h"
#include "widgets/PopupMenuBinding.h"
#include "widgets/TfcOutlookListItem.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QCursor>
#include <QHelpEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QToolButton>
#include <QToolTip>
#include <QWheelEvent>

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace lanquill::widgets {

namespace {
constexpr int kItemPadding = 2; // above and below the tallest part of an item
constexpr int kTextMargin = 3;  // between the caption and the list's right edge
constexpr int kScrollButtonSize = 16;
constexpr int kScrollButtonInset = 2;
constexpr int kMaxScrollInterval = 10000;

QColor readableTextColor(const QColor& background) {
    return background.lightnessF() < 0.55 ? QColor(Qt::white) : QColor(Qt::black);
}
} // namespace

TfcOutlookList::TfcOutlookList(TfcOutlookPage* page, QWidget* parent)
    : QWidget(parent), page_(page), color_(palette().color(QPalette::Window)),
      initialColor_(color_), menuBinding_(new PopupMenuBinding(this)) {
    installGroupBarAccessibility();
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);

    connect(&scrollTimer_, &QTimer::timeout, this, [this] {
        scrollStep(scrollDirection_);
        if (scrollOffset_ == 0 || scrollOffset_ == maxScrollOffset()) {
            stopScrolling();
        }
    });

    setColor(color_);
    updateItemHeight();
}

TfcOutlookList::~TfcOutlookList() {
    hotItem_ = nullptr;
    pressedItem_ = nullptr;
    selectedItem_ = nullptr;
    for (TfcOutlookListItem* entry : items_) {
        delete entry;
    }
    deleteRetiredItems();
}

void TfcOutlookList::resetForReuse(const QObject* keepItemsUntil) {
    stopScrolling();
    pendingFill_ = nullptr;
    hotItem_ = nullptr;
    pressedItem_ = nullptr;
    selectedItem_ = nullptr;
    if (!items_.empty()) {
        if (retiredItems_.empty()) {
            connect(keepItemsUntil, &QObject::destroyed, this, &TfcOutlookList::deleteRetiredItems,
                    Qt::SingleShotConnection);
        }
        retiredItems_.insert(retiredItems_.end(), items_.begin(), items_.end());
        items_.clear();
    }
    disconnect(this, &TfcOutlookList::itemClick, nullptr, nullptr);
    menuBinding_->setMenu(nullptr);
    images_ = nullptr;
    itemLayout_ = ItemLayout::GlyphLeft;
    hotTrackColor_ = QColor();
    itemSpacing_ = kDefaultItemSpacing;
    scrollInterval_ = kDefaultScrollInterval;
    scrollOffset_ = 0;
    setColor(initialColor_);
    itemsChanged();
}

void TfcOutlookList::deleteRetiredItems() {
    for (TfcOutlookListItem* entry : std::exchange(retiredItems_, {})) {
        delete entry;
    }
}

void TfcOutlookList::setImages(const ImageList* images) {
    images_ = images;
    itemsChanged();
}

void TfcOutlookList::setItemLayout(ItemLayout layout) {
    itemLayout_ = layout;
    itemsChanged();
}

void TfcOutlookList::setColor(const QColor& background) {
    if (background == color_ &&
        palette().color(QPalette::WindowText) == readableTextColor(background)) {
        return;
    }
    color_ = background;
    QPalette colours = palette();
    colours.setColor(QPalette::Window, background);
    colours.setColor(QPalette::WindowText, readableTextColor(background));
    setPalette(colours);
    update();
}

void TfcOutlookList::setItemSpacing(int pixels) {
    if (pixels < 0 || pixels > kMaxItemSpacing) {
        throw std::out_of_range("TfcOutlookList: item spacing must be between 0 and 1024 pixels");
    }
    itemSpacing_ = pixels;
    itemsChanged();
}

void TfcOutlookList::setPopupMenu(QMenu* menu) {
    menuBinding_->setMenu(menu);
}

QMenu* TfcOutlookList::popupMenu() const {
    return menuBinding_->menu();
}

void TfcOutlookList::setItemHotTrackColor(const QColor& color) {
    hotTrackColor_ = color;
    updateItem(hotItem_);
}

void TfcOutlookList::setScrollInterval(int milliseconds) {
    if (milliseconds < 1 || milliseconds > kMaxScrollInterval) {
        throw std::out_of_range("TfcOutlookList: scroll interval must be between 1 and 10000 ms");
    }
    scrollInterval_ = milliseconds;
    if (scrollTimer_.isActive()) {
        scrollTimer_.start(scrollInterval_);
    }
}

void TfcOutlookList::setItemSource(std::function<void(TfcOutlookList&)> fill) {
    pendingFill_ = std::move(fill);
}

void TfcOutlookList::fillPending() const {
    if (!pendingFill_)
        return;
    // Taken first: the fill adds items, and asks for them, through this same list.
    const auto fill = std::exchange(pendingFill_, nullptr);
    // Lists are never made const; the items are their content, made late.
    fill(const_cast<TfcOutlookList&>(*this));
}

int TfcOutlookList::count() const {
    fillPending();
    return static_cast<int>(items_.size());
}

TfcOutlookListItem* TfcOutlookList::addItem() {
    fillPending();
    items_.push_back(new TfcOutlookListItem(this));
    itemsChanged();
    return items_.back();
}

TfcOutlookListItem* TfcOutlookList::item(int index) const {
    if (index < 0 || index >= count()) {
        return nullptr;
    }
    return items_[static_cast<std::size_t>(index)];
}

int TfcOutlookList::indexOf(const TfcOutlookListItem* entry) const {
    const auto found = std::find(items_.begin(), items_.end(), entry);
    return found == items_.end() ? -1 : static_cast<int>(found - items_.begin());
}

void TfcOutlookList::removeItem(TfcOutlookListItem* entry) {
    const auto found = std::find(items_.begin(), items_.end(), entry);
    if (found == items_.end()) {
        return;
    }
    // Forget every reference before the item goes: a command may destroy the hot or pressed
    // item while a menu or a click handler of this list is still on the stack.
    if (hotItem_ == entry) {
        hotItem_ = nullptr;
    }
    if (pressedItem_ == entry) {
        pressedItem_ = nullptr;
    }
    if (selectedItem_ == entry) {
        selectedItem_ = nullptr;
    }
    items_.erase(found);
    delete entry;
    itemsChanged();
}

void TfcOutlookList::itemChanged(const TfcOutlookListItem* entry) {
    // Separation and glyph offset can change the height of every item in the top layout.
    if (itemLayout_ == ItemLayout::GlyphTop) {
        itemsChanged();
    } else {
        updateItem(entry);
    }
}

void TfcOutlookList::itemsChanged() {
    updateItemHeight();
    setScrollOffset(scrollOffset_); // clamps to the new content
    updateScrollButtons();
    update();
}

void TfcOutlookList::updateItemHeight() {
    const int iconHeight = images_ ? images_->size().height() : 0;
    const int textHeight = fontMetrics().height();
    if (itemLayout_ == ItemLayout::GlyphLeft) {
        itemHeight_ = std::max(iconHeight, textHeight) + 2 * kItemPadding;
        return;
    }
    // All items share one height so that scrolling moves by whole items.
    int largestGap = 0;
    for (const TfcOutlookListItem* entry : items_) {
        largestGap = std::max(largestGap, entry->separation());
    }
    itemHeight_ = iconHeight + largestGap + textHeight + 2 * kItemPadding;
}

QRect TfcOutlookList::itemRect(int index) const {
    if (index < 0 || index >= count()) {
        return {};
    }
    return {0, topMargin() + index * itemPitch() - scrollOffset_, width(), itemHeight_};
}

QRect TfcOutlookList::iconRect(int index) const {
    const QRect area = itemRect(index);
    if (area.isNull()) {
        return {};
    }
    const TfcOutlookListItem* entry = items_[static_cast<std::size_t>(index)];
    const QSize iconSize = images_ ? images_->size() : QSize(0, 0);
    if (itemLayout_ == ItemLayout::GlyphLeft) {
        return {QPoint(area.left() + entry->glyphOffset(),
                       area.top() + (area.height() - iconSize.height()) / 2),
                iconSize};
    }
    return {QPoint(area.left() + (area.width() - iconSize.width()) / 2 + entry->glyphOffset(),
                   area.top() + kItemPadding),
            iconSize};
}

QRect TfcOutlookList::textRect(int index) const {
    const QRect area = itemRect(index);
    if (area.isNull()) {
        return {};
    }
    const QRect icon = iconRect(index);
    const TfcOutlookListItem* entry = items_[static_cast<std::size_t>(index)];
    if (itemLayout_ == ItemLayout::GlyphLeft) {
        // icon.left() + width, not icon.right() + 1: the icon may have no size at all.
        const int left = icon.left() + icon.width() + entry->separation();
        return {QPoint(left, area.top()), QPoint(area.right() - kTextMargin, area.bottom())};
    }
    const int top = icon.top() + icon.height() + entry->separation();
    return {QPoint(area.left() + kTextMargin, top),
            QPoint(area.right() - kTextMargin,
                   std::min(area.bottom(), top + fontMetrics().height() - 1))};
}

TfcOutlookListItem* TfcOutlookList::itemAt(const QPoint& pos) const {
    if (!rect().contains(pos) || items_.empty()) {
        return nullptr;
    }
    const int y = pos.y() + scrollOffset_ - topMargin();
    if (y < 0) {
        return nullptr;
    }
    const int index = y / itemPitch();
    if (index >= count() || y - index * itemPitch() >= itemHeight_) {
        return nullptr; // in the spacing between two items, or below the last one
    }
    return items_[static_cast<std::size_t>(index)];
}

int TfcOutlookList::contentHeight() const {
    if (items_.empty()) {
        return 0;
    }
    return 2 * topMargin() + count() * itemHeight_ + (count() - 1) * itemSpacing_;
}

int TfcOutlookList::maxScrollOffset() const {
    return std::max(0, contentHeight() - height());
}

void TfcOutlookList::setScrollOffset(int offset) {
    const int clamped = std::clamp(offset, 0, maxScrollOffset());
    if (clamped == scrollOffset_) {
        return;
    }
    scrollOffset_ = clamped;
    updateScrollButtons();
    update();
}

void TfcOutlookList::scrollStep(int direction) {
    // Steps land on whole items, so the top item is never cut off after scrolling up.
    const int pitch = itemPitch();
    if (direction > 0) {
        setScrollOffset((scrollOffset_ / pitch + 1) * pitch);
    } else if (direction < 0) {
        setScrollOffset(((scrollOffset_ + pitch - 1) / pitch - 1) * pitch);
    }
}

void TfcOutlookList::startScrolling(int direction) {
    scrollDirection_ = direction;
    scrollStep(direction);
    scrollTimer_.start(scrollInterval_);
}

void TfcOutlookList::stopScrolling() {
    scrollTimer_.stop();
    scrollDirection_ = 0;
}

// The scroll buttons are made the first time a shown list overflows: a book of hundreds of
// workgroups has hundreds of lists, and most never need them.
void TfcOutlookList::createScrollButtons() {
    auto makeScrollButton = [this](Qt::ArrowType arrow, const char* name, int direction) {
        auto* button = new QToolButton(this);
        button->setObjectName(QLatin1String(name));
        button->setArrowType(arrow);
        button->setAutoRaise(false);
        button->setFocusPolicy(Qt::NoFocus);
        button->resize(kScrollButtonSize, kScrollButtonSize);
        button->hide();
        button->installEventFilter(this);
        // The list's writing colour is chosen for its own background; on a button face the
        // arrow needs the button's.
        const QPalette standard = QApplication::palette(button);
        QPalette colours = button->palette();
        for (const auto role : {QPalette::Button, QPalette::ButtonText, QPalette::WindowText})
            colours.setColor(role, standard.color(role));
        button->setPalette(colours);
        connect(button, &QAbstractButton::pressed, this,
                [this, direction] { startScrolling(direction); });
        // Also emitted when the button is disabled under the pointer at the end of the list.
        connect(button, &QAbstractButton::released, this, &TfcOutlookList::stopScrolling);
        return button;
    };
    scrollUpButton_ = makeScrollButton(Qt::UpArrow, "scrollUpButton", -1);
    scrollDownButton_ = makeScrollButton(Qt::DownArrow, "scrollDownButton", +1);
}

void TfcOutlookList::wheelEvent(QWheelEvent* event) {
    // One item per notch, as a scroll button's step; a touchpad's small deltas add up to one.
    constexpr int Notch = 120;
    wheelDelta_ += event->angleDelta().y();
    while (wheelDelta_ >= Notch) {
        scrollStep(-1);
        wheelDelta_ -= Notch;
    }
    while (wheelDelta_ <= -Notch) {
        scrollStep(+1);
        wheelDelta_ += Notch;
    }
    // The items moved under a pointer that did not.
    setHotItem(itemAt(event->position().toPoint()));
    event->accept();
}

void TfcOutlookList::updateScrollButtons() {
    const bool fits = contentHeight() <= height();
    if (scrollUpButton_ == nullptr) {
        if (fits || !isVisible())
            return;
        createScrollButtons();
    }
    scrollUpButton_->move(width() - kScrollButtonSize - kScrollButtonInset, kScrollButtonInset);
    scrollDownButton_->move(width() - kScrollButtonSize - kScrollButtonInset,
                            height() - kScrollButtonSize - kScrollButtonInset);
    scrollUpButton_->setVisible(!fits);
    scrollDownButton_->setVisible(!fits);
    // Disabling a held button releases it, which ends the repeated scrolling at that end.
    scrollUpButton_->setEnabled(scrollOffset_ > 0);
    scrollDownButton_->setEnabled(scrollOffset_ < maxScrollOffset());
}

void TfcOutlookList::setHotItem(TfcOutlookListItem* entry) {
    if (entry == hotItem_) {
        return;
    }
    updateItem(hotItem_);
    hotItem_ = entry;
    updateItem(hotItem_);
    // The user has moved on from the item pointed out.
    if (entry != nullptr && entry != selectedItem_) {
        updateItem(std::exchange(selectedItem_, nullptr));
    }
}

void TfcOutlookList::selectItem(TfcOutlookListItem* entry) {
    const int index = indexOf(entry);
    if (index < 0) {
        return;
    }
    const QRect area = itemRect(index);
    if (area.top() < 0 || area.bottom() >= height()) {
        setScrollOffset(index * itemPitch()); // a whole item at the top, or the bottom end
    }
    updateItem(selectedItem_);
    selectedItem_ = entry;
    updateItem(selectedItem_);
    reportSelectedItem(this, entry);
}

void TfcOutlookList::syncHotItemWithPointer() {
    // Used after a popup menu: while it showed, no moves or leaves reached us, so the pointer may
    // be anywhere by now. A stale hot item would make a later Del delete the wrong member.
    const QPoint global = QCursor::pos();
    const bool overUs = QApplication::widgetAt(global) == this;
    setHotItem(overUs ? itemAt(mapFromGlobal(global)) : nullptr);
}

void TfcOutlookList::updateItem(const TfcOutlookListItem* entry) {
    // A hidden list repaints whole when shown; finding the item would cost a list being filled
    // the square of its length.
    if (entry && isVisible()) {
        update(itemRect(indexOf(entry)));
    }
}

QString TfcOutlookList::shownText(int index) const {
    const QRect area = textRect(index);
    return fontMetrics().elidedText(items_[static_cast<std::size_t>(index)]->text(), Qt::ElideRight,
                                    std::max(0, area.width()));
}

QSize TfcOutlookList::sizeHint() const {
    return {100, std::max(contentHeight(), 100)};
}

QSize TfcOutlookList::minimumSizeHint() const {
    return {kScrollButtonSize * 2, 0};
}

bool TfcOutlookList::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        // A caption cut short by the list's width shows in full as a tool tip.
        auto* help = static_cast<QHelpEvent*>(event);
        const TfcOutlookListItem* entry = itemAt(help->pos());
        const int index = entry ? indexOf(entry) : -1;
        if (entry && shownText(index) != entry->text()) {
            QToolTip::showText(help->globalPos(), entry->text(), this, itemRect(index));
        } else {
            QToolTip::hideText();
            event->ignore();
        }
        return true;
    }
    return QWidget::event(event);
}

bool TfcOutlookList::eventFilter(QObject* watched, QEvent* event) {
    // Over a scroll button the window under the pointer is no longer the list itself.
    if (scrollUpButton_ != nullptr &&
        (watched == scrollUpButton_ || watched == scrollDownButton_) &&
        event->type() == QEvent::Enter) {
        setHotItem(nullptr);
    }
    return QWidget::eventFilter(watched, event);
}

namespace {

// A dot over the icon's lower right corner, ringed in white so it reads on any icon.
void paintPresenceMark(QPainter& painter, const QRect& icon, Presence presence) {
    constexpr int kDiameter = 9;
    const QRect dot(icon.left() + icon.width() - kDiameter + 1,
                    icon.top() + icon.height() - kDiameter + 1, kDiameter, kDiameter);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::white, 1.5));
    painter.setBrush(presence == Presence::Online ? QColor(0x2e, 0xb8, 0x4b)
                                                  : QColor(0x9a, 0x9a, 0x9a));
    painter.drawEllipse(dot);
    painter.restore();
}

} // namespace

void TfcOutlookList::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.fillRect(event->rect(), color_);
    const bool fillHot = hotTrackColor_.isValid() && hotTrackColor_ != color_;
    const int first = std::max(0, (scrollOffset_ - topMargin()) / itemPitch());
    for (int index = first; index < count(); ++index) {
        const QRect area = itemRect(index);
        if (area.top() >= height()) {
            break;
        }
        if (!area.intersects(event->rect())) {
            continue;
        }
        const TfcOutlookListItem* entry = items_[static_cast<std::size_t>(index)];
        const bool hot = entry == hotItem_;
        const bool sunken = hot && entry == pressedItem_;
        if ((hot || entry == selectedItem_) && fillHot) {
            painter.fillRect(area, hotTrackColor_);
        }
        if (sunken) {
            painter.setPen(color_.darker(160));
            painter.drawRect(area.adjusted(0, 0, -1, -1));
        }
        const QPoint shift = sunken ? QPoint(1, 1) : QPoint(0, 0);
        if (images_) {
            const QPixmap icon = images_->pixmap(entry->imageIndex());
            if (!icon.isNull()) {
                painter.drawPixmap(iconRect(index).topLeft() + shift, icon);
            }
        }
        if (entry->presence() != Presence::Unknown) {
            paintPresenceMark(painter, iconRect(index).translated(shift), entry->presence());
        }
        Qt::Alignment alignment = entry->textAlignment() & Qt::AlignHorizontal_Mask;
        if (alignment == Qt::Alignment()) {
            alignment = Qt::AlignLeft;
        }
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawText(textRect(index).translated(shift),
                         static_cast<int>(alignment | Qt::AlignVCenter | Qt::TextSingleLine),
                         shownText(index));
    }
}

void TfcOutlookList::mousePressEvent(QMouseEvent* event) {
    event->accept(); // the right button is answered by the context menu, not here
    if (event->button() == Qt::LeftButton) {
        pressedItem_ = itemAt(event->position().toPoint());
        setHotItem(pressedItem_);
        updateItem(pressedItem_);
    }
}

void TfcOutlookList::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
    if (event->button() != Qt::LeftButton) {
        return;
    }
    TfcOutlookListItem* pressed = pressedItem_;
    pressedItem_ = nullptr;
    updateItem(pressed);
    if (pressed && itemAt(event->position().toPoint()) == pressed) {
        Q_EMIT itemClick(this, pressed);
    }
}

void TfcOutlookList::mouseMoveEvent(QMouseEvent* event) {
    // While the left button is held the list has the mouse and also sees moves outside itself.
    setHotItem(itemAt(event->position().toPoint()));
}

void TfcOutlookList::leaveEvent(QEvent* event) {
    // A popup menu opened from this list takes the pointer and so sends us a leave; the item it
    // was opened over must stay hot until the menu's command has read it.
    if (!popupShowing_) {
        setHotItem(nullptr);
    }
    QWidget::leaveEvent(event);
}

void TfcOutlookList::contextMenuEvent(QContextMenuEvent* event) {
    QMenu* menu = popupMenu();
    if (!menu) {
        event->ignore();
        return;
    }
    event->accept();
    if (event->reason() == QContextMenuEvent::Mouse) {
        setHotItem(itemAt(event->pos()));
    }
    const QPointer<TfcOutlookList> self(this);
    popupShowing_ = true;
    menu->exec(event->globalPos());
    if (!self) {
        return; // the chosen command removed this list
    }
    popupShowing_ = false;
    syncHotItemWithPointer();
}

void TfcOutlookList::showEvent(QShowEvent* event) {
    fillPending();
    QWidget::showEvent(event);
    updateScrollButtons();
}

void TfcOutlookList::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    setScrollOffset(scrollOffset_);
    updateScrollButtons();
}

void TfcOutlookList::hideEvent(QHideEvent* event) {
    stopScrolling();
    pressedItem_ = nullptr;
    if (!popupShowing_) {
        hotItem_ = nullptr;
    }
    QWidget::hideEvent(event);
}

void TfcOutlookList::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange) {
        itemsChanged();
    }
    QWidget::changeEvent(event);
}

} // namespace lanquill::widgets
