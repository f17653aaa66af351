// What lanquilld meets on UDP 137 and 138: any name service packet (query, node status query,
// registration, release, responses) and MESSNGR datagrams. Answers built from a parsed packet
// must parse back to the same name.
#include "protocol/Mailslot.h"
#include "protocol/NetBios.h"

#include <cstddef>
#include <cstdint>
#include <span>

using namespace lanquill::protocol;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> input(data, size);
    if (const auto packet = netbios::parseNamePacket(input)) {
        if (packet->name.name.size() > netbios::MaxNameLength)
            __builtin_trap();
        const Ipv4 address{10, 0, 0, 1};
        if (!packet->name.name.empty()) {
            const auto answer = netbios::positiveNameQueryResponse(
                packet->transactionId, packet->name.name, packet->name.suffix, false, address);
            if (answer) {
                const auto back = netbios::parseNamePacket(*answer);
                if (!back || back->name.name != packet->name.name || back->address != address)
                    __builtin_trap();
            }
        }
    }
    if (const auto message = mailslot::parseMessengerDatagram(input))
        if (message->text.size() > size)
            __builtin_trap();
    return 0;
}
