#include "protocol/Addresses.h"

#include <arpa/inet.h>

namespace lanquill::protocol {

std::string formatIpv4(const Ipv4& address) {
    std::string text;
    for (std::size_t i = 0; i < address.size(); ++i) {
        if (i > 0)
            text += '.';
        text += std::to_string(address[i]);
    }
    return text;
}

std::optional<Ipv4> parseIpv4(std::string_view text) {
    Ipv4 address{};
    std::size_t pos = 0;
    for (std::size_t part = 0; part < 4; ++part) {
        if (part > 0) {
            if (pos >= text.size() || text[pos] != '.')
                return std::nullopt;
            ++pos;
        }
        std::size_t digits = 0;
        unsigned value = 0;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && digits < 4) {
            value = value * 10 + static_cast<unsigned>(text[pos] - '0');
            ++pos;
            ++digits;
        }
        if (digits == 0 || digits > 3 || value > 255)
            return std::nullopt;
        address[part] = static_cast<std::uint8_t>(value);
    }
    if (pos != text.size())
        return std::nullopt;
    return address;
}

Ipv4 inetAddr(std::string_view text) {
    // inet_aton accepts the same forms as inet_addr (octal, hex, fewer parts).
    in_addr parsed{};
    const std::string copy(text);
    if (copy.find('\0') != std::string::npos || inet_aton(copy.c_str(), &parsed) == 0)
        return {255, 255, 255, 255};
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&parsed.s_addr);
    return {bytes[0], bytes[1], bytes[2], bytes[3]};
}

bool isHostAddress(const Ipv4& address) {
    constexpr Ipv4 Unspecified{0, 0, 0, 0};
    constexpr Ipv4 LimitedBroadcast{255, 255, 255, 255};
    return address != Unspecified && address != LimitedBroadcast && address[0] != 127;
}

std::string formatHardwareAddress(std::span<const std::uint8_t> bytes) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i > 0)
            text += '-';
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0x0F];
    }
    return text;
}

} // namespace lanquill::protocol
