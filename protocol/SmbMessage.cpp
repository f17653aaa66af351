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

namespace {

constexpr std::uint16_t Flags2LongNames = 0x0001;
constexpr std::uint16_t Flags2NtStatus = 0x4000;
constexpr std::uint8_t DialectString = 0x02;
constexpr std::uint32_t MaxBufferSize = 0x4104;
constexpr std::uint32_t CapabilityNtStatus = 0x0040;

// `04 name\0`; fails the reader for a name longer than a NetBIOS name.
std::string readName(ByteReader& in) {
    if (in.u8() != AsciiString)
        in.fail();
    auto name = in.zeroTerminated();
    if (name.size() > netbios::MaxNameLength)
        in.fail();
    return name;
}

// `01 length data`.
std::string readBlock(ByteReader& in) {
    if (in.u8() != DataBlock)
        in.fail();
    const auto data = in.take(in.u16le());
    return std::string(data.begin(), data.end());
}

} // namespace

std::optional<SessionRequest> parseSessionRequest(std::span<const std::uint8_t> packet) {
    ByteReader in(packet);
    const std::uint8_t type = in.u8();
    in.skip(1);
    const std::uint16_t length = in.u16be();
    const auto called = netbios::decodeName(in.take(netbios::EncodedNameLength));
    const auto calling = netbios::decodeName(in.take(netbios::EncodedNameLength));
    if (!in.ok() || type != SessionRequestType || length != 2 * netbios::EncodedNameLength ||
        !called || !calling)
        return std::nullopt;
    return SessionRequest{*called, *calling};
}

Bytes positiveSessionResponse() {
    return {PositiveResponse, 0, 0, 0};
}

Bytes negativeSessionResponse(std::uint8_t errorCode) {
    return {NegativeResponse, 0, 0, 1, errorCode};
}

std::optional<MessengerRequest> parseMessengerRequest(const Packet& packet) {
    ByteReader in(packet.bytes);
    MessengerRequest request;
    request.command = packet.command;
    switch (packet.command) {
    case SendMessage:
        request.from = readName(in);
        request.to = readName(in);
        request.text = readBlock(in);
        break;
    case SendStart:
        request.from = readName(in);
        request.to = readName(in);
        break;
    case SendText:
        if (packet.words.empty())
            return std::nullopt;
        request.groupId = packet.words[0];
        request.text = readBlock(in);
        break;
    case SendEnd:
        if (packet.words.empty())
            return std::nullopt;
        request.groupId = packet.words[0];
        break;
    default:
        return std::nullopt;
    }
    if (!in.ok())
        return std::nullopt;
    return request;
}

std::optional<std::uint16_t> ntLmDialect(const Packet& negotiate) {
    if (negotiate.command != Negotiate)
        return std::nullopt;
    ByteReader in(negotiate.bytes);
    for (std::uint16_t index = 0; in.remaining() > 0 && index < 0xFFFF; ++index) {
        if (in.u8() != DialectString)
            return std::nullopt;
        const auto dialect = in.zeroTerminated();
        if (!in.ok())
            return std::nullopt;
        if (dialect == "NT LM 0.12")
            return index;
    }
    return std::nullopt;
}

Bytes replyTo(std::span<const std::uint8_t> request, std::uint32_t status,
              std::initializer_list<std::uint16_t> words, std::span<const std::uint8_t> bytes) {
    ByteWriter out;
    out.u8(0xFF).text("SMB").u8(request.size() > 4 ? request[4] : 0).u32le(status);
    const std::uint8_t requestFlags = request.size() > 9 ? request[9] : 0;
    out.u8(static_cast<std::uint8_t>(requestFlags | ReplyFlag));
    out.u16le(Flags2LongNames | Flags2NtStatus);
    // PIDHigh, security features, reserved: zero; then TID, PID, UID, MID as the request had them.
    out.zeros(12);
    for (std::size_t i = 24; i < HeaderLength; ++i)
        out.u8(i < request.size() ? request[i] : 0);
    Bytes data(bytes.begin(), bytes.end());
    return finish(out.take(), words, data);
}

Bytes negotiateReply(std::span<const std::uint8_t> request, std::uint16_t index,
                     std::uint64_t systemTime) {
    Bytes head = replyTo(request, status::Success);
    head.resize(HeaderLength); // the words of this reply are not all 16-bit: written by hand
    ByteWriter out(std::move(head));
    out.u8(17);
    out.u16le(index);
    out.u8(0);                         // security mode: share level, plain passwords
    out.u16le(1).u16le(1);             // max multiplex count, max virtual circuits
    out.u32le(MaxBufferSize).u32le(0); // max buffer size, max raw size
    out.u32le(0);                      // session key
    out.u32le(CapabilityNtStatus);
    out.u32le(static_cast<std::uint32_t>(systemTime & 0xFFFFFFFF));
    out.u32le(static_cast<std::uint32_t>(systemTime >> 32));
    out.u16le(0).u8(0); // time zone, challenge length
    out.u16le(0);       // no bytes
    return out.take();
}

} // namespace lanquill::protocol::smb
