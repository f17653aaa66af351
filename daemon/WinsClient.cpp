#include "daemon/WinsClient.h"

#include "daemon/Delivery.h"
#include "daemon/Log.h"
#include "protocol/Addresses.h"

#include <algorithm>
#include <sys/random.h>
#include <utility>

namespace lanquill::daemon {

namespace netbios = protocol::netbios;

namespace {
// RFC 1002's unicast retry: a request unanswered is sent again; after three, the round starts
// over a minute later (the server may be restarting).
constexpr auto RetryInterval = std::chrono::seconds(2);
constexpr int Attempts = 3;
constexpr auto RoundInterval = std::chrono::seconds(60);
// A WACK's time to live is how long the server needs; a hostile one cannot make us wait long.
constexpr std::uint32_t LongestWack = 30;
// A granted time to live below this is taken as this, so that refreshes stay few.
constexpr std::uint32_t ShortestTtl = 10;
// The unicast requests' ids come from no counter: every host sees the ids of our broadcasts, and
// one that could foresee these could forge the server's refusal and take our names.
std::uint16_t unforeseeableId() {
    std::uint16_t id = 0;
    if (::getrandom(&id, sizeof id, 0) != sizeof id)
        id = platform::nextTransactionId();
    return id;
}
} // namespace

WinsClient::WinsClient(EventLoop& loop, platform::UdpSocket& socket, LocalNetwork& network,
                       const Ipv4& server, std::uint16_t port)
    : loop_(loop), socket_(socket), network_(network), server_(server), port_(port) {}

// The address the server is to know us by: that of the interface on the server's subnet, else
// the first (the server is reached through the default route).
std::optional<Ipv4> WinsClient::ownAddress() {
    const auto& interfaces = network_.interfaces();
    for (const auto& entry : interfaces)
        if (sameSubnet(entry.address, server_, entry.prefixLength))
            return entry.address;
    if (interfaces.empty())
        return std::nullopt;
    return interfaces.front().address;
}

void WinsClient::registerName(const std::string& name, std::uint8_t suffix) {
    const auto known = std::ranges::find_if(
        entries_, [&](const Entry& entry) { return entry.name == name && entry.suffix == suffix; });
    if (known != entries_.end())
        return;
    Entry entry;
    entry.name = name;
    entry.suffix = suffix;
    entry.transactionId = unforeseeableId();
    entry.next = loop_.now();
    entries_.push_back(entry);
    schedule();
}

void WinsClient::releaseName(const std::string& name, std::uint8_t suffix) {
    const auto known = std::ranges::find_if(
        entries_, [&](const Entry& entry) { return entry.name == name && entry.suffix == suffix; });
    if (known == entries_.end())
        return;
    // Sent once: the server lets an unreleased name expire with its time to live anyway. A
    // refused name is another computer's there: nothing of ours to release.
    if (const auto address = known->state == State::Refused ? std::nullopt : ownAddress())
        if (const auto packet =
                netbios::nameReleaseRequest(unforeseeableId(), name, suffix, false, *address, true))
            socket_.sendTo(server_, port_, *packet);
    entries_.erase(known);
    schedule();
}

void WinsClient::stop() {
    while (!entries_.empty()) {
        const Entry entry = entries_.front();
        releaseName(entry.name, entry.suffix);
    }
    loop_.cancel(timer_);
    timer_ = 0;
}

bool WinsClient::registered(const std::string& name, std::uint8_t suffix) const {
    return std::ranges::any_of(entries_, [&](const Entry& entry) {
        return entry.name == name && entry.suffix == suffix &&
               (entry.state == State::Registered || entry.state == State::Refreshing);
    });
}

void WinsClient::send(Entry& entry) {
    const auto address = ownAddress();
    if (!address)
        return;
    entry.address = *address;
    const auto packet = entry.state == State::Refreshing
                            ? netbios::nameRefreshRequest(entry.transactionId, entry.name,
                                                          entry.suffix, false, *address)
                            : netbios::nameRegistrationRequest(entry.transactionId, entry.name,
                                                               entry.suffix, false, *address, true);
    if (packet && !socket_.sendTo(server_, port_, *packet))
        log(Priority::Debug,
            "send to the WINS server " + protocol::formatIpv4(server_) + " failed");
}

bool WinsClient::onResponse(const netbios::NamePacket& packet) {
    const auto entry = std::ranges::find_if(entries_, [&](const Entry& candidate) {
        return candidate.transactionId == packet.transactionId &&
               candidate.name == packet.name.name && candidate.suffix == packet.name.suffix;
    });
    // Only an answer to a request in flight counts: a refusal for a name we are not asking for
    // now is somebody's forgery.
    if (entry == entries_.end() ||
        (entry->state != State::Registering && entry->state != State::Refreshing))
        return false;
    const auto now = loop_.now();
    const std::string server = protocol::formatIpv4(server_);
    if (packet.opcode == netbios::NameOpcode::WaitForAcknowledgement) {
        if (++entry->waits > LongestWaits) {
            // A server (or an impostor) that only ever asks us to wait must not keep the name
            // unregistered without a word.
            if (!std::exchange(entry->waitsLogged, true))
                log(Priority::Warning, "the WINS server " + server + " keeps asking to wait for " +
                                           nameText(entry->name) +
                                           ": not registered there yet, asking again each minute");
            startRound(*entry, now + RoundInterval);
        } else {
            entry->sent = 0;
            entry->next = now + std::chrono::seconds(std::min(packet.ttl, LongestWack) + 1);
        }
    } else if (packet.opcode != netbios::NameOpcode::Registration &&
               packet.opcode != netbios::NameOpcode::Refresh) {
        return false;
    } else if (packet.rcode == 0) {
        if (entry->state == State::Registering)
            log(Priority::Info,
                "registered " + nameText(entry->name) + " with the WINS server " + server);
        entry->state = State::Registered;
        entry->sent = 0;
        entry->waits = 0;
        entry->waitsLogged = false;
        entry->next = now + std::chrono::seconds(std::max(packet.ttl, ShortestTtl) / 2);
        if (std::exchange(entry->refused, false) && registeredAfterRefusal_)
            registeredAfterRefusal_(entry->name, entry->suffix);
    } else {
        const bool first = !std::exchange(entry->refused, true);
        log(first ? Priority::Error : Priority::Notice,
            "the WINS server " + server + " refuses " + nameText(entry->name) + " (error " +
                std::to_string(packet.rcode) + "): another computer holds it; asking again in " +
                std::to_string(RefusedRetryInterval.count()) + " minutes");
        startRound(*entry, now + RefusedRetryInterval);
        entry->state = State::Refused;
        if (first && refused_)
            refused_(entry->name, entry->suffix);
    }
    schedule();
    return true;
}

void WinsClient::startRound(Entry& entry, TimePoint at) {
    entry.state = State::Registering;
    entry.sent = 0;
    entry.waits = 0;
    entry.transactionId = unforeseeableId();
    entry.next = at;
}

void WinsClient::tick() {
    timer_ = 0;
    const auto now = loop_.now();
    for (auto& entry : entries_) {
        if (entry.next > now)
            continue;
        if (entry.state == State::Registered) {
            // Half the time to live is over: refresh, under a new transaction id.
            entry.state = State::Refreshing;
            entry.sent = 0;
            entry.transactionId = unforeseeableId();
        } else if (entry.state == State::Refused) {
            startRound(entry, now); // perhaps its holder has gone
        }
        if (entry.sent >= Attempts) {
            // No answer: start the round again later, as a registration (the server may have
            // lost the name along with its database).
            startRound(entry, now + RoundInterval);
            continue;
        }
        send(entry);
        ++entry.sent;
        entry.next = now + RetryInterval;
    }
    schedule();
}

void WinsClient::schedule() {
    loop_.cancel(timer_);
    timer_ = 0;
    if (entries_.empty())
        return;
    const auto next = std::ranges::min_element(
        entries_, [](const Entry& a, const Entry& b) { return a.next < b.next; });
    timer_ = loop_.at(next->next, [this] { tick(); });
}

} // namespace lanquill::daemon
