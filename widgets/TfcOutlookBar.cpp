#include "widgets/TfcOutlookBar.h"

#include <QCoreApplication>

#include "widgets/GroupBarAccessible.h"
#include "widgets/TfcOutlookList.h"
#include "widgets/TfcOutlookPage.h"
#include "widgets/TfcShapeBtn.h"

#include <QAccessible>
#include <QEvent>

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace lanquill::widgets {

// The pages cleared from the bar in one turn of the event loop. They are deleted together when
// the loop runs again, unless addPage hands them out first: a reload clears and refills the bar
// in one go, and reusing its hundreds of buttons and lists costs far less than making them anew.
class RetiredPages : public QObject {
public:
    explicit RetiredPages(QObject* parent) : QObject(parent) { deleteLater(); }
    ~RetiredPages() override {
        qDeleteAll(pages_.begin() + static_cast<long>(nextTaken_), pages_.end());
    }

    void add(TfcOutlookPage* page) { pages_.push_back(page); }
    // In the order they were retired, which is the order of their widgets among the bar's
    // children.
    TfcOutlookPage* takeNext() {
        return nextTaken_ < pages_.size() ? pages_[nextTaken_++] : nullptr;
    }

private:
    std::vector<TfcOutlookPage*> pages_;
    std::size_t nextTaken_ = 0;
};

TfcOutlookBar::TfcOutlookBar(QWidget* parent) : QFrame(parent) {
    installGroupBarAccessibility();
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    setLineWidth(1);
}

TfcOutlookBar::~TfcOutlookBar() {
    // Pages go before QObject tears down the children, so no event of a dying button reaches a
    // half-destroyed bar.
    for (TfcOutlookPage* page : pages_)
        page->button()->removeEventFilter(this);
    const std::vector<TfcOutlookPage*> pages = std::exchange(pages_, {});
    active_ = nullptr;
    delete retired_;
    // First to last: Qt finds a child it removes by looking through its parent's children from
    // the front, and takes the front one off at no cost. In the order they were made, the
    // buttons and lists of many thousands of pages go in linear time; last first took minutes.
    qDeleteAll(pages);
}

void TfcOutlookBar::setButtonSize(int pixels) {
    if (pixels < 1 || pixels > kMaxButtonSize) {
        throw std::out_of_range("TfcOutlookBar: button size must be between 1 and 512 pixels");
    }
    buttonSize_ = pixels;
    updateGeometry();
    layoutPages();
}

void TfcOutlookBar::clearPages() {
    const bool hadActive = active_ != nullptr;
    active_ = nullptr;
    // Not deleted here: the command clearing the bar may be running from one of these pages'
    // popup menus or item clicks, with its button or list still on the call stack.
    if (!pages_.empty() && retired_ == nullptr)
        retired_ = new RetiredPages(this);
    for (TfcOutlookPage* page : std::exchange(pages_, {})) {
        page->button()->removeEventFilter(this);
        page->detach();
        retired_->add(page);
    }
    if (hadActive) {
        Q_EMIT activePageChanged(nullptr);
    }
}

TfcOutlookPage* TfcOutlookBar::addPage() {
    TfcOutlookPage* page = retired_ != nullptr ? retired_->takeNext() : nullptr;
    if (page != nullptr)
        page->reattach(this, retired_);
    else
        page = new TfcOutlookPage(this);
    pages_.push_back(page);
    TfcShapeBtn* button = page->button();
    button->installEventFilter(this);
    connect(button, &TfcShapeBtn::activationRequested, page, [page] {
        if (page->bar()) {
            page->bar()->setActivePage(page);
        }
    });
    button->show();
    if (pages_.size() == 1) {
        active_ = page;
        requestLayout();
        Q_EMIT activePageChanged(page);
    } else {
        requestLayout();
    }
    return page;
}

TfcOutlookPage* TfcOutlookBar::page(int index) const {
    if (index < 0 || index >= pageCount()) {
        return nullptr;
    }
    return pages_[static_cast<std::size_t>(index)];
}

int TfcOutlookBar::indexOf(const TfcOutlookPage* page) const {
    const auto found = std::find(pages_.begin(), pages_.end(), page);
    return found == pages_.end() ? -1 : static_cast<int>(found - pages_.begin());
}

TfcShapeBtn* TfcOutlookBar::activePage() const {
    return active_ ? active_->button() : nullptr;
}

void TfcOutlookBar::setActivePage(TfcOutlookPage* page) {
    if (page == active_ || indexOf(page) < 0) {
        return;
    }
    TfcOutlookPage* const previous = std::exchange(active_, page);
    layoutPages();
    if (QAccessible::isActive()) {
        QAccessible::State selected;
        selected.selected = true;
        for (TfcOutlookPage* changed : {previous, page}) {
            if (changed != nullptr) {
                QAccessibleStateChangeEvent event(changed->button(), selected);
                QAccessible::updateAccessibility(&event);
            }
        }
    }
    Q_EMIT activePageChanged(page);
}

QSize TfcOutlookBar::sizeHint() const {
    const int frame = 2 * frameWidth();
    return {120 + frame, visibleButtonCount() * buttonSize_ + 200 + frame};
}

QSize TfcOutlookBar::minimumSizeHint() const {
    const int frame = 2 * frameWidth();
    return {40 + frame, visibleButtonCount() * buttonSize_ + frame};
}

bool TfcOutlookBar::eventFilter(QObject* watched, QEvent* event) {
    // A page button hidden or shown by its owner leaves or rejoins the stack.
    if (event->type() == QEvent::HideToParent || event->type() == QEvent::ShowToParent) {
        requestLayout();
        updateGeometry();
    }
    return QFrame::eventFilter(watched, event);
}

// Pages are laid out once per turn of the event loop, as Qt's layouts are: a reload adds hundreds
// of pages in a row, and laying out all of them after each one would cost the square.
void TfcOutlookBar::requestLayout() {
    if (!layoutPending_) {
        layoutPending_ = true;
        QCoreApplication::postEvent(this, new QEvent(QEvent::LayoutRequest));
    }
}

void TfcOutlookBar::ensureLaidOut() {
    if (layoutPending_)
        layoutPages();
}

bool TfcOutlookBar::event(QEvent* event) {
    if (event->type() == QEvent::LayoutRequest)
        ensureLaidOut();
    return QFrame::event(event);
}

void TfcOutlookBar::resizeEvent(QResizeEvent* event) {
    QFrame::resizeEvent(event);
    layoutPages();
}

int TfcOutlookBar::visibleButtonCount() const {
    return static_cast<int>(std::count_if(pages_.begin(), pages_.end(), [](const auto* page) {
        return !page->button()->isHidden();
    }));
}

void TfcOutlookBar::layoutPages() {
    layoutPending_ = false;
    const QRect area = contentsRect();
    const int activeIndex = indexOf(active_);
    // Buttons up to and including the active page's stack from the top, the rest from the
    // bottom; a hidden button takes no room, whatever page it belongs to.
    int top = area.top();
    int bottom = area.bottom() + 1;
    for (int index = 0; index < pageCount(); ++index) {
        TfcShapeBtn* button = pages_[static_cast<std::size_t>(index)]->button();
        if (!button->isHidden() && (activeIndex < 0 || index <= activeIndex)) {
            button->setGeometry(area.left(), top, area.width(), buttonSize_);
            top += buttonSize_;
        }
    }
    for (int index = pageCount() - 1; index > activeIndex && activeIndex >= 0; --index) {
        TfcShapeBtn* button = pages_[static_cast<std::size_t>(index)]->button();
        if (!button->isHidden()) {
            bottom -= buttonSize_;
            button->setGeometry(area.left(), bottom, area.width(), buttonSize_);
        }
    }
    for (TfcOutlookPage* page : pages_) {
        TfcOutlookList* list = page->outlookList();
        if (page == active_) {
            list->setGeometry(area.left(), top, area.width(), std::max(0, bottom - top));
            list->show();
        } else {
            list->hide();
        }
    }
}

} // namespace lanquill::widgets
