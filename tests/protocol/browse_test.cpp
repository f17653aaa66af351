// The browser's frames against what Samba's nmbd really sends (tests/data/browse, captured by
// its capture.sh): which ones ask us to announce, and our host announcement laid out as nmbd's.
#include "protocol/Browse.h"
#include "support/Files.h"

#include <gtest/gtest.h>

using namespace lanquill;
using namespace lanquill::protocol;

namespace {

Bytes capture(const std::string& name) {
    const auto bytes = testsupport::readFile(testsupport::testDataPath("browse/" + name));
    EXPECT_TRUE(bytes) << name;
    return bytes ? Bytes(bytes->begin(), bytes->end()) : Bytes{};
}

// The mailslot data (the browse frame) of a datagram.
Bytes frameBytes(const Bytes& datagram) {
    const auto write = mailslot::parseWrite(datagram);
    EXPECT_TRUE(write);
    return write ? Bytes(write->data.begin(), write->data.end()) : Bytes{};
}

} // namespace

TEST(Browse, NmbdFramesAndWhichOnesAskUsToAnnounce) {
    struct Case {
        const char* file;
        std::uint8_t opcode;
        bool asksWorkgroup;
    };
    const Case cases[] = {
        {"nmbd-announcement-request.bin", browse::AnnouncementRequest, true},
        {"nmbd-host-announcement.bin", browse::HostAnnouncement, false},
        {"nmbd-local-master-announcement.bin", browse::LocalMasterAnnouncement, false},
        {"nmbd-domain-announcement.bin", 0x0C, false},
        {"nmbd-election.bin", 0x08, false},
    };
    for (const auto& c : cases) {
        const auto frame = browse::parseDatagram(capture(c.file));
        ASSERT_TRUE(frame) << c.file;
        EXPECT_EQ(frame->opcode, c.opcode) << c.file;
        EXPECT_EQ(browse::asksWorkgroupToAnnounce(*frame, "LQWG"), c.asksWorkgroup) << c.file;
        EXPECT_FALSE(browse::asksWorkgroupToAnnounce(*frame, "OTHERWG")) << c.file;
        EXPECT_EQ(frame->announcement.has_value(), c.opcode == browse::HostAnnouncement ||
                                                       c.opcode == browse::LocalMasterAnnouncement)
            << c.file;
    }
    // A request to the master browser's own name asks only the master.
    Bytes toMaster = capture("nmbd-announcement-request.bin");
    const auto suffixAt = 14 + 34 + 32; // the destination's last encoded letter
    toMaster[suffixAt] = 'N';           // <1E> becomes <1D>
    const auto master = browse::parseDatagram(toMaster);
    ASSERT_TRUE(master);
    EXPECT_EQ(master->destination.suffix, netbios::MasterBrowser);
    EXPECT_FALSE(browse::asksWorkgroupToAnnounce(*master, "LQWG"));
}

// The host announcement we build carries nmbd's frame byte for byte when given nmbd's fields,
// and the frame of nmbd's announcement reads back as those fields.
TEST(Browse, HostAnnouncementIsLaidOutAsNmbdLaysItOut) {
    const Bytes theirs = capture("nmbd-host-announcement.bin");
    const auto parsed = browse::parseDatagram(theirs);
    ASSERT_TRUE(parsed && parsed->announcement);
    const auto& announced = *parsed->announcement;
    EXPECT_EQ(announced.serverName, "LQPEER2");
    EXPECT_EQ(announced.comment, "Samba 4.17.12-Debian");
    EXPECT_TRUE(announced.serverType & browse::type::Workstation);
    EXPECT_EQ(parsed->destination.name, "LQWG");
    EXPECT_EQ(parsed->destination.suffix, netbios::MasterBrowser);

    mailslot::Source source;
    source.name = parsed->source.name;
    source.address = parsed->sourceAddress;
    const auto ours = browse::hostAnnouncementDatagram(source, "LQWG", announced);
    ASSERT_TRUE(ours);
    Bytes expected = frameBytes(theirs);
    expected[1] = 0; // nmbd counts its list's updates here; browsers ignore it, we send 0
    EXPECT_EQ(frameBytes(*ours), expected);
    const auto back = browse::parseDatagram(*ours);
    ASSERT_TRUE(back && back->announcement);
    EXPECT_EQ(back->destination.suffix, netbios::MasterBrowser);
    EXPECT_EQ(back->source.name, "LQPEER2");
}

TEST(Browse, RefusesWhatItCannotCarryAndBodiesCutShort) {
    browse::Announcement announcement;
    announcement.serverName = "PC01";
    const struct {
        const char* name;
        std::string serverName, comment;
        bool built;
    } cases[] = {
        {"plain", "PC01", "Lanquill", true},
        {"15-byte name, longest comment", "ABCDEFGHIJKLMNO", std::string(browse::MaxComment, 'c'),
         true},
        {"empty name", "", "", false},
        {"16-byte name", "ABCDEFGHIJKLMNOP", "", false},
        {"zero in name", std::string("PC\0X", 4), "", false},
        {"comment too long", "PC01", std::string(browse::MaxComment + 1, 'c'), false},
        {"zero in comment", "PC01", std::string("a\0b", 3), false},
    };
    for (const auto& c : cases) {
        announcement.serverName = c.serverName;
        announcement.comment = c.comment;
        const auto datagram =
            browse::hostAnnouncementDatagram({.name = "PC01"}, "WG", announcement);
        ASSERT_EQ(datagram.has_value(), c.built) << c.name;
        if (!datagram)
            continue;
        const auto back = browse::parseDatagram(*datagram);
        ASSERT_TRUE(back && back->announcement) << c.name;
        EXPECT_EQ(back->announcement->serverName, c.serverName) << c.name;
        EXPECT_EQ(back->announcement->comment, c.comment) << c.name;
    }

    // An announcement body shorter than its fixed fields is no announcement, whatever the
    // mailslot's lengths say; a request needs only its opcode.
    const Bytes body = frameBytes(capture("nmbd-host-announcement.bin"));
    const std::size_t fixedFields = 1 + 1 + 4 + 16 + 2 + 4 + 4;
    for (std::size_t length = 0; length < fixedFields; ++length) {
        const auto cut = mailslot::groupDatagram(
            {.name = "PC01"}, "WG", netbios::MasterBrowser, browse::Slot,
            Bytes(body.begin(), body.begin() + static_cast<std::ptrdiff_t>(length)));
        ASSERT_TRUE(cut);
        EXPECT_FALSE(browse::parseDatagram(*cut)) << length;
    }
    const Bytes request{browse::AnnouncementRequest};
    const auto bare = browse::parseDatagram(
        *mailslot::groupDatagram({.name = "PC01"}, "WG", 0, browse::Slot, request));
    ASSERT_TRUE(bare);
    EXPECT_TRUE(browse::asksWorkgroupToAnnounce(*bare, "WG"));
    // The same bytes to another mailslot are not the browser's.
    EXPECT_FALSE(browse::parseDatagram(
        *mailslot::groupDatagram({.name = "PC01"}, "WG", 0, "\\MAILSLOT\\LANMAN", request)));
}
