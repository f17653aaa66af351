#include "platform/SubnetSweep.h"

#include "platform/Interfaces.h"
#include "platform/UdpSocket.h"
#include "protocol/NetBios.h"
#include "protocol/OemCodePage.h"

#include <algorithm>
#include <memory>
#include <span>

namespace lanquill::platform {

namespace netbios = protocol::netbios;
namespace oem = protocol::oem;

namespace {

constexpr std::size_t TargetsPerSocket = 128;

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

void takeAnswer(std::span<const std::uint8_t> packet, std::uint16_t id, Neighbourhood& found) {
    const auto status = netbios::parseNodeStatusResponse(packet, id);
    if (!status)
        return;
    const std::string computer = netbios::firstUniqueName(*status, {netbios::Workstation});
    std::string group;
    for (const auto& entry : status->names) {
        if (entry.group && entry.suffix == netbios::Workstation && !entry.name.empty() &&
            group.empty())
            group = entry.name;
        if (!entry.group && (entry.suffix == netbios::MasterBrowser ||
                             entry.suffix == netbios::DomainMasterBrowser))
            found.masterBrowserAnswered = true;
    }
    if (computer.empty() || group.empty())
        return;
    found.workgroups[oem::toUtf8Lossy(group)].insert(oem::toUtf8Lossy(computer));
}

// Reads what comes to any of `sockets` until `until`; false when `stop` ended it first.
bool listen(std::span<UdpSocket> sockets, UdpSocket::Clock::time_point until,
            const std::set<std::uint32_t>& asked, std::uint16_t id,
            const std::function<bool()>& stop, Neighbourhood& found) {
    // How long an answer that makes the sweep needless may wait to be noticed.
    constexpr auto StopCheck = std::chrono::milliseconds(10);
    // Larger than any node-status reply with a full name table.
    std::vector<std::uint8_t> buffer(netbios::MaxDatagramLength);
    for (;;) {
        for (UdpSocket& socket : sockets)
            while (auto received = socket.receiveNow(buffer)) {
                if (asked.contains(toHost(received->from)))
                    takeAnswer(std::span<const std::uint8_t>(buffer).first(received->length), id,
                               found);
            }
        if (stop && stop())
            return false;
        const auto now = UdpSocket::Clock::now();
        if (now >= until)
            return true;
        UdpSocket::waitAnyReadable(sockets, stop ? std::min(until, now + StopCheck) : until);
    }
}

} // namespace

std::vector<Subnet> onLinkSubnets() {
    std::vector<Subnet> subnets;
    for (const auto& entry : upInterfaces()) {
        const Subnet subnet{entry.address, entry.prefixLength};
        // Two addresses on one net would sweep it twice.
        const bool known = std::any_of(subnets.begin(), subnets.end(), [&](const Subnet& s) {
            const std::uint32_t m = maskOf(std::min(s.prefixLength, subnet.prefixLength));
            return s.prefixLength == subnet.prefixLength &&
                   (toHost(s.address) & m) == (toHost(subnet.address) & m);
        });
        if (!known)
            subnets.push_back(subnet);
    }
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

std::optional<Neighbourhood> sweepNodeStatus(const std::vector<Ipv4>& targets,
                                             const SweepOptions& options) {
    Neighbourhood found;
    if (targets.empty())
        return found;
    // A datagram to a host whose hardware address is not known yet waits in the kernel's
    // neighbour queue, charged to the sending socket, until the host answers ARP or is given up
    // (about 3 s for an address nobody has). One socket's send buffer holds a couple of hundred
    // such datagrams; past that each send would wait for absent hosts to be given up. So every
    // socket sends to a share of the targets small enough for its buffer.
    const std::size_t socketCount = (targets.size() + TargetsPerSocket - 1) / TargetsPerSocket;
    const auto sockets = std::make_unique<UdpSocket[]>(socketCount);
    const std::span<UdpSocket> all(sockets.get(), socketCount);
    for (UdpSocket& socket : all)
        if (!socket.open())
            return found;
    // A fresh id per sweep, so that late answers to an earlier sweep are not taken for ours.
    const std::uint16_t id = nextTransactionId();
    const protocol::Bytes request = netbios::nodeStatusRequest(id);
    std::set<std::uint32_t> asked;
    for (const Ipv4& target : targets)
        asked.insert(toHost(target));

    // Sends keep to a fixed schedule, so that the time spent reading answers between them does
    // not add up over a whole subnet.
    const auto start = UdpSocket::Clock::now();
    std::size_t sent = 0;
    for (const Ipv4& target : targets) {
        // A host that cannot be reached does not stop the sweep.
        all[sent / TargetsPerSocket].sendTo(target, options.port, request);
        // The pause between sends doubles as time to read what has come already.
        ++sent;
        if (!listen(all, start + options.pace * sent, asked, id, options.stop, found))
            return std::nullopt;
    }
    if (!listen(all, UdpSocket::Clock::now() + options.collect, asked, id, options.stop, found))
        return std::nullopt;
    return found;
}
} // namespace lanquill::platform
