#include "platform/NeighbourTable.h"

#include "platform/NameService.h"
#include "platform/UdpSocket.h"
#include "protocol/Addresses.h"

#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace lanquill::platform {

namespace netbios = protocol::netbios;

namespace {

constexpr unsigned CompleteFlag = 0x02; // ATF_COM
constexpr std::chrono::milliseconds PollInterval{50};

std::optional<std::vector<std::uint8_t>> parseHardwareAddress(std::string_view text) {
    std::vector<std::uint8_t> bytes;
    std::size_t i = 0;
    while (i < text.size()) {
        if (!bytes.empty()) {
            if (text[i] != ':')
                return std::nullopt;
            ++i;
        }
        if (text.size() - i < 2 || bytes.size() >= 32)
            return std::nullopt;
        unsigned value = 0;
        for (int k = 0; k < 2; ++k, ++i) {
            const char c = text[i];
            value <<= 4;
            if (c >= '0' && c <= '9')
                value |= static_cast<unsigned>(c - '0');
            else if (c >= 'a' && c <= 'f')
                value |= static_cast<unsigned>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                value |= static_cast<unsigned>(c - 'A' + 10);
            else
                return std::nullopt;
        }
        bytes.push_back(static_cast<std::uint8_t>(value));
    }
    if (bytes.empty())
        return std::nullopt;
    return bytes;
}

} // namespace

std::optional<std::vector<std::uint8_t>> arpTableEntry(std::string_view table,
                                                       const Ipv4& address) {
    const std::string wanted = protocol::formatIpv4(address);
    std::istringstream lines{std::string(table)};
    std::string line;
    std::getline(lines, line); // column titles
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string ip, type, flags, hardware;
        if (!(fields >> ip >> type >> flags >> hardware) || ip != wanted)
            continue;
        unsigned long flagBits = 0;
        try {
            flagBits = std::stoul(flags, nullptr, 16);
        } catch (const std::exception&) {
            continue;
        }
        if ((flagBits & CompleteFlag) == 0)
            continue;
        if (auto bytes = parseHardwareAddress(hardware))
            return bytes;
    }
    return std::nullopt;
}

std::vector<std::uint8_t> RealNeighbourTable::hardwareAddress(const Ipv4& address) {
    // Any datagram makes the kernel resolve the neighbour; the node-status query is harmless
    // to every host. A failed send (e.g. to the all-ones address) means no answer either.
    {
        UdpSocket socket;
        if (!socket.open() ||
            !socket.sendTo(address, netbios::NameServicePort, netbios::nodeStatusRequest(0)))
            return {};
    }
    const auto deadline = std::chrono::steady_clock::now() + wait_;
    for (;;) {
        std::ifstream file("/proc/net/arp");
        std::stringstream text;
        text << file.rdbuf();
        if (auto bytes = arpTableEntry(text.str(), address))
            return *bytes;
        if (std::chrono::steady_clock::now() >= deadline)
            return {};
        std::this_thread::sleep_for(PollInterval);
    }
}

} // namespace lanquill::platform
