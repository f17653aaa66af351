#include "widgets/TfcOutlookListItem.h"

#include "widgets/GroupBarAccessible.h"
#include "widgets/TfcOutlookList.h"

#include <stdexcept>
#include <string>

namespace lanquill::widgets {

namespace {
void checkOffset(int pixels, const char* what) {
    if (pixels < 0 || pixels > TfcOutlookListItem::kMaxOffset) {
        throw std::out_of_range(std::string("TfcOutlookListItem: ") + what +
                                " must be between 0 and 1024 pixels");
    }
}
} // namespace

TfcOutlookListItem::~TfcOutlookListItem() {
    forgetAccessibleItem(this);
}

// Any length is kept whole: the caption is the computer's id in the book, which a click looks
// up; the list shows what does not fit elided.
void TfcOutlookListItem::setText(const QString& text) {
    if (text != text_) {
        text_ = text;
        list_->itemChanged(this);
    }
}

void TfcOutlookListItem::setImageIndex(int index) {
    if (index != imageIndex_) {
        imageIndex_ = index;
        list_->itemChanged(this);
    }
}

void TfcOutlookListItem::setGlyphOffset(int pixels) {
    checkOffset(pixels, "glyph offset");
    if (pixels != glyphOffset_) {
        glyphOffset_ = pixels;
        list_->itemChanged(this);
    }
}

void TfcOutlookListItem::setSeparation(int pixels) {
    checkOffset(pixels, "separation");
    if (pixels != separation_) {
        separation_ = pixels;
        list_->itemChanged(this);
    }
}

void TfcOutlookListItem::setTextAlignment(Qt::Alignment alignment) {
    if (alignment != textAlignment_) {
        textAlignment_ = alignment;
        list_->itemChanged(this);
    }
}

void TfcOutlookListItem::setPresence(Presence presence) {
    if (presence != presence_) {
        presence_ = presence;
        list_->itemChanged(this);
    }
}

int TfcOutlookListItem::index() const {
    return list_->indexOf(this);
}

bool TfcOutlookListItem::isHot() const {
    return list_->hotItem() == this;
}

bool TfcOutlookListItem::isPressed() const {
    return list_->pressedItem() == this;
}

void TfcOutlookListItem::destroy() {
    list_->removeItem(this);
}

} // namespace lanquill::widgets
