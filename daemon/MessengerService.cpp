#include "daemon/MessengerService.h"

#include "daemon/Log.h"
#include "protocol/Addresses.h"
#include "protocol/NetBios.h"
#include "protocol/OemCodePage.h"
#include "protocol/SessionProtocol.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace lanquill::daemon {

namespace netbios = protocol::netbios;
namespace smb = protocol::smb;
using protocol::Bytes;

namespace {

constexpr std::size_t MaxFrame = 4 + 0xFFFF; // no messenger SMB comes near it
constexpr std::string_view AnyServer = "*SMBSERVER";

Ipv4 addressOf(const sockaddr_in& address) {
    Ipv4 bytes{};
    std::memcpy(bytes.data(), &address.sin_addr.s_addr, 4);
    return bytes;
}

std::string asText(std::span<const std::uint8_t> bytes) {
    return {bytes.begin(), bytes.end()};
}

// FILETIME: 100 ns units since 1601.
std::uint64_t fileTimeNow() {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(now).count() / 100 +
        116444736000000000LL);
}

} // namespace

struct MessengerService::Connection {
    std::unique_ptr<Stream> stream;
    Ipv4 peer{};
    Ipv4 local{};
    State state = State::AwaitingSessionRequest;
    std::string calledUser; // the user whose <03> name was called; empty: the computer
    // The message being sent in blocks (InMultiBlock).
    std::string from;
    std::string to;
    std::vector<std::string> blocks;
    std::size_t textBytes = 0;
    std::uint16_t groupId = 0;
    bool tooLong = false;
    TimePoint lastActive{}; // arrival, the session request, or the last messenger request
};

MessengerService::MessengerService(EventLoop& loop, Admission& admission, Delivery& delivery,
                                   Identity identity)
    : loop_(loop), admission_(admission), delivery_(delivery), identity_(std::move(identity)),
      listener_(loop, "TCP 139", [this](int fd, const sockaddr_storage& peer) {
          sockaddr_in local{};
          socklen_t length = sizeof local;
          if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
              ::close(fd);
              return;
          }
          adopt(fd, addressOf(reinterpret_cast<const sockaddr_in&>(peer)), addressOf(local));
      }) {}

MessengerService::~MessengerService() {
    listener_.stop();
    connections_.clear();
}

void MessengerService::listen(int listener) {
    listener_.listen(listener);
}

void MessengerService::refuse(int fd, std::uint8_t why) {
    const auto refusal = smb::negativeSessionResponse(why);
    static_cast<void>(::send(fd, refusal.data(), refusal.size(), MSG_NOSIGNAL | MSG_DONTWAIT));
    ::close(fd);
}

void MessengerService::dropOne(const std::function<bool(const Connection&)>& among) {
    // A real sender needs a slot for a moment and opens few: the host that opened the most
    // sessions in the last minute gives way first, and of its sessions the one idle longest.
    const auto rank = [&](const Connection& connection) {
        return std::pair(admission_.sessionsOpened(connection.peer),
                         TimePoint::max() - connection.lastActive);
    };
    auto dropped = connections_.end();
    for (auto it = connections_.begin(); it != connections_.end(); ++it)
        if (among(*it->second) &&
            (dropped == connections_.end() || rank(*it->second) > rank(*dropped->second)))
            dropped = it;
    if (dropped != connections_.end())
        connections_.erase(dropped);
}

void MessengerService::adopt(int fd, const Ipv4& peer, const Ipv4& local) {
    if (!admission_.sessionWithinRate(peer)) {
        refuse(fd, smb::InsufficientResources);
        return;
    }
    const auto count = [&](const std::function<bool(const Connection&)>& among) {
        return static_cast<std::size_t>(
            std::count_if(connections_.begin(), connections_.end(),
                          [&](const auto& entry) { return among(*entry.second); }));
    };
    const auto sameAddress = [&](const Connection& other) { return other.peer == peer; };
    const auto sameSubnet24 = [&](const Connection& other) {
        return sameSubnet(other.peer, peer, 24);
    };
    if (count(sameAddress) >= MaxSessionsPerAddress) {
        refuse(fd, smb::InsufficientResources);
        return;
    }
    if (count(sameSubnet24) >= MaxSessionsPerSubnet)
        dropOne(sameSubnet24);
    else if (connections_.size() >= MaxSessions)
        dropOne([](const Connection&) { return true; });
    auto connection = std::make_unique<Connection>();
    connection->peer = peer;
    connection->local = local;
    connection->lastActive = loop_.now();
    Stream::Limits limits;
    limits.input = MaxFrame;
    limits.idle = SessionRequestLimit;
    Connection* raw = connection.get();
    const std::uint64_t id = nextConnection_++;
    connection->stream = std::make_unique<Stream>(
        loop_, fd, limits, [this, raw](Stream&) { onInput(*raw); },
        [this, id](Stream&) { connections_.erase(id); });
    connections_[id] = std::move(connection);
}

void MessengerService::onInput(Connection& connection) {
    Stream& stream = *connection.stream;
    std::string& input = stream.input();
    while (input.size() >= 4) {
        const std::span<const std::uint8_t> bytes(
            reinterpret_cast<const std::uint8_t*>(input.data()), input.size());
        const auto length = smb::sessionPacketLength(bytes);
        if (!length || *length > MaxFrame) {
            stream.close();
            return;
        }
        if (input.size() < *length)
            return;
        const Bytes frame(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(*length));
        input.erase(0, *length);
        if (!onFrame(connection, frame)) {
            stream.close();
            return;
        }
    }
}

// One session packet; false when the connection is to end.
bool MessengerService::onFrame(Connection& connection, const Bytes& frame) {
    if (connection.state == State::AwaitingSessionRequest)
        return onSessionRequest(connection, frame);
    if (frame[0] == smb::SessionKeepAlive)
        return true;
    if (frame[0] != smb::SessionMessageType)
        return false;
    return onSmb(connection, std::span<const std::uint8_t>(frame).subspan(4));
}

bool MessengerService::onSessionRequest(Connection& connection, const Bytes& frame) {
    const auto request = smb::parseSessionRequest(frame);
    if (!request)
        return false;
    const auto& called = request->called;
    const auto recipient = called.suffix == netbios::Messenger
                               ? delivery_.recipient(called.name, Addressed::ByName)
                               : Recipient{Recipient::Verdict::NotOurs, {}};
    if (called.name != AnyServer && recipient.verdict == Recipient::Verdict::NotOurs) {
        connection.stream->send(asText(smb::negativeSessionResponse(smb::CalledNameNotPresent)));
        return false;
    }
    connection.calledUser = recipient.user;
    connection.state = State::InSession;
    connection.lastActive = loop_.now();
    connection.stream->setIdleLimit(IdleLimit);
    connection.stream->send(asText(smb::positiveSessionResponse()));
    return true;
}

void MessengerService::reply(Connection& connection, const Bytes& smbReply) {
    connection.stream->send(asText(smb::sessionMessage(smbReply)));
}

bool MessengerService::onSmb(Connection& connection, std::span<const std::uint8_t> request) {
    const auto packet = smb::parsePacket(request);
    if (!packet)
        return false;
    if (packet->command == smb::Negotiate) {
        if (const auto dialect = smb::ntLmDialect(*packet))
            reply(connection, smb::negotiateReply(request, *dialect, fileTimeNow()));
        else
            reply(connection, smb::replyTo(request, smb::status::Success, {0xFFFF}));
        return true;
    }
    const auto message = smb::parseMessengerRequest(*packet);
    if (!message) {
        const bool known = packet->command == smb::SendMessage ||
                           packet->command == smb::SendStart || packet->command == smb::SendText ||
                           packet->command == smb::SendEnd;
        reply(connection, smb::replyTo(request, known ? smb::status::InvalidParameter
                                                      : smb::status::NotSupported));
        return true;
    }
    return onMessengerRequest(connection, request, *message);
}

std::uint32_t MessengerService::store(const Connection& connection, const std::string& from,
                                      const std::string& to,
                                      std::span<const std::string> textBlocks) {
    std::size_t bytes = 0;
    for (const auto& block : textBlocks)
        bytes += block.size();
    if (!admission_.admit(connection.peer, bytes, Admission::Channel::Session))
        return smb::status::AccessDenied;
    // A session called to a user's name is for that user, whatever its messages say.
    std::string user = connection.calledUser;
    if (user.empty()) {
        const auto recipient =
            delivery_.recipient(to, Addressed::InMessage, protocol::formatIpv4(connection.peer));
        if (recipient.verdict == Recipient::Verdict::SystemAccount)
            return smb::status::AccessDenied;
        user = recipient.user;
    }
    switch (
        delivery_.accept(wireMessage(protocol::session::Direct, from, connection.peer,
                                     user.empty() ? identity_.computer : user, textBlocks, user),
                         false)) {
    case Delivery::Result::Stored:
        return smb::status::Success;
    case Delivery::Result::Unusable:
        return smb::status::InvalidParameter;
    case Delivery::Result::Full:
    case Delivery::Result::Failed:
        break;
    }
    return smb::status::InsufficientResources;
}

bool MessengerService::onMessengerRequest(Connection& connection,
                                          std::span<const std::uint8_t> request,
                                          const smb::MessengerRequest& message) {
    connection.lastActive = loop_.now();
    connection.stream->touch();
    const bool inBlock = connection.state == State::InMultiBlock;
    switch (message.command) {
    case smb::SendMessage: {
        const std::string blocks[] = {message.text};
        reply(connection,
              smb::replyTo(request, store(connection, message.from, message.to, blocks)));
        return true;
    }
    case smb::SendStart:
        // A new start abandons a message left unfinished.
        connection.state = State::InMultiBlock;
        connection.from = message.from;
        connection.to = message.to;
        connection.blocks.clear();
        connection.textBytes = 0;
        connection.tooLong = false;
        connection.groupId = nextGroupId_++;
        if (nextGroupId_ == 0)
            nextGroupId_ = 1;
        reply(connection, smb::replyTo(request, smb::status::Success, {connection.groupId}));
        return true;
    case smb::SendText:
        if (!inBlock || connection.groupId != message.groupId) {
            reply(connection, smb::replyTo(request, smb::status::InvalidParameter));
            return true;
        }
        connection.blocks.push_back(message.text);
        connection.textBytes += message.text.size();
        if (connection.textBytes > Admission::MaxTextBytes) {
            if (!connection.tooLong)
                log(Priority::Notice, "message from " + protocol::formatIpv4(connection.peer) +
                                          " over " + std::to_string(Admission::MaxTextBytes) +
                                          " bytes refused");
            connection.tooLong = true;
            connection.blocks.clear();
            reply(connection, smb::replyTo(request, smb::status::InvalidParameter));
            return true;
        }
        reply(connection, smb::replyTo(request, smb::status::Success));
        return true;
    case smb::SendEnd: {
        const bool complete =
            inBlock && connection.groupId == message.groupId && !connection.tooLong;
        const auto status =
            complete ? store(connection, connection.from, connection.to, connection.blocks)
                     : smb::status::InvalidParameter;
        connection.state = State::InSession;
        connection.blocks.clear();
        connection.textBytes = 0;
        reply(connection, smb::replyTo(request, status));
        return true;
    }
    default:
        return false;
    }
}

} // namespace lanquill::daemon
