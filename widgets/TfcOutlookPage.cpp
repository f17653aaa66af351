#include "widgets/TfcOutlookPage.h"

#include "widgets/TfcOutlookBar.h"
#include "widgets/TfcOutlookList.h"
#include "widgets/TfcShapeBtn.h"

namespace lanquill::widgets {

TfcOutlookPage::TfcOutlookPage(TfcOutlookBar* bar)
    : QObject(bar), bar_(bar), button_(new TfcShapeBtn(bar)), list_(new TfcOutlookList(this, bar)) {
    list_->hide();
}

TfcOutlookPage::~TfcOutlookPage() {
    delete button_;
    delete list_; // with its items
}

int TfcOutlookPage::index() const {
    return bar_ ? bar_->indexOf(this) : -1;
}

void TfcOutlookPage::reattach(TfcOutlookBar* bar, const QObject* keepItemsUntil) {
    setParent(bar);
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
