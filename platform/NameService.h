// The resolver layer (gethostbyname / gethostbyaddr): the system resolver first, then NetBIOS
// on the LAN, as a Windows machine resolves names. Also the small network helpers the other wire
// layers share: the interfaces' broadcast addresses, a node-status query, our NetBIOS name.
#pragma once

#include "platform/NetBios.h"
#include "platform/Platform.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace lanquill::platform {

// A non-blocking IPv4 UDP socket, closed with its owner.
class UdpSocket {
public:
    using Clock = std::chrono::steady_clock;
    UdpSocket() = default;
    ~UdpSocket();
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;

    // Creates the socket bound to 0.0.0.0:port (0: an ephemeral port); a socket opened before
    // is closed first, and a failed open leaves none.
    bool open(std::uint16_t port = 0);
    std::uint16_t localPort() const;
    bool allowBroadcast();
    // True when the whole datagram went out.
    bool sendTo(const Ipv4& address, std::uint16_t port, std::span<const std::uint8_t> data);

    struct Received {
        std::size_t length = 0;
        Ipv4 from{};
        std::uint16_t port = 0;
    };
    // The next datagram that fits `buffer`, waiting until `deadline`; nullopt when none came.
    // Datagrams longer than the buffer are dropped, never cut.
    std::optional<Received> receiveUntil(Clock::time_point deadline,
                                         std::span<std::uint8_t> buffer);
    int descriptor() const { return fd_; }

private:
    int fd_ = -1;
};

struct BroadcastInterface {
    Ipv4 address{};
    Ipv4 broadcast{};
};

// The IPv4 interfaces that are up and can broadcast, loopback excluded.
std::vector<BroadcastInterface> broadcastInterfaces();

// Their broadcast addresses, each once.
std::vector<Ipv4> broadcastAddresses();

// A fresh NetBIOS transaction id (random start, then counting).
std::uint16_t nextTransactionId();

// Sends a node-status query from an ephemeral port to `address`:137 and waits up to `wait` for
// the answer from that address. Nullopt when nobody answers or the send fails.
std::optional<netbios::NodeStatus> queryNodeStatus(const Ipv4& address,
                                                   std::chrono::milliseconds wait);

// Broadcasts NAME QUERY REQUESTs for `name`<suffix> (OEM) on every interface, `tries` times
// `interval` apart, and gives the addresses of the first positive answer. Bounded by
// tries * interval.
std::optional<std::vector<Ipv4>> broadcastNameQuery(const std::string& oemName, std::uint8_t suffix,
                                                    int tries, std::chrono::milliseconds interval);

// This computer's NetBIOS name, OEM bytes: the host name without domain, upper case, cut to
// 15 bytes on a character boundary. Never empty.
std::string ownNetbiosName();

// The OEM form of `name` when it can be a NetBIOS name: not empty, no dot, no '*', no control
// characters, at most 15 bytes in the OEM code page; upper-cased. Nullopt otherwise.
std::optional<std::string> netbiosName(const std::string& name);

class RealResolver : public Resolver {
public:
    std::optional<HostEntry> hostByName(const std::string& name) override;
    std::optional<HostEntry> hostByAddress(const Ipv4& address) override;
};

} // namespace lanquill::platform
