// Host name and address lookups of the main window's module: name -> address, address -> name,
// and the adapter address of an on-link host. Nothing is cached: every call asks again.
#pragma once

#include "platform/Platform.h"

#include <string>
#include <vector>

namespace lanquill::net {

struct Lookup {
    bool found = false;
    std::string text; // the address or name; empty when not found
};

// The first address the resolver lists for `name`, as dotted-decimal text.
Lookup HostNameToIP(platform::Resolver& resolver, const std::string& name);

// HostNameToIP for each of `names`, asked together; the answers in the same order.
std::vector<Lookup> HostNamesToIPs(platform::Resolver& resolver,
                                   const std::vector<std::string>& names);

// The official name of the host at `address`. The text is read as inet_addr reads it: a text
// that is not an address stands for 255.255.255.255 and is looked up as such.
Lookup IPToHostName(platform::Resolver& resolver, const std::string& address);

// The adapter address of `address` ("00-0C-29-1A-2B-3C"), at most six bytes; empty when the
// host does not answer.
std::string GetMacAddress(platform::NeighbourTable& neighbours, const std::string& address);

} // namespace lanquill::net
