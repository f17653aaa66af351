// The browser's frames on \MAILSLOT\BROWSE that a workstation takes part in: it announces itself
// to its workgroup's master browser with a Host Announcement to WORKGROUP<1D>, which puts it in
// the browse list that `net view` and the network neighbourhood show, and it answers a master
// browser's Announcement Request with another. Pure builder and parser on mailslot writes
// (Mailslot.h); every parser stays within the bytes it is given.
#pragma once

#include "protocol/Mailslot.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace lanquill::protocol::browse {

constexpr std::string_view Slot = "\\MAILSLOT\\BROWSE";

// The first byte of every frame.
constexpr std::uint8_t HostAnnouncement = 0x01;
constexpr std::uint8_t AnnouncementRequest = 0x02;
constexpr std::uint8_t LocalMasterAnnouncement = 0x0F;

// Bits of a server type, as NetServerEnum filters on them.
namespace type {
constexpr std::uint32_t Workstation = 0x00000001;
constexpr std::uint32_t Server = 0x00000002;
constexpr std::uint32_t PotentialBrowser = 0x00010000;
constexpr std::uint32_t MasterBrowser = 0x00040000;
} // namespace type

// A comment longer than this is cut by browsers; we refuse to send one.
constexpr std::size_t MaxComment = 43;

// The body of a Host or Local Master Announcement.
struct Announcement {
    std::uint8_t opcode = HostAnnouncement;
    std::uint32_t periodicityMs = 0; // until the next announcement; browsers drop a host after 3
    std::string serverName;          // OEM, at most 15 bytes
    std::uint8_t osMajor = 0;
    std::uint8_t osMinor = 0;
    std::uint32_t serverType = 0; // 0: the host is going away
    std::string comment;          // OEM, at most MaxComment bytes
};

// The datagram announcing `announcement` as a Host Announcement to `workgroup`<1D>, from
// source.name<00>. Nullopt when a name cannot be encoded, the server name is empty or longer
// than 15 bytes or holds a zero byte, or the comment is too long or holds a zero byte.
std::optional<Bytes> hostAnnouncementDatagram(const mailslot::Source& source,
                                              std::string_view workgroup,
                                              const Announcement& announcement);

// One frame of the browser's mailslot.
struct Frame {
    netbios::DecodedName source;
    netbios::DecodedName destination;
    Ipv4 sourceAddress{};
    std::uint8_t opcode = 0;
    // Host and Local Master Announcements only.
    std::optional<Announcement> announcement;
};

// Any write to \MAILSLOT\BROWSE with at least its opcode. For an announcement, its fields are
// read too, and a body cut short makes the whole frame nullopt; other opcodes' bodies are not
// read. Nullopt for anything that is not a well-formed write to that slot.
std::optional<Frame> parseDatagram(std::span<const std::uint8_t> datagram);

// An Announcement Request that asks every host of `workgroup` (OEM, upper case) to announce:
// sent to WORKGROUP<00> (Windows) or WORKGROUP<1E> (Samba's nmbd, the browser election group).
// A request to WORKGROUP<1D> asks only the master browser.
bool asksWorkgroupToAnnounce(const Frame& frame, std::string_view workgroup);

} // namespace lanquill::protocol::browse
