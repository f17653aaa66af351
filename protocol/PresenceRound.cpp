#include "protocol/PresenceRound.h"

#include "protocol/Addresses.h"
#include "protocol/NetBios.h"
#include "protocol/OemCodePage.h"

#include <algorithm>

namespace lanquill::protocol {

using namespace netbios;

PresenceRound::PresenceRound(std::vector<PresenceTarget> targets, std::uint16_t firstTransactionId)
    : targets_(std::move(targets)), answered_(targets_.size(), false),
      unanswered_(targets_.size()) {
    ids_.reserve(targets_.size());
    for (std::size_t i = 0; i < targets_.size(); ++i) {
        const auto id = static_cast<std::uint16_t>(firstTransactionId + i);
        ids_.push_back(id);
        queryById_[id] = i;
    }
}

Bytes PresenceRound::request(std::size_t query) const {
    if (const auto* name = std::get_if<std::string>(&targets_[query]))
        return nameQueryRequest(ids_[query], *name, Workstation).value_or(Bytes{});
    return nodeStatusRequest(ids_[query]);
}

Bytes PresenceRound::serverRequest(std::size_t query) const {
    if (const auto* name = std::get_if<std::string>(&targets_[query]))
        return nameQueryRequest(ids_[query], *name, Workstation, NameServerQueryFlags)
            .value_or(Bytes{});
    return {};
}

namespace {

bool answersAddress(const Ipv4& address, const Ipv4& from, std::span<const std::uint8_t> datagram) {
    return from == address && parseNodeStatus(datagram).has_value();
}

bool answersName(const std::string& name, std::uint16_t id,
                 std::span<const std::uint8_t> datagram) {
    const auto addresses = parseNameQueryResponse(datagram, id);
    const auto packet = parseNamePacket(datagram);
    // An answer pointing at loopback or nowhere says nothing about the computer.
    return addresses && packet && packet->name.suffix == Workstation &&
           oem::upperAscii(packet->name.name) == oem::upperAscii(name) &&
           std::any_of(addresses->begin(), addresses->end(), isHostAddress);
}

} // namespace

std::optional<std::size_t> PresenceRound::accept(const Ipv4& from,
                                                 std::span<const std::uint8_t> datagram) {
    if (datagram.size() < 2)
        return std::nullopt;
    const auto id = static_cast<std::uint16_t>((datagram[0] << 8) | datagram[1]);
    const auto found = queryById_.find(id);
    if (found == queryById_.end() || answered_[found->second])
        return std::nullopt;
    const std::size_t query = found->second;
    const PresenceTarget& target = targets_[query];
    const bool answers = std::holds_alternative<Ipv4>(target)
                             ? answersAddress(std::get<Ipv4>(target), from, datagram)
                             : answersName(std::get<std::string>(target), id, datagram);
    if (!answers)
        return std::nullopt;
    answered_[query] = true;
    --unanswered_;
    return query;
}

} // namespace lanquill::protocol
