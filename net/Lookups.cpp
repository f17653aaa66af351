#include "net/Lookups.h"

#include "protocol/Addresses.h"

#include <algorithm>

namespace lanquill::net {

namespace {

Lookup firstAddress(const std::optional<platform::HostEntry>& entry) {
    Lookup result;
    if (entry && !entry->addresses.empty()) {
        result.found = true;
        result.text = protocol::formatIpv4(entry->addresses.front());
    }
    return result;
}

} // namespace

Lookup HostNameToIP(platform::Resolver& resolver, const std::string& name) {
    return firstAddress(resolver.hostByName(name));
}

std::vector<Lookup> HostNamesToIPs(platform::Resolver& resolver,
                                   const std::vector<std::string>& names) {
    std::vector<Lookup> results;
    results.reserve(names.size());
    for (const auto& entry : resolver.hostsByName(names))
        results.push_back(firstAddress(entry));
    results.resize(names.size());
    return results;
}

Lookup IPToHostName(platform::Resolver& resolver, const std::string& address) {
    Lookup result;
    if (const auto entry = resolver.hostByAddress(protocol::inetAddr(address))) {
        result.found = true;
        result.text = entry->officialName;
    }
    return result;
}

std::string GetMacAddress(platform::NeighbourTable& neighbours, const std::string& address) {
    // The ARP call fills a six-byte buffer: a longer hardware address is cut there.
    const auto bytes = neighbours.hardwareAddress(protocol::inetAddr(address));
    const std::size_t length = std::min<std::size_t>(bytes.size(), 6);
    return protocol::formatHardwareAddress(std::span<const std::uint8_t>(bytes).first(length));
}

} // namespace lanquill::net
