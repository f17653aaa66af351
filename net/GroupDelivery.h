// A workgroup message beyond the routers: the mailslot broadcast reaches only the local
// networks, so the members known to live elsewhere get the text one by one, as a directed
// message, at a polite pace.
//
// Whoever answers the name queries says where the text goes, so an answer is followed only into
// the networks this LAN is taken to span, and the queries themselves are paced like the sends:
// a list of 500 names must not become a burst on the wire, nor 500 connections to wherever a
// hostile name server points.
#pragma once

#include "platform/Interfaces.h"
#include "platform/Platform.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace lanquill::net {

using GroupClock = std::chrono::steady_clock;

struct GroupDeliveryOptions {
    // Sends under way at once, and new ones started per second at most: a school's 500 pupils'
    // computers should not see a burst of connections from one desk.
    int inFlight = 4;
    int startsPerSecond = 25;
    // Names asked of the name service together, and the time from one such batch to the next
    // (a batch takes up to `lookupBound`; none starts that could not end by `until`).
    std::size_t lookupsPerBatch = 25;
    std::chrono::milliseconds lookupInterval{1000};
    std::chrono::milliseconds lookupBound{1500};
    // Members beyond this many are neither looked up nor sent to.
    std::size_t cap = 500;
    // The whole delivery, lookups and sends, is over by then; what was not done is said so.
    GroupClock::time_point until = GroupClock::time_point::max();
    // The clock everything above is measured by; tests move their own.
    std::function<GroupClock::time_point()> now = [] { return GroupClock::now(); };
    std::function<void(GroupClock::time_point)> sleepUntil = [](GroupClock::time_point at) {
        std::this_thread::sleep_until(at);
    };
};

// A member that did not get the text, and why.
struct GroupMiss {
    enum class Why {
        NotFound,   // no name service knew the name
        OutsideLan, // the answer pointed outside the LAN's networks (at `address`)
        OverCap,    // more members than GroupDeliveryOptions::cap
        OutOfTime,  // the delivery's time was up before its turn
        SendFailed, // sent to, and the messenger said `code`
    };
    std::string name;
    Why why = Why::NotFound;
    std::uint32_t code = 0;
    platform::Ipv4 address{};
    bool operator==(const GroupMiss&) const = default;
};

struct GroupDeliveryResult {
    std::size_t delivered = 0;
    std::size_t local = 0; // on a network the broadcast reached: not sent to again
    // Every member not reached, in the order given.
    std::vector<GroupMiss> missed;
};

// Makes the messenger one sender thread uses, given the addresses already looked up (no member
// is looked up twice); its sends end by `until`.
using MessengerFactory = std::function<std::unique_ptr<platform::Messenger>(
    platform::Resolver& known, GroupClock::time_point until)>;

// The members, each once whatever its case, in the order given, without `self`.
std::vector<std::string> distinctMembers(const std::vector<std::string>& names,
                                         const std::string& self);

// Whether `address` lies on one of the networks of `interfaces` that a broadcast reaches.
bool onBroadcastNetwork(const platform::Ipv4& address,
                        const std::vector<platform::Interface>& interfaces);

struct Network {
    platform::Ipv4 address{};
    int prefixLength = 32;
    bool operator==(const Network&) const = default;
};

// The networks a directed copy may go to: the subnets of `interfaces`, and with a WINS server
// (a routed LAN) the private range (10/8, 172.16/12, 192.168/16) that holds the server or one of
// the interfaces, as lanquilld counts a routed LAN's senders; a server outside those ranges adds
// its own /24 only.
std::vector<Network> lanNetworks(const std::vector<platform::Interface>& interfaces,
                                 const std::optional<platform::Ipv4>& winsServer);

// Looks the members up through `resolver` in paced batches, leaves out those on a broadcast
// network of `interfaces`, all but the first name of one address and every answer outside
// `lan` (or no host's: loopback, multicast, a broadcast address), then sends `text` from `from`
// to the rest through messengers of `makeMessenger`, paced by `options`. A member that fails
// does not stop the others.
GroupDeliveryResult deliverToMembers(const std::vector<std::string>& members,
                                     const std::string& from, const std::string& text,
                                     platform::Resolver& resolver,
                                     const std::vector<platform::Interface>& interfaces,
                                     const std::vector<Network>& lan,
                                     const MessengerFactory& makeMessenger,
                                     const GroupDeliveryOptions& options = {});

} // namespace lanquill::net
