// The parsers of what arrives on UDP 137 and 138: name query responses, node-status responses
// (and their printed table), encoded names, and MESSNGR datagrams.
#include "protocol/Mailslot.h"
#include "protocol/NetBios.h"

#include <cstddef>
#include <cstdint>
#include <span>

using namespace lanquill::protocol;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> input(data, size);
    const std::uint16_t id = size >= 2 ? static_cast<std::uint16_t>((data[0] << 8) | data[1]) : 0;
    if (const auto addresses = netbios::parseNameQueryResponse(input, id))
        if (addresses->empty() || addresses->size() * 6 > size)
            __builtin_trap();
    if (const auto status = netbios::parseNodeStatusResponse(input, id)) {
        if (status->names.size() * 18 > size)
            __builtin_trap();
        for (const auto& name : status->names)
            if (name.name.size() > netbios::MaxNameLength)
                __builtin_trap();
        static_cast<void>(netbios::nameTableText(*status));
        static_cast<void>(netbios::firstUniqueName(*status, {0x00, 0x03}));
    }
    if (const auto name = netbios::decodeName(input))
        if (name->name.size() > netbios::MaxNameLength)
            __builtin_trap();
    if (const auto message = mailslot::parseMessengerDatagram(input))
        if (message->from.size() + message->to.size() + message->text.size() > size)
            __builtin_trap();
    return 0;
}
