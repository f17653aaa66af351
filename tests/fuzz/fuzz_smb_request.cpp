// What lanquilld meets on TCP 139: session requests, session packet lengths, and the SMBs of a
// messenger client (NEGOTIATE, SEND_MESSAGE, SEND_START_MB / SEND_TEXT_MB / SEND_END_MB), with
// the replies built for them.
#include "protocol/SmbMessage.h"

#include <cstddef>
#include <cstdint>
#include <span>

using namespace lanquill::protocol;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> input(data, size);
    if (const auto request = smb::parseSessionRequest(input))
        if (request->called.name.size() > netbios::MaxNameLength)
            __builtin_trap();
    const auto packet = smb::parsePacket(input);
    if (!packet)
        return 0;
    if (const auto message = smb::parseMessengerRequest(*packet)) {
        if (message->from.size() > netbios::MaxNameLength ||
            message->to.size() > netbios::MaxNameLength || message->text.size() > size)
            __builtin_trap();
    }
    if (const auto dialect = smb::ntLmDialect(*packet)) {
        const auto reply = smb::parseReply(smb::negotiateReply(input, *dialect, 0));
        if (!reply || smb::chosenDialect(*reply) != *dialect)
            __builtin_trap();
    }
    const auto reply = smb::parseReply(smb::replyTo(input, smb::status::AccessDenied));
    if (!reply || reply->command != packet->command || reply->status != smb::status::AccessDenied)
        __builtin_trap();
    return 0;
}
