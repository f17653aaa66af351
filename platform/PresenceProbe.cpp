#include "platform/PresenceProbe.h"

#include "platform/UdpSocket.h"
#include "protocol/PresenceRound.h"

#include <array>

namespace lanquill::platform {

std::vector<bool> UdpPresenceProber::probe(const std::vector<Ipv4>& addresses) {
    if (addresses.empty())
        return {};
    UdpSocket socket;
    if (!socket.open())
        return std::vector<bool>(addresses.size(), false);
    protocol::PresenceRound round(addresses, nextTransactionId());
    for (std::size_t query = 0; query < round.size(); ++query)
        socket.sendTo(round.address(query), port_, round.request(query));
    // A node-status reply is at most 576 bytes on a LAN; anything larger is not one.
    std::array<std::uint8_t, 1024> buffer{};
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
