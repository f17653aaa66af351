#include "daemon/Daemon.h"

#include "daemon/Log.h"
#include "platform/Interfaces.h"
#include "platform/UdpSocket.h"
#include "protocol/Addresses.h"
#include "protocol/Mailslot.h"
#include "protocol/NetBios.h"
#include "protocol/OemCodePage.h"
#include "protocol/SmbMessage.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <functional>
#include <map>
#include <netinet/in.h>
#include <pwd.h>
#include <set>
#include <sys/epoll.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace lanquill::daemon {

namespace netbios = protocol::netbios;
namespace smb = protocol::smb;
namespace oem = protocol::oem;
using protocol::Bytes;
using protocol::Ipv4;
using Clock = std::chrono::steady_clock;
using nlohmann::json;
using std::chrono::milliseconds;
using std::chrono::seconds;

namespace {

constexpr std::size_t MaxTextBytes = 1600;
constexpr auto IdleSessionLimit = seconds(10);
constexpr std::size_t MaxSessions = 32;
constexpr std::size_t MaxClientLine = 64 * 1024;
constexpr std::size_t MaxFrame = 4 + 0xFFFF; // no messenger SMB comes near it
constexpr auto RegistrationInterval = milliseconds(250);
constexpr int RegistrationAttempts = 3;
constexpr auto DuplicateWindow = seconds(30);
constexpr std::string_view AnyServer = "*SMBSERVER";

std::string text(const Ipv4& address) {
    return protocol::formatIpv4(address);
}

std::string nameText(const std::string& oemName) {
    return oem::toUtf8Lossy(oemName);
}

void setNonBlocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

Ipv4 addressOf(const in_addr& address) {
    Ipv4 bytes{};
    std::memcpy(bytes.data(), &address.s_addr, 4);
    return bytes;
}

bool sameSubnet(const Ipv4& a, const Ipv4& b, int prefix) {
    std::uint32_t x = 0, y = 0;
    std::memcpy(&x, a.data(), 4);
    std::memcpy(&y, b.data(), 4);
    const std::uint32_t mask = prefix <= 0 ? 0 : htonl(~std::uint32_t{0} << (32 - prefix));
    return (x & mask) == (y & mask);
}

// A datagram with the interface it came in on.
struct Datagram {
    std::size_t length = 0;
    Ipv4 from{};
    std::uint16_t port = 0;
    unsigned interfaceIndex = 0;
    Ipv4 localAddress{};
};

std::optional<Datagram> receiveDatagram(int fd, std::span<std::uint8_t> buffer) {
    sockaddr_in source{};
    iovec part{buffer.data(), buffer.size()};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
    msghdr header{};
    header.msg_name = &source;
    header.msg_namelen = sizeof source;
    header.msg_iov = &part;
    header.msg_iovlen = 1;
    header.msg_control = control;
    header.msg_controllen = sizeof control;
    const ssize_t n = ::recvmsg(fd, &header, MSG_DONTWAIT);
    if (n < 0 || (header.msg_flags & MSG_TRUNC))
        return n < 0 ? std::nullopt : std::optional<Datagram>(Datagram{});
    Datagram datagram;
    datagram.length = static_cast<std::size_t>(n);
    datagram.from = addressOf(source.sin_addr);
    datagram.port = ntohs(source.sin_port);
    for (cmsghdr* c = CMSG_FIRSTHDR(&header); c; c = CMSG_NXTHDR(&header, c)) {
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
            in_pktinfo info{};
            std::memcpy(&info, CMSG_DATA(c), sizeof info);
            datagram.interfaceIndex = static_cast<unsigned>(info.ipi_ifindex);
            datagram.localAddress = addressOf(info.ipi_spec_dst);
        }
    }
    return datagram;
}

// Sends from `source` (the address of the interface the request came in on), so that every
// answer carries that interface's address.
void sendDatagram(int fd, const Ipv4& to, std::uint16_t port, std::span<const std::uint8_t> data,
                  const std::optional<Ipv4>& source) {
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(port);
    std::memcpy(&target.sin_addr.s_addr, to.data(), 4);
    iovec part{const_cast<std::uint8_t*>(data.data()), data.size()};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))]{};
    msghdr header{};
    header.msg_name = &target;
    header.msg_namelen = sizeof target;
    header.msg_iov = &part;
    header.msg_iovlen = 1;
    if (source) {
        header.msg_control = control;
        header.msg_controllen = sizeof control;
        cmsghdr* c = CMSG_FIRSTHDR(&header);
        c->cmsg_level = IPPROTO_IP;
        c->cmsg_type = IP_PKTINFO;
        c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
        in_pktinfo info{};
        std::memcpy(&info.ipi_spec_dst.s_addr, source->data(), 4);
        std::memcpy(CMSG_DATA(c), &info, sizeof info);
    }
    if (::sendmsg(fd, &header, MSG_DONTWAIT | MSG_NOSIGNAL) < 0)
        log(Priority::Debug, "send to " + text(to) + " failed: " + std::strerror(errno));
}

struct OwnedName {
    std::string name; // OEM
    std::uint8_t suffix = 0;
    bool group = false;
    bool answered = true; // answered to queries and registered; false: only listed
    bool lost = false;    // another host defended it at registration
};

struct PendingRegistration {
    std::string name;
    std::uint8_t suffix = 0;
    bool group = false;
    std::uint16_t transactionId = 0;
    int sent = 0;
    Clock::time_point next;
};

struct SessionClient {
    int fd = -1;
    uid_t uid = 0;
    std::string user; // NetBIOS user name (OEM), empty when the account name cannot be one
    bool helloed = false;
    bool deliverer = false; // may hand in messages (root, or smbd's guest account)
    std::string input;
    std::string output;
};

struct MultiBlock {
    std::string from;
    std::string to;
    std::string text;
    std::uint16_t groupId = 0;
    bool tooLong = false;
};

struct Connection {
    int fd = -1;
    Ipv4 peer{};
    Ipv4 local{};
    Clock::time_point lastActivity;
    bool sessionOpen = false;
    std::string calledUser; // the user whose <03> name was called; empty: the computer
    std::vector<std::uint8_t> input;
    std::vector<std::uint8_t> output;
    std::optional<MultiBlock> block;
};

} // namespace

struct Daemon::Impl {
    Config config;
    Spool spool;
    int epoll = -1;
    int signals = -1;
    int unixListener = -1;
    bool stopping = false;
    std::map<int, std::function<void(std::uint32_t)>> handlers;
    std::vector<platform::Interface> interfaces;
    Clock::time_point interfacesRead;
    std::vector<OwnedName> names;
    std::deque<PendingRegistration> registrations;
    std::map<int, SessionClient> clients;
    std::map<int, Connection> connections;
    std::uint16_t nextGroupId = 1;
    std::map<Ipv4, std::deque<Clock::time_point>> recentBySender;
    std::set<Ipv4> refusedLogged;
    std::deque<std::pair<Clock::time_point, std::uint64_t>> recentDatagrams;
    std::set<Ipv4> offLinkLogged;
    uid_t guestUid = static_cast<uid_t>(-1);

    explicit Impl(Config c) : config(std::move(c)), spool(config.stateFolder / "spool") {}

    // --- plumbing ---

    void watch(int fd, std::uint32_t events, std::function<void(std::uint32_t)> handler) {
        epoll_event event{};
        event.events = events;
        event.data.fd = fd;
        ::epoll_ctl(epoll, EPOLL_CTL_ADD, fd, &event);
        handlers[fd] = std::move(handler);
    }

    void rewatch(int fd, std::uint32_t events) {
        epoll_event event{};
        event.events = events;
        event.data.fd = fd;
        ::epoll_ctl(epoll, EPOLL_CTL_MOD, fd, &event);
    }

    void unwatch(int fd) {
        ::epoll_ctl(epoll, EPOLL_CTL_DEL, fd, nullptr);
        handlers.erase(fd);
        ::close(fd);
    }

    const std::vector<platform::Interface>& currentInterfaces() {
        const auto now = Clock::now();
        if (interfaces.empty() || now - interfacesRead > seconds(5)) {
            interfaces = platform::upInterfaces();
            interfacesRead = now;
        }
        return interfaces;
    }

    const platform::Interface* interfaceFor(unsigned index, const Ipv4& local) {
        for (const auto& entry : currentInterfaces())
            if (entry.index == index || entry.address == local)
                return &entry;
        return nullptr;
    }

    bool isOwnAddress(const Ipv4& address) {
        for (const auto& entry : currentInterfaces())
            if (entry.address == address)
                return true;
        return false;
    }

    // On-link senders only, unless the switch allows others; logged once per sender.
    bool senderAllowed(const Ipv4& sender) {
        if (config.allowOffLink || sender[0] == 127)
            return true;
        for (const auto& entry : currentInterfaces())
            if (sameSubnet(entry.address, sender, entry.prefixLength))
                return true;
        if (offLinkLogged.insert(sender).second)
            log(Priority::Warning, "refusing messages from " + text(sender) +
                                       ": not on a local subnet (--allow-off-link allows it)");
        return false;
    }

    // At most config.messagesPerMinute per sender address; the first refusal of a minute is
    // logged.
    bool withinRate(const Ipv4& sender) {
        if (config.messagesPerMinute == 0)
            return true;
        const auto now = Clock::now();
        auto& times = recentBySender[sender];
        while (!times.empty() && now - times.front() > seconds(60))
            times.pop_front();
        if (times.size() >= config.messagesPerMinute) {
            if (refusedLogged.insert(sender).second)
                log(Priority::Warning, "more than " + std::to_string(config.messagesPerMinute) +
                                           " messages a minute from " + text(sender) +
                                           ": refusing its messages for now");
            return false;
        }
        refusedLogged.erase(sender);
        times.push_back(now);
        return true;
    }

    // --- names ---

    bool userConnected(const std::string& user) {
        return std::any_of(clients.begin(), clients.end(), [&](const auto& entry) {
            return entry.second.helloed && entry.second.user == user;
        });
    }

    void buildNames() {
        // A Windows workstation's table order: clients read the computer name first and the
        // logged-in user's <03> as the sixth entry. Beside Samba, nmbd owns the machine's names:
        // only the users' <03> names are ours.
        const bool own = config.sessionSocket >= 0;
        names = {{config.computer, netbios::Workstation, false, own, false},
                 {config.workgroup, netbios::Workstation, true, own, false},
                 {config.computer, netbios::FileServer, false, false, false},
                 {config.workgroup, netbios::BrowserElection, true, false, false},
                 {config.computer, netbios::Messenger, false, own, false}};
    }

    std::vector<std::string> connectedUsers() {
        std::vector<std::string> users;
        for (const auto& [fd, client] : clients)
            if (client.helloed && !client.user.empty() &&
                std::find(users.begin(), users.end(), client.user) == users.end())
                users.push_back(client.user);
        return users;
    }

    // The name we answer for NAME<suffix>, if any: a machine name still ours, or a user's <03>.
    std::optional<OwnedName> answeredName(const netbios::DecodedName& asked) {
        for (const auto& owned : names)
            if (owned.answered && !owned.lost && owned.name == asked.name &&
                owned.suffix == asked.suffix)
                return owned;
        if (asked.suffix == netbios::Messenger && userConnected(asked.name))
            return OwnedName{asked.name, netbios::Messenger, false, true, false};
        return std::nullopt;
    }

    void queueRegistration(const std::string& name, std::uint8_t suffix, bool group) {
        registrations.push_back(
            {name, suffix, group, platform::nextTransactionId(), 0, Clock::now()});
    }

    void broadcastNamePacket(const std::function<std::optional<Bytes>(const Ipv4&)>& build) {
        for (const auto& entry : currentInterfaces())
            if (entry.broadcast)
                if (const auto packet = build(entry.address))
                    sendDatagram(config.nameSocket, *entry.broadcast, netbios::NameServicePort,
                                 *packet, entry.address);
    }

    void release(const std::string& name, std::uint8_t suffix, bool group) {
        std::erase_if(registrations, [&](const PendingRegistration& pending) {
            return pending.name == name && pending.suffix == suffix;
        });
        const auto id = platform::nextTransactionId();
        broadcastNamePacket([&](const Ipv4& address) {
            return netbios::nameReleaseRequest(id, name, suffix, group, address);
        });
    }

    void registrationTick() {
        const auto now = Clock::now();
        for (auto& pending : registrations) {
            if (pending.next > now || pending.sent >= RegistrationAttempts)
                continue;
            broadcastNamePacket([&](const Ipv4& address) {
                return netbios::nameRegistrationRequest(pending.transactionId, pending.name,
                                                        pending.suffix, pending.group, address);
            });
            ++pending.sent;
            pending.next = now + RegistrationInterval;
        }
        // Three requests without a defence and the name is ours.
        std::erase_if(registrations, [&](const PendingRegistration& pending) {
            return pending.sent >= RegistrationAttempts && pending.next <= now;
        });
    }

    void onNamePacket(std::span<const std::uint8_t> data, const Datagram& datagram) {
        const auto packet = netbios::parseNamePacket(data);
        if (!packet || isOwnAddress(datagram.from))
            return;
        const auto* interface = interfaceFor(datagram.interfaceIndex, datagram.localAddress);
        const std::optional<Ipv4> local =
            interface ? std::optional<Ipv4>(interface->address) : std::nullopt;
        if (packet->response) {
            if (packet->opcode == netbios::NameOpcode::Registration && packet->rcode != 0)
                onDefended(*packet, datagram.from);
            return;
        }
        if (packet->opcode == netbios::NameOpcode::Query && packet->nodeStatus) {
            if (config.sessionSocket < 0) // nmbd answers node status for the machine
                return;
            if (packet->name.name != "*" && packet->name.name != config.computer)
                return;
            std::vector<netbios::NodeName> table;
            for (const auto& owned : names)
                if (!owned.lost)
                    table.push_back({owned.name, owned.suffix, owned.group, 0});
            for (const auto& user : connectedUsers())
                table.push_back({user, netbios::Messenger, false, 0});
            const auto reply = netbios::nodeStatusResponse(
                packet->transactionId, table,
                interface ? interface->hardwareAddress : std::array<std::uint8_t, 6>{});
            sendDatagram(config.nameSocket, datagram.from, datagram.port, reply, local);
            return;
        }
        if (packet->opcode == netbios::NameOpcode::Query) {
            if (!local)
                return;
            if (const auto owned = answeredName(packet->name)) {
                if (const auto reply = netbios::positiveNameQueryResponse(
                        packet->transactionId, owned->name, owned->suffix, owned->group, *local))
                    sendDatagram(config.nameSocket, datagram.from, datagram.port, *reply, local);
            } else if (!packet->broadcast && !packet->name.name.empty()) {
                if (const auto reply = netbios::negativeNameQueryResponse(
                        packet->transactionId, packet->name.name, packet->name.suffix))
                    sendDatagram(config.nameSocket, datagram.from, datagram.port, *reply, local);
            }
            return;
        }
        if (packet->opcode == netbios::NameOpcode::Registration && local) {
            const auto owned = answeredName(packet->name);
            if (!owned || owned->group || packet->group)
                return;
            if (packet->address && isOwnAddress(*packet->address))
                return;
            log(Priority::Warning,
                "defending " + nameText(owned->name) + " against " + text(datagram.from));
            if (const auto reply = netbios::negativeRegistrationResponse(
                    packet->transactionId, owned->name, owned->suffix, *local))
                sendDatagram(config.nameSocket, datagram.from, datagram.port, *reply, local);
        }
    }

    void onDefended(const netbios::NamePacket& packet, const Ipv4& defender) {
        for (const auto& pending : registrations) {
            if (pending.transactionId != packet.transactionId)
                continue;
            log(Priority::Error, "name " + nameText(pending.name) + " is held by " +
                                     text(defender) + ": not answering for it");
            for (auto& owned : names)
                if (owned.name == pending.name && owned.suffix == pending.suffix)
                    owned.lost = true;
        }
        std::erase_if(registrations, [&](const PendingRegistration& pending) {
            return pending.transactionId == packet.transactionId;
        });
    }

    // --- messages ---

    std::optional<std::string> userFor(const std::string& oemTo) {
        const std::string upper = oem::upperAscii(oemTo);
        if (!upper.empty() && upper != config.computer && userConnected(upper))
            return upper;
        return std::nullopt;
    }

    // Takes a message into the spool and hands it to the sessions it is for; false when it could
    // not be stored (the sender is refused then).
    bool accept(Message message) {
        if (!spool.store(message))
            return false;
        log(Priority::Info, "message " + message.id + " from " + message.from + " (" +
                                message.address + ") to " + message.to);
        offer(message);
        return true;
    }

    void offer(const Message& message) {
        const std::string line = toJson(message) + "\n";
        for (auto& [fd, client] : clients)
            if (client.helloed && (message.user.empty() || message.user == client.user))
                send(client, line);
    }

    // The checks every message passes, whichever way it came; the refusal is already logged.
    bool admissible(const Ipv4& sender, std::size_t textBytes) {
        if (textBytes > MaxTextBytes) {
            log(Priority::Notice, "message of " + std::to_string(textBytes) + " bytes from " +
                                      text(sender) + " refused: the limit is 1600");
            return false;
        }
        return senderAllowed(sender) && withinRate(sender);
    }

    Message wireMessage(const std::string& kind, const std::string& from, const Ipv4& sender,
                        const std::string& to, const std::string& oemText,
                        const std::string& user) {
        Message message;
        message.kind = kind;
        message.from = nameText(from);
        message.address = text(sender);
        message.to = nameText(to);
        message.text = oem::toUtf8Lossy(oemText);
        message.user = user;
        return message;
    }

    void onDatagram(std::span<const std::uint8_t> data, const Datagram& datagram) {
        const auto message = protocol::mailslot::parseMessengerDatagram(data);
        if (!message)
            return;
        std::string kind;
        std::string user;
        if (message->destinationName == config.workgroup &&
            message->destinationSuffix == netbios::Workstation) {
            kind = "workgroup";
        } else if (message->destinationName == config.computer) {
            kind = "direct";
        } else if (userConnected(message->destinationName)) {
            kind = "direct";
            user = message->destinationName;
        } else {
            return;
        }
        // The same datagram heard on two sockets or interfaces is one message.
        std::uint64_t hash = 1469598103934665603ULL;
        for (const auto byte : data)
            hash = (hash ^ byte) * 1099511628211ULL;
        for (const auto byte : datagram.from)
            hash = (hash ^ byte) * 1099511628211ULL;
        const auto now = Clock::now();
        while (!recentDatagrams.empty() && now - recentDatagrams.front().first > DuplicateWindow)
            recentDatagrams.pop_front();
        for (const auto& [when, seen] : recentDatagrams)
            if (seen == hash)
                return;
        recentDatagrams.emplace_back(now, hash);
        if (!admissible(datagram.from, message->text.size()))
            return;
        accept(wireMessage(kind, message->from, datagram.from,
                           kind == "workgroup" ? config.workgroup : message->to, message->text,
                           user));
    }

    void readDatagrams(int fd, bool nameService) {
        std::array<std::uint8_t, 1500> buffer{};
        for (int i = 0; i < 256; ++i) {
            const auto datagram = receiveDatagram(fd, buffer);
            if (!datagram)
                return;
            if (datagram->length == 0)
                continue;
            const std::span<const std::uint8_t> data(buffer.data(), datagram->length);
            if (nameService)
                onNamePacket(data, *datagram);
            else
                onDatagram(data, *datagram);
        }
    }

    // --- session service (TCP 139) ---

    void acceptConnections() {
        for (;;) {
            sockaddr_in peer{};
            socklen_t length = sizeof peer;
            const int fd = ::accept4(config.sessionSocket, reinterpret_cast<sockaddr*>(&peer),
                                     &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd < 0)
                return;
            if (connections.size() >= MaxSessions) {
                const auto refusal = smb::negativeSessionResponse(smb::InsufficientResources);
                static_cast<void>(::send(fd, refusal.data(), refusal.size(), MSG_NOSIGNAL));
                ::close(fd);
                continue;
            }
            sockaddr_in local{};
            length = sizeof local;
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length);
            Connection connection;
            connection.fd = fd;
            connection.peer = addressOf(peer.sin_addr);
            connection.local = addressOf(local.sin_addr);
            connection.lastActivity = Clock::now();
            connections[fd] = std::move(connection);
            watch(fd, EPOLLIN, [this, fd](std::uint32_t events) { onConnection(fd, events); });
        }
    }

    void closeConnection(int fd) {
        connections.erase(fd);
        unwatch(fd);
    }

    void queue(Connection& connection, std::span<const std::uint8_t> data) {
        connection.output.insert(connection.output.end(), data.begin(), data.end());
        flush(connection);
    }

    void queueSmb(Connection& connection, const Bytes& smbReply) {
        queue(connection, smb::sessionMessage(smbReply));
    }

    void flush(Connection& connection) {
        while (!connection.output.empty()) {
            const ssize_t n = ::send(connection.fd, connection.output.data(),
                                     connection.output.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n <= 0)
                break;
            connection.output.erase(connection.output.begin(), connection.output.begin() + n);
        }
        rewatch(connection.fd, connection.output.empty() ? EPOLLIN : EPOLLIN | EPOLLOUT);
    }

    void onConnection(int fd, std::uint32_t events) {
        auto it = connections.find(fd);
        if (it == connections.end())
            return;
        Connection& connection = it->second;
        if (events & EPOLLOUT)
            flush(connection);
        if (!(events & (EPOLLIN | EPOLLHUP | EPOLLERR)))
            return;
        std::array<std::uint8_t, 4096> buffer{};
        const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
            closeConnection(fd);
            return;
        }
        if (n < 0)
            return;
        connection.lastActivity = Clock::now();
        connection.input.insert(connection.input.end(), buffer.begin(), buffer.begin() + n);
        while (connection.input.size() >= 4) {
            const auto length = smb::sessionPacketLength(connection.input);
            if (!length || *length > MaxFrame) {
                closeConnection(fd);
                return;
            }
            if (connection.input.size() < *length)
                return;
            const Bytes frame(connection.input.begin(),
                              connection.input.begin() + static_cast<std::ptrdiff_t>(*length));
            connection.input.erase(connection.input.begin(),
                                   connection.input.begin() + static_cast<std::ptrdiff_t>(*length));
            if (!onFrame(connection, frame)) {
                flush(connection);
                closeConnection(fd);
                return;
            }
        }
    }

    // One session packet; false when the connection is to end.
    bool onFrame(Connection& connection, const Bytes& frame) {
        if (!connection.sessionOpen) {
            const auto request = smb::parseSessionRequest(frame);
            if (!request)
                return false;
            const auto& called = request->called;
            const bool anyServer = called.name == AnyServer;
            const bool computer =
                called.name == config.computer && called.suffix == netbios::Messenger;
            const bool user = called.suffix == netbios::Messenger && userConnected(called.name);
            if (!anyServer && !computer && !user) {
                queue(connection, smb::negativeSessionResponse(smb::CalledNameNotPresent));
                return false;
            }
            if (user && !computer)
                connection.calledUser = called.name;
            connection.sessionOpen = true;
            queue(connection, smb::positiveSessionResponse());
            return true;
        }
        if (frame[0] == smb::SessionKeepAlive)
            return true;
        if (frame[0] != smb::SessionMessageType)
            return false;
        const std::span<const std::uint8_t> request(frame.begin() + 4, frame.end());
        const auto packet = smb::parsePacket(request);
        if (!packet)
            return false;
        if (packet->command == smb::Negotiate) {
            if (const auto dialect = smb::ntLmDialect(*packet)) {
                const auto now = std::chrono::system_clock::now().time_since_epoch();
                // FILETIME: 100 ns units since 1601.
                const auto filetime = static_cast<std::uint64_t>(
                    std::chrono::duration_cast<std::chrono::nanoseconds>(now).count() / 100 +
                    116444736000000000LL);
                queueSmb(connection, smb::negotiateReply(request, *dialect, filetime));
            } else {
                queueSmb(connection, smb::replyTo(request, smb::status::Success, {0xFFFF}));
            }
            return true;
        }
        const auto message = smb::parseMessengerRequest(*packet);
        if (!message) {
            const bool known = packet->command == smb::SendMessage ||
                               packet->command == smb::SendStart ||
                               packet->command == smb::SendText || packet->command == smb::SendEnd;
            queueSmb(connection, smb::replyTo(request, known ? smb::status::InvalidParameter
                                                             : smb::status::NotSupported));
            return true;
        }
        return onMessengerRequest(connection, request, *message);
    }

    bool onMessengerRequest(Connection& connection, std::span<const std::uint8_t> request,
                            const smb::MessengerRequest& message) {
        const auto store = [&](const std::string& from, const std::string& to,
                               const std::string& body) {
            if (!admissible(connection.peer, body.size()))
                return smb::status::AccessDenied;
            std::string user = connection.calledUser;
            if (user.empty())
                user = userFor(to).value_or("");
            return accept(wireMessage("direct", from, connection.peer,
                                      user.empty() ? config.computer : user, body, user))
                       ? smb::status::Success
                       : smb::status::InsufficientResources;
        };
        switch (message.command) {
        case smb::SendMessage:
            queueSmb(connection,
                     smb::replyTo(request, store(message.from, message.to, message.text)));
            return true;
        case smb::SendStart: {
            MultiBlock block;
            block.from = message.from;
            block.to = message.to;
            block.groupId = nextGroupId++;
            if (nextGroupId == 0)
                nextGroupId = 1;
            connection.block = block;
            queueSmb(connection, smb::replyTo(request, smb::status::Success, {block.groupId}));
            return true;
        }
        case smb::SendText: {
            auto& block = connection.block;
            if (!block || block->groupId != message.groupId) {
                queueSmb(connection, smb::replyTo(request, smb::status::InvalidParameter));
                return true;
            }
            block->text += message.text;
            if (block->text.size() > MaxTextBytes) {
                if (!block->tooLong)
                    log(Priority::Notice,
                        "message from " + text(connection.peer) + " over 1600 bytes refused");
                block->tooLong = true;
                block->text.clear();
                queueSmb(connection, smb::replyTo(request, smb::status::InvalidParameter));
                return true;
            }
            queueSmb(connection, smb::replyTo(request, smb::status::Success));
            return true;
        }
        case smb::SendEnd: {
            auto& block = connection.block;
            if (!block || block->groupId != message.groupId || block->tooLong) {
                block.reset();
                queueSmb(connection, smb::replyTo(request, smb::status::InvalidParameter));
                return true;
            }
            const auto status = store(block->from, block->to, block->text);
            block.reset();
            queueSmb(connection, smb::replyTo(request, status));
            return true;
        }
        default:
            return false;
        }
    }

    void closeIdleConnections() {
        const auto now = Clock::now();
        std::vector<int> idle;
        for (const auto& [fd, connection] : connections)
            if (now - connection.lastActivity > IdleSessionLimit)
                idle.push_back(fd);
        for (const int fd : idle)
            closeConnection(fd);
    }

    // --- session socket ---

    void openSessionSocket() {
        std::error_code error;
        std::filesystem::create_directories(config.runtimeFolder, error);
        const auto path = config.runtimeFolder / "session.sock";
        ::unlink(path.c_str());
        unixListener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (path.string().size() >= sizeof address.sun_path)
            throw std::runtime_error("session socket path too long: " + path.string());
        std::strcpy(address.sun_path, path.c_str());
        if (::bind(unixListener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(unixListener, 16) != 0)
            throw std::runtime_error("cannot listen on " + path.string() + ": " +
                                     std::strerror(errno));
        ::chmod(path.c_str(), 0666); // every desktop user connects; SO_PEERCRED tells who
        watch(unixListener, EPOLLIN, [this](std::uint32_t) { acceptClients(); });
    }

    void acceptClients() {
        for (;;) {
            const int fd = ::accept4(unixListener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd < 0)
                return;
            ucred credentials{};
            socklen_t length = sizeof credentials;
            if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0) {
                ::close(fd);
                continue;
            }
            SessionClient client;
            client.fd = fd;
            client.uid = credentials.uid;
            client.deliverer = credentials.uid == 0 || credentials.uid == guestUid ||
                               credentials.uid == ::getuid();
            if (const passwd* account = ::getpwuid(credentials.uid))
                client.user = netbios::netbiosName(account->pw_name).value_or("");
            clients[fd] = std::move(client);
            watch(fd, EPOLLIN, [this, fd](std::uint32_t events) { onClient(fd, events); });
        }
    }

    void send(SessionClient& client, const std::string& line) {
        client.output += line;
        flushClient(client);
    }

    void send(SessionClient& client, const json& object) {
        send(client, object.dump(-1, ' ', false, json::error_handler_t::replace) + "\n");
    }

    void flushClient(SessionClient& client) {
        while (!client.output.empty()) {
            const ssize_t n = ::send(client.fd, client.output.data(), client.output.size(),
                                     MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n <= 0)
                break;
            client.output.erase(0, static_cast<std::size_t>(n));
        }
        rewatch(client.fd, client.output.empty() ? EPOLLIN : EPOLLIN | EPOLLOUT);
    }

    void closeClient(int fd) {
        const auto it = clients.find(fd);
        if (it == clients.end())
            return;
        const std::string user = it->second.helloed ? it->second.user : "";
        clients.erase(it);
        unwatch(fd);
        if (!user.empty() && !userConnected(user)) {
            log(Priority::Info, "last session of " + nameText(user) + " gone: releasing its name");
            release(user, netbios::Messenger, false);
        }
    }

    void onClient(int fd, std::uint32_t events) {
        auto it = clients.find(fd);
        if (it == clients.end())
            return;
        SessionClient& client = it->second;
        if (events & EPOLLOUT)
            flushClient(client);
        if (!(events & (EPOLLIN | EPOLLHUP | EPOLLERR)))
            return;
        char buffer[4096];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
            closeClient(fd);
            return;
        }
        if (n < 0)
            return;
        client.input.append(buffer, static_cast<std::size_t>(n));
        std::size_t end;
        while ((end = client.input.find('\n')) != std::string::npos) {
            const std::string line = client.input.substr(0, end);
            client.input.erase(0, end + 1);
            if (!onClientLine(client, line)) {
                closeClient(fd);
                return;
            }
        }
        if (client.input.size() > MaxClientLine) {
            send(client, json{{"error", "line too long"}});
            closeClient(fd);
        }
    }

    bool onClientLine(SessionClient& client, const std::string& line) {
        const json object = json::parse(line, nullptr, false);
        if (!object.is_object()) {
            send(client, json{{"error", "not a JSON object"}});
            return true;
        }
        if (object.contains("hello")) {
            if (client.helloed)
                return true;
            const bool first = !client.user.empty() && !userConnected(client.user);
            client.helloed = true;
            send(client, json{{"hello", 1},
                              {"computer", nameText(config.computer)},
                              {"workgroup", nameText(config.workgroup)},
                              {"user", nameText(client.user)}});
            if (config.sessionSocket >= 0)
                send(client, json{{"status", "receiving"}});
            else
                send(client, json{{"status", "no-139"}, {"reason", config.no139Reason}});
            if (first) {
                log(Priority::Info,
                    "first session of " + nameText(client.user) + ": registering its name");
                queueRegistration(client.user, netbios::Messenger, false);
            }
            for (const auto& message : spool.pending())
                if (message.user.empty() || message.user == client.user)
                    send(client, toJson(message) + "\n");
            return true;
        }
        if (const auto ack = object.find("ack"); ack != object.end() && ack->is_string()) {
            spool.remove(ack->get<std::string>());
            return true;
        }
        if (const auto deliver = object.find("deliver"); deliver != object.end()) {
            onDeliver(client, *deliver);
            return true;
        }
        send(client, json{{"error", "unknown request"}});
        return true;
    }

    // A message smbd took in, handed over by lanquill-deliver.
    void onDeliver(SessionClient& client, const json& request) {
        const auto field = [&](const char* name) {
            const auto it = request.find(name);
            return it != request.end() && it->is_string() ? it->get<std::string>() : "";
        };
        if (!client.deliverer || !request.is_object()) {
            send(client, json{{"error", "not allowed to deliver"}});
            return;
        }
        const auto sender = protocol::parseIpv4(field("address"));
        const std::string body = field("text");
        if (!sender) {
            send(client, json{{"error", "bad address"}});
            return;
        }
        if (!admissible(*sender, body.size())) {
            send(client, json{{"error", "refused"}});
            return;
        }
        // smbd hands the called name in lower case; the text already in UTF-8.
        const std::string to = oem::upperAscii(field("to"));
        const std::string from = oem::upperAscii(field("from"));
        Message message;
        message.kind = "direct";
        message.from = from;
        message.address = field("address");
        message.user = userFor(oem::fromUtf8(to).value_or("")).value_or("");
        message.to = message.user.empty() ? nameText(config.computer) : to;
        message.text = oem::isUtf8(body) ? body : oem::toUtf8Lossy(body);
        if (accept(message))
            send(client, json{{"stored", 1}});
        else
            send(client, json{{"error", "spool full or not writable"}});
    }

    // --- the loop ---

    void start() {
        epoll = ::epoll_create1(EPOLL_CLOEXEC);
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGTERM);
        sigaddset(&set, SIGINT);
        sigprocmask(SIG_BLOCK, &set, nullptr);
        std::signal(SIGPIPE, SIG_IGN);
        signals = ::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
        watch(signals, EPOLLIN, [this](std::uint32_t) { stopping = true; });
        if (const passwd* guest = ::getpwnam("nobody"))
            guestUid = guest->pw_uid;

        for (const int fd : {config.nameSocket, config.datagramSocket}) {
            const int on = 1;
            ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
            ::setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
            setNonBlocking(fd);
        }
        watch(config.nameSocket, EPOLLIN,
              [this](std::uint32_t) { readDatagrams(config.nameSocket, true); });
        watch(config.datagramSocket, EPOLLIN,
              [this](std::uint32_t) { readDatagrams(config.datagramSocket, false); });
        if (config.sessionSocket >= 0) {
            setNonBlocking(config.sessionSocket);
            watch(config.sessionSocket, EPOLLIN, [this](std::uint32_t) { acceptConnections(); });
        } else {
            log(Priority::Warning, "no session service on TCP 139 (" + config.no139Reason +
                                       "): receiving through smbd's message command and the "
                                       "datagram service; see lanquill-net receiver-config");
        }
        openSessionSocket();
        buildNames();
        for (const auto& owned : names)
            if (owned.answered)
                queueRegistration(owned.name, owned.suffix, owned.group);
        spool.expire();
        log(Priority::Info, "receiving as " + nameText(config.computer) + " in workgroup " +
                                nameText(config.workgroup));
    }

    void stop() {
        for (const auto& user : connectedUsers())
            release(user, netbios::Messenger, false);
        for (const auto& owned : names)
            if (owned.answered && !owned.lost)
                release(owned.name, owned.suffix, owned.group);
        log(Priority::Info, "names released, stopping");
    }

    int run() {
        start();
        auto lastSweep = Clock::now();
        while (!stopping) {
            epoll_event events[64];
            const int timeout = registrations.empty() ? 1000 : 50;
            const int n = ::epoll_wait(epoll, events, 64, timeout);
            for (int i = 0; i < n; ++i) {
                const auto handler = handlers.find(events[i].data.fd);
                if (handler != handlers.end()) {
                    auto call = handler->second; // the handler may remove itself
                    call(events[i].events);
                }
            }
            registrationTick();
            const auto now = Clock::now();
            if (now - lastSweep >= seconds(1)) {
                lastSweep = now;
                closeIdleConnections();
            }
        }
        stop();
        const auto path = config.runtimeFolder / "session.sock";
        ::unlink(path.c_str());
        return 0;
    }
};

Daemon::Daemon(Config config) : impl_(std::make_unique<Impl>(std::move(config))) {}
Daemon::~Daemon() = default;
int Daemon::run() {
    return impl_->run();
}

} // namespace lanquill::daemon
