// What a Windows target (or a caller of a receiver) sends: every DCE/RPC PDU parser, fragment
// reassembly, and the Terminal Services stubs of both sides.
#include "protocol/DceRpc.h"
#include "protocol/TermSrv.h"

#include <cstddef>
#include <cstdint>
#include <span>

using namespace lanquill::protocol;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> input(data, size);
    if (const auto header = dcerpc::parseHeader(input))
        if (header->fragmentLength < dcerpc::HeaderLength)
            __builtin_trap();
    if (const auto bind = dcerpc::parseBind(input))
        static_cast<void>(dcerpc::answerContexts(bind->contexts, {}));
    if (const auto ack = dcerpc::parseBindAck(input))
        if (ack->results.size() > 255)
            __builtin_trap();
    static_cast<void>(dcerpc::parseBindNak(input));
    static_cast<void>(dcerpc::parseFault(input));
    if (const auto response = dcerpc::parseResponse(input))
        if (response->stub.size() > size)
            __builtin_trap();
    dcerpc::Reassembler calls(dcerpc::PduType::Request, 1);
    for (std::size_t at = 0; at < size;) {
        const auto header = dcerpc::parseHeader(input.subspan(at));
        if (!header || calls.add(input.subspan(at)) != dcerpc::Reassembler::State::More)
            break;
        at += header->fragmentLength;
    }
    static_cast<void>(termsrv::parseGetEnumResultResponse(input));
    static_cast<void>(termsrv::parseOpenSessionResponse(input));
    static_cast<void>(termsrv::parseCloseHandleResponse(input));
    static_cast<void>(termsrv::parseShowMessageBoxResponse(input));
    static_cast<void>(termsrv::parseOpenServerResponse(input));
    static_cast<void>(termsrv::parseSendMessageResponse(input));
    if (const auto box = termsrv::parseShowMessageBoxRequest(input))
        if (!termsrv::toUtf16(box->title) || !termsrv::toUtf16(box->text))
            __builtin_trap(); // what the parser gives is always UTF-8
    if (const auto message = termsrv::parseSendMessageRequest(input))
        if (!termsrv::toUtf16(message->text))
            __builtin_trap();
    return 0;
}
