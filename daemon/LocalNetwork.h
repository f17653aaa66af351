// This host's IPv4 interfaces as lanquilld's services see them: read again at most every few
// seconds, so an address that comes or goes is noticed without a read per datagram.
#pragma once

#include "daemon/EventLoop.h"
#include "platform/Interfaces.h"

#include <functional>
#include <vector>

namespace lanquill::daemon {

using protocol::Ipv4;

class LocalNetwork {
public:
    using Source = std::function<std::vector<platform::Interface>()>;
    explicit LocalNetwork(EventLoop& loop, Source source = &platform::upInterfaces);

    const std::vector<platform::Interface>& interfaces();
    // The interface a datagram came in on, by index or by the address it was sent to.
    const platform::Interface* arrival(unsigned index, const Ipv4& localAddress);
    bool isOwnAddress(const Ipv4& address);
    // On the subnet of one of the interfaces, or loopback.
    bool onLink(const Ipv4& address);

private:
    EventLoop& loop_;
    Source source_;
    std::vector<platform::Interface> interfaces_;
    TimePoint read_{};
};

bool sameSubnet(const Ipv4& a, const Ipv4& b, int prefixLength);

} // namespace lanquill::daemon
