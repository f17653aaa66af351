// The one UDP socket of the network layers: non-blocking IPv4, closed with its owner, every wait
// bounded by a deadline. Also the transaction ids of the datagram exchanges.
#pragma once

#include "protocol/Bytes.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>

namespace lanquill::platform {

using protocol::Ipv4;

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
    // Takes a socket bound elsewhere (passed by systemd, say); it is closed with this object.
    void adopt(int fd);
    bool isOpen() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    std::uint16_t localPort() const;
    bool allowBroadcast();
    // Room for `bytes` of datagrams waiting to be read (the kernel may grant less): for answers
    // that come in a burst.
    bool reserveReceiveBuffer(int bytes);
    // True when the whole datagram went out. A full send queue is waited out briefly.
    bool sendTo(const Ipv4& address, std::uint16_t port, std::span<const std::uint8_t> data);

    struct Received {
        std::size_t length = 0;
        Ipv4 from{};
        std::uint16_t port = 0;
    };
    // The next datagram already waiting that fits `buffer`; nullopt when none is. Datagrams
    // longer than the buffer are dropped, never cut.
    std::optional<Received> receiveNow(std::span<std::uint8_t> buffer);
    // A datagram with the interface it came in on, for a server that answers from the address
    // it was asked at. reportArrival() asks the kernel to tell (IP_PKTINFO).
    struct Arrived {
        std::size_t length = 0;
        Ipv4 from{};
        std::uint16_t port = 0;
        unsigned interfaceIndex = 0;
        Ipv4 localAddress{};
    };
    bool reportArrival();
    // Hands each datagram already waiting, at most `most`, to `take` with its arrival; those
    // longer than a datagram buffer of 1,500 bytes are dropped.
    void receiveEachArrived(
        std::size_t most,
        const std::function<void(std::span<const std::uint8_t>, const Arrived&)>& take);
    // The next datagram already waiting; nullopt when none is. A datagram longer than `buffer`
    // is dropped and reported with length 0.
    std::optional<Arrived> receiveArrived(std::span<std::uint8_t> buffer);
    // Sends from `source` (an address of this host) where given, so that an answer carries the
    // address of the interface the question came in on; false when it did not go out whole.
    bool sendFrom(const Ipv4& to, std::uint16_t port, std::span<const std::uint8_t> data,
                  const std::optional<Ipv4>& source);
    // The next datagram that fits `buffer`, waiting until `deadline`; nullopt when none came.
    std::optional<Received> receiveUntil(Clock::time_point deadline,
                                         std::span<std::uint8_t> buffer);
    // Waits until a datagram is waiting or `deadline` passes (with sub-millisecond precision);
    // true when one is waiting.
    bool waitReadable(Clock::time_point deadline);
    // The same over several sockets: true when any of them has a datagram waiting.
    static bool waitAnyReadable(std::span<UdpSocket> sockets, Clock::time_point deadline);

private:
    int fd_ = -1;
};

// A fresh NetBIOS transaction id (random start, then counting), shared by every exchange so
// that two running side by side never take each other's answers.
std::uint16_t nextTransactionId();

} // namespace lanquill::platform
