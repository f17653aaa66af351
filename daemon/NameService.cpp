#include "daemon/NameService.h"

#include "daemon/Delivery.h"
#include "daemon/Log.h"
#include "protocol/Addresses.h"

#include <algorithm>
#include <array>

namespace lanquill::daemon {

namespace netbios = protocol::netbios;
using Arrived = platform::UdpSocket::Arrived;

namespace {
constexpr auto RegistrationInterval = std::chrono::milliseconds(250);
constexpr int RegistrationAttempts = 3;
constexpr std::size_t ReadsPerWake = 256;
} // namespace

NameService::NameService(EventLoop& loop, platform::UdpSocket& socket, LocalNetwork& network,
                         Admission& admission, const Users& users, Identity identity)
    : loop_(loop), socket_(socket), network_(network), admission_(admission), users_(users),
      logs_(loop, 10), identity_(std::move(identity)) {
    // A Windows workstation's table order: clients read the computer name first and the
    // logged-in user's <03> as the sixth entry.
    const bool own = identity_.ownsMachineNames;
    names_ = {{identity_.computer, netbios::Workstation, false, own, false},
              {identity_.workgroup, netbios::Workstation, true, own, false},
              {identity_.computer, netbios::FileServer, false, false, false},
              {identity_.workgroup, netbios::BrowserElection, true, false, false},
              {identity_.computer, netbios::Messenger, false, own, false}};
    if (identity_.winsServer) {
        wins_.emplace(loop_, socket_, network_, *identity_.winsServer);
        wins_->onRefused(
            [this](const std::string& name, std::uint8_t suffix) {
                markLost(name, suffix,
                         "name " + nameText(name) +
                             " is held by another computer, says the WINS server: not answering "
                             "for it",
                         LostTo::WinsServer);
            },
            [this](const std::string& name, std::uint8_t suffix) { markRegained(name, suffix); });
    }
}

void NameService::start() {
    for (const auto& owned : names_)
        if (owned.answered)
            queueRegistration(owned.name, owned.suffix, owned.group);
}

void NameService::stop() {
    for (const auto& user : users_.all())
        release(user, netbios::Messenger, false);
    for (const auto& owned : names_)
        if (owned.answered && !owned.lost)
            release(owned.name, owned.suffix, owned.group);
    if (wins_)
        wins_->stop();
    loop_.cancel(tick_);
    tick_ = 0;
}

void NameService::registerUser(const std::string& user) {
    queueRegistration(user, netbios::Messenger, false);
}

void NameService::releaseUser(const std::string& user) {
    lostUsers_.erase(user); // its next session registers it anew
    release(user, netbios::Messenger, false);
}

bool NameService::lost(const std::string& name, std::uint8_t suffix) const {
    return std::any_of(names_.begin(), names_.end(), [&](const OwnedName& owned) {
        return owned.lost && owned.name == name && owned.suffix == suffix;
    });
}

void NameService::send(const Ipv4& to, std::uint16_t port, std::span<const std::uint8_t> data,
                       const std::optional<Ipv4>& source) {
    if (!socket_.sendFrom(to, port, data, source))
        log(Priority::Debug, "send to " + protocol::formatIpv4(to) + " failed");
}

void NameService::onReadable() {
    socket_.receiveEachArrived(ReadsPerWake, [this](std::span<const std::uint8_t> data,
                                                    const platform::UdpSocket::Arrived& arrived) {
        onPacket(data, arrived);
    });
}

void NameService::onPacket(std::span<const std::uint8_t> data, const Arrived& from) {
    const auto packet = netbios::parseNamePacket(data);
    // Our own broadcasts (registrations, releases, queries) come back to us from our address and
    // port 137, as do those of an nmbd beside us: nothing there to answer or to defend against.
    // A question from another program on this machine (`lanquill-net status` of our own address,
    // the desktop's probe) comes from a port of its own and is answered as a neighbour's is.
    if (!packet || (network_.isOwnAddress(from.from) &&
                    (from.port == netbios::NameServicePort || packet->response ||
                     packet->opcode != netbios::NameOpcode::Query)))
        return;
    const platform::Interface* arrival = network_.arrival(from.interfaceIndex, from.localAddress);
    const bool fromServer = wins_ && from.from == wins_->server();
    if (packet->response) {
        if (fromServer && wins_->onResponse(*packet))
            return;
        if (packet->opcode == netbios::NameOpcode::Registration && packet->rcode != 0)
            onDefended(*packet, from.from);
        return;
    }
    // An answer is larger than its question: none goes to an off-link source, which may be forged
    // to aim our answers at somebody else. The WINS server is asked to be answered: its query is
    // the challenge that tells it we still hold a name.
    if (!admission_.mayAnswer(from.from) && !fromServer)
        return;
    if (packet->opcode == netbios::NameOpcode::Query && packet->nodeStatus)
        answerNodeStatus(*packet, from, arrival);
    else if (packet->opcode == netbios::NameOpcode::Query && arrival)
        answerQuery(*packet, from, arrival->address);
    else if (packet->opcode == netbios::NameOpcode::Registration && arrival)
        defend(*packet, from, arrival->address);
}

void NameService::answerNodeStatus(const netbios::NamePacket& packet, const Arrived& from,
                                   const platform::Interface* arrival) {
    if (!identity_.ownsMachineNames) // nmbd answers node status for the machine
        return;
    if (packet.name.name != "*" && packet.name.name != identity_.computer)
        return;
    std::vector<netbios::NodeName> table;
    for (const auto& owned : names_)
        if (!owned.lost)
            table.push_back({owned.name, owned.suffix, owned.group, 0});
    for (const auto& user : users_.all())
        if (!lostUsers_.contains(user))
            table.push_back({user, netbios::Messenger, false, 0});
    const auto reply = netbios::nodeStatusResponse(packet.transactionId, table,
                                                   arrival ? arrival->hardwareAddress
                                                           : std::array<std::uint8_t, 6>{});
    send(from.from, from.port, reply,
         arrival ? std::optional<Ipv4>(arrival->address) : std::nullopt);
}

void NameService::answerQuery(const netbios::NamePacket& packet, const Arrived& from,
                              const Ipv4& local) {
    if (const auto owned = answeredName(packet.name)) {
        if (const auto reply = netbios::positiveNameQueryResponse(
                packet.transactionId, owned->name, owned->suffix, owned->group, local))
            send(from.from, from.port, *reply, local);
    } else if (!packet.broadcast && !packet.name.name.empty()) {
        if (const auto reply = netbios::negativeNameQueryResponse(
                packet.transactionId, packet.name.name, packet.name.suffix))
            send(from.from, from.port, *reply, local);
    }
}

void NameService::defend(const netbios::NamePacket& packet, const Arrived& from,
                         const Ipv4& local) {
    const auto owned = answeredName(packet.name);
    if (!owned || owned->group || packet.group)
        return;
    if (packet.address && network_.isOwnAddress(*packet.address))
        return;
    logs_.log("name defences", Priority::Warning,
              "defending " + nameText(owned->name) + " against " + protocol::formatIpv4(from.from));
    if (const auto reply = netbios::negativeRegistrationResponse(packet.transactionId, owned->name,
                                                                 owned->suffix, local))
        send(from.from, from.port, *reply, local);
}

void NameService::onDefended(const netbios::NamePacket& packet, const Ipv4& defender) {
    for (const auto& pending : registrations_) {
        if (pending.transactionId != packet.transactionId)
            continue;
        markLost(pending.name, pending.suffix,
                 "name " + nameText(pending.name) + " is held by " +
                     protocol::formatIpv4(defender) + ": not answering for it",
                 LostTo::Broadcast);
    }
    std::erase_if(registrations_, [&](const PendingRegistration& pending) {
        return pending.transactionId == packet.transactionId;
    });
}

void NameService::markLost(const std::string& name, std::uint8_t suffix, const std::string& why,
                           LostTo lostTo) {
    log(Priority::Error, why);
    bool machineName = false;
    for (auto& owned : names_)
        if (owned.name == name && owned.suffix == suffix)
            machineName = owned.lost = true;
    if (!machineName && suffix == netbios::Messenger)
        lostUsers_.insert(name);
    // Defended on the subnet: given up. The WINS server asks again later by itself.
    if (lostTo == LostTo::Broadcast && wins_)
        wins_->releaseName(name, suffix);
    if (machineName && lost_)
        lost_(why);
}

void NameService::markRegained(const std::string& name, std::uint8_t suffix) {
    log(Priority::Notice, "the WINS server now grants " + nameText(name) + ": answering for it");
    lostUsers_.erase(name);
    bool machineName = false;
    for (auto& owned : names_)
        if (owned.name == name && owned.suffix == suffix) {
            machineName = true;
            owned.lost = false;
        }
    if (!machineName || !lost_)
        return;
    if (std::none_of(names_.begin(), names_.end(), [](const OwnedName& o) { return o.lost; }))
        lost_("");
}

// The name we answer for NAME<suffix>, if any: a machine name still ours, or a user's <03>.
std::optional<NameService::OwnedName>
NameService::answeredName(const netbios::DecodedName& asked) const {
    for (const auto& owned : names_)
        if (owned.answered && !owned.lost && owned.name == asked.name &&
            owned.suffix == asked.suffix)
            return owned;
    if (asked.suffix == netbios::Messenger && users_.connected(asked.name) &&
        !lostUsers_.contains(asked.name))
        return OwnedName{asked.name, netbios::Messenger, false, true, false};
    return std::nullopt;
}

void NameService::broadcast(
    const std::function<std::optional<protocol::Bytes>(const Ipv4&)>& build) {
    for (const auto& entry : network_.interfaces())
        if (entry.broadcast)
            if (const auto packet = build(entry.address))
                send(*entry.broadcast, netbios::NameServicePort, *packet, entry.address);
}

void NameService::queueRegistration(const std::string& name, std::uint8_t suffix, bool group) {
    // A WINS server keeps no members of a normal group: only unique names go there.
    if (wins_ && !group)
        wins_->registerName(name, suffix);
    registrations_.push_back({name, suffix, group, platform::nextTransactionId(), 0, loop_.now()});
    if (tick_ == 0)
        tick_ = loop_.at(loop_.now(), [this] { registrationTick(); });
}

void NameService::release(const std::string& name, std::uint8_t suffix, bool group) {
    std::erase_if(registrations_, [&](const PendingRegistration& pending) {
        return pending.name == name && pending.suffix == suffix;
    });
    if (wins_ && !group)
        wins_->releaseName(name, suffix);
    const auto id = platform::nextTransactionId();
    broadcast([&](const Ipv4& address) {
        return netbios::nameReleaseRequest(id, name, suffix, group, address);
    });
}

void NameService::registrationTick() {
    tick_ = 0;
    const auto now = loop_.now();
    for (auto& pending : registrations_) {
        if (pending.next > now || pending.sent >= RegistrationAttempts)
            continue;
        broadcast([&](const Ipv4& address) {
            return netbios::nameRegistrationRequest(pending.transactionId, pending.name,
                                                    pending.suffix, pending.group, address);
        });
        ++pending.sent;
        pending.next = now + RegistrationInterval;
    }
    // Three requests without a defence and the name is ours.
    std::erase_if(registrations_, [&](const PendingRegistration& pending) {
        return pending.sent >= RegistrationAttempts && pending.next <= now;
    });
    if (registrations_.empty())
        return;
    const auto next =
        std::min_element(registrations_.begin(), registrations_.end(),
                         [](const auto& a, const auto& b) { return a.next < b.next; });
    tick_ = loop_.at(next->next, [this] { registrationTick(); });
}

} // namespace lanquill::daemon
