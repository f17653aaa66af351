#include "desktop/UdpDatagramSocket.h"

#include <QObject>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace lanquill::desktop {

UdpDatagramSocket::~UdpDatagramSocket() {
    close();
}

platform::DatagramSocket::Opened UdpDatagramSocket::open(std::uint16_t port) {
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd_ < 0)
        return {Failure::Create, errno};
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(fd_, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0)
        return {Failure::Bind, errno};
    return {};
}

void UdpDatagramSocket::notifyReadable(std::function<void()> onReadable) {
    notifier_.reset();
    if (fd_ < 0)
        return;
    notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(),
                     [onReadable = std::move(onReadable)] { onReadable(); });
}

long UdpDatagramSocket::sendTo(const platform::Ipv4& address, std::uint16_t port,
                               std::span<const std::uint8_t> data) {
    if (fd_ < 0)
        return -1;
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(port);
    std::memcpy(&peer.sin_addr.s_addr, address.data(), address.size());
    const ssize_t sent = ::sendto(fd_, data.data(), data.size(), MSG_NOSIGNAL,
                                  reinterpret_cast<const sockaddr*>(&peer), sizeof peer);
    return sent;
}

long UdpDatagramSocket::receive(std::span<std::uint8_t> buffer, platform::Ipv4& from) {
    if (fd_ < 0)
        return -1;
    sockaddr_in source{};
    socklen_t sourceLength = sizeof source;
    // MSG_TRUNC reports the datagram's real length: one longer than the buffer is an error, as
    // a message-size failure would be, and is dropped whole.
    const ssize_t n = ::recvfrom(fd_, buffer.data(), buffer.size(), MSG_TRUNC,
                                 reinterpret_cast<sockaddr*>(&source), &sourceLength);
    if (n < 0 || static_cast<std::size_t>(n) > buffer.size())
        return -1;
    std::memcpy(from.data(), &source.sin_addr.s_addr, from.size());
    return n;
}

void UdpDatagramSocket::close() {
    notifier_.reset();
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

} // namespace lanquill::desktop
