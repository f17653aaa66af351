// The contact book the main window shows: the document, and the file it is kept in.
#pragma once

#include "contacts/XmlDocument.h"

#include <memory>
#include <string>
#include <utility>

namespace lanquill::app {

class BookOwner {
public:
    // An empty book until the first load.
    contacts::XmlDocument& document();
    const std::string& path() const { return path_; }
    void setPath(std::string path) { path_ = std::move(path); }
    // Replaces the book with the one read from `file`, which need not be path().
    contacts::LoadOutcome load(const std::string& file);

private:
    std::string path_;
    std::unique_ptr<contacts::XmlDocument> document_;
};

} // namespace lanquill::app
