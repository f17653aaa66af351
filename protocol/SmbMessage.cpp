#include "protocol/SmbMessage.h"

#include <stdexcept>

namespace lanquill::protocol::smb {

namespace {

constexpr std::uint8_t SessionRequestType = 0x81;
constexpr std::uint8_t PositiveResponse = 0x82;
constexpr std::uint8_t NegativeResponse = 0x83;
constexpr std::uint8_t AsciiString = 0x04;
constexpr std::uint8_t DataBlock = 0x01;

// Appends the parameter words, then ByteCount and the bytes.
Bytes finish(Bytes smb, std::initializer_list<std::uint16_t> words, const Bytes& bytes) {
    if (bytes.size() > 0xFFFF)
        throw std::invalid_argument("SMB data too long");
    ByteWriter out(std::move(smb));
    out.u8(static_cast<std::uint8_t>(words.size()));
    for (const auto word : words)
        out.u16le(word);
    out.u16le(static_cast<std::uint16_t>(bytes.size())).bytes(bytes);
    return out.take();
}

void appendName(ByteWriter& out, std::string_view name) {
    if (name.size() > netbios::MaxNameLength || name.find('\0') != std::string_view::npos)
        throw std::invalid_argument("messenger name too long or with a zero byte");
    out.u8(AsciiString).text(name).u8(0);
}

void appendBlock(ByteWriter& out, std::string_view block) {
    if (block.size() > MaxBlock)
        throw std::invalid_argument("messenger text block too long");
    out.u8(DataBlock).u16le(static_cast<std::uint16_t>(block.size())).text(block);
}

} // namespace

Bytes header(std::uint8_t command) {
    ByteWriter out;
    out.u8(0xFF).text("SMB").u8(command).zeros(HeaderLength - 5);
    return out.take();
}

std::optional<Packet> parsePacket(std::span<const std::uint8_t> smb) {
    ByteReader in(smb);
    const auto magic = in.take(4);
    Packet packet;
    packet.command = in.u8();
    packet.status = in.u32le();
    packet.flags = in.u8();
    in.skip(HeaderLength - 10);
    const std::uint8_t wordCount = in.u8();
    if (!in.ok() || magic[0] != 0xFF || magic[1] != 'S' || magic[2] != 'M' || magic[3] != 'B')
        return std::nullopt;
    for (std::size_t i = 0; i < wordCount; ++i)
        packet.words.push_back(in.u16le());
    if (!in.ok())
        return std::nullopt;
    if (in.atEnd()) {
        packet.bytesOffset = in.position();
        return packet;
    }
    const std::uint16_t byteCount = in.u16le();
    packet.bytesOffset = in.position();
    packet.bytes = in.take(byteCount);
    if (!in.ok())
        return std::nullopt;
    return packet;
}

std::optional<Bytes> sessionRequest(std::string_view called, std::uint8_t calledSuffix,
                                    std::string_view calling) {
    const auto calledName = netbios::encodeName(called, calledSuffix);
    const auto callingName = netbios::encodeName(calling, netbios::Workstation);
    if (!calledName || !callingName)
        return std::nullopt;
    ByteWriter out;
    out.u8(SessionRequestType).u8(0).u16be(2 * netbios::EncodedNameLength);
    return out.bytes(*calledName).bytes(*callingName).take();
}

std::optional<SessionReply> parseSessionReply(std::span<const std::uint8_t> packet) {
    if (packet.size() < 4)
        return std::nullopt;
    SessionReply reply;
    if (packet[0] == PositiveResponse) {
        reply.answer = SessionAnswer::Positive;
    } else if (packet[0] == NegativeResponse) {
        if (packet.size() < 5)
            return std::nullopt;
        reply.answer = SessionAnswer::Negative;
        reply.errorCode = packet[4];
    }
    return reply;
}

Bytes sessionMessage(std::span<const std::uint8_t> smbPacket) {
    if (smbPacket.size() > MaxFrameLength)
        return {};
    const auto length = smbPacket.size();
    ByteWriter out;
    out.u8(SessionMessageType).u8(static_cast<std::uint8_t>((length >> 16) & 0x01));
    return out.u16be(static_cast<std::uint16_t>(length & 0xFFFF)).bytes(smbPacket).take();
}

std::optional<std::size_t> sessionPacketLength(std::span<const std::uint8_t> head) {
    if (head.size() < 4)
        return std::nullopt;
    return 4 + ((static_cast<std::size_t>(head[1] & 0x01) << 16) |
                (static_cast<std::size_t>(head[2]) << 8) | head[3]);
}

Bytes negotiateRequest() {
    // The one dialect offered, as a dialect string: 0x02, "NT LM 0.12", zero.
    static constexpr std::string_view dialect{"\x02NT LM 0.12", 11};
    Bytes bytes(dialect.begin(), dialect.end());
    bytes.push_back(0);
    return finish(header(Negotiate), {}, bytes);
}

Bytes sendMessageRequest(std::string_view from, std::string_view to, std::string_view text) {
    ByteWriter bytes;
    appendName(bytes, from);
    appendName(bytes, to);
    appendBlock(bytes, text);
    return finish(header(SendMessage), {}, bytes.data());
}

Bytes sendStartRequest(std::string_view from, std::string_view to) {
    ByteWriter bytes;
    appendName(bytes, from);
    appendName(bytes, to);
    return finish(header(SendStart), {}, bytes.data());
}

Bytes sendTextRequest(std::uint16_t group, std::string_view block) {
    ByteWriter bytes;
    appendBlock(bytes, block);
    return finish(header(SendText), {group}, bytes.data());
}

Bytes sendEndRequest(std::uint16_t group) {
    return finish(header(SendEnd), {group}, {});
}

std::optional<Reply> parseReply(std::span<const std::uint8_t> smbPacket) {
    const auto packet = parsePacket(smbPacket);
    if (!packet || (packet->flags & ReplyFlag) == 0)
        return std::nullopt;
    Reply reply;
    reply.command = packet->command;
    reply.status = packet->status;
    reply.words = packet->words;
    reply.byteCount = packet->bytes.size();
    return reply;
}

std::uint16_t groupId(const Reply& reply) {
    return reply.words.empty() ? 0 : reply.words[0];
}

std::uint16_t chosenDialect(const Reply& reply) {
    return reply.words.empty() ? 0xFFFF : reply.words[0];
}

} // namespace lanquill::protocol::smb
