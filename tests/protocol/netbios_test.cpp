// NetBIOS name-service packets: the encodings Windows and nmbd expect, and parsers that refuse
// anything malformed without reading past it.
#include "protocol/NetBios.h"
#include "protocol/OemCodePage.h"
#include "support/Files.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

using namespace lanquill::protocol;
using lanquill::testsupport::nodeStatusCapture;

namespace {

std::string textOf(std::span<const std::uint8_t> bytes) {
    return std::string(bytes.begin(), bytes.end());
}

// A positive name query response with `id`, answering NAME<00> with the given addresses.
Bytes nameResponse(std::uint16_t id, const std::vector<Ipv4>& addresses,
                   std::uint16_t flags = 0x8500) {
    ByteWriter out;
    out.u16be(id).u16be(flags).u16be(0).u16be(1).u16be(0).u16be(0);
    out.bytes(*netbios::encodeName("PEER", 0x00));
    out.u16be(0x0020).u16be(0x0001).u32be(0x0E10); // NB, IN, ttl
    out.u16be(static_cast<std::uint16_t>(6 * addresses.size()));
    for (const auto& address : addresses)
        out.u16be(0x6000).bytes(address);
    return out.take();
}

std::span<const std::uint8_t> prefix(const Bytes& bytes, std::size_t length) {
    return std::span<const std::uint8_t>(bytes).first(length);
}

} // namespace

TEST(NetBiosName, EncodesAsTheWorkedExampleAndPadsTheWildcardWithZeros) {
    // The worked example: "PC01"<03>.
    const auto encoded = netbios::encodeName("PC01", 0x03);
    ASSERT_TRUE(encoded);
    EXPECT_EQ(textOf(std::span(*encoded).subspan(1, 32)), "FAEDDADBCACACACACACACACACACACAAD");
    EXPECT_EQ((*encoded)[0], 0x20);
    EXPECT_EQ((*encoded)[33], 0x00);
    // The wildcard is padded with zeros, not blanks.
    const auto star = netbios::encodeName("*", 0x00);
    ASSERT_TRUE(star);
    EXPECT_EQ(textOf(std::span(*star).subspan(1, 32)), "CK" + std::string(30, 'A'));
    // Exactly 15 bytes fit; 16 or none do not.
    EXPECT_TRUE(netbios::encodeName("ABCDEFGHIJKLMNO", 0x20));
    EXPECT_FALSE(netbios::encodeName("ABCDEFGHIJKLMNOP", 0x20));
    EXPECT_FALSE(netbios::encodeName("", 0x00));
}

TEST(NetBiosName, DecodingRefusesWhatIsNotAnEncodedName) {
    auto broken = *netbios::encodeName("PC01", 0x00);
    broken[5] = 'Q'; // beyond 'P': not a nibble
    EXPECT_FALSE(netbios::decodeName(broken));
    EXPECT_FALSE(netbios::decodeName(std::span<const std::uint8_t>(broken).first(33)));
    broken = *netbios::encodeName("PC01", 0x00);
    broken[0] = 0x1F;
    EXPECT_FALSE(netbios::decodeName(broken));
}

// Every suffix with names of each kind the program meets: what encodeName writes, decodeName
// gives back unchanged.
TEST(NetBiosName, RoundTripsOverEverySuffixAndOemName) {
    const std::vector<std::string> names = {"A",
                                            "PC-07",
                                            "ABCDEFGHIJKLMNO",
                                            "*",
                                            "lower case",
                                            *oem::fromUtf8("办公室"),
                                            *oem::fromUtf8("七个汉字七个汉"),
                                            std::string("\x01\x02__MSBROWSE__\x02")};
    for (const auto& name : names) {
        for (unsigned suffix = 0; suffix <= 0xFF; ++suffix) {
            const auto encoded = netbios::encodeName(name, static_cast<std::uint8_t>(suffix));
            ASSERT_TRUE(encoded) << name;
            const auto decoded = netbios::decodeName(*encoded);
            ASSERT_TRUE(decoded) << name << " <" << suffix << ">";
            EXPECT_EQ(decoded->name, name);
            EXPECT_EQ(decoded->suffix, suffix);
        }
    }
}

TEST(NameQuery, RequestIsTheBroadcastQuestionForNb) {
    const auto request = netbios::nameQueryRequest(0x1234, "PEER", 0x00);
    ASSERT_TRUE(request);
    ASSERT_EQ(request->size(), 50u);
    EXPECT_EQ(Bytes(request->begin(), request->begin() + 12),
              (Bytes{0x12, 0x34, 0x01, 0x10, 0x00, 0x01, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(Bytes(request->end() - 4, request->end()), (Bytes{0x00, 0x20, 0x00, 0x01})); // NB, IN
    EXPECT_FALSE(netbios::nameQueryRequest(1, "NAME-LONGER-THAN-15", 0x00));
}

// What a WINS client sends and reads: the header flags of each request (nmbd refuses a
// broadcast-flagged registration or refresh sent to it as a server), and the opcode and time to
// live of the server's answers (a WACK says how long to wait, a registration answer how long the
// name lives).
TEST(NameServer, RequestFlagsAndAnswers) {
    const Ipv4 own{10, 1, 2, 3};
    constexpr std::uint16_t NoRecord = 0xFFFF;
    struct Case {
        const char* what;
        std::optional<Bytes> packet;
        std::uint16_t flags;
        std::uint16_t nbFlags; // of the record, as a WINS server stores them: H node is 0x6000
    };
    const Case cases[] = {
        {"unicast query", netbios::nameQueryRequest(1, "PEER", 0, netbios::NameServerQueryFlags),
         0x0100, NoRecord},
        {"broadcast registration", netbios::nameRegistrationRequest(1, "PEER", 0, false, own),
         0x2910, 0x0000},
        {"registration to the server",
         netbios::nameRegistrationRequest(1, "PEER", 0, false, own, true), 0x2900, 0x6000},
        {"group registration to the server",
         netbios::nameRegistrationRequest(1, "PEER", 0x1e, true, own, true), 0x2900, 0xE000},
        {"release to the server", netbios::nameReleaseRequest(1, "PEER", 0, false, own, true),
         0x3000, 0x6000},
        {"refresh", netbios::nameRefreshRequest(1, "PEER", 0, false, own), 0x4000, 0x6000},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(c.packet) << c.what;
        ASSERT_GE(c.packet->size(), 12u) << c.what;
        EXPECT_EQ((*c.packet)[2] << 8 | (*c.packet)[3], c.flags) << c.what;
        const bool hasRecord = (*c.packet)[11] == 1;
        const std::size_t at = c.packet->size() - 6;
        EXPECT_EQ(hasRecord ? (*c.packet)[at] << 8 | (*c.packet)[at + 1] : NoRecord, c.nbFlags)
            << c.what;
        const auto parsed = netbios::parseNamePacket(*c.packet);
        ASSERT_TRUE(parsed) << c.what;
        EXPECT_EQ(parsed->name.name, "PEER") << c.what;
    }
    EXPECT_EQ(
        netbios::parseNamePacket(*netbios::nameRefreshRequest(1, "PEER", 0, false, own))->opcode,
        netbios::NameOpcode::Refresh);

    // Answers as nmbd sends them: a WACK (opcode 7) with the seconds to wait, a positive
    // registration response with the granted time to live.
    const auto answer = [](std::uint16_t flags, std::uint32_t ttl) {
        ByteWriter out;
        out.u16be(5).u16be(flags).u16be(0).u16be(1).u16be(0).u16be(0);
        out.bytes(*netbios::encodeName("PEER", 0x00));
        out.u16be(0x0020).u16be(0x0001).u32be(ttl).u16be(2).u16be(0x2900);
        return out.take();
    };
    const auto wack = netbios::parseNamePacket(answer(0xB800, 12));
    ASSERT_TRUE(wack);
    EXPECT_TRUE(wack->response);
    EXPECT_EQ(wack->opcode, netbios::NameOpcode::WaitForAcknowledgement);
    EXPECT_EQ(wack->ttl, 12u);
    const auto granted = netbios::parseNamePacket(answer(0xAD80, 21600));
    ASSERT_TRUE(granted);
    EXPECT_EQ(granted->opcode, netbios::NameOpcode::Registration);
    EXPECT_EQ(granted->rcode, 0);
    EXPECT_EQ(granted->ttl, 21600u);
    const auto refused = netbios::parseNamePacket(answer(0xAD86, 0));
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->rcode, 6); // ACT_ERR: another computer holds it
}

TEST(NameQuery, ResponseGivesTheAddressesOfOurQueryOnly) {
    const Ipv4 first{192, 168, 0, 5};
    const Ipv4 second{10, 0, 0, 7};
    const Bytes reply = nameResponse(0x4242, {first, second});
    const auto addresses = netbios::parseNameQueryResponse(reply, 0x4242);
    ASSERT_TRUE(addresses);
    EXPECT_EQ(*addresses, (std::vector<Ipv4>{first, second}));

    EXPECT_FALSE(netbios::parseNameQueryResponse(reply, 0x4243)); // another query's answer
    EXPECT_FALSE(netbios::parseNameQueryResponse(nameResponse(7, {first}, 0x8503), 7)); // NXDOMAIN
    EXPECT_FALSE(netbios::parseNameQueryResponse(nameResponse(7, {first}, 0x0110), 7)); // a request
    EXPECT_FALSE(netbios::parseNameQueryResponse(nameResponse(7, {}), 7)); // no address
    // A request of our own, heard back on the broadcast, is no answer.
    EXPECT_FALSE(netbios::parseNameQueryResponse(*netbios::nameQueryRequest(9, "PEER", 0), 9));
    // Every truncation is refused (that none reads past the end, fuzz_netbios checks under ASan).
    for (std::size_t length = 0; length < reply.size(); ++length)
        EXPECT_FALSE(netbios::parseNameQueryResponse(prefix(reply, length), 0x4242)) << length;
}

TEST(NodeStatus, RequestIsWhatNbtstatSends) {
    // The 50-byte NBSTAT question for "*", unicast flags.
    Bytes expected = {0x01, 0x02, 0x00, 0x00, 0x00, 0x01, 0, 0, 0, 0, 0, 0, 0x20, 'C', 'K'};
    expected.insert(expected.end(), 30, 'A');
    expected.insert(expected.end(), {0x00, 0x00, 0x21, 0x00, 0x01});
    EXPECT_EQ(netbios::nodeStatusRequest(0x0102), expected);
}

TEST(NodeStatus, ReplyOfARealNmbd) {
    const Bytes reply = nodeStatusCapture("nmbd-229.bin");
    ASSERT_EQ(reply.size(), 229u) << "tests/data/nodestatus/nmbd-229.bin missing";
    const auto id = static_cast<std::uint16_t>((reply[0] << 8) | reply[1]);
    const auto status = netbios::parseNodeStatusResponse(reply, id);
    ASSERT_TRUE(status);
    EXPECT_EQ(status->names.size(), 7u);
    EXPECT_EQ(status->unitId, (std::array<std::uint8_t, 6>{}));
    const auto workstation = netbios::firstUniqueName(*status, {0x00});
    EXPECT_FALSE(workstation.empty());
    EXPECT_EQ(netbios::firstUniqueName(*status, {0x03}), workstation);
    bool browse = false;
    for (const auto& entry : status->names)
        browse = browse || (entry.group && entry.suffix == 0x01 &&
                            entry.name == std::string("\x01\x02__MSBROWSE__\x02"));
    EXPECT_TRUE(browse);
    EXPECT_FALSE(netbios::parseNodeStatusResponse(reply, static_cast<std::uint16_t>(id + 1)));
    // Cut anywhere inside the name table: refused as a whole.
    for (std::size_t length = 0; length < 57 + 18 * 7; ++length)
        EXPECT_FALSE(netbios::parseNodeStatusResponse(prefix(reply, length), id)) << length;
    // Cut in the statistics: the names stand, the unit id is unknown (zeros).
    EXPECT_TRUE(netbios::parseNodeStatusResponse(prefix(reply, 57 + 18 * 7 + 3), id));
}

TEST(NodeStatus, HandBuiltReplyWithUnitIdAndGroupName) {
    // Windows fills the unit id; a group <00> name is never the computer's name.
    ByteWriter out;
    out.u16be(0).u16be(0x8400).u16be(0).u16be(1).u16be(0).u16be(0);
    out.bytes(*netbios::encodeName("*", 0));
    out.u16be(0x0021).u16be(0x0001).u32be(0);
    out.u16be(1 + 2 * 18 + 6);
    out.u8(2);
    auto addEntry = [&](const char* name, std::uint8_t suffix, std::uint8_t flagsHigh) {
        std::string padded(name);
        padded.resize(15, ' ');
        out.text(padded).u8(suffix).u8(flagsHigh).u8(0x00);
    };
    addEntry("WORKGROUP", 0x00, 0x84);
    addEntry("PC-07", 0x00, 0x04);
    out.bytes(Bytes{0x00, 0x0C, 0x29, 0x1A, 0x2B, 0x3C});
    const Bytes reply = out.take();
    const auto status = netbios::parseNodeStatusResponse(reply, 0);
    ASSERT_TRUE(status);
    EXPECT_TRUE(status->names[0].group);
    EXPECT_FALSE(status->names[1].group);
    EXPECT_EQ(netbios::firstUniqueName(*status, {0x00}), "PC-07");
    EXPECT_EQ(status->unitId, (std::array<std::uint8_t, 6>{0x00, 0x0C, 0x29, 0x1A, 0x2B, 0x3C}));
    // A name count larger than the data really holds.
    Bytes lying = reply;
    lying[56] = 200; // the name count
    EXPECT_FALSE(netbios::parseNodeStatusResponse(lying, 0));
    // Answer of the wrong type (NB instead of NBSTAT).
    Bytes wrongType = reply;
    wrongType[47] = 0x20;
    EXPECT_FALSE(netbios::parseNodeStatusResponse(wrongType, 0));
}

TEST(NodeStatus, NameTableTextAsNbtstatShowsIt) {
    netbios::NodeStatus status;
    status.names.push_back({"PEER", 0x00, false, 0x0400});
    status.names.push_back({"WORKGROUP", 0x1E, true, 0x8400});
    status.names.push_back({std::string("\x01\x02__MSBROWSE__\x02"), 0x01, true, 0x8400});
    status.unitId = {0x00, 0x0C, 0x29, 0x1A, 0x2B, 0x3C};
    const std::string text = netbios::nameTableText(status);
    EXPECT_NE(text.find("    PEER             <00>  UNIQUE      Registered\n"), std::string::npos);
    EXPECT_NE(text.find("    WORKGROUP        <1E>  GROUP       Registered\n"), std::string::npos);
    // Control characters are shown as dots, never written to the terminal.
    EXPECT_NE(text.find("    ..__MSBROWSE__.  <01>  GROUP "), std::string::npos);
    EXPECT_TRUE(text.ends_with("MAC Address = 00-0C-29-1A-2B-3C\n")) << text;
}

struct NameCase {
    const char* utf8;
    std::optional<std::string> oem; // nullopt: no NetBIOS name
    netbios::NameUse use = netbios::NameUse::Host;
};

TEST(NetBiosName, FromUserText) {
    constexpr auto Peer = netbios::NameUse::Peer;
    const NameCase cases[] = {
        {"pc-07", "PC-07"},
        {"办公室", oem::fromUtf8("办公室")},
        {"", std::nullopt},
        {"host.example.com", std::nullopt}, // a DNS name, not a NetBIOS one
        {"pc.lan", std::nullopt},
        {"file.srv", "FILE.SRV", Peer}, // a server's or workgroup's name on the LAN
        {"*", std::nullopt, Peer},
        {"ABCDEFGHIJKLMNO", "ABCDEFGHIJKLMNO"},
        {"ABCDEFGHIJKLMNOP", std::nullopt},
        {"八个汉字八个汉字", std::nullopt}, // 16 OEM bytes
        {"tab\there", std::nullopt},
        {"del\x7f", std::nullopt, Peer},
        {"my pc", "MY PC", Peer},
        {"   ", std::nullopt, Peer}, // empty once on the wire
        {"a\\b", std::nullopt, Peer},
        {"a/b", std::nullopt, Peer},
        {"a|b", std::nullopt, Peer},
        {"a?b", std::nullopt, Peer},
        {"@#%'", "@#%'", Peer},
        {"ő", std::nullopt, Peer}, // not in the code page
    };
    for (const auto& c : cases)
        EXPECT_EQ(netbios::netbiosName(c.utf8, c.use), c.oem) << c.utf8;
}
