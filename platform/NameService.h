// The resolver layer (gethostbyname / gethostbyaddr): the system resolver first, then NetBIOS
// on the LAN, as a Windows machine resolves names. Also what the other wire layers share of it:
// a node-status query, a broadcast name query, our NetBIOS name.
#pragma once

#include "platform/Platform.h"
#include "protocol/NetBios.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace lanquill::platform {

// Sends a node-status query from an ephemeral port to `address`:137 and waits up to `wait` for
// the answer from that address. Nullopt when nobody answers or the send fails.
std::optional<protocol::netbios::NodeStatus> queryNodeStatus(const Ipv4& address,
                                                             std::chrono::milliseconds wait);

// Broadcasts NAME QUERY REQUESTs for `name`<suffix> (OEM) on every interface, `tries` times
// `interval` apart, and gives the addresses of the first positive answer. Bounded by
// tries * interval.
std::optional<std::vector<Ipv4>> broadcastNameQuery(const std::string& oemName, std::uint8_t suffix,
                                                    int tries, std::chrono::milliseconds interval);

// This computer's NetBIOS name, OEM bytes: the host name without domain, upper case, cut to
// 15 bytes on a character boundary. Never empty.
std::string ownNetbiosName();

class RealResolver : public Resolver {
public:
    std::optional<HostEntry> hostByName(const std::string& name) override;
    std::optional<HostEntry> hostByAddress(const Ipv4& address) override;
};

} // namespace lanquill::platform
