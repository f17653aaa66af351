// The network neighbourhood without a browse service: ask every host of the machine's on-link
// IPv4 subnets for its NetBIOS name table (node status) and group the answers by workgroup.
#pragma once

#include "platform/Platform.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace lanquill::platform {

struct Subnet {
    Ipv4 address{}; // the machine's own address on it
    int prefixLength = 0;
    bool operator==(const Subnet&) const = default;
};

// The widest subnet swept: a larger on-link net is cut to the /22 around our own address, so
// a sweep stays around a second or two.
inline constexpr int NarrowestSweepPrefix = 22;

// The IPv4 subnets of the machine's interfaces that are up, loopback left out, each once.
std::vector<Subnet> onLinkSubnets();

// The host addresses to ask on `subnet`: every address but the network and broadcast ones
// (both addresses of a /31, the one of a /32), after cutting the subnet to
// NarrowestSweepPrefix. Our own address is included: the local computer belongs to the
// neighbourhood too.
std::vector<Ipv4> sweepTargets(const Subnet& subnet);

struct SweepOptions {
    std::uint16_t port = 137;               // the name service port
    std::chrono::microseconds pace{1000};   // between two sends
    std::chrono::milliseconds collect{300}; // listening after the last send
    // Asked between sends and every few milliseconds while listening; true ends the sweep at
    // once (a browse list that came meanwhile makes the rest of it needless).
    std::function<bool()> stop;
};

struct Neighbourhood {
    // Workgroup name -> the computers that answered with it. Names are UTF-8; the case is the
    // one the computers reported.
    std::map<std::string, std::set<std::string>> workgroups;
    // Some computer that answered is a master browser (it holds a <1D> or <1B> name): a browse
    // list exists, however long it takes to come.
    bool masterBrowserAnswered = false;
};

// Sends one node-status request to each target from ephemeral UDP sockets, paced, and
// collects the answers until `collect` after the last send. An answer counts only when it
// comes from a target, carries our transaction id and parses within its bytes; each gives its
// first unique <00> name (the computer) and its first group <00> name (the workgroup).
// Nullopt when `options.stop` ended the sweep. Never throws; a socket that cannot be made gives
// an empty result.
std::optional<Neighbourhood> sweepNodeStatus(const std::vector<Ipv4>& targets,
                                             const SweepOptions& options = {});

} // namespace lanquill::platform
