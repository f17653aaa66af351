#include "net/LocalHost.h"

#include "protocol/Addresses.h"

#include <algorithm>
#include <vector>

namespace lanquill::net {

std::pair<std::string, std::string> GetLocalHostInfo(platform::SystemInfo& system,
                                                     platform::Resolver& resolver) {
    const std::string host = system.hostName();
    if (host.empty())
        return {};
    const auto entry = resolver.hostByName(host);
    if (!entry || entry->addresses.empty())
        return {};
    const auto isLoopback = [](const protocol::Ipv4& a) { return a[0] == 127; };
    const auto reachable =
        std::find_if_not(entry->addresses.begin(), entry->addresses.end(), isLoopback);
    if (reachable != entry->addresses.end())
        return {entry->officialName, protocol::formatIpv4(*reachable)};
    const std::vector<protocol::Ipv4> up = system.interfaceAddresses();
    const protocol::Ipv4& address = up.empty() ? entry->addresses.front() : up.front();
    return {entry->officialName, protocol::formatIpv4(address)};
}

} // namespace lanquill::net
