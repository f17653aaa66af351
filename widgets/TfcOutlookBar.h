// The group bar: a vertical stack of page buttons; the active page's item list fills the space
// between the buttons above it and those below it.
#pragma once

#include "widgets/TfcOutlookPage.h"

#include <QFrame>

#include <vector>

namespace lanquill::widgets {

class TfcShapeBtn;

class TfcOutlookBar : public QFrame {
    Q_OBJECT
public:
    static constexpr int kMaxButtonSize = 512;

    explicit TfcOutlookBar(QWidget* parent = nullptr);
    ~TfcOutlookBar() override;

    void setButtonSize(int pixels); // height of a page button; std::out_of_range outside 1..512
    int buttonSize() const { return buttonSize_; }

    // Removes every page, last to first, each with its button, list and items. They leave the
    // bar at once and are deleted when control returns to the event loop, so a command may clear
    // the bar from a menu or click handler of one of its own buttons or lists.
    void clearPages();
    // Appends a page with its button and an empty item list; the only page becomes active.
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
    int buttonSize_ = 20;
    bool layoutPending_ = false;
};

} // namespace lanquill::widgets
