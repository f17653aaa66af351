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

// Resolves every name of `names` at once: the system resolver (up to 1 s) and NetBIOS start
// together, and each name takes the first positive answer, the system resolver's when both are
// in hand. NetBIOS without a WINS server (node type B): broadcast NAME QUERY REQUESTs, three
// tries 500 ms apart. With one (node type H): unicast queries to the server at 0 and 250 ms,
// then two broadcast tries from 500 ms on, or at once for the names the server does not know.
// Answers in the order of `names`; bounded by 1.5 s however many names there are. Without
// `broadcast`, NetBIOS asks the server only (no server: nothing but the system resolver).
std::vector<std::optional<HostEntry>> resolveNames(const std::vector<std::string>& names,
                                                   const std::optional<Ipv4>& winsServer,
                                                   bool broadcast = true);

// This computer's NetBIOS name, OEM bytes: the host name without domain, upper case, cut to
// 15 bytes on a character boundary. Never empty.
std::string ownNetbiosName();

class RealResolver : public Resolver {
public:
    // The WINS server of this computer's configuration (platform/WinsServer.h), if any.
    RealResolver();
    // Exactly this WINS server, or none.
    explicit RealResolver(std::optional<Ipv4> winsServer) : winsServer_(winsServer) {}
    const std::optional<Ipv4>& winsServer() const { return winsServer_; }
    // Whether names are also asked by broadcast (node type H), or of the server alone (P):
    // for computers beyond the routers, where any host on our own network could answer a
    // broadcast for a name that is not its own.
    void setBroadcast(bool broadcast) { broadcast_ = broadcast; }
    std::optional<HostEntry> hostByName(const std::string& name) override;
    std::vector<std::optional<HostEntry>>
    hostsByName(const std::vector<std::string>& names) override;
    std::optional<HostEntry> hostByAddress(const Ipv4& address) override;

private:
    std::optional<Ipv4> winsServer_;
    bool broadcast_ = true;
};

} // namespace lanquill::platform
