#include "platform/SmbMessenger.h"

#include "files/Wait.h"

#include "platform/NameService.h"
#include "protocol/Addresses.h"
#include "protocol/MessageLimits.h"
#include "protocol/OemCodePage.h"
#include "protocol/SmbMessage.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace lanquill::platform {

namespace netbios = protocol::netbios;
namespace oem = protocol::oem;
namespace smb = protocol::smb;

namespace {

namespace code = messenger;
using Clock = std::chrono::steady_clock;

// A name that no NetBIOS host owns but every SMB server accepts as the called name.
constexpr std::string_view AnyServer = "*SMBSERVER";

// One TCP connection; every wait on it is bounded.
class Connection {
public:
    ~Connection() {
        if (fd_ >= 0)
            ::close(fd_);
    }

    bool connect(const Ipv4& address, std::uint16_t port, Clock::time_point deadline) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd_ < 0)
            return false;
        sockaddr_in target{};
        target.sin_family = AF_INET;
        target.sin_port = htons(port);
        std::memcpy(&target.sin_addr.s_addr, address.data(), 4);
        if (::connect(fd_, reinterpret_cast<const sockaddr*>(&target), sizeof target) == 0)
            return true;
        if (errno != EINPROGRESS || !wait(POLLOUT, deadline))
            return false;
        int error = 0;
        socklen_t length = sizeof error;
        return ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
    }

    bool write(std::span<const std::uint8_t> data, Clock::time_point deadline) {
        while (!data.empty()) {
            if (!wait(POLLOUT, deadline))
                return false;
            const ssize_t sent = ::send(fd_, data.data(), data.size(), MSG_NOSIGNAL);
            if (sent < 0 && (errno == EAGAIN || errno == EINTR))
                continue;
            if (sent <= 0)
                return false;
            data = data.subspan(static_cast<std::size_t>(sent));
        }
        return true;
    }

    bool read(std::span<std::uint8_t> data, Clock::time_point deadline) {
        while (!data.empty()) {
            if (!wait(POLLIN, deadline))
                return false;
            const ssize_t got = ::recv(fd_, data.data(), data.size(), 0);
            if (got < 0 && (errno == EAGAIN || errno == EINTR))
                continue;
            if (got <= 0)
                return false; // closed by the peer, or an error
            data = data.subspan(static_cast<std::size_t>(got));
        }
        return true;
    }

    // The next NetBIOS session packet other than a keep-alive, whole.
    std::optional<protocol::Bytes> readPacket(Clock::time_point deadline) {
        for (;;) {
            protocol::Bytes packet(4);
            if (!read(packet, deadline))
                return std::nullopt;
            const auto total = smb::sessionPacketLength(packet);
            if (!total)
                return std::nullopt;
            packet.resize(*total);
            if (!read(std::span<std::uint8_t>(packet).subspan(4), deadline))
                return std::nullopt;
            if (packet[0] != smb::SessionKeepAlive)
                return packet;
        }
    }

private:
    bool wait(short events, Clock::time_point deadline) const {
        return files::waitUntil(fd_, events, deadline);
    }

    int fd_ = -1;
};

// Sends one SMB and reads its reply; nullopt when the connection fails or the answer is not a
// reply to that command.
std::optional<smb::Reply> exchange(Connection& connection, const protocol::Bytes& request,
                                   Clock::time_point deadline) {
    if (!connection.write(smb::sessionMessage(request), deadline))
        return std::nullopt;
    const auto packet = connection.readPacket(deadline);
    if (!packet || (*packet)[0] != smb::SessionMessageType)
        return std::nullopt;
    auto reply = smb::parseReply(std::span<const std::uint8_t>(*packet).subspan(4));
    if (!reply || reply->command != request[4])
        return std::nullopt;
    return reply;
}

bool hasZero(const std::string& text) {
    return text.find('\0') != std::string::npos;
}

} // namespace

std::uint32_t SmbMessenger::send(const std::string& to, const std::string& from,
                                 const std::string& text) {
    // Refuse what does not fit or cannot be said, before anything goes out.
    if (hasZero(to) || hasZero(from) || hasZero(text))
        return code::InvalidParameter;
    if (!oem::isUtf8(to) || !oem::isUtf8(from) || !oem::isUtf8(text))
        return code::InvalidParameter;
    if (protocol::overMessageLimits(to, from, text))
        return code::BufferTooSmall;
    if (to.empty())
        return code::InvalidParameter;
    const auto oemText = oem::fromUtf8(text);
    if (!oemText)
        return code::InvalidParameter;
    std::string sender;
    if (from.empty()) {
        sender = ownNetbiosName();
    } else {
        const auto oemFrom = oem::fromUtf8(from);
        if (!oemFrom)
            return code::InvalidParameter;
        if (oemFrom->size() > netbios::MaxNameLength)
            return code::BufferTooSmall;
        sender = *oemFrom;
    }

    const auto deadline = std::min(Clock::now() + options_.sendTimeout, options_.until);

    // Where to, and under which name the receiver knows itself.
    Ipv4 address{};
    std::string calledName;
    std::uint8_t calledSuffix = netbios::Messenger;
    std::string recipient;
    if (const auto dotted = protocol::parseIpv4(to)) {
        address = *dotted;
        if (options_.nodeStatusWait.count() > 0)
            if (const auto status = queryNodeStatus(address, options_.nodeStatusWait))
                calledName =
                    netbios::firstUniqueName(*status, {netbios::Workstation, netbios::Messenger});
        recipient = calledName.empty() ? to : calledName;
        if (calledName.empty()) {
            calledName = std::string(AnyServer);
            calledSuffix = netbios::FileServer;
        }
    } else {
        const auto oemTo = oem::fromUtf8(oem::upperAscii(to));
        if (!oemTo)
            return code::InvalidParameter;
        if (oemTo->size() > netbios::MaxNameLength)
            return code::BufferTooSmall;
        const auto host = resolver_.hostByName(to);
        if (!host || host->addresses.empty())
            return code::NameNotFound;
        address = host->addresses.front();
        calledName = *oemTo;
        recipient = *oemTo;
    }

    Connection connection;
    if (!connection.connect(address, options_.port,
                            std::min(deadline, Clock::now() + options_.connectTimeout)))
        return code::NetworkError;
    const auto request = smb::sessionRequest(calledName, calledSuffix, sender);
    if (!request)
        return code::InvalidParameter;
    if (!connection.write(*request, deadline))
        return code::NetworkError;
    const auto answer = connection.readPacket(deadline);
    const auto session = answer ? smb::parseSessionReply(*answer) : std::nullopt;
    if (!session || session->answer == smb::SessionAnswer::Other)
        return code::NetworkError;
    // Out of session slots is no statement about the name: the same computer may take the
    // message a moment later.
    if (session->answer == smb::SessionAnswer::Negative)
        return session->errorCode == smb::InsufficientResources ? code::ReceiverBusy
                                                                : code::NameNotFound;

    // Samba delivers a SEND_MESSAGE only after a negotiation; it costs one round trip.
    const auto negotiated = exchange(connection, smb::negotiateRequest(), deadline);
    if (!negotiated)
        return code::NetworkError;
    if (negotiated->status != 0 || smb::chosenDialect(*negotiated) == 0xFFFF)
        return code::BadTransactConfig;

    const auto accepted = [](const std::optional<smb::Reply>& reply) -> std::uint32_t {
        if (!reply)
            return code::NetworkError;
        return reply->status == 0 ? code::Success : code::MessageRejected;
    };
    if (oemText->size() <= smb::MaxBlock)
        return accepted(
            exchange(connection, smb::sendMessageRequest(sender, recipient, *oemText), deadline));

    const auto started = exchange(connection, smb::sendStartRequest(sender, recipient), deadline);
    if (const auto result = accepted(started); result != code::Success)
        return result;
    const std::uint16_t group = smb::groupId(*started);
    std::string_view rest = *oemText;
    while (!rest.empty()) {
        // Blocks end on character boundaries, so each block reads on its own.
        const std::size_t length = oem::characterBoundary(rest, smb::MaxBlock);
        const auto result = accepted(
            exchange(connection, smb::sendTextRequest(group, rest.substr(0, length)), deadline));
        if (result != code::Success)
            return result;
        rest.remove_prefix(length);
    }
    return accepted(exchange(connection, smb::sendEndRequest(group), deadline));
}

} // namespace lanquill::platform
