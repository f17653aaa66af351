// One round of presence checks: a node-status query to the address of each computer on show,
// each with a transaction id of its own, and the replies matched to them. A reply counts only
// when both its transaction id and the address it came from are those of a query of this round:
// a stale id from an earlier round, or the right id from another host, proves nothing.
#pragma once

#include "protocol/Bytes.h"

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <vector>

namespace lanquill::protocol {

class PresenceRound {
public:
    // Query i goes to addresses[i] with transaction id firstTransactionId + i (wrapping).
    PresenceRound(std::vector<Ipv4> addresses, std::uint16_t firstTransactionId);

    std::size_t size() const { return addresses_.size(); }
    const Ipv4& address(std::size_t query) const { return addresses_[query]; }
    // The datagram of query `query`: a unicast node-status request.
    Bytes request(std::size_t query) const;

    // A datagram from `from`: the query it answers, the first time it is answered; nullopt for
    // anything else (not a node-status reply, an unknown id, the wrong sender, a repeat).
    std::optional<std::size_t> accept(const Ipv4& from, std::span<const std::uint8_t> datagram);

    // Per query: whether it has been answered.
    const std::vector<bool>& answered() const { return answered_; }
    bool complete() const { return unanswered_ == 0; }

private:
    std::vector<Ipv4> addresses_;
    std::vector<std::uint16_t> ids_;
    std::map<std::uint16_t, std::size_t> queryById_;
    std::vector<bool> answered_;
    std::size_t unanswered_;
};

} // namespace lanquill::protocol
