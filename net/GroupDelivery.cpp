#include "net/GroupDelivery.h"

#include "protocol/Addresses.h"
#include "protocol/OemCodePage.h"

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>

namespace lanquill::net {

namespace {

using Clock = GroupClock;

std::uint32_t maskOf(int prefixLength) {
    return prefixLength <= 0 ? 0u : prefixLength >= 32 ? ~0u : ~(~0u >> prefixLength);
}

std::uint32_t toHost(const platform::Ipv4& a) {
    return (std::uint32_t{a[0]} << 24) | (std::uint32_t{a[1]} << 16) | (std::uint32_t{a[2]} << 8) |
           a[3];
}

// The addresses looked up beforehand, so that the sender threads ask nobody again.
class KnownAddresses : public platform::Resolver {
public:
    void add(const std::string& name, const platform::Ipv4& address) {
        entries_[protocol::oem::upperAscii(name)] = platform::HostEntry{name, {address}};
    }
    std::optional<platform::HostEntry> hostByName(const std::string& name) override {
        const auto found = entries_.find(protocol::oem::upperAscii(name));
        if (found == entries_.end())
            return std::nullopt;
        return found->second;
    }
    std::optional<platform::HostEntry> hostByAddress(const platform::Ipv4&) override {
        return std::nullopt;
    }

private:
    std::map<std::string, platform::HostEntry> entries_;
};

platform::Ipv4 fromHost(std::uint32_t a) {
    return {static_cast<std::uint8_t>(a >> 24), static_cast<std::uint8_t>(a >> 16),
            static_cast<std::uint8_t>(a >> 8), static_cast<std::uint8_t>(a)};
}

bool within(const platform::Ipv4& address, const Network& network) {
    const std::uint32_t mask = maskOf(network.prefixLength);
    return (toHost(address) & mask) == (toHost(network.address) & mask);
}

// The private ranges of RFC 1918: the networks a routed LAN lives in.
constexpr Network PrivateRanges[] = {
    {{10, 0, 0, 0}, 8}, {{172, 16, 0, 0}, 12}, {{192, 168, 0, 0}, 16}};

// Whether a directed copy may go to `address`: a host's address (not loopback, unspecified,
// multicast or reserved), not a broadcast or network address of a subnet of ours, inside `lan`.
bool mayCarryCopy(const platform::Ipv4& address, const std::vector<Network>& lan,
                  const std::vector<platform::Interface>& interfaces) {
    if (!protocol::isHostAddress(address) || address[0] >= 224)
        return false;
    for (const platform::Interface& i : interfaces) {
        if (i.broadcast && *i.broadcast == address)
            return false;
        const Network subnet{i.address, i.prefixLength};
        const std::uint32_t hostPart = toHost(address) & ~maskOf(i.prefixLength);
        if (i.prefixLength > 0 && i.prefixLength < 31 && within(address, subnet) &&
            (hostPart == 0 || hostPart == ~maskOf(i.prefixLength)))
            return false;
    }
    return std::ranges::any_of(lan, [&](const Network& n) { return within(address, n); });
}

} // namespace

std::vector<std::string> distinctMembers(const std::vector<std::string>& names,
                                         const std::string& self) {
    std::vector<std::string> members;
    std::vector<std::string> seen{protocol::oem::upperAscii(self)};
    for (const std::string& name : names) {
        std::string key = protocol::oem::upperAscii(name);
        if (name.empty() || std::find(seen.begin(), seen.end(), key) != seen.end())
            continue;
        seen.push_back(std::move(key));
        members.push_back(name);
    }
    return members;
}

bool onBroadcastNetwork(const platform::Ipv4& address,
                        const std::vector<platform::Interface>& interfaces) {
    return std::any_of(interfaces.begin(), interfaces.end(), [&](const platform::Interface& i) {
        return i.broadcast && i.prefixLength > 0 && i.prefixLength <= 32 &&
               within(address, {i.address, i.prefixLength});
    });
}

std::vector<Network> lanNetworks(const std::vector<platform::Interface>& interfaces,
                                 const std::optional<platform::Ipv4>& winsServer) {
    std::vector<Network> networks;
    const auto add = [&](const Network& network) {
        if (std::ranges::find(networks, network) == networks.end())
            networks.push_back(network);
    };
    for (const platform::Interface& i : interfaces)
        if (i.prefixLength > 0 && i.prefixLength <= 32)
            add({fromHost(toHost(i.address) & maskOf(i.prefixLength)), i.prefixLength});
    if (!winsServer)
        return networks;
    // A WINS server means subnets behind routers; which ones, nothing here says, so the private
    // range they share with the server or with us stands for them. A server with a public
    // address tells nothing of its network's size: its /24 is the narrowest guess.
    bool privateServer = false;
    for (const Network& range : PrivateRanges) {
        const bool ours = std::ranges::any_of(
            interfaces, [&](const platform::Interface& i) { return within(i.address, range); });
        privateServer = privateServer || within(*winsServer, range);
        if (ours || within(*winsServer, range))
            add(range);
    }
    if (!privateServer)
        add({fromHost(toHost(*winsServer) & maskOf(24)), 24});
    return networks;
}

GroupDeliveryResult deliverToMembers(const std::vector<std::string>& members,
                                     const std::string& from, const std::string& text,
                                     platform::Resolver& resolver,
                                     const std::vector<platform::Interface>& interfaces,
                                     const std::vector<Network>& lan,
                                     const MessengerFactory& makeMessenger,
                                     const GroupDeliveryOptions& options) {
    GroupDeliveryResult result;
    std::mutex mutex; // guards result.missed once the senders run
    const auto miss = [&](const std::string& name, GroupMiss::Why why, std::uint32_t code = 0,
                          platform::Ipv4 address = {}) {
        const std::lock_guard lock(mutex);
        result.missed.push_back({name, why, code, address});
    };
    const std::size_t wanted = std::min(members.size(), options.cap);

    // The lookups, a batch at a time: each name costs datagrams (and a system resolver
    // thread), and an answer may take up to the lookup bound.
    std::vector<std::optional<platform::HostEntry>> hosts(wanted);
    std::size_t looked = 0;
    for (auto batchAt = options.now(); looked < wanted; batchAt += options.lookupInterval) {
        options.sleepUntil(batchAt);
        batchAt = std::max(batchAt, options.now());
        if (batchAt >= options.until || options.until - batchAt < options.lookupBound)
            break;
        const std::size_t count =
            std::min(std::max<std::size_t>(options.lookupsPerBatch, 1), wanted - looked);
        const auto first = members.begin() + static_cast<std::ptrdiff_t>(looked);
        const auto answers = resolver.hostsByName(std::vector<std::string>(first, first + count));
        for (std::size_t i = 0; i < count && i < answers.size(); ++i)
            hosts[looked + i] = answers[i];
        looked += count;
    }

    KnownAddresses known;
    std::vector<std::string> targets;
    std::vector<platform::Ipv4> addresses;
    for (std::size_t i = 0; i < looked; ++i) {
        const auto& host = hosts[i];
        if (!host || host->addresses.empty()) {
            miss(members[i], GroupMiss::Why::NotFound, platform::messenger::NameNotFound);
            continue;
        }
        // The broadcast has been there; a computer known by two names gets the text once.
        if (std::ranges::any_of(host->addresses, [&](const platform::Ipv4& a) {
                return onBroadcastNetwork(a, interfaces);
            })) {
            ++result.local;
            continue;
        }
        const auto address = std::ranges::find_if(host->addresses, [&](const platform::Ipv4& a) {
            return mayCarryCopy(a, lan, interfaces);
        });
        if (address == host->addresses.end()) {
            miss(members[i], GroupMiss::Why::OutsideLan, 0, host->addresses.front());
            continue;
        }
        if (std::ranges::find(addresses, *address) != addresses.end()) {
            ++result.local;
            continue;
        }
        addresses.push_back(*address);
        known.add(members[i], *address);
        targets.push_back(members[i]);
    }

    const auto interval = std::chrono::microseconds(1000000 / std::max(1, options.startsPerSecond));
    std::size_t next = 0;
    auto nextStart = options.now();
    std::atomic<std::size_t> delivered{0};
    std::vector<std::uint32_t> codes(targets.size(), platform::messenger::Success);
    std::vector<bool> started(targets.size(), false);
    const auto work = [&] {
        const std::unique_ptr<platform::Messenger> messenger = makeMessenger(known, options.until);
        for (;;) {
            std::size_t index = 0;
            Clock::time_point at;
            {
                const std::lock_guard lock(mutex);
                if (next == targets.size())
                    return;
                index = next++;
                at = std::max(options.now(), nextStart);
                if (at >= options.until)
                    continue; // its turn would come too late: left unstarted
                nextStart = at + interval;
            }
            options.sleepUntil(at);
            const std::uint32_t code = messenger ? messenger->send(targets[index], from, text)
                                                 : platform::messenger::NetworkError;
            const std::lock_guard lock(mutex);
            started[index] = true;
            codes[index] = code;
            if (code == platform::messenger::Success)
                ++delivered;
        }
    };
    std::vector<std::thread> threads;
    const auto wantedThreads = std::min<std::size_t>(
        static_cast<std::size_t>(std::max(1, options.inFlight)), targets.size());
    for (std::size_t i = 0; i < wantedThreads; ++i) {
        try {
            threads.emplace_back(work);
        } catch (const std::system_error&) {
            break; // fewer at once, not fewer reached
        }
    }
    if (threads.empty() && !targets.empty())
        work();
    for (std::thread& thread : threads)
        thread.join();
    result.delivered = delivered;

    for (std::size_t i = 0; i < targets.size(); ++i) {
        if (!started[i])
            miss(targets[i], GroupMiss::Why::OutOfTime);
        else if (codes[i] != platform::messenger::Success)
            miss(targets[i], GroupMiss::Why::SendFailed, codes[i]);
    }
    for (std::size_t i = looked; i < wanted; ++i)
        miss(members[i], GroupMiss::Why::OutOfTime);
    for (std::size_t i = wanted; i < members.size(); ++i)
        miss(members[i], GroupMiss::Why::OverCap);
    // In the order the members were given, whatever step dropped them.
    std::map<std::string, std::size_t> position;
    for (std::size_t i = members.size(); i-- > 0;)
        position[members[i]] = i;
    std::ranges::stable_sort(result.missed, {},
                             [&](const GroupMiss& m) { return position[m.name]; });
    return result;
}

} // namespace lanquill::net
