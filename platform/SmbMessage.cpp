#include "platform/SmbMessage.h"

#include <stdexcept>

namespace lanquill::platform::smb {

namespace {

constexpr std::uint8_t SessionMessageType = 0x00;
constexpr std::uint8_t SessionRequestType = 0x81;
constexpr std::uint8_t PositiveResponse = 0x82;
constexpr std::uint8_t NegativeResponse = 0x83;
constexpr std::uint8_t ReplyFlag = 0x80;
constexpr std::uint8_t AsciiString = 0x04;
constexpr std::uint8_t DataBlock = 0x01;

void put16le(Bytes& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

std::uint16_t get16le(std::span<const std::uint8_t> data, std::size_t at) {
    return static_cast<std::uint16_t>(data[at] | (data[at + 1] << 8));
}

// Header with the command and, as the messenger protocol has it, every other field zero.
Bytes header(std::uint8_t command) {
    Bytes out(HeaderLength, 0);
    out[0] = 0xFF;
    out[1] = 'S';
    out[2] = 'M';
    out[3] = 'B';
    out[4] = command;
    return out;
}

// Appends the parameter words, then ByteCount and the bytes.
Bytes finish(Bytes smb, std::initializer_list<std::uint16_t> words, const Bytes& bytes) {
    smb.push_back(static_cast<std::uint8_t>(words.size()));
    for (const auto word : words)
        put16le(smb, word);
    if (bytes.size() > 0xFFFF)
        throw std::invalid_argument("SMB data too long");
    put16le(smb, static_cast<std::uint16_t>(bytes.size()));
    smb.insert(smb.end(), bytes.begin(), bytes.end());
    return smb;
}

void appendName(Bytes& out, std::string_view name) {
    if (name.size() > netbios::MaxNameLength || name.find('\0') != std::string_view::npos)
        throw std::invalid_argument("messenger name too long or with a zero byte");
    out.push_back(AsciiString);
    out.insert(out.end(), name.begin(), name.end());
    out.push_back(0);
}

void appendBlock(Bytes& out, std::string_view block) {
    if (block.size() > MaxBlock)
        throw std::invalid_argument("messenger text block too long");
    out.push_back(DataBlock);
    put16le(out, static_cast<std::uint16_t>(block.size()));
    out.insert(out.end(), block.begin(), block.end());
}

} // namespace

std::optional<Bytes> sessionRequest(std::string_view called, std::uint8_t calledSuffix,
                                    std::string_view calling) {
    const auto calledName = netbios::encodeName(called, calledSuffix);
    const auto callingName = netbios::encodeName(calling, netbios::Workstation);
    if (!calledName || !callingName)
        return std::nullopt;
    Bytes out{SessionRequestType, 0, 0, 2 * netbios::EncodedNameLength};
    out.insert(out.end(), calledName->begin(), calledName->end());
    out.insert(out.end(), callingName->begin(), callingName->end());
    return out;
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
    Bytes out{SessionMessageType, static_cast<std::uint8_t>((length >> 16) & 0x01),
              static_cast<std::uint8_t>((length >> 8) & 0xFF),
              static_cast<std::uint8_t>(length & 0xFF)};
    out.insert(out.end(), smbPacket.begin(), smbPacket.end());
    return out;
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
    Bytes bytes;
    appendName(bytes, from);
    appendName(bytes, to);
    appendBlock(bytes, text);
    return finish(header(SendMessage), {}, bytes);
}

Bytes sendStartRequest(std::string_view from, std::string_view to) {
    Bytes bytes;
    appendName(bytes, from);
    appendName(bytes, to);
    return finish(header(SendStart), {}, bytes);
}

Bytes sendTextRequest(std::uint16_t group, std::string_view block) {
    Bytes bytes;
    appendBlock(bytes, block);
    return finish(header(SendText), {group}, bytes);
}

Bytes sendEndRequest(std::uint16_t group) {
    return finish(header(SendEnd), {group}, {});
}

std::optional<Reply> parseReply(std::span<const std::uint8_t> smbPacket) {
    if (smbPacket.size() < HeaderLength + 1 || smbPacket[0] != 0xFF || smbPacket[1] != 'S' ||
        smbPacket[2] != 'M' || smbPacket[3] != 'B' || (smbPacket[9] & ReplyFlag) == 0)
        return std::nullopt;
    Reply reply;
    reply.command = smbPacket[4];
    // NT status, or the DOS error class / reserved / code: either way zero means success.
    reply.status = static_cast<std::uint32_t>(smbPacket[5]) |
                   (static_cast<std::uint32_t>(smbPacket[6]) << 8) |
                   (static_cast<std::uint32_t>(smbPacket[7]) << 16) |
                   (static_cast<std::uint32_t>(smbPacket[8]) << 24);
    const std::size_t wordCount = smbPacket[HeaderLength];
    std::size_t at = HeaderLength + 1;
    if (smbPacket.size() - at < 2 * wordCount)
        return std::nullopt;
    for (std::size_t i = 0; i < wordCount; ++i, at += 2)
        reply.words.push_back(get16le(smbPacket, at));
    // An error reply may end right after the (zero) word count; its byte count is then 0.
    if (smbPacket.size() == at)
        return reply;
    if (smbPacket.size() - at < 2)
        return std::nullopt;
    reply.byteCount = get16le(smbPacket, at);
    at += 2;
    if (smbPacket.size() - at < reply.byteCount)
        return std::nullopt;
    return reply;
}

std::uint16_t groupId(const Reply& reply) {
    return reply.words.empty() ? 0 : reply.words[0];
}

std::uint16_t chosenDialect(const Reply& reply) {
    return reply.words.empty() ? 0xFFFF : reply.words[0];
}

} // namespace lanquill::platform::smb
