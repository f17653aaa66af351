// The contact book operations: look up, change, add and remove computers and workgroups in the
// in-memory book. Only SetComputerInfo writes the file; after the other writers the caller saves.
#pragma once

#include "contacts/XmlDocument.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace lanquill::contacts {

// Longest id (workgroup or computer name) and field text the writers accept. Names on a Windows
// LAN are 15 characters; these leave room for hand-made books without letting one entry swell
// the file. Longer values are refused with XmlError before anything changes.
inline constexpr std::size_t kMaxIdBytes = 255;
inline constexpr std::size_t kMaxFieldBytes = 255;      // ComputerName, UserName, IpAddress
inline constexpr std::size_t kMaxMemoBytes = 64 * 1024; // Memo

// Throws XmlError naming `what` when `value` is longer than `limit` bytes.
void checkLength(const std::string& value, std::size_t limit, const char* what);

// Ids compare after folding a..z to A..Z; every other byte compares exactly. UTF-8 multi-byte
// characters never contain bytes below 0x80, so only ASCII letters are ever folded and two
// different Chinese names can never match each other.
std::string foldId(std::string_view id);
bool idsMatch(std::string_view a, std::string_view b);

// True when the first matching computer was removed (a later group of the same id is searched
// when the first holds no such computer). Does not save.
bool DeleteComputer(XmlDocument& doc, const std::string& GroupId, const std::string& ComputerId);
// True when the first group of that id was removed with all its computers. Does not save.
bool DeleteGroup(XmlDocument& doc, const std::string& GroupId);
// Reads the fields of the matched computer into the outputs named like its child elements; an
// output whose element is missing keeps the caller's value, and a later duplicate wins.
bool GetComputerInfo(const XmlDocument& doc, const std::string& GroupId,
                     const std::string& ComputerId, std::string& ComputerName,
                     std::string& UserName, std::string& IpAddress, std::string& Memo);
// Rewrites the existing field elements of the matched computer (ComputerName := ComputerId)
// without creating missing ones, then saves to ConfigPath. False, with nothing changed or
// saved, when no computer matches. A failed save throws XmlError; the change stays in memory.
bool SetComputerInfo(XmlDocument& doc, const std::string& ConfigPath, const std::string& GroupId,
                     const std::string& ComputerId, const std::string& UserName,
                     const std::string& IpAddress, const std::string& Memo);
// Appends a computer with its four fields to the first matching group, creating the group at
// the end of the book when none matches. Does not save and does not look for duplicates.
void AddComputer(XmlDocument& doc, const std::string& GroupId, const std::string& ComputerId,
                 const std::string& ComputerName, const std::string& UserName,
                 const std::string& IpAddress, const std::string& Memo);
// The first group matching GroupId, created empty at the end of the book when none does. Does
// not save.
XmlNode AddGroup(XmlDocument& doc, const std::string& GroupId);

} // namespace lanquill::contacts
