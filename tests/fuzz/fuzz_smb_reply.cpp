// The parsers of what a messenger receiver sends back: the session reply, the session packet
// length, and the SMB reply (with the group id and dialect read from it).
#include "protocol/SmbMessage.h"

#include <cstddef>
#include <cstdint>
#include <span>

using namespace lanquill::protocol;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> input(data, size);
    if (const auto session = smb::parseSessionReply(input))
        static_cast<void>(session->errorCode);
    if (const auto length = smb::sessionPacketLength(input))
        if (*length < 4 || *length > smb::MaxFrameLength + 4)
            __builtin_trap();
    if (const auto reply = smb::parseReply(input)) {
        if (reply->words.size() > 255 || reply->byteCount > size)
            __builtin_trap();
        static_cast<void>(smb::groupId(*reply) + smb::chosenDialect(*reply));
    }
    return 0;
}
