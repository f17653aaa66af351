// A workgroup message beyond the routers: the mailslot broadcast reaches only the local
// networks, so the members known to live elsewhere get the text one by one, as a directed
// message, at a polite pace.
#pragma once

#include "platform/Interfaces.h"
#include "platform/Platform.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace lanquill::net {

struct GroupDeliveryOptions {
    // Sends under way at once, and new ones started per second at most: a school's 500 pupils'
    // computers should not see a burst of connections from one desk.
    int inFlight = 4;
    int startsPerSecond = 25;
    // Members beyond this many are not sent to (counted as not reached).
    std::size_t cap = 500;
};

struct GroupDeliveryResult {
    std::size_t delivered = 0;
    std::size_t local = 0;      // on a network the broadcast reached: not sent to again
    std::size_t notReached = 0; // not found, refused, unreachable, or over the cap
    // The members sent to that failed, with the messenger's result (NameNotFound for a name
    // nobody answered for); the first FailuresKept of them.
    static constexpr std::size_t FailuresKept = 10;
    std::vector<std::pair<std::string, std::uint32_t>> failures;
};

// Makes the messenger one sender thread uses, given the addresses already looked up (no member
// is looked up twice).
using MessengerFactory =
    std::function<std::unique_ptr<platform::Messenger>(platform::Resolver& known)>;

// The members, each once whatever its case, in the order given, without `self`.
std::vector<std::string> distinctMembers(const std::vector<std::string>& names,
                                         const std::string& self);

// Whether `address` lies on one of the networks of `interfaces` that a broadcast reaches.
bool onBroadcastNetwork(const platform::Ipv4& address,
                        const std::vector<platform::Interface>& interfaces);

// Looks the members up through `resolver` (all at once), leaves out those on a broadcast network
// of `interfaces` and all but the first name of one address, then sends `text` from `from` to
// the rest through messengers of `makeMessenger`, paced by `options`. A member that fails does
// not stop the others.
GroupDeliveryResult deliverToMembers(const std::vector<std::string>& members,
                                     const std::string& from, const std::string& text,
                                     platform::Resolver& resolver,
                                     const std::vector<platform::Interface>& interfaces,
                                     const MessengerFactory& makeMessenger,
                                     const GroupDeliveryOptions& options = {});

} // namespace lanquill::net
