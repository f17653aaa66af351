// The machine's IPv4 interfaces, read once per call: every layer that broadcasts or sweeps asks
// here.
#pragma once

#include "protocol/Bytes.h"

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace lanquill::platform {

using protocol::Ipv4;

struct Interface {
    Ipv4 address{};
    int prefixLength = 0;
    std::optional<Ipv4> broadcast;                 // when the interface can broadcast
    unsigned index = 0;                            // the kernel's interface index
    std::array<std::uint8_t, 6> hardwareAddress{}; // zeros when it has none
};

// The IPv4 interfaces that are up, loopback left out, in the order the system lists them.
std::vector<Interface> upInterfaces();

struct BroadcastInterface {
    Ipv4 address{};
    Ipv4 broadcast{};
};

// The interfaces that can broadcast.
std::vector<BroadcastInterface> broadcastInterfaces();

// Their broadcast addresses, each once.
std::vector<Ipv4> broadcastAddresses();

} // namespace lanquill::platform
