#include "net/GroupDelivery.h"

#include "protocol/OemCodePage.h"

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>

namespace lanquill::net {

namespace {

using Clock = std::chrono::steady_clock;

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
        if (!i.broadcast || i.prefixLength <= 0 || i.prefixLength > 32)
            return false;
        const std::uint32_t mask = i.prefixLength == 32 ? ~0u : ~(~0u >> i.prefixLength);
        return (toHost(address) & mask) == (toHost(i.address) & mask);
    });
}

GroupDeliveryResult deliverToMembers(const std::vector<std::string>& members,
                                     const std::string& from, const std::string& text,
                                     platform::Resolver& resolver,
                                     const std::vector<platform::Interface>& interfaces,
                                     const MessengerFactory& makeMessenger,
                                     const GroupDeliveryOptions& options) {
    GroupDeliveryResult result;
    std::vector<std::string> wanted = members;
    if (wanted.size() > options.cap) {
        result.notReached += wanted.size() - options.cap;
        wanted.resize(options.cap);
    }
    const auto hosts = resolver.hostsByName(wanted);

    KnownAddresses known;
    std::vector<std::string> targets;
    std::vector<platform::Ipv4> addresses;
    for (std::size_t i = 0; i < wanted.size(); ++i) {
        const auto& host = i < hosts.size() ? hosts[i] : std::nullopt;
        if (!host || host->addresses.empty()) {
            ++result.notReached;
            if (result.failures.size() < GroupDeliveryResult::FailuresKept)
                result.failures.emplace_back(wanted[i], platform::messenger::NameNotFound);
            continue;
        }
        const platform::Ipv4 address = host->addresses.front();
        // The broadcast has been there; a computer known by two names gets the text once.
        if (onBroadcastNetwork(address, interfaces) ||
            std::find(addresses.begin(), addresses.end(), address) != addresses.end()) {
            ++result.local;
            continue;
        }
        addresses.push_back(address);
        known.add(wanted[i], address);
        targets.push_back(wanted[i]);
    }
    if (targets.empty())
        return result;

    const auto interval = std::chrono::microseconds(1000000 / std::max(1, options.startsPerSecond));
    std::mutex mutex;
    std::size_t next = 0;
    auto nextStart = Clock::now();
    std::atomic<std::size_t> delivered{0};
    std::atomic<std::size_t> failed{0};
    const auto work = [&] {
        const std::unique_ptr<platform::Messenger> messenger = makeMessenger(known);
        for (;;) {
            std::size_t index = 0;
            Clock::time_point at;
            {
                const std::lock_guard lock(mutex);
                if (next == targets.size())
                    return;
                index = next++;
                at = std::max(Clock::now(), nextStart);
                nextStart = at + interval;
            }
            std::this_thread::sleep_until(at);
            const std::uint32_t code = messenger ? messenger->send(targets[index], from, text)
                                                 : platform::messenger::NetworkError;
            if (code == platform::messenger::Success) {
                ++delivered;
                continue;
            }
            ++failed;
            const std::lock_guard lock(mutex);
            if (result.failures.size() < GroupDeliveryResult::FailuresKept)
                result.failures.emplace_back(targets[index], code);
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
    if (threads.empty())
        work();
    for (std::thread& thread : threads)
        thread.join();
    result.delivered = delivered;
    result.notReached += failed;
    return result;
}

} // namespace lanquill::net
