#include "net/LocalHost.h"

#include "protocol/Addresses.h"

namespace lanquill::net {

std::pair<std::string, std::string> GetLocalHostInfo(platform::SystemInfo& system,
                                                     platform::Resolver& resolver) {
    const std::string host = system.hostName();
    if (host.empty())
        return {};
    const auto entry = resolver.hostByName(host);
    if (!entry || entry->addresses.empty())
        return {};
    return {entry->officialName, protocol::formatIpv4(entry->addresses.front())};
}

} // namespace lanquill::net
