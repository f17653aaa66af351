#include "widgets/TfcOutlookPage.h"

#include "widgets/TfcOutlookBar.h"
#include "widgets/TfcOutlookList.h"
#include "widgets/TfcShapeBtn.h"

#include <QCoreApplication>
#include <QEvent>

namespace lanquill::widgets {

TfcOutlookPage::TfcOutlookPage(TfcOutlookBar* bar)
    : bar_(bar), button_(new TfcShapeBtn(bar)), list_(new TfcOutlookList(this, bar)) {
    list_->hide();
    // Polished now, and the polish requests Qt posted for them taken back: when a request comes,
    // a push button asks its (visible) bar for a new layout with another posted event, and Qt
    // looks through every event in the queue, two polish requests per page, before posting one.
    // Tens of thousands of workgroups took minutes to show.
    for (QWidget* widget : {static_cast<QWidget*>(button_), static_cast<QWidget*>(list_)}) {
        widget->ensurePolished();
        QCoreApplication::removePostedEvents(widget, QEvent::PolishRequest);
    }
}

TfcOutlookPage::~TfcOutlookPage() {
    delete button_;
    delete list_; // with its items
}

int TfcOutlookPage::index() const {
    return bar_ ? bar_->indexOf(this) : -1;
}

void TfcOutlookPage::reattach(TfcOutlookBar* bar, const QObject* keepItemsUntil) {
    bar_ = bar;
    button_->resetForReuse();
    list_->resetForReuse(keepItemsUntil);
}

void TfcOutlookPage::detach() {
    bar_ = nullptr;
    button_->hide();
    list_->hide();
}

} // namespace lanquill::widgets
