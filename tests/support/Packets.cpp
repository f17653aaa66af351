#include "support/Packets.h"

#include "protocol/SmbMessage.h"

namespace lanquill::testsupport {

protocol::Bytes smbReply(std::uint8_t command, std::uint32_t status,
                         const std::vector<std::uint16_t>& words) {
    protocol::Bytes header = protocol::smb::header(command);
    for (std::size_t i = 0; i < 4; ++i)
        header[5 + i] = static_cast<std::uint8_t>(status >> (8 * i)); // little-endian
    header[9] = protocol::smb::ReplyFlag;
    protocol::ByteWriter out(std::move(header));
    out.u8(static_cast<std::uint8_t>(words.size()));
    for (const auto word : words)
        out.u16le(word);
    out.u16le(0); // byte count
    return out.take();
}

} // namespace lanquill::testsupport
