// DCE/RPC PDUs and the Terminal Services stubs: a few layouts checked byte by byte against the
// DCE/RPC and MS-TSTS layouts, each call round-tripped through both sides, fragmentation, and
// answers cut short or padded.
#include "protocol/DceRpc.h"
#include "protocol/TermSrv.h"

#include <gtest/gtest.h>

using namespace lanquill::protocol;

namespace {

Bytes hex(std::string_view text) {
    Bytes out;
    for (std::size_t i = 0; i + 1 < text.size();) {
        if (text[i] == ' ') {
            ++i;
            continue;
        }
        out.push_back(
            static_cast<std::uint8_t>(std::stoi(std::string(text.substr(i, 2)), nullptr, 16)));
        i += 2;
    }
    return out;
}

termsrv::ContextHandle someHandle() {
    termsrv::ContextHandle h{};
    for (std::size_t i = 4; i < h.size(); ++i)
        h[i] = static_cast<std::uint8_t>(i);
    return h;
}

} // namespace

TEST(DceRpc, BindOffersEachInterfaceWithNdrAndNegotiatesFeatures) {
    const dcerpc::SyntaxId interfaces[] = {termsrv::TermSrvSession, termsrv::TermSrvEnumeration};
    const auto contexts = dcerpc::contextsFor(interfaces);
    ASSERT_EQ(contexts.size(), 3U);
    const Bytes pdu = dcerpc::buildBind(7, contexts);
    // Header: 5.0, bind, first|last, little-endian, length 28 + 3 * 44, no auth, call 7.
    EXPECT_EQ(Bytes(pdu.begin(), pdu.begin() + 28),
              hex("05 00 0b 03 10 00 00 00 a0 00 00 00 07 00 00 00 b8 10 b8 10 00 00 00 00 "
                  "03 00 00 00"));
    // The first context: id 0, one transfer syntax, TermSrvSession 1.0, NDR 2.0.
    EXPECT_EQ(Bytes(pdu.begin() + 28, pdu.begin() + 72),
              hex("00 00 01 00 d6 09 48 48 39 42 1b 47 b5 bc 61 df 8c 23 ac 48 01 00 00 00 "
                  "04 5d 88 8a eb 1c c9 11 9f e8 08 00 2b 10 48 60 02 00 00 00"));
    // The last: the feature negotiation syntax, flags 3 in its ninth byte.
    EXPECT_EQ(Bytes(pdu.end() - 20, pdu.end()),
              hex("2c 1c b7 6c 12 98 40 45 03 00 00 00 00 00 00 00 01 00 00 00"));

    // The answering side reads it back and answers: NDR accepted, features acknowledged.
    const auto bind = dcerpc::parseBind(pdu);
    ASSERT_TRUE(bind);
    EXPECT_EQ(bind->header.callId, 7U);
    ASSERT_EQ(bind->contexts.size(), 3U);
    const dcerpc::SyntaxId served[] = {termsrv::TermSrvSession};
    const auto results = dcerpc::answerContexts(bind->contexts, served);
    const Bytes ackPdu =
        dcerpc::buildBindAck(7, 4280, 2048, 0x1234, "\\PIPE\\lsm_api_service", results);
    EXPECT_EQ(ackPdu.size() % 4, 0U);
    const auto ack = dcerpc::parseBindAck(ackPdu);
    ASSERT_TRUE(ack);
    EXPECT_EQ(ack->maxReceive, 2048);
    EXPECT_EQ(ack->associationGroup, 0x1234U);
    EXPECT_EQ(ack->secondaryAddress, "\\PIPE\\lsm_api_service");
    ASSERT_EQ(ack->results.size(), 3U);
    EXPECT_EQ(ack->results[1].result, dcerpc::ContextResult::ProviderRejection);
    EXPECT_EQ(ack->results[2].result, dcerpc::ContextResult::NegotiateAck);
    EXPECT_EQ(ack->results[2].reason, 3);
    EXPECT_EQ(dcerpc::acceptedContext(*ack, contexts, termsrv::TermSrvSession), 0);
    EXPECT_FALSE(dcerpc::acceptedContext(*ack, contexts, termsrv::TermSrvEnumeration));
}

TEST(DceRpc, ParsersToleratePaddingAndRefuseWhatIsCutShort) {
    const auto stub = termsrv::showMessageBoxResponse({termsrv::IdAsync, 0});
    auto pdu = dcerpc::buildResponse(3, 0, stub).front();
    EXPECT_EQ(pdu, hex("05 00 02 03 10 00 00 00 20 00 00 00 03 00 00 00 08 00 00 00 00 00 00 00 "
                       "01 7d 00 00 00 00 00 00"));
    // Bytes past the fragment (the next PDU already read) and unknown flags are ignored.
    Bytes padded = pdu;
    padded[3] |= 0x44;
    padded.insert(padded.end(), {0xde, 0xad});
    const auto response = dcerpc::parseResponse(padded);
    ASSERT_TRUE(response);
    EXPECT_EQ(Bytes(response->stub.begin(), response->stub.end()), stub);
    // Every cut of it is refused, never read past.
    for (std::size_t length = 0; length < pdu.size(); ++length)
        EXPECT_FALSE(dcerpc::parseResponse(std::span(pdu).first(length))) << length;
    // A big-endian peer, another version or another type are not taken for this one.
    for (const std::size_t at : {0UL, 2UL, 4UL}) {
        Bytes other = pdu;
        other[at] ^= 0x10;
        EXPECT_FALSE(dcerpc::parseResponse(other)) << at;
    }
    // An authentication trailer is not stub.
    Bytes signedPdu = pdu;
    signedPdu.insert(signedPdu.end(), 8 + 16, 0xAA);
    signedPdu[8] = static_cast<std::uint8_t>(signedPdu.size());
    signedPdu[10] = 16;
    const auto stripped = dcerpc::parseResponse(signedPdu);
    ASSERT_TRUE(stripped);
    EXPECT_EQ(stripped->stub.size(), stub.size());

    const auto fault = dcerpc::parseFault(dcerpc::buildFault(9, 1, dcerpc::FaultAccessDenied));
    ASSERT_TRUE(fault);
    EXPECT_EQ(fault->status, dcerpc::FaultAccessDenied);
    EXPECT_TRUE(fault->header.flags & dcerpc::DidNotExecute);
    const auto nak = dcerpc::parseBindNak(dcerpc::buildBindNak(1, 4));
    ASSERT_TRUE(nak);
    EXPECT_EQ(nak->reason, 4);
}

TEST(DceRpc, LongStubsTravelInFragmentsAndComeBackWhole) {
    Bytes stub(10000);
    for (std::size_t i = 0; i < stub.size(); ++i)
        stub[i] = static_cast<std::uint8_t>(i * 7);
    struct Case {
        dcerpc::PduType type;
        std::uint16_t maxFragment;
        std::size_t fragments;
    };
    const Case cases[] = {
        {dcerpc::PduType::Request, 4280, 3},
        {dcerpc::PduType::Response, 4280, 3},
        {dcerpc::PduType::Request, 100, 8}, // clamped to the smallest fragment allowed
        {dcerpc::PduType::Response, 65535, 1},
    };
    for (const auto& c : cases) {
        const auto pdus = c.type == dcerpc::PduType::Request
                              ? dcerpc::buildRequest(5, 2, 9, stub, c.maxFragment)
                              : dcerpc::buildResponse(5, 2, stub, c.maxFragment);
        ASSERT_EQ(pdus.size(), c.fragments) << c.maxFragment;
        dcerpc::Reassembler whole(c.type, 5);
        for (std::size_t i = 0; i < pdus.size(); ++i) {
            EXPECT_LE(pdus[i].size(), std::max<std::size_t>(c.maxFragment, dcerpc::MinFragment));
            EXPECT_EQ(whole.add(pdus[i]), i + 1 == pdus.size() ? dcerpc::Reassembler::State::Done
                                                               : dcerpc::Reassembler::State::More);
        }
        EXPECT_EQ(whole.stub(), stub);
        EXPECT_EQ(whole.contextId(), 2);
        // Out of order, another call's, or one fragment too many: refused.
        if (pdus.size() > 1) {
            dcerpc::Reassembler skipped(c.type, 5);
            EXPECT_EQ(skipped.add(pdus[1]), dcerpc::Reassembler::State::Error);
        }
        dcerpc::Reassembler otherCall(c.type, 6);
        EXPECT_EQ(otherCall.add(pdus[0]), dcerpc::Reassembler::State::Error);
        EXPECT_EQ(whole.add(pdus[0]), dcerpc::Reassembler::State::Error);
    }
    // An empty stub is still one fragment.
    EXPECT_EQ(dcerpc::buildRequest(1, 0, 0, {}).size(), 1U);
}

TEST(TermSrv, MessageBoxRequestLayoutAndBothSides) {
    // Title "Hi", text "你好\n第二行": the strings as NDR conformant varying arrays.
    termsrv::MessageBox box;
    box.handle = someHandle();
    box.title = "Hi";
    box.text = "你好\n第二行";
    const auto stub = termsrv::showMessageBoxRequest(box);
    ASSERT_TRUE(stub);
    EXPECT_EQ(Bytes(stub->begin() + 20, stub->end()),
              hex("03 00 00 00 00 00 00 00 03 00 00 00 48 00 69 00 00 00 00 00 "
                  "07 00 00 00 00 00 00 00 07 00 00 00 60 4f 7d 59 0a 00 2c 7b 8c 4e 4c 88 00 00 "
                  "00 00 40 00 00 00 00 00 00 00 01 00 00 00"));

    // The same through IcaApi: session, then each string as a counted array whose length
    // parameter repeats its count in characters (NUL included), the wait flag one byte.
    termsrv::WinStationMessage legacy;
    legacy.handle = box.handle;
    legacy.sessionId = 2;
    legacy.title = "Hi";
    legacy.text = "你好";
    const auto legacyStub = termsrv::sendMessageRequest(legacy);
    ASSERT_TRUE(legacyStub);
    EXPECT_EQ(Bytes(legacyStub->begin() + 20, legacyStub->end()),
              hex("02 00 00 00 03 00 00 00 48 00 69 00 00 00 00 00 03 00 00 00 "
                  "03 00 00 00 60 4f 7d 59 00 00 00 00 03 00 00 00 "
                  "40 00 00 00 00 00 00 00 01"));

    struct Case {
        std::string title;
        std::string text;
    };
    const Case cases[] = {
        {"来自 PC01 的消息", "下课了，请保存文件\n第二行"},
        {"Message from PC01", std::string(1000, 'x')},
        {"", "😀 outside the BMP"},
    };
    for (const auto& c : cases) {
        box.title = c.title;
        box.text = c.text;
        const auto request = termsrv::showMessageBoxRequest(box);
        ASSERT_TRUE(request);
        EXPECT_EQ(request->size() % 4, 0U);
        const auto back = termsrv::parseShowMessageBoxRequest(*request);
        ASSERT_TRUE(back) << c.text;
        EXPECT_EQ(back->title, c.title);
        EXPECT_EQ(back->text, c.text);
        EXPECT_EQ(back->handle, box.handle);
        EXPECT_EQ(back->style, termsrv::StyleOkInformation);
        EXPECT_TRUE(back->doNotWait);
        for (std::size_t cut = 0; cut < request->size(); cut += 7)
            EXPECT_FALSE(termsrv::parseShowMessageBoxRequest(std::span(*request).first(cut)));

        termsrv::WinStationMessage message;
        message.handle = box.handle;
        message.sessionId = 3;
        message.title = c.title;
        message.text = c.text;
        const auto ica = termsrv::sendMessageRequest(message);
        ASSERT_TRUE(ica);
        const auto icaBack = termsrv::parseSendMessageRequest(*ica);
        ASSERT_TRUE(icaBack);
        EXPECT_EQ(icaBack->sessionId, 3U);
        EXPECT_EQ(icaBack->title, c.title);
        EXPECT_EQ(icaBack->text, c.text);
        EXPECT_TRUE(icaBack->doNotWait);
    }
    box.text = "\xff not UTF-8";
    EXPECT_FALSE(termsrv::showMessageBoxRequest(box));
}

TEST(TermSrv, SessionListAndTheSessionAMessageGoesTo) {
    termsrv::SessionList list;
    list.sessions = {{0, 4, "Services"}, {2, 0, "RDP-Tcp#0"}, {1, 0, "Console"}, {3, 4, ""}};
    const Bytes stub = termsrv::getEnumResultResponse(list);
    // Referent, count, then 84 bytes an entry (level, union tag, id, state, 33 WCHARs, pad).
    EXPECT_EQ(stub.size(), 8 + 4 * 84 + 8U);
    EXPECT_EQ(Bytes(stub.begin(), stub.begin() + 28),
              hex("00 00 02 00 04 00 00 00 01 00 00 00 01 00 00 00 00 00 00 00 04 00 00 00 "
                  "53 00 65 00"));
    const auto back = termsrv::parseGetEnumResultResponse(stub);
    ASSERT_TRUE(back);
    ASSERT_EQ(back->sessions.size(), 4U);
    EXPECT_EQ(back->sessions[1].name, "RDP-Tcp#0");
    EXPECT_EQ(termsrv::activeSession(*back), 1); // the console before a remote session

    struct Case {
        std::vector<termsrv::SessionEntry> sessions;
        std::optional<std::int32_t> chosen;
    };
    const Case cases[] = {
        {{{0, 4, "Services"}, {5, 0, "RDP-Tcp#1"}}, 5},
        {{{0, 0, "Services"}, {1, 4, "Console"}}, std::nullopt}, // nobody logged on
        {{}, std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(termsrv::activeSession({c.sessions, 0}), c.chosen);

    // A null list, and one claiming more entries than it holds.
    EXPECT_TRUE(termsrv::parseGetEnumResultResponse(hex("00 00 00 00 00 00 00 00 05 00 07 80")));
    Bytes lying = stub;
    lying[4] = 40;
    EXPECT_FALSE(termsrv::parseGetEnumResultResponse(lying));
}

TEST(TermSrv, HandlesAndResultsBothWays) {
    const auto h = someHandle();
    const auto opened = termsrv::parseOpenSessionResponse(termsrv::openSessionResponse({h, 0}));
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->handle, h);
    EXPECT_EQ(termsrv::parseOpenSessionRequest(termsrv::openSessionRequest(7)), 7U);
    EXPECT_EQ(termsrv::parseOpenSessionResponse(
                  termsrv::openSessionResponse({{}, termsrv::EAccessDenied}))
                  ->status,
              termsrv::EAccessDenied);
    EXPECT_EQ(termsrv::parseCloseHandleRequest(termsrv::closeHandleRequest(h)), h);
    EXPECT_EQ(termsrv::parseCloseHandleResponse(termsrv::closeHandleResponse(5)), 5U);
    EXPECT_EQ(termsrv::parseCloseHandleResponse(hex("00 00 00 00")), 0U); // the HRESULT alone
    const auto server = termsrv::parseOpenServerResponse(termsrv::openServerResponse({0, h, true}));
    ASSERT_TRUE(server);
    EXPECT_TRUE(server->ok);
    EXPECT_EQ(server->handle, h);
    const auto sent = termsrv::parseSendMessageResponse(
        termsrv::sendMessageResponse({0, termsrv::IdAsync, true}));
    ASSERT_TRUE(sent);
    EXPECT_EQ(sent->response, termsrv::IdAsync);
    EXPECT_FALSE(termsrv::parseSendMessageResponse(hex("00 00 00 00 01 7d 00 00")));
    EXPECT_TRUE(termsrv::succeeded(0x40000000));
    EXPECT_FALSE(termsrv::succeeded(termsrv::EAccessDenied));
    EXPECT_FALSE(termsrv::succeeded(0xC000006D)); // STATUS_LOGON_FAILURE
}
