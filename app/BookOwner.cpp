#include "app/BookOwner.h"

namespace lanquill::app {

contacts::XmlDocument& BookOwner::document() {
    if (!document_)
        document_ = std::make_unique<contacts::XmlDocument>();
    return *document_;
}

contacts::LoadOutcome BookOwner::load(const std::string& file) {
    // The previous book goes first: loading never fails outright (an unreadable file gives an
    // empty book), and two large books need not be held at once.
    document_ = std::make_unique<contacts::XmlDocument>();
    contacts::LoadOutcome outcome = document_->load(file);
    // The book's indexes are read now, while the user waits for the book anyway, rather than
    // when the first message arrives (a tenth of a second with 100,000 computers).
    document_->model();
    return outcome;
}

} // namespace lanquill::app
