#pragma once

#include "platform/Platform.h"

#include <string>
#include <utility>

namespace lanquill::net {

// The local host's name (as the resolver officially names it, possibly fully qualified) and its
// first IPv4 address in dotted-decimal form; both empty when the host name does not resolve.
// A loopback address is nobody else's way to this computer: the first other address of the name
// is taken, or else the first interface's (Debian maps the host name to 127.0.1.1).
std::pair<std::string, std::string> GetLocalHostInfo(platform::SystemInfo& system,
                                                     platform::Resolver& resolver);

} // namespace lanquill::net
