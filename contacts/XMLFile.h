// The contact book operations: look up, change, add and remove computers and workgroups in the
// in-memory book. Only SetComputerInfo writes the file; after the other writers the caller saves.
#pragma once

#include "contacts/XmlDocument.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace lanquill::contacts {

// Longest id (workgroup or computer name) and field text the writers accept. Names on a Windows
// LAN are 15 characters; these leave room for hand-made books without letting one entry swell
// the file. Longer values are refused with XmlError before anything changes.
inline constexpr std::size_t kMaxIdBytes = 255;
inline constexpr std::size_t kMaxFieldBytes = 255;      // ComputerName, UserName, IpAddress
inline constexpr std::size_t kMaxMemoBytes = 64 * 1024; // Memo

// Throws XmlError naming `field` when `value` is longer than `limit` bytes.
void checkLength(const std::string& value, std::size_t limit, BookField field);

// Ids compare after folding a..z to A..Z; every other byte compares exactly. UTF-8 multi-byte
// characters never contain bytes below 0x80, so only ASCII letters are ever folded and two
// different Chinese names can never match each other.
std::string foldId(std::string_view id);
bool idsMatch(std::string_view a, std::string_view b);

// An entry as the group bar shows it: its id exactly as stored, and how many entries of exactly
// that id come before it among its siblings (0 for the first). The bar's commands name entries
// this way because ids that differ only in case (renshi-pc, RENSHI-PC) are different entries.
struct EntryRef {
    std::string id;
    int occurrence = 0;
};

// The searches below look for an exact pair of ids first and fold case only when there is none,
// so an entry named exactly as stored is never mistaken for its case-twin.

// True when the first matching computer was removed (a later group of the same id is searched
// when the first holds no such computer). Does not save.
bool DeleteComputer(XmlDocument& doc, const std::string& GroupId, const std::string& ComputerId);
// True when the first group of that id was removed with all its computers. Does not save.
bool DeleteGroup(XmlDocument& doc, const std::string& GroupId);
// Remove exactly the entry named: the Group.occurrence-th group whose id is exactly Group.id,
// and in it the Computer.occurrence-th computer of exactly that id. When the book holds fewer
// such entries than the occurrence asks for (another program changed it meanwhile), the first
// of exactly that id is taken; an entry whose id differs in case is never taken. Do not save.
bool DeleteComputer(XmlDocument& doc, const EntryRef& Group, const EntryRef& Computer);
bool DeleteGroup(XmlDocument& doc, const EntryRef& Group);
// The id, as stored, of the computer matching ComputerId (exactly, else case-blind) in the group
// AddComputer would add to; none when that group holds no such computer or does not exist yet.
std::optional<std::string> ComputerInGroup(const XmlDocument& doc, const std::string& GroupId,
                                           const std::string& ComputerId);
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
