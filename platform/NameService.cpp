#include "platform/NameService.h"

#include "platform/Pending.h"

#include "platform/Interfaces.h"
#include "platform/UdpSocket.h"
#include "platform/WinsServer.h"
#include "protocol/Addresses.h"
#include "protocol/OemCodePage.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <ifaddrs.h>
#include <mutex>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <ranges>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace lanquill::platform {

namespace netbios = protocol::netbios;
namespace oem = protocol::oem;

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// How long the system resolver may take; NetBIOS is asked at the same time and may answer
// until its last try has had its wait.
constexpr milliseconds SystemResolverWait{1000};
constexpr milliseconds ReverseResolverWait{750};
constexpr milliseconds NodeStatusWait{750};
constexpr int NameQueryTries = 3;
constexpr milliseconds NameQueryInterval{500};
// A LAN answers within milliseconds; the last try waits a little less than the others, so that a
// whole lookup, process start included, gives up within a second and a half.
constexpr milliseconds LastTryWait{440};
// With a WINS server (node type H) the server is asked first, twice 250 ms apart, and the first
// of the broadcast tries goes out when its time comes, or as soon as the server has said it
// knows none of the names still open. The same bound of a second and a half holds.
constexpr milliseconds ServerQueryInterval{250};
constexpr int ServerQueryTries = 2;

std::optional<HostEntry> systemHostByName(const std::string& name) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_CANONNAME;
    addrinfo* list = nullptr;
    if (getaddrinfo(name.c_str(), nullptr, &hints, &list) != 0 || list == nullptr)
        return std::nullopt;
    HostEntry entry;
    entry.officialName = list->ai_canonname ? list->ai_canonname : name;
    for (const addrinfo* item = list; item; item = item->ai_next) {
        if (item->ai_family != AF_INET || item->ai_addrlen < sizeof(sockaddr_in))
            continue;
        sockaddr_in address{};
        std::memcpy(&address, item->ai_addr, sizeof address);
        Ipv4 bytes{};
        std::memcpy(bytes.data(), &address.sin_addr.s_addr, 4);
        if (std::find(entry.addresses.begin(), entry.addresses.end(), bytes) ==
            entry.addresses.end())
            entry.addresses.push_back(bytes);
    }
    freeaddrinfo(list);
    if (entry.addresses.empty())
        return std::nullopt;
    return entry;
}

std::optional<std::string> systemHostByAddress(const Ipv4& address) {
    sockaddr_in socketAddress{};
    socketAddress.sin_family = AF_INET;
    std::memcpy(&socketAddress.sin_addr.s_addr, address.data(), 4);
    char host[NI_MAXHOST] = {};
    if (getnameinfo(reinterpret_cast<const sockaddr*>(&socketAddress), sizeof socketAddress, host,
                    sizeof host, nullptr, 0, NI_NAMEREQD) != 0)
        return std::nullopt;
    return std::string(host);
}

// The system resolver's answers for a batch of names, one helper thread per name. The resolver
// cannot be interrupted, so a thread may outlive the wait: it shares this with the waiting side.
struct SystemAnswers {
    explicit SystemAnswers(std::size_t count) : entries(count), finished(count, false) {}
    std::mutex mutex;
    std::vector<std::optional<HostEntry>> entries;
    std::vector<bool> finished;
};

std::shared_ptr<SystemAnswers> askSystemResolver(const std::vector<std::string>& names,
                                                 const std::vector<bool>& valid) {
    auto answers = std::make_shared<SystemAnswers>(names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (!valid[i]) {
            answers->finished[i] = true;
            continue;
        }
        try {
            std::thread([answers, i, name = names[i]] {
                auto entry = systemHostByName(name);
                const std::lock_guard lock(answers->mutex);
                answers->entries[i] = std::move(entry);
                answers->finished[i] = true;
            }).detach();
        } catch (const std::system_error&) {
            const std::lock_guard lock(answers->mutex);
            answers->finished[i] = true;
        }
    }
    return answers;
}

// The transaction id a name service packet carries; nullopt for a packet too short for one.
std::optional<std::uint16_t> transactionIdOf(std::span<const std::uint8_t> packet) {
    if (packet.size() < 2)
        return std::nullopt;
    return static_cast<std::uint16_t>(packet[0] << 8 | packet[1]);
}

} // namespace

std::vector<std::optional<HostEntry>> resolveNames(const std::vector<std::string>& names,
                                                   const std::optional<Ipv4>& winsServer,
                                                   bool broadcast) {
    const std::size_t count = names.size();
    std::vector<std::optional<HostEntry>> resolved(count);
    std::vector<bool> valid(count), decided(count, false), systemDone(count, false);
    for (std::size_t i = 0; i < count; ++i)
        valid[i] = !names[i].empty() && names[i].find('\0') == std::string::npos;
    const auto start = Clock::now();
    const auto system = askSystemResolver(names, valid);

    // One broadcast NAME QUERY per name and interface per try, each name with its own
    // transaction id, all from one socket; answers are told apart by that id.
    // With a WINS server, the same name is asked of it by unicast under the same id, without
    // the broadcast flag.
    struct Query {
        std::size_t index;
        std::uint16_t id;
        protocol::Bytes request;
        protocol::Bytes serverRequest;
        bool serverSaidNo = false;
    };
    std::vector<Query> queries;
    const auto broadcasts = broadcastAddresses();
    const auto targets = broadcast ? broadcasts : std::vector<Ipv4>{};
    UdpSocket socket;
    const bool canBroadcast = !targets.empty();
    if ((canBroadcast || winsServer) && socket.open() &&
        (!canBroadcast || socket.allowBroadcast())) {
        for (std::size_t i = 0; i < count; ++i) {
            const auto oemName = valid[i] ? netbios::netbiosName(names[i]) : std::nullopt;
            const std::uint16_t id = nextTransactionId();
            auto request = oemName ? netbios::nameQueryRequest(id, *oemName, netbios::Workstation)
                                   : std::nullopt;
            if (!request)
                continue;
            auto serverRequest = winsServer
                                     ? netbios::nameQueryRequest(id, *oemName, netbios::Workstation,
                                                                 netbios::NameServerQueryFlags)
                                     : std::nullopt;
            queries.push_back(
                {i, id, std::move(*request), serverRequest.value_or(protocol::Bytes{})});
        }
    }
    std::vector<bool> askedNetbios(count, false);
    for (const Query& query : queries)
        askedNetbios[query.index] = true;

    const auto systemDeadline = start + SystemResolverWait;
    auto lastDeadline = start + (NameQueryTries - 1) * NameQueryInterval + LastTryWait;
    // Broadcast tries: three from the start (B node), or two after the server's turn (H node).
    const int broadcastTries = !canBroadcast ? 0 : winsServer ? NameQueryTries - 1 : NameQueryTries;
    auto nextTry = winsServer ? start + NameQueryInterval : start;
    int tries = 0;
    auto nextServerTry = start;
    int serverTries = winsServer ? 0 : ServerQueryTries;
    std::vector<std::uint8_t> buffer(netbios::MaxDatagramLength);
    for (;;) {
        const auto now = Clock::now();
        {
            // The system resolver's answer is taken first: of two answers in hand, it wins.
            const std::lock_guard lock(system->mutex);
            for (std::size_t i = 0; i < count; ++i) {
                if (decided[i] || systemDone[i])
                    continue;
                if (system->finished[i] && system->entries[i]) {
                    resolved[i] = std::move(system->entries[i]);
                    decided[i] = true;
                }
                systemDone[i] = system->finished[i] || now >= systemDeadline;
            }
        }
        const bool netbiosOver =
            tries == broadcastTries && serverTries == ServerQueryTries && now >= lastDeadline;
        bool allSettled = true;
        for (std::size_t i = 0; i < count && allSettled; ++i)
            allSettled = decided[i] || (systemDone[i] && (!askedNetbios[i] || netbiosOver));
        if (allSettled || now >= std::max(lastDeadline, systemDeadline))
            break;
        if (serverTries < ServerQueryTries && now >= nextServerTry) {
            for (const Query& query : queries)
                if (!decided[query.index] && !query.serverSaidNo)
                    socket.sendTo(*winsServer, netbios::NameServicePort, query.serverRequest);
            ++serverTries;
            nextServerTry += ServerQueryInterval;
        }
        // The server has said no to every name still open: no need to wait for its turn to end.
        if (winsServer && tries == 0 && !queries.empty() &&
            std::ranges::all_of(queries, [&](const Query& query) {
                return decided[query.index] || query.serverSaidNo;
            }))
            nextTry = std::min(nextTry, now);
        if (tries < broadcastTries && now >= nextTry) {
            for (const Query& query : queries)
                if (!decided[query.index])
                    for (const auto& target : targets)
                        socket.sendTo(target, netbios::NameServicePort, query.request);
            ++tries;
            nextTry += NameQueryInterval;
            if (tries == broadcastTries)
                lastDeadline = std::min(lastDeadline, now + LastTryWait);
        }
        // Short slices, so that a system resolver answer ends the wait soon after it comes.
        const auto sliceEnd =
            std::min({now + milliseconds(10), tries < broadcastTries ? nextTry : lastDeadline,
                      std::max(lastDeadline, systemDeadline)});
        while (auto received =
                   socket.isOpen() ? socket.receiveUntil(sliceEnd, buffer) : std::nullopt) {
            const auto packet = std::span<const std::uint8_t>(buffer).first(received->length);
            const auto id = transactionIdOf(packet);
            if (!id)
                continue;
            const auto query = std::ranges::find(queries, *id, &Query::id);
            if (query == queries.end() || decided[query->index])
                continue;
            if (winsServer && received->from == *winsServer) {
                const auto answer = netbios::parseNamePacket(packet);
                if (answer && answer->response && answer->opcode == netbios::NameOpcode::Query &&
                    answer->rcode != 0)
                    query->serverSaidNo = true;
            }
            auto addresses = netbios::parseNameQueryResponse(packet, *id);
            if (!addresses)
                continue;
            // An answer pointing at loopback, nowhere or a broadcast would send the message
            // there: such addresses are dropped, and an answer left without any is no answer.
            std::erase_if(*addresses, [&](const Ipv4& address) {
                return !protocol::isHostAddress(address) ||
                       std::find(broadcasts.begin(), broadcasts.end(), address) != broadcasts.end();
            });
            if (addresses->empty())
                continue;
            resolved[query->index] = HostEntry{names[query->index], std::move(*addresses)};
            decided[query->index] = true;
        }
        if (!socket.isOpen())
            std::this_thread::sleep_until(sliceEnd);
    }
    return resolved;
}

std::optional<netbios::NodeStatus> queryNodeStatus(const Ipv4& address, milliseconds wait) {
    UdpSocket socket;
    if (!socket.open())
        return std::nullopt;
    const std::uint16_t id = nextTransactionId();
    if (!socket.sendTo(address, netbios::NameServicePort, netbios::nodeStatusRequest(id)))
        return std::nullopt;
    const auto deadline = Clock::now() + wait;
    std::vector<std::uint8_t> buffer(netbios::MaxDatagramLength);
    while (auto received = socket.receiveUntil(deadline, buffer)) {
        if (received->from != address)
            continue;
        if (auto status = netbios::parseNodeStatusResponse(
                std::span<const std::uint8_t>(buffer).first(received->length), id))
            return status;
    }
    return std::nullopt;
}

std::string ownNetbiosName() {
    char host[256] = {};
    std::string name;
    if (gethostname(host, sizeof host - 1) == 0)
        name = host;
    return netbios::hostNameToNetbiosName(name).value_or("LANQUILL");
}

RealResolver::RealResolver() : RealResolver(configuredWinsServer()) {}

std::optional<HostEntry> RealResolver::hostByName(const std::string& name) {
    return resolveNames({name}, winsServer_, broadcast_).front();
}

std::vector<std::optional<HostEntry>>
RealResolver::hostsByName(const std::vector<std::string>& names) {
    return resolveNames(names, winsServer_, broadcast_);
}

std::optional<HostEntry> RealResolver::hostByAddress(const Ipv4& address) {
    // Both asked at once; the system resolver's name wins when it has one in its time.
    const auto start = Clock::now();
    // The resolver call cannot be interrupted: given up, it finishes on its own.
    const auto system = std::make_shared<Pending<std::string>>();
    runDetached(system, [address](Pending<std::string>& name) {
        name.deliver(systemHostByAddress(address));
    });
    const auto status = queryNodeStatus(address, NodeStatusWait);
    if (auto host = system->waitUntil(start + ReverseResolverWait))
        return HostEntry{*host, {address}};
    if (!status)
        return std::nullopt;
    const auto name = netbios::firstUniqueName(*status, {netbios::Workstation});
    if (name.empty())
        return std::nullopt;
    return HostEntry{oem::toUtf8Lossy(name), {address}};
}

} // namespace lanquill::platform
