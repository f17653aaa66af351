// Mailslot writes on the NetBIOS datagram service (UDP 138): an SMB TRANSACTION naming the slot,
// carried in one datagram. The workgroup broadcast of `net send /domain:NAME` is a write to
// \MAILSLOT\MESSNGR of NAME<00>; the browser's announcements (Browse.h) go to \MAILSLOT\BROWSE.
// Pure builders and parsers.
#pragma once

#include "protocol/NetBios.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace lanquill::protocol::mailslot {

// Mailslot data between computers is at most this long: `from\0to\0text` together.
constexpr std::size_t MaxData = 424;

struct Source {
    std::uint16_t datagramId = 0;
    Ipv4 address{};
    std::uint16_t port = netbios::DatagramPort;
    std::string name; // OEM, at most 15 bytes; sent with suffix <00>
};

// The DIRECT_GROUP datagram writing `data` to `slot` (ASCII, "\\MAILSLOT\\...") of the group
// `group`<`suffix`> (OEM). Nullopt when a name cannot be encoded or data is longer than MaxData.
std::optional<Bytes> groupDatagram(const Source& source, std::string_view group,
                                   std::uint8_t suffix, std::string_view slot,
                                   std::span<const std::uint8_t> data);

// A mailslot write as it arrived; `data` points into the parsed datagram.
struct Write {
    netbios::DecodedName source;
    netbios::DecodedName destination;
    Ipv4 sourceAddress{};
    std::string slot; // as sent, without its zero byte
    std::span<const std::uint8_t> data;
};

// Decodes the mailslot write a datagram (direct unique, direct group or broadcast) carries.
// Nullopt for anything else, or when a length or offset reaches past the datagram's bytes.
std::optional<Write> parseWrite(std::span<const std::uint8_t> datagram);

// The MESSNGR write carrying `data` to the group `group`<00> (OEM). Nullopt when a name cannot
// be encoded or data is longer than MaxData.
std::optional<Bytes> messengerDatagram(const Source& source, std::string_view group,
                                       std::string_view data);

// Splits an OEM message into the data parts of successive datagrams, `from\0to\0piece` each, no
// longer than MaxData and never cutting a double-byte character. An empty text gives one part.
// Empty when the names leave no room for text.
std::vector<std::string> messengerData(std::string_view from, std::string_view to,
                                       std::string_view text);

struct Message {
    std::string sourceName;
    std::uint8_t sourceSuffix = 0;
    std::string destinationName;
    std::uint8_t destinationSuffix = 0;
    Ipv4 sourceAddress{};
    std::string from; // OEM
    std::string to;
    std::string text;
};

// Decodes a MESSNGR datagram. The text may or may not end with a zero byte. Nullopt for anything
// that is not a well-formed mailslot write to \MAILSLOT\MESSNGR.
std::optional<Message> parseMessengerDatagram(std::span<const std::uint8_t> datagram);

} // namespace lanquill::protocol::mailslot
