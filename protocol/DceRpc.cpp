#include "protocol/DceRpc.h"

#include <algorithm>

namespace lanquill::protocol::dcerpc {

namespace {

constexpr std::uint8_t Version = 5;
constexpr std::uint8_t MinorVersion = 0;
constexpr std::uint8_t LittleEndianAscii = 0x10; // first byte of the data representation
constexpr std::size_t AuthTrailerLength = 8;

void writeHeader(ByteWriter& out, PduType type, std::uint8_t flags, std::uint32_t callId) {
    out.u8(Version).u8(MinorVersion).u8(static_cast<std::uint8_t>(type)).u8(flags);
    out.u8(LittleEndianAscii).u8(0).u8(0).u8(0);
    out.u16le(0).u16le(0).u32le(callId); // fragment length patched by finish()
}

Bytes finish(ByteWriter& out) {
    Bytes pdu = out.take();
    const auto length = static_cast<std::uint16_t>(pdu.size());
    pdu[8] = static_cast<std::uint8_t>(length & 0xFF);
    pdu[9] = static_cast<std::uint8_t>(length >> 8);
    return pdu;
}

void writeSyntax(ByteWriter& out, const SyntaxId& syntax) {
    out.bytes(syntax.uuid).u16le(syntax.major).u16le(syntax.minor);
}

SyntaxId readSyntax(ByteReader& in) {
    SyntaxId syntax;
    const auto uuid = in.take(16);
    if (in.ok())
        std::copy(uuid.begin(), uuid.end(), syntax.uuid.begin());
    syntax.major = in.u16le();
    syntax.minor = in.u16le();
    return syntax;
}

// The PDU's own bytes, as its header counts them: the body past the header, without an
// authentication trailer. Nullopt when the header is not one or the PDU is cut short.
struct Body {
    Header header;
    std::span<const std::uint8_t> bytes;
};

std::optional<Body> body(std::span<const std::uint8_t> pdu, PduType type) {
    const auto header = parseHeader(pdu);
    if (!header || header->type != type || pdu.size() < header->fragmentLength)
        return std::nullopt;
    std::size_t end = header->fragmentLength;
    if (header->authLength > 0) {
        const std::size_t trailer = AuthTrailerLength + header->authLength;
        if (end < HeaderLength + trailer)
            return std::nullopt;
        end -= trailer;
    }
    return Body{*header, pdu.subspan(HeaderLength, end - HeaderLength)};
}

std::vector<Bytes> fragments(PduType type, std::uint32_t callId, std::uint16_t contextId,
                             std::uint16_t opnum, std::span<const std::uint8_t> stub,
                             std::uint16_t maxFragment) {
    const std::size_t headerLength =
        type == PduType::Request ? RequestHeaderLength : ResponseHeaderLength;
    const std::size_t room =
        ((std::max(maxFragment, MinFragment) - headerLength) / 8) * 8; // stub bytes per fragment
    std::vector<Bytes> out;
    std::size_t at = 0;
    do {
        const std::size_t length = std::min(room, stub.size() - at);
        std::uint8_t flags = 0;
        if (at == 0)
            flags |= FirstFragment;
        if (at + length == stub.size())
            flags |= LastFragment;
        ByteWriter pdu;
        writeHeader(pdu, type, flags, callId);
        pdu.u32le(static_cast<std::uint32_t>(stub.size() - at)).u16le(contextId);
        if (type == PduType::Request)
            pdu.u16le(opnum);
        else
            pdu.u8(0).u8(0); // cancel count, reserved
        pdu.bytes(stub.subspan(at, length));
        out.push_back(finish(pdu));
        at += length;
    } while (at < stub.size());
    return out;
}

} // namespace

std::optional<Header> parseHeader(std::span<const std::uint8_t> bytes) {
    ByteReader in(bytes);
    const std::uint8_t version = in.u8();
    const std::uint8_t minor = in.u8();
    Header header;
    header.type = static_cast<PduType>(in.u8());
    header.flags = in.u8();
    const std::uint8_t representation = in.u8();
    in.skip(3);
    header.fragmentLength = in.u16le();
    header.authLength = in.u16le();
    header.callId = in.u32le();
    // A big-endian peer's integers would all read wrong: refused rather than misread.
    if (!in.ok() || version != Version || minor > 1 ||
        (representation & 0xF0) != LittleEndianAscii || header.fragmentLength < HeaderLength)
        return std::nullopt;
    return header;
}

std::vector<ContextElement> contextsFor(std::span<const SyntaxId> interfaces) {
    std::vector<ContextElement> contexts;
    for (const auto& interface : interfaces)
        contexts.push_back({static_cast<std::uint16_t>(contexts.size()), interface, {Ndr32}});
    if (!interfaces.empty())
        contexts.push_back({static_cast<std::uint16_t>(contexts.size()),
                            interfaces.front(),
                            {FeatureNegotiation}});
    return contexts;
}

Bytes buildBind(std::uint32_t callId, std::span<const ContextElement> contexts,
                std::uint16_t maxFragment) {
    ByteWriter out;
    writeHeader(out, PduType::Bind, FirstFragment | LastFragment, callId);
    out.u16le(maxFragment).u16le(maxFragment).u32le(0);
    out.u8(static_cast<std::uint8_t>(contexts.size())).u8(0).u16le(0);
    for (const auto& context : contexts) {
        out.u16le(context.id).u8(static_cast<std::uint8_t>(context.transfers.size())).u8(0);
        writeSyntax(out, context.abstract);
        for (const auto& transfer : context.transfers)
            writeSyntax(out, transfer);
    }
    return finish(out);
}

std::optional<Bind> parseBind(std::span<const std::uint8_t> pdu) {
    auto parts = body(pdu, PduType::Bind);
    if (!parts)
        parts = body(pdu, PduType::AlterContext);
    if (!parts)
        return std::nullopt;
    ByteReader in(parts->bytes);
    Bind bind;
    bind.header = parts->header;
    bind.maxTransmit = in.u16le();
    bind.maxReceive = in.u16le();
    bind.associationGroup = in.u32le();
    const std::uint8_t count = in.u8();
    in.skip(3);
    for (std::uint8_t i = 0; i < count && in.ok(); ++i) {
        ContextElement context;
        context.id = in.u16le();
        const std::uint8_t transfers = in.u8();
        in.skip(1);
        context.abstract = readSyntax(in);
        for (std::uint8_t t = 0; t < transfers && in.ok(); ++t)
            context.transfers.push_back(readSyntax(in));
        bind.contexts.push_back(std::move(context));
    }
    if (!in.ok())
        return std::nullopt;
    return bind;
}

Bytes buildBindAck(std::uint32_t callId, std::uint16_t maxTransmit, std::uint16_t maxReceive,
                   std::uint32_t associationGroup, std::string_view secondaryAddress,
                   std::span<const ResultElement> results) {
    ByteWriter out;
    writeHeader(out, PduType::BindAck, FirstFragment | LastFragment, callId);
    out.u16le(maxTransmit).u16le(maxReceive).u32le(associationGroup);
    out.u16le(static_cast<std::uint16_t>(secondaryAddress.size() + 1)).text(secondaryAddress).u8(0);
    out.zeros((4 - out.size() % 4) % 4);
    out.u8(static_cast<std::uint8_t>(results.size())).u8(0).u16le(0);
    for (const auto& result : results) {
        out.u16le(static_cast<std::uint16_t>(result.result)).u16le(result.reason);
        writeSyntax(out, result.transfer);
    }
    return finish(out);
}

std::optional<BindAck> parseBindAck(std::span<const std::uint8_t> pdu) {
    auto parts = body(pdu, PduType::BindAck);
    if (!parts)
        parts = body(pdu, PduType::AlterContextResponse);
    if (!parts)
        return std::nullopt;
    ByteReader in(parts->bytes);
    BindAck ack;
    ack.header = parts->header;
    ack.maxTransmit = in.u16le();
    ack.maxReceive = in.u16le();
    ack.associationGroup = in.u32le();
    const std::uint16_t addressLength = in.u16le();
    const auto address = in.take(addressLength);
    if (!in.ok())
        return std::nullopt;
    ack.secondaryAddress.assign(address.begin(),
                                std::find(address.begin(), address.end(), std::uint8_t{0}));
    // The result list starts on a four-byte boundary of the whole PDU.
    in.skip((4 - (HeaderLength + in.position()) % 4) % 4);
    const std::uint8_t count = in.u8();
    in.skip(3);
    for (std::uint8_t i = 0; i < count && in.ok(); ++i) {
        ResultElement result;
        result.result = static_cast<ContextResult>(in.u16le());
        result.reason = in.u16le();
        result.transfer = readSyntax(in);
        ack.results.push_back(result);
    }
    if (!in.ok())
        return std::nullopt;
    return ack;
}

std::vector<ResultElement> answerContexts(std::span<const ContextElement> contexts,
                                          std::span<const SyntaxId> served) {
    constexpr std::uint16_t AbstractNotSupported = 1;
    constexpr std::uint16_t TransfersNotSupported = 2;
    std::vector<ResultElement> results;
    for (const auto& context : contexts) {
        const auto has = [&](const SyntaxId& syntax) {
            return std::find(context.transfers.begin(), context.transfers.end(), syntax) !=
                   context.transfers.end();
        };
        ResultElement result;
        if (has(FeatureNegotiation)) {
            result.result = ContextResult::NegotiateAck;
            result.reason = FeatureNegotiation.uuid[8];
        } else if (std::find(served.begin(), served.end(), context.abstract) == served.end()) {
            result.result = ContextResult::ProviderRejection;
            result.reason = AbstractNotSupported;
        } else if (!has(Ndr32)) {
            result.result = ContextResult::ProviderRejection;
            result.reason = TransfersNotSupported;
        } else {
            result.transfer = Ndr32;
        }
        results.push_back(result);
    }
    return results;
}

std::optional<std::uint16_t> acceptedContext(const BindAck& ack,
                                             std::span<const ContextElement> offered,
                                             const SyntaxId& interface) {
    for (std::size_t i = 0; i < offered.size() && i < ack.results.size(); ++i)
        if (offered[i].abstract == interface && ack.results[i].result == ContextResult::Accepted &&
            ack.results[i].transfer == Ndr32)
            return offered[i].id;
    return std::nullopt;
}

Bytes buildBindNak(std::uint32_t callId, std::uint16_t reason) {
    ByteWriter out;
    writeHeader(out, PduType::BindNak, FirstFragment | LastFragment, callId);
    out.u16le(reason).u8(1).u8(Version).u8(MinorVersion); // one supported version: 5.0
    out.zeros((4 - out.size() % 4) % 4);
    return finish(out);
}

std::optional<BindNak> parseBindNak(std::span<const std::uint8_t> pdu) {
    const auto parts = body(pdu, PduType::BindNak);
    if (!parts)
        return std::nullopt;
    ByteReader in(parts->bytes);
    BindNak nak{parts->header, in.u16le()};
    if (!in.ok())
        return std::nullopt;
    return nak;
}

std::vector<Bytes> buildRequest(std::uint32_t callId, std::uint16_t contextId, std::uint16_t opnum,
                                std::span<const std::uint8_t> stub, std::uint16_t maxFragment) {
    return fragments(PduType::Request, callId, contextId, opnum, stub, maxFragment);
}

std::vector<Bytes> buildResponse(std::uint32_t callId, std::uint16_t contextId,
                                 std::span<const std::uint8_t> stub, std::uint16_t maxFragment) {
    return fragments(PduType::Response, callId, contextId, 0, stub, maxFragment);
}

Bytes buildFault(std::uint32_t callId, std::uint16_t contextId, std::uint32_t status,
                 bool didNotExecute) {
    ByteWriter out;
    writeHeader(out, PduType::Fault,
                FirstFragment | LastFragment | (didNotExecute ? DidNotExecute : 0), callId);
    out.u32le(0).u16le(contextId).u8(0).u8(0).u32le(status).u32le(0);
    return finish(out);
}

std::optional<Request> parseRequest(std::span<const std::uint8_t> pdu) {
    const auto parts = body(pdu, PduType::Request);
    if (!parts)
        return std::nullopt;
    ByteReader in(parts->bytes);
    Request request;
    request.header = parts->header;
    request.allocHint = in.u32le();
    request.contextId = in.u16le();
    request.opnum = in.u16le();
    if (request.header.flags & ObjectUuid)
        in.skip(16);
    request.stub = in.take(in.remaining());
    if (!in.ok())
        return std::nullopt;
    return request;
}

std::optional<Response> parseResponse(std::span<const std::uint8_t> pdu) {
    const auto parts = body(pdu, PduType::Response);
    if (!parts)
        return std::nullopt;
    ByteReader in(parts->bytes);
    Response response;
    response.header = parts->header;
    response.allocHint = in.u32le();
    response.contextId = in.u16le();
    in.skip(2); // cancel count, reserved
    response.stub = in.take(in.remaining());
    if (!in.ok())
        return std::nullopt;
    return response;
}

std::optional<Fault> parseFault(std::span<const std::uint8_t> pdu) {
    const auto parts = body(pdu, PduType::Fault);
    if (!parts)
        return std::nullopt;
    ByteReader in(parts->bytes);
    Fault fault;
    fault.header = parts->header;
    in.skip(4); // alloc hint
    fault.contextId = in.u16le();
    in.skip(2);
    fault.status = in.u32le();
    if (!in.ok())
        return std::nullopt;
    return fault;
}

Reassembler::State Reassembler::add(std::span<const std::uint8_t> fragment) {
    if (done_)
        return State::Error;
    std::optional<Header> header;
    std::span<const std::uint8_t> stub;
    if (type_ == PduType::Request) {
        const auto request = parseRequest(fragment);
        if (!request)
            return State::Error;
        header = request->header;
        stub = request->stub;
        if (started_ && (request->opnum != opnum_ || request->contextId != contextId_))
            return State::Error;
        opnum_ = request->opnum;
        contextId_ = request->contextId;
    } else {
        const auto response = parseResponse(fragment);
        if (!response)
            return State::Error;
        header = response->header;
        stub = response->stub;
        contextId_ = response->contextId;
    }
    if (header->callId != callId_)
        return State::Error;
    // A first fragment in the middle of a call, or a call not starting with one, is not ours.
    const bool first = (header->flags & FirstFragment) != 0;
    if (first == started_)
        return State::Error;
    if (stub_.size() + stub.size() > MaxStubLength)
        return State::Error;
    started_ = true;
    stub_.insert(stub_.end(), stub.begin(), stub.end());
    if (header->flags & LastFragment) {
        done_ = true;
        return State::Done;
    }
    return State::More;
}

} // namespace lanquill::protocol::dcerpc
