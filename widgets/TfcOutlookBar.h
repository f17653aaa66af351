// The group bar: a vertical stack of page buttons; the active page's item list fills the space
// between the buttons above it and those below it.
#pragma once

#include "widgets/TfcOutlookPage.h"

#include <QFrame>
#include <QPointer>

#include <vector>

namespace lanquill::widgets {

class RetiredPages;
class TfcShapeBtn;

class TfcOutlookBar : public QFrame {
    Q_OBJECT
public:
    static constexpr int kMaxButtonSize = 512;

    explicit TfcOutlookBar(QWidget* parent = nullptr);
    ~TfcOutlookBar() override;

    void setButtonSize(int pixels); // height of a page button; std::out_of_range outside 1..512
    int buttonSize() const { return buttonSize_; }

    // Removes every page, each with its button, list and items. They leave the bar at once and
    // are deleted when control returns to the event loop, so a command may clear the bar from a
    // menu or click handler of one of its own buttons or lists.
    void clearPages();
    // Appends a page with its button and an empty item list; the only page becomes active.
    // Until the event loop runs again, the page may be one that clearPages removed, handed out
    // again as new: no caption, menus or items, the default look, and nothing connected to its
    // button's or list's signals.
    TfcOutlookPage* addPage();
    int pageCount() const { return static_cast<int>(pages_.size()); }
    TfcOutlookPage* page(int index) const; // nullptr when out of range
    int indexOf(const TfcOutlookPage* page) const;

    TfcOutlookPage* activePageEntry() const { return active_; } // nullptr when there are no pages
    TfcShapeBtn* activePage() const;                            // the active page's button
    void setActivePage(TfcOutlookPage* page);                   // pages of other bars are ignored

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    // Lays the pages out now if a change is waiting for the next turn of the event loop.
    void ensureLaidOut();

Q_SIGNALS:
    void activePageChanged(lanquill::widgets::TfcOutlookPage* page);

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void layoutPages();
    void requestLayout();
    int visibleButtonCount() const;

    std::vector<TfcOutlookPage*> pages_; // children of the bar
    TfcOutlookPage* active_ = nullptr;
    QPointer<RetiredPages> retired_; // cleared pages until the event loop runs again
    int buttonSize_ = 20;
    bool layoutPending_ = false;
};

} // namespace lanquill::widgets
