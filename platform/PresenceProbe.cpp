#include "platform/PresenceProbe.h"

#include "platform/Interfaces.h"
#include "platform/UdpSocket.h"
#include "protocol/NetBios.h"
#include "protocol/PresenceRound.h"

#include <algorithm>

namespace lanquill::platform {

std::vector<bool> UdpPresenceProber::probe(const std::vector<PresenceTarget>& targets) {
    if (targets.empty())
        return {};
    UdpSocket socket;
    if (!socket.open())
        return std::vector<bool>(targets.size(), false);
    // Every computer of a page may answer within the same millisecond, faster than the answers
    // are read; each waits in the kernel at the size of its receive buffer (a few KB), and
    // what finds no room is dropped, so its computer would show as offline.
    constexpr int RoomPerAnswer = 4096;
    socket.reserveReceiveBuffer(
        static_cast<int>(std::min<std::size_t>(targets.size(), 1024) * RoomPerAnswer));
    const bool byName = std::any_of(targets.begin(), targets.end(), [](const auto& target) {
        return std::holds_alternative<std::string>(target);
    });
    const std::vector<Ipv4> broadcasts =
        byName ? nameQueriesTo_.value_or(broadcastAddresses()) : std::vector<Ipv4>{};
    if (byName && !nameQueriesTo_)
        socket.allowBroadcast();
    protocol::PresenceRound round(targets, nextTransactionId());
    for (std::size_t query = 0; query < round.size(); ++query) {
        const protocol::Bytes request = round.request(query);
        if (const auto* address = std::get_if<Ipv4>(&round.target(query)))
            socket.sendTo(*address, port_, request);
        else if (!request.empty())
            for (const Ipv4& broadcast : broadcasts)
                socket.sendTo(broadcast, port_, request);
        // The server and the broadcast are asked together: one round has one wait, and the
        // server's answer, from another subnet, counts like any other.
        if (winsServer_)
            if (const protocol::Bytes unicast = round.serverRequest(query); !unicast.empty())
                socket.sendTo(*winsServer_, port_, unicast);
    }
    // Large enough for any datagram: a node status of a host with many names is several KB.
    std::vector<std::uint8_t> buffer(protocol::netbios::MaxDatagramLength);
    const auto deadline = UdpSocket::Clock::now() + collect_;
    while (!round.complete()) {
        const auto received = socket.receiveUntil(deadline, buffer);
        if (!received)
            break;
        round.accept(received->from, std::span(buffer.data(), received->length));
    }
    return round.answered();
}

} // namespace lanquill::platform
