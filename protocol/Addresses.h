// Address texts as they travel through the program: dotted-decimal IPv4 ("192.168.0.5") and
// adapter addresses as upper-case hex pairs joined by "-" ("00-0C-29-1A-2B-3C").
#pragma once

#include "protocol/Bytes.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace lanquill::protocol {

// Four decimal numbers without leading zeros, joined by ".".
std::string formatIpv4(const Ipv4& address);

// Strict dotted-quad parse: four decimal numbers 0..255, nothing else. "" or "1.2.3" or
// "1.2.3.4 " give nullopt.
std::optional<Ipv4> parseIpv4(std::string_view text);

// The address inet_addr() would give, as bytes: the all-ones address (255.255.255.255) for a
// text that is not an address, as the Winsock call does.
Ipv4 inetAddr(std::string_view text);

// False for the addresses no host on a LAN can own: 0.0.0.0, loopback (127.0.0.0/8) and the
// limited broadcast 255.255.255.255. An answer naming one of them is a lie or a mistake.
bool isHostAddress(const Ipv4& address);

// Two upper-case hex digits per byte, zero-padded, joined by "-"; "" for no bytes.
std::string formatHardwareAddress(std::span<const std::uint8_t> bytes);

} // namespace lanquill::protocol
