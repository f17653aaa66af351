// Presence of many computers in one round: a node-status query to each, sent together from one
// socket, then one wait for the answers.
#pragma once

#include "platform/Platform.h"

#include <chrono>
#include <cstdint>

namespace lanquill::platform {

class UdpPresenceProber : public PresenceProber {
public:
    // `port`: where the queries go; another than 137 only in tests.
    explicit UdpPresenceProber(std::chrono::milliseconds collect = std::chrono::milliseconds(1000),
                               std::uint16_t port = 137)
        : collect_(collect), port_(port) {}
    std::vector<bool> probe(const std::vector<Ipv4>& addresses) override;

private:
    std::chrono::milliseconds collect_;
    std::uint16_t port_;
};

} // namespace lanquill::platform
