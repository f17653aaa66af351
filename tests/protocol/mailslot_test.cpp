// The MESSNGR mailslot datagram of a workgroup message: layout, splitting and parsing.
#include "protocol/Mailslot.h"
#include "protocol/OemCodePage.h"

#include <gtest/gtest.h>

using namespace lanquill::protocol;

namespace {

unsigned be16(const Bytes& data, std::size_t at) {
    return static_cast<unsigned>((data[at] << 8) | data[at + 1]);
}
unsigned le16(const Bytes& data, std::size_t at) {
    return static_cast<unsigned>(data[at] | (data[at + 1] << 8));
}

mailslot::Source source() {
    mailslot::Source from;
    from.datagramId = 0xBEEF;
    from.address = {10, 1, 2, 3};
    from.name = "PC-07";
    return from;
}

std::string repeated(std::string_view text, int times) {
    std::string out;
    for (int i = 0; i < times; ++i)
        out += text;
    return out;
}

} // namespace

TEST(Mailslot, DatagramLayout) {
    const std::string data("PC-07\0WG\0hello", 14);
    const auto datagram = mailslot::messengerDatagram(source(), "WG", data);
    ASSERT_TRUE(datagram);
    const Bytes& d = *datagram;
    EXPECT_EQ(d[0], 0x11); // DIRECT_GROUP
    EXPECT_EQ(d[1], 0x02); // first fragment
    EXPECT_EQ(be16(d, 2), 0xBEEFu);
    EXPECT_EQ(Bytes(d.begin() + 4, d.begin() + 8), (Bytes{10, 1, 2, 3}));
    EXPECT_EQ(be16(d, 8), 138u);
    const std::size_t smbAt = 14 + 68;
    EXPECT_EQ(be16(d, 10), d.size() - 14); // 68 + SMB length
    EXPECT_EQ(be16(d, 12), 0u);
    EXPECT_EQ(d[smbAt + 4], 0x25); // TRANSACTION
    EXPECT_EQ(d[smbAt + 32], 17);
    const std::size_t words = smbAt + 33;
    EXPECT_EQ(le16(d, words + 2), 14u);  // total data
    EXPECT_EQ(le16(d, words + 22), 14u); // data count
    EXPECT_EQ(le16(d, words + 24), 87u); // data offset from the SMB header
    EXPECT_EQ(d[words + 26], 3);         // setup count
    EXPECT_EQ(le16(d, words + 28), 1u);  // write
    EXPECT_EQ(le16(d, words + 30), 1u);  // priority
    EXPECT_EQ(le16(d, words + 32), 2u);  // class 2
    EXPECT_EQ(le16(d, words + 34), 18u + 14u);
    EXPECT_EQ(std::string(d.begin() + static_cast<std::ptrdiff_t>(words + 36),
                          d.begin() + static_cast<std::ptrdiff_t>(words + 54)),
              std::string("\\MAILSLOT\\MESSNGR\0", 18));
    EXPECT_EQ(std::string(d.begin() + static_cast<std::ptrdiff_t>(smbAt + 87), d.end()), data);

    EXPECT_FALSE(mailslot::messengerDatagram(source(), "A-GROUP-OF-16-BY", data));
    EXPECT_FALSE(mailslot::messengerDatagram(source(), "WG", std::string(425, 'x')));
    EXPECT_TRUE(mailslot::messengerDatagram(source(), "WG", std::string(424, 'x')));
}

TEST(Mailslot, Parsing) {
    const auto datagram =
        mailslot::messengerDatagram(source(), "WG", std::string("PC-07\0wg\0hi\r\nyou", 17));
    ASSERT_TRUE(datagram);
    const auto message = mailslot::parseMessengerDatagram(*datagram);
    ASSERT_TRUE(message);
    EXPECT_EQ(message->sourceName, "PC-07");
    EXPECT_EQ(message->destinationName, "WG");
    EXPECT_EQ(message->destinationSuffix, 0);
    EXPECT_EQ(message->sourceAddress, (Ipv4{10, 1, 2, 3}));
    EXPECT_EQ(message->from, "PC-07");
    EXPECT_EQ(message->to, "wg");
    EXPECT_EQ(message->text, "hi\r\nyou");
    // Some senders end the text with a zero; it is not part of the text.
    const auto withZero =
        mailslot::messengerDatagram(source(), "WG", std::string("A\0B\0text\0", 9));
    EXPECT_EQ(mailslot::parseMessengerDatagram(*withZero)->text, "text");

    // Anything cut short is refused, whatever the length fields claim.
    for (std::size_t length = 0; length < datagram->size(); ++length)
        EXPECT_FALSE(mailslot::parseMessengerDatagram(
            std::span<const std::uint8_t>(*datagram).first(length)))
            << length;
    Bytes otherSlot = *datagram;
    otherSlot[14 + 68 + 33 + 36 + 10] = 'X'; // \MAILSLOT\XESSNGR
    EXPECT_FALSE(mailslot::parseMessengerDatagram(otherSlot));
    Bytes noSeparator = *mailslot::messengerDatagram(source(), "WG", "no zero at all");
    EXPECT_FALSE(mailslot::parseMessengerDatagram(noSeparator));
    Bytes lyingOffset = *datagram;
    lyingOffset[14 + 68 + 33 + 24] = 0xF0; // data offset far beyond the end
    EXPECT_FALSE(mailslot::parseMessengerDatagram(lyingOffset));
}

struct MessageCase {
    const char* name;
    mailslot::Source source;
    std::string group, from, to, text;
};

// What the builder sends, the parser reads back field for field.
TEST(Mailslot, DatagramRoundTrips) {
    mailslot::Source chinese = source();
    chinese.name = *oem::fromUtf8("办公室");
    chinese.datagramId = 0;
    chinese.address = {192, 168, 255, 254};
    const MessageCase cases[] = {
        {"short", source(), "WG", "PC-07", "WG", "hello"},
        {"empty text", source(), "WG", "PC-07", "WG", ""},
        {"OEM names and text", chinese, *oem::fromUtf8("工作组"), *oem::fromUtf8("办公室"),
         *oem::fromUtf8("工作组"), *oem::fromUtf8("你好，世界\r\n")},
        {"15-byte group, full data", source(), "ABCDEFGHIJKLMNO", "PC-07", "ABCDEFGHIJKLMNO",
         std::string(mailslot::MaxData - 5 - 15 - 2, 'x')},
    };
    for (const auto& c : cases) {
        const std::string data = c.from + '\0' + c.to + '\0' + c.text;
        const auto datagram = mailslot::messengerDatagram(c.source, c.group, data);
        ASSERT_TRUE(datagram) << c.name;
        const auto message = mailslot::parseMessengerDatagram(*datagram);
        ASSERT_TRUE(message) << c.name;
        EXPECT_EQ(message->sourceName, c.source.name) << c.name;
        EXPECT_EQ(message->sourceSuffix, 0) << c.name;
        EXPECT_EQ(message->destinationName, c.group) << c.name;
        EXPECT_EQ(message->destinationSuffix, 0) << c.name;
        EXPECT_EQ(message->sourceAddress, c.source.address) << c.name;
        EXPECT_EQ(message->from, c.from) << c.name;
        EXPECT_EQ(message->to, c.to) << c.name;
        EXPECT_EQ(message->text, c.text) << c.name;
    }
}

TEST(Mailslot, Splitting) {
    // Short text: one datagram.
    auto parts = mailslot::messengerData("PC-07", "WG", "hi");
    EXPECT_EQ(parts, std::vector<std::string>{std::string("PC-07\0WG\0hi", 11)});
    EXPECT_EQ(mailslot::messengerData("PC-07", "WG", "").size(), 1u);

    // Long double-byte text: every part within 424 bytes, none cutting a character, and
    // together the whole text in order.
    const std::string text = "x" + *oem::fromUtf8(repeated("文字", 300));
    parts = mailslot::messengerData("PC-07", "WG", text);
    EXPECT_GE(parts.size(), 3u);
    std::string joined;
    const std::string head("PC-07\0WG\0", 9);
    for (const auto& part : parts) {
        EXPECT_LE(part.size(), mailslot::MaxData);
        EXPECT_EQ(part.substr(0, head.size()), head);
        const std::string piece = part.substr(head.size());
        EXPECT_TRUE(oem::toUtf8(piece));
        joined += piece;
    }
    EXPECT_EQ(joined, text);
}
