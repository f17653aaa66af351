// The adapter address of an on-link host (SendARP): provoke the kernel into resolving it with a
// datagram, then read the kernel's neighbour table.
#pragma once

#include "platform/Platform.h"

#include <chrono>
#include <optional>
#include <string_view>
#include <vector>

namespace lanquill::platform {

// The hardware address of `address` in a /proc/net/arp listing when its entry is complete
// (ATF_COM); nullopt otherwise. Lines that do not parse are skipped.
std::optional<std::vector<std::uint8_t>> arpTableEntry(std::string_view table, const Ipv4& address);

class RealNeighbourTable : public NeighbourTable {
public:
    explicit RealNeighbourTable(std::chrono::milliseconds wait = std::chrono::milliseconds(1000))
        : wait_(wait) {}
    std::vector<std::uint8_t> hardwareAddress(const Ipv4& address) override;

private:
    std::chrono::milliseconds wait_;
};

} // namespace lanquill::platform
