// One round of presence checks: a query for each computer on show, each with a transaction id of
// its own, and the replies matched to them. A computer with an address is asked by a unicast
// node status; a reply counts only when both its transaction id and the address it came from are
// those of the query: a stale id from an earlier round, or the right id from another host,
// proves nothing. A computer known only by its name is asked by a broadcast name query; a
// positive answer with the query's id, for that name and pointing at a host, counts, whoever
// sent it.
#pragma once

#include "protocol/Bytes.h"

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

namespace lanquill::protocol {

// Whom one query asks: an address, or a NetBIOS name in OEM bytes (as netbios::netbiosName
// gives it).
using PresenceTarget = std::variant<Ipv4, std::string>;

class PresenceRound {
public:
    // Query i asks targets[i] with transaction id firstTransactionId + i (wrapping).
    PresenceRound(std::vector<PresenceTarget> targets, std::uint16_t firstTransactionId);

    std::size_t size() const { return targets_.size(); }
    const PresenceTarget& target(std::size_t query) const { return targets_[query]; }
    // The datagram of query `query`: a node-status request for an address, a broadcast name
    // query for a name; empty for a name that cannot be encoded (nothing to send).
    Bytes request(std::size_t query) const;
    // The same name query for a WINS server (unicast, no broadcast flag, same transaction id);
    // empty for an address or a name that cannot be encoded.
    Bytes serverRequest(std::size_t query) const;

    // A datagram from `from`: the query it answers, the first time it is answered; nullopt for
    // anything else (not an answer of the query's kind, an unknown id, the wrong sender or name,
    // a repeat).
    std::optional<std::size_t> accept(const Ipv4& from, std::span<const std::uint8_t> datagram);

    // Per query: whether it has been answered.
    const std::vector<bool>& answered() const { return answered_; }
    bool complete() const { return unanswered_ == 0; }

private:
    std::vector<PresenceTarget> targets_;
    std::vector<std::uint16_t> ids_;
    std::map<std::uint16_t, std::size_t> queryById_;
    std::vector<bool> answered_;
    std::size_t unanswered_;
};

} // namespace lanquill::protocol
