#include "daemon/DatagramService.h"

#include "protocol/Hash.h"
#include "protocol/Mailslot.h"
#include "protocol/NetBios.h"
#include "protocol/SessionProtocol.h"

#include <array>

namespace lanquill::daemon {

namespace netbios = protocol::netbios;
namespace session = protocol::session;
namespace fnv1a = protocol::fnv1a;

namespace {
constexpr std::size_t ReadsPerWake = 256;
}

DatagramService::DatagramService(EventLoop& loop, platform::UdpSocket& socket,
                                 LocalNetwork& network, Admission& admission, Delivery& delivery,
                                 Identity identity)
    : loop_(loop), socket_(socket), network_(network), admission_(admission), delivery_(delivery),
      identity_(std::move(identity)) {}

void DatagramService::onReadable() {
    socket_.receiveEachArrived(ReadsPerWake, [this](std::span<const std::uint8_t> data,
                                                    const platform::UdpSocket::Arrived& arrived) {
        onDatagram(data, arrived.from);
    });
}

void DatagramService::onDatagram(std::span<const std::uint8_t> data, const Ipv4& from) {
    // Our own workgroup broadcast comes back to us: it is no message to show here.
    if (network_.isOwnAddress(from))
        return;
    const auto message = protocol::mailslot::parseMessengerDatagram(data);
    if (!message) {
        if (other_)
            other_(data, from);
        return;
    }
    std::string_view kind;
    std::string user;
    if (message->destinationName == identity_.workgroup &&
        message->destinationSuffix == netbios::Workstation) {
        kind = session::WorkgroupKind;
    } else {
        const auto recipient = delivery_.recipient(message->destinationName, Addressed::ByName);
        if (recipient.verdict == Recipient::Verdict::NotOurs)
            return;
        kind = session::Direct;
        user = recipient.user;
    }
    if (seenBefore(data, from) ||
        !admission_.admit(from, message->text.size(), Admission::Channel::Datagram))
        return;
    const std::string blocks[] = {message->text};
    delivery_.accept(wireMessage(kind, message->from, from,
                                 kind == session::WorkgroupKind ? identity_.workgroup : message->to,
                                 blocks, user),
                     true);
}

bool DatagramService::seenBefore(std::span<const std::uint8_t> data, const Ipv4& from) {
    const std::uint64_t hash = fnv1a::add(fnv1a::add(fnv1a::Start, data), from);
    const auto now = loop_.now();
    while (!recent_.empty() &&
           (now - recent_.front().first > DuplicateWindow || recent_.size() >= MaxRemembered)) {
        recentSet_.erase(recentSet_.find(recent_.front().second));
        recent_.pop_front();
    }
    if (recentSet_.contains(hash))
        return true;
    recent_.emplace_back(now, hash);
    recentSet_.insert(hash);
    return false;
}

} // namespace lanquill::daemon
