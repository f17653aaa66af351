// The resolver layer (gethostbyname / gethostbyaddr): the system resolver and NetBIOS on the LAN,
// as a Windows machine resolves names. Also what the other wire layers share of it:
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

// Resolves every name of `names` at once: the system resolver (up to 1 s) and broadcast NetBIOS
// NAME QUERY REQUESTs (three tries 500 ms apart) start together, and each name takes the first
// positive answer, the system resolver's when both are in hand. Answers in the order of `names`;
// bounded by 1.5 s however many names there are.
std::vector<std::optional<HostEntry>> resolveNames(const std::vector<std::string>& names);

// This computer's NetBIOS name, OEM bytes: the host name without domain, upper case, cut to
// 15 bytes on a character boundary. Never empty.
std::string ownNetbiosName();

class RealResolver : public Resolver {
public:
    std::optional<HostEntry> hostByName(const std::string& name) override;
    std::vector<std::optional<HostEntry>>
    hostsByName(const std::vector<std::string>& names) override;
    std::optional<HostEntry> hostByAddress(const Ipv4& address) override;
};

} // namespace lanquill::platform
