// The SMB1 messenger exchange: packet layouts as Windows and Samba expect them, and reply
// parsing that stays within the bytes it is given.
#include "protocol/SmbMessage.h"
#include "support/Packets.h"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace lanquill::protocol;
using lanquill::testsupport::smbReply;

namespace {

Bytes bytesOf(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

} // namespace

TEST(SmbSession, RequestRepliesAndFraming) {
    const auto request = smb::sessionRequest("PC01", 0x03, "ME");
    ASSERT_TRUE(request);
    ASSERT_EQ(request->size(), 72u);
    EXPECT_EQ(Bytes(request->begin(), request->begin() + 4), (Bytes{0x81, 0, 0, 68}));
    EXPECT_EQ(Bytes(request->begin() + 5, request->begin() + 37),
              bytesOf("FAEDDADBCACACACACACACACACACACAAD"));
    EXPECT_FALSE(smb::sessionRequest("A-NAME-OF-16-BYT", 0x03, "ME"));

    EXPECT_EQ(smb::parseSessionReply(Bytes{0x82, 0, 0, 0})->answer, smb::SessionAnswer::Positive);
    const auto negative = smb::parseSessionReply(Bytes{0x83, 0, 0, 1, 0x82});
    ASSERT_TRUE(negative);
    EXPECT_EQ(negative->answer, smb::SessionAnswer::Negative);
    EXPECT_EQ(negative->errorCode, 0x82);
    EXPECT_EQ(smb::parseSessionReply(Bytes{0x84, 0, 0, 6})->answer, smb::SessionAnswer::Other);
    EXPECT_FALSE(smb::parseSessionReply(Bytes{0x83, 0, 0, 1})); // negative without its code
    EXPECT_FALSE(smb::parseSessionReply(Bytes{0x82, 0}));

    // Session message framing: 17-bit length.
    const Bytes big(70000, 0x55);
    const Bytes framed = smb::sessionMessage(big);
    EXPECT_EQ(Bytes(framed.begin(), framed.begin() + 4), (Bytes{0x00, 0x01, 0x11, 0x70}));
    EXPECT_EQ(smb::sessionPacketLength(framed), 70004u);
    EXPECT_TRUE(smb::sessionMessage(Bytes(0x20000, 0)).empty());
}

TEST(SmbRequest, Layouts) {
    const Bytes negotiate = smb::negotiateRequest();
    EXPECT_EQ(negotiate[4], smb::Negotiate);
    EXPECT_EQ(Bytes(negotiate.begin() + 32, negotiate.end()),
              bytesOf(std::string_view("\x00\x0C\x00\x02NT LM 0.12\x00", 15)));

    const Bytes message = smb::sendMessageRequest("ME", "PC01", "hi");
    EXPECT_EQ(message[4], smb::SendMessage);
    EXPECT_EQ(Bytes(message.begin() + 32, message.end()),
              bytesOf(std::string_view("\x00\x0F\x00\x04ME\x00\x04PC01\x00\x01\x02\x00hi", 18)));
    EXPECT_EQ(Bytes(message.begin() + 5, message.begin() + 32), Bytes(27, 0));

    const Bytes text = smb::sendTextRequest(0x0107, "abc");
    EXPECT_EQ(Bytes(text.begin() + 32, text.end()),
              (Bytes{0x01, 0x07, 0x01, 0x06, 0x00, 0x01, 0x03, 0x00, 'a', 'b', 'c'}));
    const Bytes end = smb::sendEndRequest(9);
    EXPECT_EQ(Bytes(end.begin() + 32, end.end()), (Bytes{0x01, 0x09, 0x00, 0x00, 0x00}));
    EXPECT_EQ(smb::sendStartRequest("A", "B")[4], smb::SendStart);

    EXPECT_THROW(smb::sendMessageRequest("ME", "PC01", std::string(129, 'x')),
                 std::invalid_argument);
    EXPECT_THROW(smb::sendStartRequest(std::string(16, 'A'), "B"), std::invalid_argument);
    EXPECT_THROW(smb::sendStartRequest(std::string("A\0B", 3), "B"), std::invalid_argument);
}

struct RequestCase {
    const char* name;
    Bytes smb;
    std::uint8_t command;
    std::vector<std::uint16_t> words;
    Bytes bytes;
};

// Each request the sender builds parses back to its command, words and bytes: what a receiver
// of ours reads is what the sender meant.
TEST(SmbRequest, BuildsParseBack) {
    const std::string block(smb::MaxBlock, 'z');
    const Bytes fullBlock = bytesOf(std::string("\x01\x80\x00", 3) + block);
    const Bytes negotiate = bytesOf({"\x02NT LM 0.12\0", 12});
    const Bytes message = bytesOf({"\x04ME\0\x04PC01\0\x01\x02\0hi", 15});
    const Bytes start = bytesOf({"\4ABCDEFGHIJKLMNO\0\4B\0", 20});
    const RequestCase cases[] = {
        {"negotiate", smb::negotiateRequest(), smb::Negotiate, {}, negotiate},
        {"message", smb::sendMessageRequest("ME", "PC01", "hi"), smb::SendMessage, {}, message},
        {"send start", smb::sendStartRequest("ABCDEFGHIJKLMNO", "B"), smb::SendStart, {}, start},
        {"send text", smb::sendTextRequest(0xBEEF, block), smb::SendText, {0xBEEF}, fullBlock},
        {"send end", smb::sendEndRequest(7), smb::SendEnd, {7}, {}},
    };
    for (const auto& c : cases) {
        const auto packet = smb::parsePacket(c.smb);
        ASSERT_TRUE(packet) << c.name;
        EXPECT_EQ(packet->command, c.command) << c.name;
        EXPECT_EQ(packet->status, 0u) << c.name;
        EXPECT_EQ(packet->flags & smb::ReplyFlag, 0) << c.name;
        EXPECT_EQ(packet->words, c.words) << c.name;
        EXPECT_EQ(Bytes(packet->bytes.begin(), packet->bytes.end()), c.bytes) << c.name;
        EXPECT_EQ(packet->bytesOffset + packet->bytes.size(), c.smb.size()) << c.name;
        // Cut short anywhere, it is refused, except right after the words (as error replies end).
        const std::size_t afterWords = smb::HeaderLength + 1 + 2 * c.words.size();
        for (std::size_t length = 0; length < c.smb.size(); ++length) {
            const auto cut = smb::parsePacket(std::span<const std::uint8_t>(c.smb).first(length));
            EXPECT_EQ(cut.has_value(), length == afterWords) << c.name << " cut at " << length;
        }
    }
}

TEST(SmbReply, Parsing) {
    const auto accepted = smb::parseReply(smbReply(smb::SendStart, 0, {0x0042}));
    ASSERT_TRUE(accepted);
    EXPECT_EQ(accepted->status, 0u);
    EXPECT_EQ(smb::groupId(*accepted), 0x42);
    // Samba's D5 reply carries no group id: group 0.
    EXPECT_EQ(smb::groupId(*smb::parseReply(smbReply(smb::SendStart, 0))), 0);
    EXPECT_EQ(smb::parseReply(smbReply(smb::SendText, 0xC0000022))->status, 0xC0000022u);
    EXPECT_EQ(smb::chosenDialect(*smb::parseReply(smbReply(smb::Negotiate, 0, {0xFFFF}))), 0xFFFF);

    EXPECT_FALSE(smb::parseReply(smb::sendEndRequest(1))); // no reply flag: not an answer
    const Bytes reply = smbReply(smb::SendText, 0, {1, 2});
    for (std::size_t length = 0; length < reply.size(); ++length) {
        const auto parsed = smb::parseReply(std::span<const std::uint8_t>(reply).first(length));
        EXPECT_TRUE(!parsed || length == 32 + 1 + 4) << length; // words whole, byte count left off
    }
    Bytes lyingCount = reply;
    lyingCount[32 + 1 + 4] = 9; // byte count beyond the end
    EXPECT_FALSE(smb::parseReply(lyingCount));
}
