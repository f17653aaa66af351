#include "protocol/PresenceRound.h"

#include "protocol/NetBios.h"

namespace lanquill::protocol {

using namespace netbios;

PresenceRound::PresenceRound(std::vector<Ipv4> addresses, std::uint16_t firstTransactionId)
    : addresses_(std::move(addresses)), answered_(addresses_.size(), false),
      unanswered_(addresses_.size()) {
    ids_.reserve(addresses_.size());
    for (std::size_t i = 0; i < addresses_.size(); ++i) {
        const auto id = static_cast<std::uint16_t>(firstTransactionId + i);
        ids_.push_back(id);
        queryById_[id] = i;
    }
}

Bytes PresenceRound::request(std::size_t query) const {
    return nodeStatusRequest(ids_[query]);
}

std::optional<std::size_t> PresenceRound::accept(const Ipv4& from,
                                                 std::span<const std::uint8_t> datagram) {
    const std::optional<NodeStatus> status = parseNodeStatus(datagram);
    if (!status)
        return std::nullopt;
    const auto found = queryById_.find(status->transactionId);
    if (found == queryById_.end())
        return std::nullopt;
    const std::size_t query = found->second;
    if (addresses_[query] != from || answered_[query])
        return std::nullopt;
    answered_[query] = true;
    --unanswered_;
    return query;
}

} // namespace lanquill::protocol
