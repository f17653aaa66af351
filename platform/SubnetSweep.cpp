#include "platform/SubnetSweep.h"

#include "platform/NetBios.h"
#include "platform/OemCodePage.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <sys/socket.h>
#include <unistd.h>

namespace lanquill::platform {

namespace {

std::uint32_t toHost(const Ipv4& a) {
    return (std::uint32_t{a[0]} << 24) | (std::uint32_t{a[1]} << 16) | (std::uint32_t{a[2]} << 8) |
           std::uint32_t{a[3]};
}

Ipv4 fromHost(std::uint32_t v) {
    return {static_cast<std::uint8_t>(v >> 24), static_cast<std::uint8_t>(v >> 16),
            static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
}

std::uint32_t maskOf(int prefix) {
    return prefix <= 0 ? 0 : ~std::uint32_t{0} << (32 - prefix);
}

int prefixOf(std::uint32_t mask) {
    int bits = 0;
    while (bits < 32 && (mask & (std::uint32_t{1} << (31 - bits))) != 0)
        ++bits;
    return bits;
}

class UdpSocket {
public:
    UdpSocket() : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0)) {}
    ~UdpSocket() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;
    int fd() const { return fd_; }

private:
    int fd_;
};

// The OEM name as UTF-8; names that do not decode are left out rather than shown garbled.
bool nameToUtf8(const std::string& oemName, std::string& out) {
    if (oemName.empty())
        return false;
    auto text = oem::toUtf8(oemName);
    if (!text || text->empty())
        return false;
    out = std::move(*text);
    return true;
}

void takeAnswer(std::span<const std::uint8_t> packet, std::uint16_t id, Neighbourhood& found) {
    const auto status = netbios::parseNodeStatusResponse(packet, id);
    if (!status)
        return;
    const std::string computer = netbios::firstUniqueName(*status, {netbios::Workstation});
    std::string group;
    for (const auto& entry : status->names) {
        if (entry.group && entry.suffix == netbios::Workstation && !entry.name.empty()) {
            group = entry.name;
            break;
        }
    }
    std::string computerText;
    std::string groupText;
    if (!nameToUtf8(computer, computerText) || !nameToUtf8(group, groupText))
        return;
    found[groupText].insert(computerText);
}

// Reads every datagram waiting on the socket.
void drain(int fd, const std::set<std::uint32_t>& asked, std::uint16_t id, Neighbourhood& found) {
    // Larger than any node-status reply with a full name table; longer datagrams are cut and
    // then fail to parse.
    std::array<std::uint8_t, 1500> buffer{};
    for (;;) {
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        const ssize_t n = ::recvfrom(fd, buffer.data(), buffer.size(), MSG_TRUNC,
                                     reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return; // EAGAIN: nothing more waiting; other errors: stop reading this round
        }
        if (static_cast<std::size_t>(n) > buffer.size())
            continue; // truncated: not a reply we can trust
        if (fromLength < sizeof from || from.sin_family != AF_INET ||
            !asked.contains(ntohl(from.sin_addr.s_addr)))
            continue;
        takeAnswer(std::span<const std::uint8_t>(buffer.data(), static_cast<std::size_t>(n)), id,
                   found);
    }
}

// Reads what comes until `until`.
void listen(int fd, std::chrono::steady_clock::time_point until,
            const std::set<std::uint32_t>& asked, std::uint16_t id, Neighbourhood& found) {
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(
            until - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return;
        // ppoll: the pace between sends is below poll()'s millisecond resolution.
        const timespec wait{static_cast<time_t>(left.count() / 1000000000),
                            static_cast<long>(left.count() % 1000000000)};
        pollfd p{fd, POLLIN, 0};
        const int ready = ::ppoll(&p, 1, &wait, nullptr);
        if (ready > 0)
            drain(fd, asked, id, found);
        else if (ready < 0 && errno != EINTR)
            return;
    }
}

} // namespace

std::vector<Subnet> onLinkSubnets() {
    std::vector<Subnet> subnets;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return subnets;
    for (ifaddrs* i = list; i != nullptr; i = i->ifa_next) {
        if (i->ifa_addr == nullptr || i->ifa_netmask == nullptr ||
            i->ifa_addr->sa_family != AF_INET)
            continue;
        if ((i->ifa_flags & IFF_UP) == 0 || (i->ifa_flags & IFF_LOOPBACK) != 0)
            continue;
        sockaddr_in address{};
        sockaddr_in mask{};
        std::memcpy(&address, i->ifa_addr, sizeof address);
        std::memcpy(&mask, i->ifa_netmask, sizeof mask);
        const Subnet subnet{fromHost(ntohl(address.sin_addr.s_addr)),
                            prefixOf(ntohl(mask.sin_addr.s_addr))};
        // Two addresses on one net would sweep it twice.
        const bool known = std::any_of(subnets.begin(), subnets.end(), [&](const Subnet& s) {
            const std::uint32_t m = maskOf(std::min(s.prefixLength, subnet.prefixLength));
            return s.prefixLength == subnet.prefixLength &&
                   (toHost(s.address) & m) == (toHost(subnet.address) & m);
        });
        if (!known)
            subnets.push_back(subnet);
    }
    ::freeifaddrs(list);
    return subnets;
}

std::vector<Ipv4> sweepTargets(const Subnet& subnet) {
    const int prefix = std::clamp(subnet.prefixLength, NarrowestSweepPrefix, 32);
    const std::uint32_t mask = maskOf(prefix);
    const std::uint32_t network = toHost(subnet.address) & mask;
    const std::uint32_t last = network | ~mask;
    std::vector<Ipv4> targets;
    if (prefix >= 31) {
        for (std::uint64_t a = network; a <= last; ++a)
            targets.push_back(fromHost(static_cast<std::uint32_t>(a)));
        return targets;
    }
    targets.reserve(last - network - 1);
    for (std::uint32_t a = network + 1; a < last; ++a)
        targets.push_back(fromHost(a));
    return targets;
}

Neighbourhood sweepNodeStatus(const std::vector<Ipv4>& targets, const SweepOptions& options) {
    Neighbourhood found;
    if (targets.empty())
        return found;
    UdpSocket socket;
    if (socket.fd() < 0)
        return found;
    // A fresh id per sweep, so that late answers to an earlier sweep are not taken for ours.
    std::random_device random;
    const auto id = static_cast<std::uint16_t>(random());
    const netbios::Bytes request = netbios::nodeStatusRequest(id);
    std::set<std::uint32_t> asked;
    for (const Ipv4& target : targets)
        asked.insert(toHost(target));

    // Sends keep to a fixed schedule, so that the time spent reading answers between them does
    // not add up over a whole subnet.
    const auto start = std::chrono::steady_clock::now();
    std::size_t sent = 0;
    for (const Ipv4& target : targets) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(options.port);
        to.sin_addr.s_addr = htonl(toHost(target));
        for (int attempt = 0; attempt < 2; ++attempt) {
            const ssize_t rc = ::sendto(socket.fd(), request.data(), request.size(), 0,
                                        reinterpret_cast<const sockaddr*>(&to), sizeof to);
            if (rc >= 0 || (errno != EAGAIN && errno != ENOBUFS && errno != EINTR))
                break; // sent, or the host cannot be reached: go on with the next one
            pollfd p{socket.fd(), POLLOUT, 0};
            ::poll(&p, 1, 10);
        }
        // The pause between sends doubles as time to read what has come already.
        ++sent;
        listen(socket.fd(), start + options.pace * sent, asked, id, found);
    }
    listen(socket.fd(), std::chrono::steady_clock::now() + options.collect, asked, id, found);
    return found;
}

} // namespace lanquill::platform
