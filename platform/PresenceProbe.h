// Presence of many computers in one round: a node-status query to each address and a name
// query to the broadcast addresses for each name, sent together from one socket, then one wait
// for the answers.
#pragma once

#include "platform/Platform.h"
#include "platform/WinsServer.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

namespace lanquill::platform {

class UdpPresenceProber : public PresenceProber {
public:
    // `port`: where the queries go; another than 137 only in tests, as are `nameQueriesTo`,
    // the addresses a name query goes to instead of the interfaces' broadcast addresses.
    // `winsServer`: where a name is also asked by unicast (node type H); the configured one
    // unless given. Tests that redirect the queries never reach it.
    explicit UdpPresenceProber(std::chrono::milliseconds collect = std::chrono::milliseconds(1000),
                               std::uint16_t port = 137,
                               std::optional<std::vector<Ipv4>> nameQueriesTo = std::nullopt,
                               std::optional<Ipv4> winsServer = configuredWinsServer())
        : collect_(collect), port_(port), nameQueriesTo_(std::move(nameQueriesTo)),
          winsServer_(port == 137 && !nameQueriesTo_ ? winsServer : std::nullopt) {}
    std::vector<bool> probe(const std::vector<PresenceTarget>& targets) override;

private:
    std::chrono::milliseconds collect_;
    std::uint16_t port_;
    std::optional<std::vector<Ipv4>> nameQueriesTo_;
    std::optional<Ipv4> winsServer_;
};

} // namespace lanquill::platform
