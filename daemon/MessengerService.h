// The session service on TCP 139 with the SMB messenger: one session request, then
// SEND_MESSAGE, or SEND_START / SEND_TEXT / SEND_END for a text in blocks. Each connection
// moves through explicit states; a peer that breaks the protocol is dropped.
#pragma once

#include "daemon/Admission.h"
#include "daemon/ClientHub.h"
#include "daemon/Delivery.h"
#include "daemon/EventLoop.h"
#include "daemon/Listener.h"
#include "daemon/Stream.h"
#include "protocol/SmbMessage.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace lanquill::daemon {

class MessengerService {
public:
    // When every slot is taken, a new session takes the place of another (that of the host that
    // opened the most of late, the one idle longest), so no set of hosts can hold them all: a real
    // sender, who needs a slot for a moment, gets one.
    static constexpr std::size_t MaxSessions = 32;
    // One host, or one /24, cannot take every slot: the rest stay for other senders.
    static constexpr std::size_t MaxSessionsPerAddress = 4;
    static constexpr std::size_t MaxSessionsPerSubnet = 16;
    // For the session request, which every sender sends at once.
    static constexpr auto SessionRequestLimit = std::chrono::seconds(3);
    // From the session request or the last messenger request; nothing else counts, as other
    // requests cost a host nothing to repeat.
    static constexpr auto IdleLimit = std::chrono::seconds(10);

    enum class State {
        AwaitingSessionRequest, // nothing but a NetBIOS session request is taken
        InSession,              // SMB requests: negotiate, SEND_MESSAGE, SEND_START
        InMultiBlock,           // between SEND_START and SEND_END: SEND_TEXT, SEND_END
    };

    struct Identity {
        std::string computer; // OEM
    };

    MessengerService(EventLoop& loop, Admission& admission, Delivery& delivery, Identity identity);
    ~MessengerService();

    // Accepts from the listening TCP 139 socket.
    void listen(int listener);
    // A connected session from `peer`, arrived at our address `local`.
    void adopt(int fd, const Ipv4& peer, const Ipv4& local);
    std::size_t sessionCount() const { return connections_.size(); }

private:
    struct Connection;
    void onInput(Connection& connection);
    bool onFrame(Connection& connection, const protocol::Bytes& frame);
    bool onSessionRequest(Connection& connection, const protocol::Bytes& frame);
    bool onSmb(Connection& connection, std::span<const std::uint8_t> request);
    bool onMessengerRequest(Connection& connection, std::span<const std::uint8_t> request,
                            const protocol::smb::MessengerRequest& message);
    std::uint32_t store(const Connection& connection, const std::string& from,
                        const std::string& to, std::span<const std::string> textBlocks);
    void refuse(int fd, std::uint8_t why);
    // Drops one of the sessions `among` picks, to make room for a new one.
    void dropOne(const std::function<bool(const Connection&)>& among);
    void reply(Connection& connection, const protocol::Bytes& smbReply);

    EventLoop& loop_;
    Admission& admission_;
    Delivery& delivery_;
    Identity identity_;
    Listener listener_;
    std::map<std::uint64_t, std::unique_ptr<Connection>> connections_; // by arrival
    std::uint64_t nextConnection_ = 1;
    std::uint16_t nextGroupId_ = 1;
};

} // namespace lanquill::daemon
