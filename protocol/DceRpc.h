// DCE/RPC connection-oriented PDUs (the "ncacn" transport that Windows carries over named pipes):
// bind, bind_ack, bind_nak, request, response and fault, in NDR32 little-endian. Both the
// calling and the answering side are here, so a test's fake target and a receiver can use the
// same codec. Strict in what it builds; in what it parses, unknown flags and bytes past the
// fields it needs are ignored, and nothing is ever read past the buffer given.
#pragma once

#include "protocol/Bytes.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace lanquill::protocol::dcerpc {

constexpr std::size_t HeaderLength = 16;
constexpr std::size_t RequestHeaderLength = 24;  // common header, alloc hint, context, opnum
constexpr std::size_t ResponseHeaderLength = 24; // common header, alloc hint, context, cancels
// What this program offers to send and receive in one fragment: Samba's and Windows' default.
constexpr std::uint16_t DefaultMaxFragment = 4280;
// The smallest fragment the protocol lets a peer ask for.
constexpr std::uint16_t MinFragment = 1432;
// A reassembled stub larger than this is refused: nothing this program exchanges comes close.
constexpr std::size_t MaxStubLength = 1 << 20;

enum class PduType : std::uint8_t {
    Request = 0,
    Response = 2,
    Fault = 3,
    Bind = 11,
    BindAck = 12,
    BindNak = 13,
    AlterContext = 14,
    AlterContextResponse = 15,
};

// pfc_flags of the common header.
constexpr std::uint8_t FirstFragment = 0x01;
constexpr std::uint8_t LastFragment = 0x02;
constexpr std::uint8_t DidNotExecute = 0x20;
constexpr std::uint8_t ObjectUuid = 0x80;

using Uuid = std::array<std::uint8_t, 16>; // in wire order

// "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx" in wire order: the first three groups little-endian,
// the last two as written. Nullopt for anything else.
constexpr std::optional<Uuid> parseUuid(std::string_view text) {
    if (text.size() != 36 || text[8] != '-' || text[13] != '-' || text[18] != '-' ||
        text[23] != '-')
        return std::nullopt;
    const auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    };
    std::array<std::uint8_t, 16> printed{};
    std::size_t at = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (i == 8 || i == 13 || i == 18 || i == 23)
            continue;
        const int high = nibble(text[i]);
        const int low = nibble(text[i + 1]);
        if (high < 0 || low < 0)
            return std::nullopt;
        printed[at++] = static_cast<std::uint8_t>(high * 16 + low);
        ++i;
    }
    // The first three groups are integers on the wire, least significant byte first.
    constexpr std::array<std::size_t, 16> order{3, 2, 1,  0,  5,  4,  7,  6,
                                                8, 9, 10, 11, 12, 13, 14, 15};
    Uuid wire{};
    for (std::size_t i = 0; i < 16; ++i)
        wire[i] = printed[order[i]];
    return wire;
}

// An interface or transfer syntax: UUID and version.
struct SyntaxId {
    Uuid uuid{};
    std::uint16_t major = 0;
    std::uint16_t minor = 0;
    bool operator==(const SyntaxId&) const = default;
};

constexpr SyntaxId syntax(std::string_view uuid, std::uint16_t major, std::uint16_t minor = 0) {
    return {parseUuid(uuid).value(), major, minor};
}

inline constexpr SyntaxId Ndr32 = syntax("8a885d04-1ceb-11c9-9fe8-08002b104860", 2);
// Bind-time feature negotiation: the flags ride in the UUID's ninth byte (here 3: security
// context multiplexing and keeping the connection when a call is orphaned).
inline constexpr SyntaxId FeatureNegotiation = syntax("6cb71c2c-9812-4540-0300-000000000000", 1);

// The 16 bytes every PDU starts with.
struct Header {
    PduType type = PduType::Request;
    std::uint8_t flags = 0;
    std::uint16_t fragmentLength = 0;
    std::uint16_t authLength = 0;
    std::uint32_t callId = 0;
};

// The common header of a PDU in little-endian NDR: version 5.0, a fragment length covering at
// least the header. Needs only the first 16 bytes, so a reader learns how many more to read.
std::optional<Header> parseHeader(std::span<const std::uint8_t> bytes);

// --- bind ---

struct ContextElement {
    std::uint16_t id = 0;
    SyntaxId abstract;
    std::vector<SyntaxId> transfers;
};

struct Bind {
    Header header;
    std::uint16_t maxTransmit = 0;
    std::uint16_t maxReceive = 0;
    std::uint32_t associationGroup = 0;
    std::vector<ContextElement> contexts;
};

// One context per interface, numbered from 0 in order, each offering NDR32; then one more for
// the first interface with the feature negotiation syntax.
std::vector<ContextElement> contextsFor(std::span<const SyntaxId> interfaces);

Bytes buildBind(std::uint32_t callId, std::span<const ContextElement> contexts,
                std::uint16_t maxFragment = DefaultMaxFragment);
std::optional<Bind> parseBind(std::span<const std::uint8_t> pdu);

// --- bind_ack and bind_nak ---

enum class ContextResult : std::uint16_t {
    Accepted = 0,
    UserRejection = 1,
    ProviderRejection = 2,
    NegotiateAck = 3, // the answer to the feature negotiation context
};

struct ResultElement {
    ContextResult result = ContextResult::Accepted;
    std::uint16_t reason = 0; // rejection reason, or the acknowledged feature flags
    SyntaxId transfer;        // the syntax chosen; zeros when rejected
};

struct BindAck {
    Header header;
    std::uint16_t maxTransmit = 0;
    std::uint16_t maxReceive = 0;
    std::uint32_t associationGroup = 0;
    std::string secondaryAddress; // without its terminating zero
    std::vector<ResultElement> results;
};

Bytes buildBindAck(std::uint32_t callId, std::uint16_t maxTransmit, std::uint16_t maxReceive,
                   std::uint32_t associationGroup, std::string_view secondaryAddress,
                   std::span<const ResultElement> results);
std::optional<BindAck> parseBindAck(std::span<const std::uint8_t> pdu);

// The answer a server gives to each element of a bind: NDR32 accepted for the interfaces in
// `served`, the feature negotiation acknowledged, anything else refused.
std::vector<ResultElement> answerContexts(std::span<const ContextElement> contexts,
                                          std::span<const SyntaxId> served);

// The context id the server accepted for `interface` with NDR32, if it did.
std::optional<std::uint16_t> acceptedContext(const BindAck& ack,
                                             std::span<const ContextElement> offered,
                                             const SyntaxId& interface);

struct BindNak {
    Header header;
    std::uint16_t reason = 0;
};

Bytes buildBindNak(std::uint32_t callId, std::uint16_t reason);
std::optional<BindNak> parseBindNak(std::span<const std::uint8_t> pdu);

// --- request, response, fault ---

struct Request {
    Header header;
    std::uint32_t allocHint = 0;
    std::uint16_t contextId = 0;
    std::uint16_t opnum = 0;
    std::span<const std::uint8_t> stub; // into the parsed bytes
};

struct Response {
    Header header;
    std::uint32_t allocHint = 0;
    std::uint16_t contextId = 0;
    std::span<const std::uint8_t> stub;
};

struct Fault {
    Header header;
    std::uint16_t contextId = 0;
    std::uint32_t status = 0;
};

// A call as fragments of at most `maxFragment` bytes (clamped to at least MinFragment); each
// fragment's stub but the last is a multiple of eight bytes.
std::vector<Bytes> buildRequest(std::uint32_t callId, std::uint16_t contextId, std::uint16_t opnum,
                                std::span<const std::uint8_t> stub,
                                std::uint16_t maxFragment = DefaultMaxFragment);
std::vector<Bytes> buildResponse(std::uint32_t callId, std::uint16_t contextId,
                                 std::span<const std::uint8_t> stub,
                                 std::uint16_t maxFragment = DefaultMaxFragment);
Bytes buildFault(std::uint32_t callId, std::uint16_t contextId, std::uint32_t status,
                 bool didNotExecute = true);

std::optional<Request> parseRequest(std::span<const std::uint8_t> pdu);
std::optional<Response> parseResponse(std::span<const std::uint8_t> pdu);
std::optional<Fault> parseFault(std::span<const std::uint8_t> pdu);

// Joins the stubs of one call's request or response fragments, first to last.
class Reassembler {
public:
    enum class State { More, Done, Error };
    // `fragment` must be the next fragment of call `callId`, of `type` (Request or Response).
    State add(std::span<const std::uint8_t> fragment);
    Reassembler(PduType type, std::uint32_t callId) : type_(type), callId_(callId) {}
    const Bytes& stub() const { return stub_; }
    std::uint16_t opnum() const { return opnum_; }
    std::uint16_t contextId() const { return contextId_; }

private:
    PduType type_;
    std::uint32_t callId_;
    bool started_ = false;
    bool done_ = false;
    std::uint16_t opnum_ = 0;
    std::uint16_t contextId_ = 0;
    Bytes stub_;
};

// Status codes of fault PDUs that a caller tells apart.
constexpr std::uint32_t FaultAccessDenied = 0x00000005;
constexpr std::uint32_t FaultOpRangeError = 0x1C010002;
constexpr std::uint32_t FaultUnknownInterface = 0x1C010003;
constexpr std::uint32_t FaultContextMismatch = 0x1C00001A;
constexpr std::uint32_t FaultProtocolError = 0x1C01000B;

} // namespace lanquill::protocol::dcerpc
