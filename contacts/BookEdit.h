// Every change of the contact book goes through editBook, so that two programs on one book lose
// nothing of each other's edits.
#pragma once

#include "contacts/XmlDocument.h"

#include <functional>
#include <string>

namespace lanquill::contacts {

// Under an advisory lock on ".<name>.lock" beside the book at `path`, reads the book into `doc`
// again when the file changed since `doc` last read or wrote it (another program saved, or a
// book appeared where none was), then runs `edit`, which changes `doc` and saves it to `path`.
// Throws XmlError without running `edit` when the changed file does not load. When `edit`
// throws, `doc` is read again, so that it holds what the file holds, and the error goes on.
// True when the book was read again: a view built from the book before is out of date.
bool editBook(XmlDocument& doc, const std::string& path,
              const std::function<void(XmlDocument&)>& edit);

} // namespace lanquill::contacts
