// The browser announcer on a clock the test moves: when it announces, what each announcement
// says, and which announcement requests it answers. Datagrams are caught where they would be
// sent; nothing goes on any network.
#include "daemon/BrowserAnnouncer.h"
#include "protocol/Browse.h"
#include "support/Files.h"

#include <gtest/gtest.h>

namespace lanquill::daemon {
namespace {

namespace browse = protocol::browse;
namespace netbios = protocol::netbios;
using namespace std::chrono_literals;

constexpr Ipv4 Lan{192, 168, 7, 1};
constexpr Ipv4 LanBroadcast{192, 168, 7, 255};
constexpr Ipv4 Lab{10, 0, 0, 5};
constexpr Ipv4 LabBroadcast{10, 255, 255, 255};

// Two interfaces that broadcast, and a point-to-point link that cannot.
std::vector<platform::Interface> browserInterfaces() {
    return {{Lan, 24, LanBroadcast, 2, {}},
            {Lab, 8, LabBroadcast, 3, {}},
            {{172, 31, 0, 1}, 32, std::nullopt, 4, {}}};
}

struct Sent {
    Clock::duration at;
    Ipv4 to, source;
    browse::Frame frame;
};

struct Announcer {
    TimePoint start = Clock::now();
    TimePoint now = start;
    EventLoop loop{[this] { return now; }};
    LocalNetwork network{loop, &browserInterfaces};
    std::vector<Sent> sent;
    BrowserAnnouncer announcer{
        loop,
        network,
        [this](const Ipv4& to, const Ipv4& source, std::span<const std::uint8_t> datagram) {
            const auto frame = browse::parseDatagram(datagram);
            ASSERT_TRUE(frame);
            sent.push_back({now - start, to, source, *frame});
        },
        {"PC01", "LQWG"}};

    // Second by second, as the loop would see it.
    void advance(Clock::duration by) {
        for (const auto end = now + by; now < end;) {
            now += 1s;
            loop.turn(0ms);
        }
    }
};

// Each announcement goes out once on each interface that broadcasts, from its address.
void expectOnEachInterface(const std::vector<Sent>& sent) {
    ASSERT_EQ(sent.size() % 2, 0u);
    for (std::size_t i = 0; i < sent.size(); i += 2) {
        EXPECT_EQ(sent[i].to, LanBroadcast);
        EXPECT_EQ(sent[i].frame.sourceAddress, Lan);
        EXPECT_EQ(sent[i + 1].to, LabBroadcast);
        EXPECT_EQ(sent[i + 1].frame.sourceAddress, Lab);
        EXPECT_EQ(sent[i].at, sent[i + 1].at);
    }
}

TEST(BrowserAnnouncer, AnnouncesAtStartOftenAtFirstThenEveryTwelveMinutesAndGoesAwayAtStop) {
    Announcer a;
    a.announcer.start();
    a.advance(40min);
    expectOnEachInterface(a.sent);
    // The wait after each announcement; the announcement says it, so that the master browser
    // knows when to give up on us.
    const std::vector<Clock::duration> waits{1min, 2min, 4min, 8min, 12min, 12min};
    ASSERT_EQ(a.sent.size(), 2 * (waits.size() + 1));
    Clock::duration at{};
    for (std::size_t i = 0; i < waits.size(); ++i) {
        const auto& frame = a.sent[2 * i].frame;
        EXPECT_EQ(a.sent[2 * i].at, at) << i;
        ASSERT_TRUE(frame.announcement);
        EXPECT_EQ(frame.destination.name, "LQWG");
        EXPECT_EQ(frame.destination.suffix, netbios::MasterBrowser);
        EXPECT_EQ(frame.announcement->serverName, "PC01");
        EXPECT_EQ(std::chrono::milliseconds(frame.announcement->periodicityMs), waits[i]) << i;
        EXPECT_TRUE(frame.announcement->serverType & browse::type::Workstation);
        EXPECT_FALSE(frame.announcement->serverType & browse::type::PotentialBrowser);
        at += waits[i];
    }

    a.sent.clear();
    a.announcer.stop();
    ASSERT_EQ(a.sent.size(), 2u);
    expectOnEachInterface(a.sent);
    EXPECT_EQ(a.sent[0].frame.announcement->serverType, 0u) << "a host going away is type 0";
    EXPECT_EQ(a.sent[0].frame.announcement->periodicityMs, 0u);
    a.advance(30min);
    a.announcer.stop();
    EXPECT_EQ(a.sent.size(), 2u) << "announced after stop";
}

protocol::Bytes request(std::string_view group, std::uint8_t suffix) {
    protocol::mailslot::Source source;
    source.name = "MASTER";
    const protocol::Bytes frame{browse::AnnouncementRequest, 0, 'M', 'A', 'S', 'T', 'E', 'R', 0};
    return *protocol::mailslot::groupDatagram(source, group, suffix, browse::Slot, frame);
}

TEST(BrowserAnnouncer, AnswersOurWorkgroupsRequestsFromLocalSubnetsOnceWithinTheWindow) {
    const auto nmbd =
        testsupport::readFile(testsupport::testDataPath("browse/nmbd-announcement-request.bin"));
    ASSERT_TRUE(nmbd);
    const Ipv4 neighbour{192, 168, 7, 20};
    const struct {
        const char* name;
        protocol::Bytes datagram;
        Ipv4 from;
        bool answered;
    } cases[] = {
        {"nmbd's, to LQWG<1E>", protocol::Bytes(nmbd->begin(), nmbd->end()), neighbour, true},
        {"to LQWG<00>", request("LQWG", netbios::Workstation), neighbour, true},
        {"to lqwg<00>", request("lqwg", netbios::Workstation), neighbour, true},
        {"to the master, LQWG<1D>", request("LQWG", netbios::MasterBrowser), neighbour, false},
        {"to another workgroup", request("OTHER", netbios::Workstation), neighbour, false},
        {"from off-link", request("LQWG", netbios::Workstation), Ipv4{172, 16, 0, 9}, false},
    };
    for (const auto& c : cases) {
        Announcer a;
        a.announcer.start();
        a.advance(1s);
        a.sent.clear();
        // A storm of requests gets one answer.
        for (int i = 0; i < 5; ++i)
            a.announcer.onDatagram(c.datagram, c.from);
        a.advance(BrowserAnnouncer::AnswerWindow);
        EXPECT_EQ(a.sent.size(), c.answered ? 2u : 0u) << c.name;
        expectOnEachInterface(a.sent);
        for (const auto& sent : a.sent)
            EXPECT_EQ(sent.frame.announcement->serverType & browse::type::Workstation, 1u);
        // The regular schedule goes on, a minute after the start.
        a.sent.clear();
        a.advance(1min - 1s - BrowserAnnouncer::AnswerWindow);
        EXPECT_EQ(a.sent.size(), 2u) << c.name;
    }

    // Before start and after stop, requests go unanswered.
    Announcer a;
    a.announcer.onDatagram(request("LQWG", 0), neighbour);
    a.advance(BrowserAnnouncer::AnswerWindow + 1s);
    EXPECT_TRUE(a.sent.empty());
    a.announcer.start();
    a.announcer.onDatagram(request("LQWG", 0), neighbour);
    a.announcer.stop();
    a.sent.clear();
    a.advance(BrowserAnnouncer::AnswerWindow + 1s);
    EXPECT_TRUE(a.sent.empty());
}

} // namespace
} // namespace lanquill::daemon
