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
    delete list_; // with its items
    delete button_;
}

int TfcOutlookPage::index() const {
    return bar_ ? bar_->indexOf(this) : -1;
}

void TfcOutlookPage::detach() {
    bar_ = nullptr;
    button_->hide();
    list_->hide();
}

} // namespace lanquill::widgets
