#include "daemon/LocalNetwork.h"

#include <algorithm>

namespace lanquill::daemon {

namespace {
constexpr auto RereadAfter = std::chrono::seconds(5);

std::uint32_t number(const Ipv4& address) {
    return std::uint32_t{address[0]} << 24 | std::uint32_t{address[1]} << 16 |
           std::uint32_t{address[2]} << 8 | address[3];
}
} // namespace

bool sameSubnet(const Ipv4& a, const Ipv4& b, int prefixLength) {
    const std::uint32_t mask =
        prefixLength <= 0 ? 0 : ~std::uint32_t{0} << (32 - std::min(prefixLength, 32));
    return (number(a) & mask) == (number(b) & mask);
}

LocalNetwork::LocalNetwork(EventLoop& loop, Source source)
    : loop_(loop), source_(std::move(source)) {}

const std::vector<platform::Interface>& LocalNetwork::interfaces() {
    const auto now = loop_.now();
    if (interfaces_.empty() || now - read_ > RereadAfter) {
        // An empty list is what a failed read gives too (out of descriptors, say): the last list
        // that named interfaces stands until one does again, so that senders do not all look
        // off-link.
        auto read = source_();
        if (!read.empty())
            interfaces_ = std::move(read);
        read_ = now;
    }
    return interfaces_;
}

const platform::Interface* LocalNetwork::arrival(unsigned index, const Ipv4& localAddress) {
    for (const auto& entry : interfaces())
        if (entry.index == index || entry.address == localAddress)
            return &entry;
    return nullptr;
}

bool LocalNetwork::isOwnAddress(const Ipv4& address) {
    const auto& list = interfaces();
    return std::any_of(list.begin(), list.end(),
                       [&](const platform::Interface& entry) { return entry.address == address; });
}

bool LocalNetwork::onLink(const Ipv4& address) {
    if (address[0] == 127)
        return true;
    const auto& list = interfaces();
    return std::any_of(list.begin(), list.end(), [&](const platform::Interface& entry) {
        return sameSubnet(entry.address, address, entry.prefixLength);
    });
}

} // namespace lanquill::daemon
