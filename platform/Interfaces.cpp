#include "platform/Interfaces.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstring>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/in.h>

namespace lanquill::platform {

namespace {

Ipv4 addressOf(const sockaddr* address) {
    sockaddr_in in{};
    std::memcpy(&in, address, sizeof in);
    Ipv4 bytes{};
    std::memcpy(bytes.data(), &in.sin_addr.s_addr, 4);
    return bytes;
}

int prefixOf(const Ipv4& mask) {
    int bits = 0;
    for (const std::uint8_t byte : mask)
        for (int bit = 7; bit >= 0 && (byte & (1 << bit)) != 0; --bit)
            ++bits;
    return bits;
}

} // namespace

std::vector<Interface> upInterfaces() {
    std::vector<Interface> result;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return result;
    for (const ifaddrs* item = list; item; item = item->ifa_next) {
        if (!item->ifa_addr || item->ifa_addr->sa_family != AF_INET ||
            !(item->ifa_flags & IFF_UP) || (item->ifa_flags & IFF_LOOPBACK))
            continue;
        Interface entry;
        entry.address = addressOf(item->ifa_addr);
        if (item->ifa_netmask)
            entry.prefixLength = prefixOf(addressOf(item->ifa_netmask));
        if ((item->ifa_flags & IFF_BROADCAST) && item->ifa_broadaddr)
            entry.broadcast = addressOf(item->ifa_broadaddr);
        entry.index = ::if_nametoindex(item->ifa_name);
        // The adapter address comes in the same list, as the interface's AF_PACKET entry.
        for (const ifaddrs* link = list; link; link = link->ifa_next) {
            if (!link->ifa_addr || link->ifa_addr->sa_family != AF_PACKET ||
                std::strcmp(link->ifa_name, item->ifa_name) != 0)
                continue;
            sockaddr_ll hardware{};
            std::memcpy(&hardware, link->ifa_addr, sizeof hardware);
            if (hardware.sll_halen == entry.hardwareAddress.size())
                std::memcpy(entry.hardwareAddress.data(), hardware.sll_addr, 6);
        }
        result.push_back(entry);
    }
    ::freeifaddrs(list);
    return result;
}

std::vector<BroadcastInterface> broadcastInterfaces() {
    std::vector<BroadcastInterface> result;
    for (const auto& entry : upInterfaces())
        if (entry.broadcast)
            result.push_back({entry.address, *entry.broadcast});
    return result;
}

std::vector<Ipv4> broadcastAddresses() {
    std::vector<Ipv4> result;
    for (const auto& entry : broadcastInterfaces())
        if (std::find(result.begin(), result.end(), entry.broadcast) == result.end())
            result.push_back(entry.broadcast);
    return result;
}

} // namespace lanquill::platform
