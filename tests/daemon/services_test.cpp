// lanquilld's services in-process: peers on socketpairs and loopback sockets, a clock the test
// moves, a spool in a temporary folder. No root, no namespace, nothing beyond loopback.
#include "daemon/Admission.h"
#include "daemon/ClientHub.h"
#include "daemon/DatagramService.h"
#include "daemon/Delivery.h"
#include "daemon/EventLoop.h"
#include "daemon/LocalNetwork.h"
#include "daemon/MessengerService.h"
#include "daemon/NameService.h"
#include "daemon/Spool.h"
#include "protocol/Mailslot.h"
#include "protocol/NetBios.h"
#include "protocol/SessionProtocol.h"
#include "protocol/SmbMessage.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <net/if.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace lanquill::daemon {
namespace {

namespace smb = protocol::smb;
namespace netbios = protocol::netbios;
namespace session = protocol::session;
using nlohmann::json;
using namespace std::chrono_literals;

constexpr Ipv4 LocalAddress{192, 168, 7, 1};
constexpr Ipv4 Neighbour{192, 168, 7, 20};
// The name service's tests answer on loopback, from an address of it that is not the asker's.
constexpr Ipv4 LoopbackInterface{127, 0, 0, 3};

// This host as the services see it: a LAN they are on, and loopback standing in for the
// interface that name service questions arrive on.
std::vector<platform::Interface> interfaces() {
    platform::Interface lan;
    lan.address = LocalAddress;
    lan.prefixLength = 24;
    platform::Interface loopback;
    loopback.address = LoopbackInterface;
    loopback.prefixLength = 8;
    loopback.index = ::if_nametoindex("lo");
    return {lan, loopback};
}

struct TemporaryFolder {
    std::filesystem::path path;
    TemporaryFolder() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "lanquilld-XXXXXX").string();
        path = ::mkdtemp(pattern.data());
    }
    ~TemporaryFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
};

// Everything a service needs, wired as lanquilld wires it, on a clock the test moves.
struct Receiver {
    TimePoint now = Clock::now();
    EventLoop loop{[this] { return now; }};
    LocalNetwork network{loop, &interfaces};
    TemporaryFolder folder;
    Spool spool{folder.path / "spool"};
    platform::UdpSocket unusedSocket;
    Delivery delivery{spool};
    Admission admission{loop, network, {false, 20}};
    ClientHub hub{loop, delivery, admission, {"PC01", "WORKGROUP", true, ""}};
    MessengerService messenger{loop, hub, admission, delivery, {"PC01"}};
    DatagramService datagrams{loop, unusedSocket, hub, admission, delivery, {"PC01", "WORKGROUP"}};

    void settle() {
        for (int i = 0; i < 20; ++i)
            loop.turn(0ms);
    }
    void advance(Clock::duration by) {
        now += by;
        settle();
    }
};

// One end of a socketpair for the test, the other handed to a service.
struct Peer {
    int fd = -1;
    ~Peer() {
        if (fd >= 0)
            ::close(fd);
    }
    int connect() {
        int ends[2];
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, ends), 0);
        fd = ends[0];
        return ends[1];
    }
    void send(std::span<const std::uint8_t> bytes) {
        ASSERT_EQ(::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(bytes.size()));
    }
    void send(std::string_view text) {
        send({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
    }
    // What has arrived; `closed` tells whether the service hung up.
    std::string receive(bool* closed = nullptr) {
        std::string got;
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n > 0) {
                got.append(buffer, static_cast<std::size_t>(n));
                continue;
            }
            if (closed)
                *closed = n == 0;
            return got;
        }
    }
};

// The SMB replies in a run of session messages.
std::vector<smb::Reply> replies(const std::string& stream) {
    std::vector<smb::Reply> out;
    std::span<const std::uint8_t> rest(reinterpret_cast<const std::uint8_t*>(stream.data()),
                                       stream.size());
    while (rest.size() >= 4) {
        const auto length = smb::sessionPacketLength(rest);
        if (!length || *length > rest.size())
            break;
        if (rest[0] == smb::SessionMessageType)
            if (const auto reply = smb::parseReply(rest.subspan(4, *length - 4)))
                out.push_back(*reply);
        rest = rest.subspan(*length);
    }
    return out;
}

std::vector<json> lines(const std::string& stream) {
    std::vector<json> out;
    std::size_t start = 0, end;
    while ((end = stream.find('\n', start)) != std::string::npos) {
        out.push_back(json::parse(stream.substr(start, end - start), nullptr, false));
        start = end + 1;
    }
    return out;
}

// A session opened on *SMBSERVER and negotiated.
void openSession(Receiver& receiver, Peer& peer) {
    receiver.messenger.adopt(peer.connect(), Neighbour, LocalAddress);
    peer.send(*smb::sessionRequest("*SMBSERVER", netbios::FileServer, "SENDER"));
    receiver.settle();
    const auto answer = peer.receive();
    ASSERT_EQ(smb::parseSessionReply(
                  {reinterpret_cast<const std::uint8_t*>(answer.data()), answer.size()})
                  ->answer,
              smb::SessionAnswer::Positive);
}

TEST(MessengerService, TextInBlocksIsSpooledWholeAndEachBlockAccepted) {
    Receiver receiver;
    Peer peer;
    openSession(receiver, peer);
    peer.send(smb::sessionMessage(smb::sendStartRequest("SENDER", "PC01")));
    receiver.settle();
    const auto start = replies(peer.receive());
    ASSERT_EQ(start.size(), 1u);
    ASSERT_EQ(start[0].status, smb::status::Success);
    const auto group = smb::groupId(start[0]);
    peer.send(smb::sessionMessage(smb::sendTextRequest(group, "first half, ")));
    peer.send(smb::sessionMessage(smb::sendTextRequest(group, "second half")));
    peer.send(smb::sessionMessage(smb::sendEndRequest(group)));
    receiver.settle();
    const auto rest = replies(peer.receive());
    ASSERT_EQ(rest.size(), 3u);
    for (const auto& reply : rest)
        EXPECT_EQ(reply.status, smb::status::Success);
    const auto spooled = receiver.spool.pending();
    ASSERT_EQ(spooled.size(), 1u);
    EXPECT_EQ(spooled[0].text, "first half, second half");
    EXPECT_EQ(spooled[0].from, "SENDER");
    EXPECT_EQ(spooled[0].address, "192.168.7.20");
    EXPECT_EQ(spooled[0].kind, session::Direct);

    // Text for a group that was never started, and an end after the end, are refused.
    peer.send(smb::sessionMessage(smb::sendTextRequest(group, "late")));
    peer.send(smb::sessionMessage(smb::sendEndRequest(group)));
    receiver.settle();
    const auto late = replies(peer.receive());
    ASSERT_EQ(late.size(), 2u);
    EXPECT_EQ(late[0].status, smb::status::InvalidParameter);
    EXPECT_EQ(late[1].status, smb::status::InvalidParameter);
    EXPECT_EQ(receiver.spool.pending().size(), 1u);
}

TEST(MessengerService, StalledSessionEndsAtItsDeadlineAndTrafficMovesIt) {
    Receiver receiver;
    Peer stalled, talking;
    openSession(receiver, stalled);
    openSession(receiver, talking);
    ASSERT_EQ(receiver.messenger.sessionCount(), 2u);
    receiver.advance(MessengerService::IdleLimit - 1s);
    talking.send(smb::sessionMessage(smb::negotiateRequest()));
    receiver.settle();
    talking.receive();
    receiver.advance(2s);
    bool closed = false;
    stalled.receive(&closed);
    EXPECT_TRUE(closed) << "a session silent for longer than its limit stays open";
    talking.receive(&closed);
    EXPECT_FALSE(closed) << "a session that spoke within its limit was dropped";
    EXPECT_EQ(receiver.messenger.sessionCount(), 1u);
    receiver.advance(MessengerService::IdleLimit);
    talking.receive(&closed);
    EXPECT_TRUE(closed);
    EXPECT_EQ(receiver.messenger.sessionCount(), 0u);
}

TEST(MessengerService, SessionToAnUnknownNameIsRefusedAndDropped) {
    Receiver receiver;
    Peer peer;
    receiver.messenger.adopt(peer.connect(), Neighbour, LocalAddress);
    peer.send(*smb::sessionRequest("SOMEONE", netbios::Messenger, "SENDER"));
    receiver.settle();
    bool closed = false;
    const auto answer = peer.receive(&closed);
    const auto reply = smb::parseSessionReply(
        {reinterpret_cast<const std::uint8_t*>(answer.data()), answer.size()});
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->answer, smb::SessionAnswer::Negative);
    EXPECT_EQ(reply->errorCode, smb::CalledNameNotPresent);
    EXPECT_TRUE(closed);
}

TEST(ClientHub, HelloOffersTheSpoolAndAnAckRemovesOnlyThatMessage) {
    Receiver receiver;
    Message first = wireMessage(session::Direct, "SENDER", Neighbour, "PC01", "one", "");
    Message second = wireMessage(session::Direct, "SENDER", Neighbour, "PC01", "two", "");
    ASSERT_TRUE(receiver.delivery.accept(first));
    ASSERT_TRUE(receiver.delivery.accept(second));
    Peer client;
    receiver.hub.adopt(client.connect(), ::getuid());
    client.send(R"({"hello":1})"
                "\n");
    receiver.settle();
    const auto answer = lines(client.receive());
    ASSERT_EQ(answer.size(), 4u); // hello, status, two messages
    EXPECT_EQ(answer[0][session::Computer], "PC01");
    EXPECT_EQ(answer[1][session::Status], session::Receiving);
    EXPECT_EQ(answer[2][session::field::Text], "one");
    EXPECT_EQ(answer[3][session::field::Text], "two");
    EXPECT_FALSE(answer[2].contains(session::field::User));

    client.send(json{{session::Ack, answer[2][session::field::Id]}}.dump() + "\n");
    receiver.settle();
    const auto left = receiver.spool.pending();
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].text, "two");

    // A message arriving now is offered at once to the session that said hello.
    Peer sender;
    openSession(receiver, sender);
    sender.send(smb::sessionMessage(smb::sendMessageRequest("SENDER", "PC01", "three")));
    receiver.settle();
    const auto offered = lines(client.receive());
    ASSERT_EQ(offered.size(), 1u);
    EXPECT_EQ(offered[0][session::field::Text], "three");

    // Junk gets an error, not a hang-up; the session goes on.
    client.send("not json\n");
    receiver.settle();
    bool closed = false;
    const auto refused = lines(client.receive(&closed));
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_EQ(refused[0][session::Error], session::NotAnObject);
    EXPECT_FALSE(closed);
}

TEST(DatagramService, TheSameDatagramTwiceIsOneMessage) {
    Receiver receiver;
    protocol::mailslot::Source source;
    source.address = Neighbour;
    source.name = "SENDER";
    const auto parts = protocol::mailslot::messengerData("SENDER", "WORKGROUP", "to everyone");
    ASSERT_EQ(parts.size(), 1u);
    const auto datagram = protocol::mailslot::messengerDatagram(source, "WORKGROUP", parts[0]);
    ASSERT_TRUE(datagram);
    receiver.datagrams.onDatagram(*datagram, Neighbour);
    receiver.datagrams.onDatagram(*datagram, Neighbour); // heard again on the other socket
    ASSERT_EQ(receiver.spool.pending().size(), 1u);
    EXPECT_EQ(receiver.spool.pending()[0].kind, session::WorkgroupKind);
    // The same bytes from another sender are another message; after the window, too.
    receiver.datagrams.onDatagram(*datagram, Ipv4{192, 168, 7, 21});
    EXPECT_EQ(receiver.spool.pending().size(), 2u);
    receiver.advance(DatagramService::DuplicateWindow + 1s);
    receiver.datagrams.onDatagram(*datagram, Neighbour);
    EXPECT_EQ(receiver.spool.pending().size(), 3u);
    // Off-link senders and other workgroups are not taken.
    receiver.datagrams.onDatagram(*datagram, Ipv4{10, 9, 9, 9});
    const auto other = protocol::mailslot::messengerDatagram(source, "OTHERGROUP", parts[0]);
    receiver.datagrams.onDatagram(*other, Neighbour);
    EXPECT_EQ(receiver.spool.pending().size(), 3u);
}

TEST(NameService, OurNameIsDefendedAndAnsweredOtherNamesAreNot) {
    Receiver receiver;
    platform::UdpSocket service;
    ASSERT_TRUE(service.open(0));
    ASSERT_TRUE(service.reportArrival());
    NameService names{
        receiver.loop, service, receiver.network, receiver.hub, {"PC01", "WORKGROUP", true}};
    receiver.loop.watch(service.fd(), EPOLLIN, [&](std::uint32_t) { names.onReadable(); });
    platform::UdpSocket claimant;
    ASSERT_TRUE(claimant.open(0));
    const Ipv4 loopback{127, 0, 0, 1};
    const auto ask = [&](const protocol::Bytes& packet) -> std::optional<netbios::NamePacket> {
        EXPECT_TRUE(claimant.sendTo(loopback, service.localPort(), packet));
        receiver.settle();
        std::array<std::uint8_t, 1500> buffer{};
        const auto got = claimant.receiveUntil(Clock::now() + 200ms, buffer);
        if (!got)
            return std::nullopt;
        return netbios::parseNamePacket({buffer.data(), got->length});
    };

    const auto defended = ask(*netbios::nameRegistrationRequest(0x1234, "PC01", netbios::Messenger,
                                                                false, Ipv4{192, 168, 7, 99}));
    ASSERT_TRUE(defended) << "a claim on our unique name went unanswered";
    EXPECT_TRUE(defended->response);
    EXPECT_EQ(defended->opcode, netbios::NameOpcode::Registration);
    EXPECT_NE(defended->rcode, 0);
    EXPECT_EQ(defended->transactionId, 0x1234);

    EXPECT_FALSE(ask(*netbios::nameRegistrationRequest(0x1235, "OTHER", netbios::Messenger, false,
                                                       Ipv4{192, 168, 7, 99})));
    EXPECT_FALSE(ask(*netbios::nameRegistrationRequest(0x1236, "WORKGROUP", netbios::Workstation,
                                                       true, Ipv4{192, 168, 7, 99})))
        << "a group name is shared, never defended";

    const auto found = ask(*netbios::nameQueryRequest(0x2000, "PC01", netbios::Workstation));
    ASSERT_TRUE(found);
    EXPECT_EQ(found->rcode, 0);
    EXPECT_EQ(found->address, LoopbackInterface);
}

} // namespace
} // namespace lanquill::daemon
