#include "platform/UdpSocket.h"

#include <arpa/inet.h>
#include <array>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace lanquill::platform {

namespace {

sockaddr_in socketAddress(const Ipv4& address, std::uint16_t port) {
    sockaddr_in out{};
    out.sin_family = AF_INET;
    out.sin_port = htons(port);
    std::memcpy(&out.sin_addr.s_addr, address.data(), 4);
    return out;
}

} // namespace

UdpSocket::~UdpSocket() {
    if (fd_ >= 0)
        ::close(fd_);
}

bool UdpSocket::open(std::uint16_t port) {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd_ < 0)
        return false;
    const sockaddr_in local = socketAddress({0, 0, 0, 0}, port);
    if (::bind(fd_, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0)
        return true;
    ::close(fd_);
    fd_ = -1;
    return false;
}

void UdpSocket::adopt(int fd) {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = fd;
}

std::uint16_t UdpSocket::localPort() const {
    sockaddr_in local{};
    socklen_t length = sizeof local;
    if (fd_ < 0 || ::getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &length) != 0)
        return 0;
    return ntohs(local.sin_port);
}

bool UdpSocket::allowBroadcast() {
    const int on = 1;
    return ::setsockopt(fd_, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) == 0;
}

bool UdpSocket::reserveReceiveBuffer(int bytes) {
    return ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes) == 0;
}

bool UdpSocket::sendTo(const Ipv4& address, std::uint16_t port,
                       std::span<const std::uint8_t> data) {
    const sockaddr_in target = socketAddress(address, port);
    for (int attempt = 0; attempt < 2; ++attempt) {
        const ssize_t sent = ::sendto(fd_, data.data(), data.size(), 0,
                                      reinterpret_cast<const sockaddr*>(&target), sizeof target);
        if (sent >= 0)
            return static_cast<std::size_t>(sent) == data.size();
        if (errno != EAGAIN && errno != ENOBUFS && errno != EINTR)
            return false;
        pollfd p{fd_, POLLOUT, 0};
        ::poll(&p, 1, 10);
    }
    return false;
}

std::optional<UdpSocket::Received> UdpSocket::receiveNow(std::span<std::uint8_t> buffer) {
    while (fd_ >= 0) {
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        const ssize_t length = ::recvfrom(fd_, buffer.data(), buffer.size(), MSG_TRUNC,
                                          reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (length < 0) {
            if (errno == EINTR)
                continue;
            return std::nullopt; // EAGAIN: nothing waiting; other errors: nothing to read
        }
        if (static_cast<std::size_t>(length) > buffer.size() || fromLength < sizeof from ||
            from.sin_family != AF_INET)
            continue;
        Received received;
        received.length = static_cast<std::size_t>(length);
        std::memcpy(received.from.data(), &from.sin_addr.s_addr, 4);
        received.port = ntohs(from.sin_port);
        return received;
    }
    return std::nullopt;
}

bool UdpSocket::reportArrival() {
    const int on = 1;
    return ::setsockopt(fd_, IPPROTO_IP, IP_PKTINFO, &on, sizeof on) == 0;
}

std::optional<UdpSocket::Arrived> UdpSocket::receiveArrived(std::span<std::uint8_t> buffer) {
    sockaddr_in source{};
    iovec part{buffer.data(), buffer.size()};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
    msghdr header{};
    header.msg_name = &source;
    header.msg_namelen = sizeof source;
    header.msg_iov = &part;
    header.msg_iovlen = 1;
    header.msg_control = control;
    header.msg_controllen = sizeof control;
    ssize_t n = -1;
    do
        n = ::recvmsg(fd_, &header, MSG_DONTWAIT);
    while (n < 0 && errno == EINTR);
    if (n < 0)
        return std::nullopt;
    if ((header.msg_flags & MSG_TRUNC) || header.msg_namelen < sizeof source ||
        source.sin_family != AF_INET)
        return Arrived{};
    Arrived arrived;
    arrived.length = static_cast<std::size_t>(n);
    std::memcpy(arrived.from.data(), &source.sin_addr.s_addr, 4);
    arrived.port = ntohs(source.sin_port);
    for (cmsghdr* c = CMSG_FIRSTHDR(&header); c; c = CMSG_NXTHDR(&header, c)) {
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
            in_pktinfo info{};
            std::memcpy(&info, CMSG_DATA(c), sizeof info);
            arrived.interfaceIndex = static_cast<unsigned>(info.ipi_ifindex);
            std::memcpy(arrived.localAddress.data(), &info.ipi_spec_dst.s_addr, 4);
        }
    }
    return arrived;
}

void UdpSocket::receiveEachArrived(
    std::size_t most,
    const std::function<void(std::span<const std::uint8_t>, const Arrived&)>& take) {
    std::array<std::uint8_t, 1500> buffer{};
    for (std::size_t i = 0; i < most; ++i) {
        const auto arrived = receiveArrived(buffer);
        if (!arrived)
            return;
        if (arrived->length > 0)
            take({buffer.data(), arrived->length}, *arrived);
    }
}

bool UdpSocket::sendFrom(const Ipv4& to, std::uint16_t port, std::span<const std::uint8_t> data,
                         const std::optional<Ipv4>& source) {
    sockaddr_in target = socketAddress(to, port);
    iovec part{const_cast<std::uint8_t*>(data.data()), data.size()};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))]{};
    msghdr header{};
    header.msg_name = &target;
    header.msg_namelen = sizeof target;
    header.msg_iov = &part;
    header.msg_iovlen = 1;
    if (source) {
        header.msg_control = control;
        header.msg_controllen = sizeof control;
        cmsghdr* c = CMSG_FIRSTHDR(&header);
        c->cmsg_level = IPPROTO_IP;
        c->cmsg_type = IP_PKTINFO;
        c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
        in_pktinfo info{};
        std::memcpy(&info.ipi_spec_dst.s_addr, source->data(), 4);
        std::memcpy(CMSG_DATA(c), &info, sizeof info);
    }
    ssize_t sent = -1;
    do
        sent = ::sendmsg(fd_, &header, MSG_DONTWAIT | MSG_NOSIGNAL);
    while (sent < 0 && errno == EINTR);
    return sent >= 0 && static_cast<std::size_t>(sent) == data.size();
}

bool UdpSocket::waitReadable(Clock::time_point deadline) {
    return waitAnyReadable({this, 1}, deadline);
}

bool UdpSocket::waitAnyReadable(std::span<UdpSocket> sockets, Clock::time_point deadline) {
    std::vector<pollfd> polled;
    for (const UdpSocket& socket : sockets)
        if (socket.fd_ >= 0)
            polled.push_back({socket.fd_, POLLIN, 0});
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - Clock::now());
        if (left.count() <= 0 || polled.empty())
            return false;
        // ppoll: a paced sweep waits less than poll()'s millisecond resolution.
        const timespec wait{static_cast<time_t>(left.count() / 1000000000),
                            static_cast<long>(left.count() % 1000000000)};
        const int ready = ::ppoll(polled.data(), polled.size(), &wait, nullptr);
        if (ready > 0)
            return true;
        if (ready < 0 && errno != EINTR)
            return false;
    }
}

std::optional<UdpSocket::Received> UdpSocket::receiveUntil(Clock::time_point deadline,
                                                           std::span<std::uint8_t> buffer) {
    do {
        if (auto received = receiveNow(buffer))
            return received;
    } while (waitReadable(deadline));
    return std::nullopt;
}

std::uint16_t nextTransactionId() {
    static std::mutex mutex;
    static std::uint16_t next = [] {
        std::random_device seed;
        return static_cast<std::uint16_t>(seed());
    }();
    const std::lock_guard lock(mutex);
    return next++;
}

} // namespace lanquill::platform
