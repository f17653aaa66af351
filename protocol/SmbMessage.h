// The SMB1 messenger exchange that NetMessageBufferSend performs over the NetBIOS session
// service (TCP 139): session request, NEGOTIATE, SEND_MESSAGE, or SEND_START_MB / SEND_TEXT_MB /
// SEND_END_MB for longer texts. Pure builders and parsers; names and texts are OEM bytes.
#pragma once

#include "protocol/NetBios.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace lanquill::protocol::smb {

constexpr std::uint8_t Negotiate = 0x72;
constexpr std::uint8_t SendMessage = 0xD0;
constexpr std::uint8_t SendStart = 0xD5;
constexpr std::uint8_t SendEnd = 0xD6;
constexpr std::uint8_t SendText = 0xD7;
constexpr std::size_t MaxBlock = 128; // text bytes in one SEND_MESSAGE or SEND_TEXT_MB
constexpr std::size_t HeaderLength = 32;
constexpr std::size_t MaxFrameLength = 0x1FFFF;
constexpr std::uint8_t ReplyFlag = 0x80; // in the header's flags byte

// NetBIOS session packet types.
constexpr std::uint8_t SessionMessageType = 0x00;
constexpr std::uint8_t SessionKeepAlive = 0x85;

// The 32-byte SMB1 header for `command` with, as the messenger and mailslot protocols have it,
// every other field zero.
Bytes header(std::uint8_t command);

// An SMB1 packet split into its parts; `bytes` points into the parsed packet.
struct Packet {
    std::uint8_t command = 0;
    std::uint32_t status = 0; // NT status, or DOS class / reserved / code: zero is success
    std::uint8_t flags = 0;
    std::vector<std::uint16_t> words;
    std::span<const std::uint8_t> bytes;
    std::size_t bytesOffset = 0; // where `bytes` starts, counted from the header's first byte
};

// Parses any SMB1 packet: header, parameter words, byte count and bytes. Nullopt when it is not
// SMB1 or its words or bytes reach past the end. A packet that ends right after a zero word
// count (as error replies may) has no bytes.
std::optional<Packet> parsePacket(std::span<const std::uint8_t> smb);

// NetBIOS SESSION REQUEST (type 0x81): called NAME<calledSuffix>, calling NAME<00>. Nullopt when
// a name cannot be encoded (empty or over 15 bytes).
std::optional<Bytes> sessionRequest(std::string_view called, std::uint8_t calledSuffix,
                                    std::string_view calling);

enum class SessionAnswer { Positive, Negative, Other };

struct SessionReply {
    SessionAnswer answer = SessionAnswer::Other;
    std::uint8_t errorCode = 0; // of a negative reply (0x82: called name not present)
};

// The reply to a session request (a whole NetBIOS session packet). Nullopt when truncated.
std::optional<SessionReply> parseSessionReply(std::span<const std::uint8_t> packet);

// Wraps an SMB into a SESSION MESSAGE (type 0, 17-bit length). Empty for an over-long SMB.
Bytes sessionMessage(std::span<const std::uint8_t> smb);

// Total length of the session packet whose first four bytes are `header` (type, flags, length).
std::optional<std::size_t> sessionPacketLength(std::span<const std::uint8_t> header);

// The SMBs of the exchange (without session framing). Names at most 15 bytes, text blocks at
// most MaxBlock bytes; callers check (the builders throw std::invalid_argument otherwise).
Bytes negotiateRequest();
Bytes sendMessageRequest(std::string_view from, std::string_view to, std::string_view text);
Bytes sendStartRequest(std::string_view from, std::string_view to);
Bytes sendTextRequest(std::uint16_t groupId, std::string_view block);
Bytes sendEndRequest(std::uint16_t groupId);

struct Reply {
    std::uint8_t command = 0;
    std::uint32_t status = 0; // 0: accepted
    std::vector<std::uint16_t> words;
    std::size_t byteCount = 0;
};

// Parses an SMB reply (the SMB inside a session message). Nullopt when it is not an SMB1 reply
// or its parameter words or bytes reach past the end.
std::optional<Reply> parseReply(std::span<const std::uint8_t> smb);

// The message group id of a SEND_START_MB reply; Samba answers with no words at all, which
// means group 0.
std::uint16_t groupId(const Reply& reply);

// The dialect the server chose in a NEGOTIATE reply; 0xFFFF when it took none.
std::uint16_t chosenDialect(const Reply& reply);

// --- The receiving side: session requests and messenger SMBs as a server meets them ---

constexpr std::uint8_t CalledNameNotPresent = 0x82;
constexpr std::uint8_t InsufficientResources = 0x83;

struct SessionRequest {
    netbios::DecodedName called;
    netbios::DecodedName calling;
};

// A whole SESSION REQUEST packet (type 0x81, two encoded names). Nullopt for anything else.
std::optional<SessionRequest> parseSessionRequest(std::span<const std::uint8_t> packet);

Bytes positiveSessionResponse();
Bytes negativeSessionResponse(std::uint8_t errorCode);

// NT status codes the messenger server answers with (FLAGS2 says "32-bit status").
namespace status {
constexpr std::uint32_t Success = 0;
constexpr std::uint32_t InvalidParameter = 0xC000000D;
constexpr std::uint32_t AccessDenied = 0xC0000022;
constexpr std::uint32_t InsufficientResources = 0xC000009A;
constexpr std::uint32_t NotSupported = 0xC00000BB;
} // namespace status

// A messenger request from a client: SEND_MESSAGE (from, to, text), SEND_START_MB (from, to),
// SEND_TEXT_MB (group, text) or SEND_END_MB (group). Texts and names are OEM bytes as sent.
struct MessengerRequest {
    std::uint8_t command = 0;
    std::string from;
    std::string to;
    std::string text;
    std::uint16_t groupId = 0;
};

// Nullopt when the packet is not one of the four or its fields are malformed: a name longer than
// 15 bytes, a data block whose length passes the bytes.
std::optional<MessengerRequest> parseMessengerRequest(const Packet& packet);

// The position of "NT LM 0.12" among a NEGOTIATE request's dialects; nullopt when it is not
// offered or the dialect list is malformed.
std::optional<std::uint16_t> ntLmDialect(const Packet& negotiate);

// A reply to `request` (a whole SMB): its header with the reply flag, 32-bit `status`, the ids
// (tree, process, user, multiplex) copied, then the given words and bytes.
Bytes replyTo(std::span<const std::uint8_t> request, std::uint32_t status,
              std::initializer_list<std::uint16_t> words = {},
              std::span<const std::uint8_t> bytes = {});

// The NEGOTIATE reply choosing dialect `index` (NT LM 0.12): share-level, no encryption, no
// challenge; `systemTime` in Windows FILETIME units.
Bytes negotiateReply(std::span<const std::uint8_t> request, std::uint16_t index,
                     std::uint64_t systemTime);

} // namespace lanquill::protocol::smb
