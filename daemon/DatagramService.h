// The datagram service on UDP 138: MESSNGR mailslot messages to this computer, to a desktop
// user's <03> name, or to the workgroup. The same datagram heard twice (on the broadcast and the
// unicast socket, or on two interfaces) is one message.
#pragma once

#include "daemon/Admission.h"
#include "daemon/ClientHub.h"
#include "daemon/Delivery.h"
#include "daemon/EventLoop.h"
#include "daemon/LocalNetwork.h"
#include "platform/UdpSocket.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <span>
#include <string>
#include <unordered_set>
#include <utility>

namespace lanquill::daemon {

class DatagramService {
public:
    struct Identity {
        std::string workgroup; // OEM
    };
    static constexpr auto DuplicateWindow = std::chrono::seconds(30);

    // Datagrams remembered for the duplicate check, at most.
    static constexpr std::size_t MaxRemembered = 8192;

    DatagramService(EventLoop& loop, platform::UdpSocket& socket, LocalNetwork& network,
                    Admission& admission, Delivery& delivery, Identity identity);

    // Datagrams that are no messenger message (browser announcements, say) go here.
    using OtherDatagram = std::function<void(std::span<const std::uint8_t>, const Ipv4& from)>;
    void onOtherDatagrams(OtherDatagram handler) { other_ = std::move(handler); }

    void onReadable();
    void onDatagram(std::span<const std::uint8_t> data, const Ipv4& from);

private:
    bool seenBefore(std::span<const std::uint8_t> data, const Ipv4& from);

    EventLoop& loop_;
    platform::UdpSocket& socket_;
    LocalNetwork& network_;
    Admission& admission_;
    Delivery& delivery_;
    Identity identity_;
    std::deque<std::pair<TimePoint, std::uint64_t>> recent_; // oldest first
    std::unordered_multiset<std::uint64_t> recentSet_;
    OtherDatagram other_;
};

} // namespace lanquill::daemon
