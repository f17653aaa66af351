#include "platform/NameService.h"

#include "platform/Interfaces.h"
#include "platform/UdpSocket.h"
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
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace lanquill::platform {

namespace netbios = protocol::netbios;
namespace oem = protocol::oem;

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// How long the system resolver may take before NetBIOS gets its turn.
constexpr milliseconds SystemResolverWait{1000};
constexpr milliseconds ReverseResolverWait{750};
constexpr milliseconds NodeStatusWait{750};
constexpr int NameQueryTries = 3;
constexpr milliseconds NameQueryInterval{500};

// Runs `work` on a helper thread and waits at most `limit` for its result. The resolver calls
// cannot be interrupted; on timeout the thread is left to finish on its own, owning its state.
template <typename Result, typename Work>
std::optional<Result> bounded(milliseconds limit, Work work) {
    struct State {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
        std::optional<Result> result;
    };
    auto state = std::make_shared<State>();
    try {
        std::thread([state, work = std::move(work)]() mutable {
            auto result = work();
            const std::lock_guard lock(state->mutex);
            state->result = std::move(result);
            state->finished = true;
            state->done.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        return std::nullopt;
    }
    std::unique_lock lock(state->mutex);
    if (!state->done.wait_for(lock, limit, [&] { return state->finished; }))
        return std::nullopt;
    return std::move(state->result);
}

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

} // namespace

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

std::optional<std::vector<Ipv4>> broadcastNameQuery(const std::string& oemName, std::uint8_t suffix,
                                                    int tries, milliseconds interval) {
    const std::uint16_t id = nextTransactionId();
    const auto request = netbios::nameQueryRequest(id, oemName, suffix);
    const auto targets = broadcastAddresses();
    UdpSocket socket;
    if (!request || targets.empty() || !socket.open() || !socket.allowBroadcast())
        return std::nullopt;
    std::vector<std::uint8_t> buffer(netbios::MaxDatagramLength);
    for (int attempt = 0; attempt < tries; ++attempt) {
        for (const auto& target : targets)
            socket.sendTo(target, netbios::NameServicePort, *request);
        const auto deadline = Clock::now() + interval;
        while (auto received = socket.receiveUntil(deadline, buffer)) {
            auto addresses = netbios::parseNameQueryResponse(
                std::span<const std::uint8_t>(buffer).first(received->length), id);
            if (!addresses)
                continue;
            // An answer pointing at loopback, nowhere or a broadcast would send the message
            // there: such addresses are dropped, and an answer left without any is no answer.
            std::erase_if(*addresses, [&](const Ipv4& address) {
                return !protocol::isHostAddress(address) ||
                       std::find(targets.begin(), targets.end(), address) != targets.end();
            });
            if (!addresses->empty())
                return addresses;
        }
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

std::optional<HostEntry> RealResolver::hostByName(const std::string& name) {
    if (name.empty() || name.find('\0') != std::string::npos)
        return std::nullopt;
    if (auto entry =
            bounded<HostEntry>(SystemResolverWait, [name] { return systemHostByName(name); }))
        return entry;
    const auto oemName = netbios::netbiosName(name);
    if (!oemName)
        return std::nullopt;
    auto addresses =
        broadcastNameQuery(*oemName, netbios::Workstation, NameQueryTries, NameQueryInterval);
    if (!addresses)
        return std::nullopt;
    return HostEntry{name, std::move(*addresses)};
}

std::optional<HostEntry> RealResolver::hostByAddress(const Ipv4& address) {
    if (auto host = bounded<std::string>(ReverseResolverWait,
                                         [address] { return systemHostByAddress(address); }))
        return HostEntry{*host, {address}};
    const auto status = queryNodeStatus(address, NodeStatusWait);
    if (!status)
        return std::nullopt;
    const auto name = netbios::firstUniqueName(*status, {netbios::Workstation});
    if (name.empty())
        return std::nullopt;
    return HostEntry{oem::toUtf8Lossy(name), {address}};
}

} // namespace lanquill::platform
