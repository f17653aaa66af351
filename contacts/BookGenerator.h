// Synthetic contact books for benchmarks and tests of the views that show the book.
#pragma once

#include <string>

namespace lanquill::contacts {

// The XML text of a book with `groups` workgroups "GROUP0001"... each holding
// `computersPerGroup` computers "G0001-PC0001"... with all four fields filled, indented as a
// saved book is. Addresses are in 10.0.0.0/8 and are never contacted.
std::string makeBook(int groups, int computersPerGroup);

// The ids makeBook uses, for looking entries up again.
std::string bookGroupId(int group);
std::string bookComputerId(int group, int computer);

} // namespace lanquill::contacts
