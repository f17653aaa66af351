// The item list of one group bar page: icons with captions, a hot item under the pointer, a
// pressed item while the left button is held, scroll buttons when the items do not fit.
#pragma once

#include "widgets/TfcOutlookListItem.h"

#include <QColor>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <vector>

class QAbstractButton;
class QMenu;

namespace lanquill::widgets {

class ImageList;
class PopupMenuBinding;
class TfcOutlookPage;

enum class ItemLayout { GlyphLeft, GlyphTop };

class TfcOutlookList : public QWidget {
    Q_OBJECT
public:
    // Largest item spacing accepted, in pixels.
    static constexpr int kMaxItemSpacing = 1024;
    static constexpr int kDefaultItemSpacing = 4;
    static constexpr int kDefaultScrollInterval = 20;

    explicit TfcOutlookList(TfcOutlookPage* page = nullptr, QWidget* parent = nullptr);
    ~TfcOutlookList() override;

    TfcOutlookPage* page() const { return page_; }

    // Not owned; must outlive the list (or be replaced first).
    void setImages(const ImageList* images);
    const ImageList* images() const { return images_; }
    void setItemLayout(ItemLayout layout);
    ItemLayout itemLayout() const { return itemLayout_; }
    // Background; the captions switch to white or black, whichever reads better on it.
    void setColor(const QColor& background);
    QColor color() const { return color_; }
    void setItemSpacing(int pixels); // std::out_of_range outside 0..kMaxItemSpacing
    int itemSpacing() const { return itemSpacing_; }
    // Opened by the right button (and the menu key). Its actions are also added to the list so
    // their shortcuts work while the list has the focus. Not owned.
    void setPopupMenu(QMenu* menu);
    QMenu* popupMenu() const;
    // Fill of the hot item; nothing is filled while it is invalid or equal to color().
    void setItemHotTrackColor(const QColor& color);
    QColor itemHotTrackColor() const { return hotTrackColor_; }
    void setScrollInterval(int milliseconds); // std::out_of_range unless 1..10000
    int scrollInterval() const { return scrollInterval_; }

    // Items made when the list is first shown or its items are first asked for (count, item,
    // addItem): a book of a thousand workgroups has one page on show. `fill` adds them with
    // addItem; it replaces a fill that has not run yet.
    void setItemSource(std::function<void(TfcOutlookList&)> fill);

    TfcOutlookListItem* addItem();
    int count() const;
    TfcOutlookListItem* item(int index) const; // nullptr when out of range
    TfcOutlookListItem* hotItem() const { return hotItem_; }
    // Scrolls `item` into view and fills it like the hot item, to point it out to the user, until
    // the pointer makes another item hot. The commands still act on the hot item alone.
    void selectItem(TfcOutlookListItem* item);
    TfcOutlookListItem* selectedItem() const { return selectedItem_; }
    TfcOutlookListItem* pressedItem() const { return pressedItem_; }
    TfcOutlookListItem* itemAt(const QPoint& pos) const; // nullptr between and below items

    // Geometry in list coordinates, scrolled; empty rectangles for an index out of range.
    QRect itemRect(int index) const;
    QRect iconRect(int index) const;
    QRect textRect(int index) const;
    int itemHeight() const { return itemHeight_; }
    // Pixels the items are scrolled up by; always a whole number of items, or the bottom end.
    int scrollOffset() const { return scrollOffset_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

Q_SIGNALS:
    // Left button pressed and released inside the same item.
    void itemClick(lanquill::widgets::TfcOutlookList* sender,
                   lanquill::widgets::TfcOutlookListItem* item);

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    friend class TfcOutlookListItem;
    friend class TfcOutlookPage;
    // Back to the state of a new list, for a page the bar hands out again. The items leave the
    // list at once but are deleted only when `keepItemsUntil` is: a command may still hold one.
    void resetForReuse(const QObject* keepItemsUntil);
    void deleteRetiredItems();
    void fillPending() const;
    int indexOf(const TfcOutlookListItem* item) const;
    void itemChanged(const TfcOutlookListItem* item);
    void removeItem(TfcOutlookListItem* item);

    void itemsChanged();
    void updateItemHeight();
    int topMargin() const { return itemSpacing_ / 2; }
    int itemPitch() const { return itemHeight_ + itemSpacing_; }
    int contentHeight() const;
    int maxScrollOffset() const;
    void setScrollOffset(int offset);
    void scrollStep(int direction);
    void startScrolling(int direction);
    void stopScrolling();
    void createScrollButtons();
    void updateScrollButtons();
    void setHotItem(TfcOutlookListItem* item);
    void syncHotItemWithPointer();
    void updateItem(const TfcOutlookListItem* item);
    QString shownText(int index) const;

    TfcOutlookPage* page_;
    const ImageList* images_ = nullptr;
    ItemLayout itemLayout_ = ItemLayout::GlyphLeft;
    QColor color_;
    QColor hotTrackColor_;
    QColor initialColor_;
    int itemSpacing_ = kDefaultItemSpacing;
    int scrollInterval_ = kDefaultScrollInterval;
    PopupMenuBinding* menuBinding_;

    mutable std::function<void(TfcOutlookList&)> pendingFill_;
    std::vector<TfcOutlookListItem*> items_;        // owned
    std::vector<TfcOutlookListItem*> retiredItems_; // owned, out of the list
    TfcOutlookListItem* hotItem_ = nullptr;
    TfcOutlookListItem* pressedItem_ = nullptr;
    TfcOutlookListItem* selectedItem_ = nullptr;
    bool popupShowing_ = false;

    int itemHeight_ = 0;
    int scrollOffset_ = 0;
    QAbstractButton* scrollUpButton_ = nullptr; // made when first needed
    QAbstractButton* scrollDownButton_ = nullptr;
    QTimer scrollTimer_;
    int scrollDirection_ = 0;
    int wheelDelta_ = 0; // eighths of a degree not yet turned into steps
};

} // namespace lanquill::widgets
