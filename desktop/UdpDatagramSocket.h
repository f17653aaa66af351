#pragma once

#include "platform/Platform.h"

#include <QSocketNotifier>

#include <memory>

namespace lanquill::desktop {

// A non-blocking IPv4 UDP socket whose read readiness is delivered on the GUI thread.
class UdpDatagramSocket : public platform::DatagramSocket {
public:
    ~UdpDatagramSocket() override;
    Opened open(std::uint16_t port) override;
    void notifyReadable(std::function<void()> onReadable) override;
    long sendTo(const platform::Ipv4& address, std::uint16_t port,
                std::span<const std::uint8_t> data) override;
    long receive(std::span<std::uint8_t> buffer, platform::Ipv4& from) override;
    void close() override;
    bool isOpen() const override { return fd_ >= 0; }

private:
    int fd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
};

} // namespace lanquill::desktop
