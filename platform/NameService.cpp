#include "platform/NameService.h"

#include "platform/OemCodePage.h"

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

// Names from the wire are OEM; a name that does not convert keeps its ASCII part readable.
std::string nameToUtf8(const std::string& oemName) {
    if (auto utf8 = oem::toUtf8(oemName))
        return *utf8;
    std::string out;
    for (const char c : oemName)
        out += (static_cast<unsigned char>(c) < 0x80) ? c : '?';
    return out;
}

sockaddr_in socketAddress(const Ipv4& address, std::uint16_t port) {
    sockaddr_in out{};
    out.sin_family = AF_INET;
    out.sin_port = htons(port);
    std::memcpy(&out.sin_addr.s_addr, address.data(), 4);
    return out;
}

} // namespace

UdpSocket::~UdpSocket() {
    if (fd_ >= 0)
        ::close(fd_);
}

bool UdpSocket::open(std::uint16_t port) {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd_ < 0)
        return false;
    const sockaddr_in local = socketAddress({0, 0, 0, 0}, port);
    if (::bind(fd_, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0)
        return true;
    ::close(fd_);
    fd_ = -1;
    return false;
}

std::uint16_t UdpSocket::localPort() const {
    sockaddr_in local{};
    socklen_t length = sizeof local;
    if (fd_ < 0 || ::getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &length) != 0)
        return 0;
    return ntohs(local.sin_port);
}

bool UdpSocket::allowBroadcast() {
    const int on = 1;
    return ::setsockopt(fd_, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) == 0;
}

bool UdpSocket::sendTo(const Ipv4& address, std::uint16_t port,
                       std::span<const std::uint8_t> data) {
    const sockaddr_in target = socketAddress(address, port);
    const ssize_t sent = ::sendto(fd_, data.data(), data.size(), 0,
                                  reinterpret_cast<const sockaddr*>(&target), sizeof target);
    return sent >= 0 && static_cast<std::size_t>(sent) == data.size();
}

std::optional<UdpSocket::Received> UdpSocket::receiveUntil(Clock::time_point deadline,
                                                           std::span<std::uint8_t> buffer) {
    for (;;) {
        const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
        if (left <= 0 || fd_ < 0)
            return std::nullopt;
        pollfd waiting{fd_, POLLIN, 0};
        const int ready = ::poll(&waiting, 1, static_cast<int>(left));
        if (ready < 0 && errno != EINTR)
            return std::nullopt;
        if (ready <= 0)
            continue;
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        const ssize_t length = ::recvfrom(fd_, buffer.data(), buffer.size(), MSG_TRUNC,
                                          reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (length < 0 || static_cast<std::size_t>(length) > buffer.size())
            continue;
        Received received;
        received.length = static_cast<std::size_t>(length);
        std::memcpy(received.from.data(), &from.sin_addr.s_addr, 4);
        received.port = ntohs(from.sin_port);
        return received;
    }
}

std::vector<BroadcastInterface> broadcastInterfaces() {
    std::vector<BroadcastInterface> result;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return result;
    for (const ifaddrs* item = list; item; item = item->ifa_next) {
        if (!item->ifa_addr || item->ifa_addr->sa_family != AF_INET ||
            !(item->ifa_flags & IFF_UP) || (item->ifa_flags & IFF_LOOPBACK) ||
            !(item->ifa_flags & IFF_BROADCAST) || !item->ifa_broadaddr)
            continue;
        sockaddr_in local{};
        sockaddr_in broadcast{};
        std::memcpy(&local, item->ifa_addr, sizeof local);
        std::memcpy(&broadcast, item->ifa_broadaddr, sizeof broadcast);
        BroadcastInterface entry;
        std::memcpy(entry.address.data(), &local.sin_addr.s_addr, 4);
        std::memcpy(entry.broadcast.data(), &broadcast.sin_addr.s_addr, 4);
        result.push_back(entry);
    }
    freeifaddrs(list);
    return result;
}

std::vector<Ipv4> broadcastAddresses() {
    std::vector<Ipv4> result;
    for (const auto& entry : broadcastInterfaces())
        if (std::find(result.begin(), result.end(), entry.broadcast) == result.end())
            result.push_back(entry.broadcast);
    return result;
}

std::uint16_t nextTransactionId() {
    static std::mutex mutex;
    static std::uint16_t next = [] {
        std::random_device seed;
        return static_cast<std::uint16_t>(seed());
    }();
    const std::lock_guard lock(mutex);
    return next++;
}

std::optional<netbios::NodeStatus> queryNodeStatus(const Ipv4& address, milliseconds wait) {
    UdpSocket socket;
    if (!socket.open())
        return std::nullopt;
    const std::uint16_t id = nextTransactionId();
    if (!socket.sendTo(address, netbios::NameServicePort, netbios::nodeStatusRequest(id)))
        return std::nullopt;
    const auto deadline = Clock::now() + wait;
    std::array<std::uint8_t, 1500> buffer{};
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
    std::array<std::uint8_t, 1500> buffer{};
    for (int attempt = 0; attempt < tries; ++attempt) {
        for (const auto& target : targets)
            socket.sendTo(target, netbios::NameServicePort, *request);
        const auto deadline = Clock::now() + interval;
        while (auto received = socket.receiveUntil(deadline, buffer)) {
            if (auto addresses = netbios::parseNameQueryResponse(
                    std::span<const std::uint8_t>(buffer).first(received->length), id))
                return addresses;
        }
    }
    return std::nullopt;
}

std::optional<std::string> netbiosName(const std::string& name) {
    if (name.empty() || name.find_first_of(".*") != std::string::npos)
        return std::nullopt;
    for (const char c : name)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return std::nullopt;
    auto oemName = oem::fromUtf8(oem::upperAscii(name));
    if (!oemName || oemName->size() > netbios::MaxNameLength)
        return std::nullopt;
    return oemName;
}

std::string ownNetbiosName() {
    char host[256] = {};
    std::string name;
    if (gethostname(host, sizeof host - 1) == 0)
        name = host;
    name = name.substr(0, name.find('.'));
    auto oemName = oem::fromUtf8(oem::upperAscii(name));
    if (!oemName || oemName->empty())
        return "LANQUILL";
    oemName->resize(oem::characterBoundary(*oemName, netbios::MaxNameLength));
    return *oemName;
}

std::optional<HostEntry> RealResolver::hostByName(const std::string& name) {
    if (name.empty() || name.find('\0') != std::string::npos)
        return std::nullopt;
    if (auto entry =
            bounded<HostEntry>(SystemResolverWait, [name] { return systemHostByName(name); }))
        return entry;
    const auto oemName = netbiosName(name);
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
    return HostEntry{nameToUtf8(name), {address}};
}

} // namespace lanquill::platform
