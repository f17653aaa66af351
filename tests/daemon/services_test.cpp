// lanquilld's services in-process: peers on socketpairs and loopback sockets, a clock the test
// moves, a spool in a temporary folder. No root, no namespace, nothing beyond loopback.
#include "daemon/Admission.h"
#include "daemon/ClientHub.h"
#include "daemon/DatagramService.h"
#include "daemon/Delivery.h"
#include "daemon/EventLoop.h"
#include "daemon/Listener.h"
#include "daemon/LocalNetwork.h"
#include "daemon/MessengerService.h"
#include "daemon/NameService.h"
#include "daemon/Spool.h"
#include "daemon/WinsClient.h"
#include "files/Wait.h"
#include "protocol/Mailslot.h"
#include "protocol/NetBios.h"
#include "protocol/SessionProtocol.h"
#include "protocol/SmbMessage.h"
#include "support/Files.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <condition_variable>
#include <csignal>
#include <filesystem>
#include <net/if.h>
#include <poll.h>
#include <pwd.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace lanquill::daemon {
namespace {

namespace smb = protocol::smb;
namespace netbios = protocol::netbios;
namespace session = protocol::session;
namespace status = protocol::smb::status;
using nlohmann::json;
using testsupport::TemporaryFolder;
using namespace std::chrono_literals;
using Statuses = std::vector<std::uint32_t>;

constexpr Ipv4 LocalAddress{192, 168, 7, 1};
constexpr Ipv4 Neighbour{192, 168, 7, 20};
constexpr Ipv4 Loopback{127, 0, 0, 1};
// The name service's tests answer on loopback, from an address of it that is not the asker's.
constexpr Ipv4 LoopbackInterface{127, 0, 0, 3};
constexpr std::string_view Hello = "{\"hello\":1}\n";

// This host as the services see it: a LAN they are on, and loopback standing in for the
// interface that name service questions arrive on.
std::vector<platform::Interface> interfaces() {
    return {{LocalAddress, 16, std::nullopt, 0, {}},
            {LoopbackInterface, 8, std::nullopt, ::if_nametoindex("lo"), {}}};
}

std::span<const std::uint8_t> bytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// One end of a socketpair for the test, the other handed to a service.
struct Peer {
    int fd = -1;
    Peer() = default;
    Peer(Peer&& other) noexcept : fd(std::exchange(other.fd, -1)) {}
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
    void send(std::span<const std::uint8_t> data) {
        ASSERT_EQ(::send(fd, data.data(), data.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(data.size()));
    }
    void send(std::string_view text) { send(bytes(text)); }
    // What has arrived; `closed` tells whether the service hung up.
    std::string receive(bool* closed = nullptr) {
        std::string got;
        char buffer[4096];
        ssize_t n;
        while ((n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT)) > 0)
            got.append(buffer, static_cast<std::size_t>(n));
        if (closed)
            *closed = n == 0;
        return got;
    }
    bool hungUp() {
        bool closed = false;
        receive(&closed);
        return closed;
    }
};

// The SMB replies in a run of session messages.
std::vector<smb::Reply> replies(const std::string& stream) {
    std::vector<smb::Reply> out;
    for (auto rest = bytes(stream); rest.size() >= 4;) {
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

Statuses statuses(const std::vector<smb::Reply>& replies) {
    Statuses out(replies.size());
    std::ranges::transform(replies, out.begin(), &smb::Reply::status);
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

// Everything a service needs, wired as lanquilld wires it, on a clock the test moves.
struct Receiver {
    TimePoint now = Clock::now();
    EventLoop loop{[this] { return now; }};
    LocalNetwork network{loop, &interfaces};
    TemporaryFolder folder;
    Spool spool{folder.path / "spool", 100}; // small: every store is synced to disk
    platform::UdpSocket unusedSocket;
    Delivery delivery{loop, spool, hub, "PC01"};
    Admission admission{loop, network, {false, 20}};
    ClientHub hub;
    MessengerService messenger{loop, admission, delivery, {"PC01"}};
    DatagramService datagrams{loop, unusedSocket, network, admission, delivery, {"WORKGROUP"}};

    // With this computer's accounts, read before the test goes on.
    Receiver() : Receiver(&Accounts::everyAccount) { waitForAccounts(); }
    explicit Receiver(Accounts::Source accounts)
        : hub{loop, delivery, admission, {"PC01", "WORKGROUP"}, std::move(accounts)} {}

    void waitForAccounts() {
        for (int i = 0; i < 600 && !hub.accountsKnown(); ++i)
            loop.turn(100ms);
    }
    void settle() {
        for (int i = 0; i < 20; ++i)
            loop.turn(0ms);
    }
    void advance(Clock::duration by) {
        now += by;
        settle();
    }
    // A message from the wire to this computer, or to `user` of it.
    Delivery::Result store(const std::string& text, const std::string& user = "",
                           const std::string& from = "SENDER", bool forgeableSender = false) {
        return delivery.accept(wireMessage(session::Direct, from, Neighbour,
                                           user.empty() ? "PC01" : user, {&text, 1}, user),
                               forgeableSender);
    }
    void open(Peer& peer, Ipv4 from = Neighbour) {
        messenger.adopt(peer.connect(), from, LocalAddress);
    }
    // Each request in a session message of its own, all sent before the service reads any.
    std::vector<smb::Reply> exchange(Peer& peer, const std::vector<protocol::Bytes>& requests) {
        for (const auto& request : requests)
            peer.send(smb::sessionMessage(request));
        settle();
        return replies(peer.receive());
    }
    std::optional<smb::SessionReply> requestSession(Peer& peer, std::string_view called,
                                                    std::uint8_t suffix) {
        open(peer);
        peer.send(*smb::sessionRequest(called, suffix, "SENDER"));
        settle();
        return smb::parseSessionReply(bytes(peer.receive()));
    }
    // A session opened on *SMBSERVER, as senders open theirs.
    Peer session() {
        Peer peer;
        EXPECT_EQ(requestSession(peer, "*SMBSERVER", netbios::FileServer)->answer,
                  smb::SessionAnswer::Positive);
        return peer;
    }
    void say(Peer& client, std::string_view line) {
        client.send(line);
        settle();
    }
    // A client of `uid` that has said hello.
    Peer client(uid_t uid = ::getuid()) {
        Peer client;
        hub.adopt(client.connect(), uid);
        say(client, Hello);
        return client;
    }
    void ack(Peer& client, const json& id) { say(client, json{{session::Ack, id}}.dump() + "\n"); }
    // A datagram as a forged sender makes it.
    void hear(const Ipv4& source, const std::string& from, const std::string& text) {
        // The datagram's own source name is bounded; the name in its text is what senders forge.
        const protocol::mailslot::Source origin{
            .address = source, .name = from.empty() || from.size() > 15 ? "X" : from};
        const std::string data = from + '\0' + "PC01" + '\0' + text;
        datagrams.onDatagram(protocol::mailslot::messengerDatagram(origin, "PC01", data).value(),
                             source);
    }
};

TEST(MessengerService, TextInBlocksIsSpooledWholeAndEachBlockAccepted) {
    Receiver receiver;
    auto peer = receiver.session();
    const auto start = receiver.exchange(peer, {smb::sendStartRequest("SENDER", "PC01")});
    ASSERT_EQ(statuses(start), Statuses{status::Success});
    const auto group = smb::groupId(start[0]);
    EXPECT_EQ(statuses(receiver.exchange(peer, {smb::sendTextRequest(group, "first half, "),
                                                smb::sendTextRequest(group, "second half"),
                                                smb::sendEndRequest(group)})),
              Statuses(3, status::Success));
    const auto spooled = receiver.spool.pending();
    ASSERT_EQ(spooled.size(), 1u);
    EXPECT_EQ(spooled[0].text, "first half, second half");
    EXPECT_EQ(spooled[0].from, "SENDER");
    EXPECT_EQ(spooled[0].address, "192.168.7.20");
    EXPECT_EQ(spooled[0].kind, session::Direct);

    // A text over the limit is refused whole: its blocks, its end and nothing spooled.
    const auto big =
        smb::groupId(receiver.exchange(peer, {smb::sendStartRequest("SENDER", "PC01")}).at(0));
    const std::size_t blocks = Admission::MaxTextBytes / smb::MaxBlock + 1;
    std::vector requests(blocks, smb::sendTextRequest(big, std::string(smb::MaxBlock, 'x')));
    requests.push_back(smb::sendEndRequest(big));
    const auto refused = statuses(receiver.exchange(peer, requests));
    ASSERT_EQ(refused.size(), blocks + 1);
    // 4,000 bytes are taken; the block past them and the end are not.
    EXPECT_EQ(Statuses(refused.end() - 3, refused.end()),
              (Statuses{status::Success, status::InvalidParameter, status::InvalidParameter}));
    EXPECT_EQ(receiver.spool.pending().size(), 1u);

    // Text for a group that was never started, and an end after the end, are refused.
    EXPECT_EQ(statuses(receiver.exchange(
                  peer, {smb::sendTextRequest(group, "late"), smb::sendEndRequest(group)})),
              Statuses(2, status::InvalidParameter));
    EXPECT_EQ(receiver.spool.pending().size(), 1u);
}

TEST(MessengerService, OnlyMessengerRequestsKeepASessionOpen) {
    Receiver receiver;
    Peer silent;
    receiver.open(silent);
    auto negotiating = receiver.session(), talking = receiver.session();
    receiver.advance(MessengerService::SessionRequestLimit + 1s);
    EXPECT_TRUE(silent.hungUp()) << "a connection that never asked for a session stays open";

    // NEGOTIATE and keep-alives cost a host nothing to repeat: they do not hold a session.
    const std::uint8_t keepAlive[] = {smb::SessionKeepAlive, 0, 0, 0};
    for (int second = 0; second < 5; ++second) {
        negotiating.send(smb::sessionMessage(smb::negotiateRequest()));
        negotiating.send(keepAlive);
        receiver.advance(1s);
    }
    talking.send(smb::sessionMessage(smb::sendStartRequest("SENDER", "PC01")));
    receiver.advance(2s);
    EXPECT_TRUE(negotiating.hungUp()) << "NEGOTIATE kept a session past its idle limit";
    EXPECT_FALSE(talking.hungUp())
        << "a session that sent a messenger request within its limit was dropped";
    receiver.advance(MessengerService::IdleLimit);
    EXPECT_TRUE(talking.hungUp());
    EXPECT_EQ(receiver.messenger.sessionCount(), 0u);

    // A session to a name that is not ours is refused and dropped at once.
    Peer stranger;
    const auto reply = receiver.requestSession(stranger, "SOMEONE", netbios::Messenger);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->answer, smb::SessionAnswer::Negative);
    EXPECT_EQ(reply->errorCode, smb::CalledNameNotPresent);
    EXPECT_TRUE(stranger.hungUp());
}

TEST(ClientHub, HelloOffersTheSpoolAndAnAckRemovesOnlyThatMessage) {
    Receiver receiver;
    for (const std::string text : {"one", "two"})
        ASSERT_EQ(receiver.store(text), Delivery::Result::Stored);
    auto client = receiver.client();
    const auto answer = lines(client.receive());
    ASSERT_EQ(answer.size(), 4u); // hello, status, two messages
    EXPECT_EQ(answer[0][session::Computer], "PC01");
    EXPECT_EQ(answer[1][session::Status], session::Receiving);
    EXPECT_EQ(answer[2][session::field::Text], "one");
    EXPECT_EQ(answer[3][session::field::Text], "two");
    EXPECT_FALSE(answer[2].contains(session::field::User));

    receiver.ack(client, answer[2][session::field::Id]);
    const auto left = receiver.spool.pending();
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].text, "two");

    // A message arriving now is offered at once to the session that said hello.
    auto sender = receiver.session();
    receiver.exchange(sender, {smb::sendMessageRequest("SENDER", "PC01", "three")});
    const auto offered = lines(client.receive());
    ASSERT_EQ(offered.size(), 1u);
    EXPECT_EQ(offered[0][session::field::Text], "three");

    // Junk gets an error, not a hang-up; the session goes on.
    receiver.say(client, "not json\n");
    const auto refused = lines(client.receive());
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_EQ(refused[0][session::Error], session::NotAnObject);
    EXPECT_FALSE(client.hungUp());
}

TEST(DatagramService, TheSameDatagramTwiceIsOneMessage) {
    Receiver receiver;
    const protocol::mailslot::Source source{.address = Neighbour, .name = "SENDER"};
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
    receiver.datagrams.onDatagram(
        *protocol::mailslot::messengerDatagram(source, "OTHERGROUP", parts[0]), Neighbour);
    EXPECT_EQ(receiver.spool.pending().size(), 3u);
}

TEST(NameService, OurNameIsDefendedAndAnsweredOtherNamesAreNot) {
    Receiver receiver;
    platform::UdpSocket service, claimant;
    ASSERT_TRUE(service.open(0));
    ASSERT_TRUE(service.reportArrival());
    NameService names{receiver.loop,      service,      receiver.network,
                      receiver.admission, receiver.hub, {"PC01", "WORKGROUP", true}};
    receiver.loop.watch(service.fd(), EPOLLIN, [&](std::uint32_t) { names.onReadable(); });
    ASSERT_TRUE(claimant.open(0));
    const auto ask = [&](const protocol::Bytes& packet) -> std::optional<netbios::NamePacket> {
        EXPECT_TRUE(claimant.sendTo(Loopback, service.localPort(), packet));
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

    // A user's name that another host defends is that host's: no longer answered for.
    auto session = receiver.client();
    ASSERT_EQ(receiver.hub.all().size(), 1u);
    const std::string user = receiver.hub.all().front();
    ASSERT_TRUE(ask(*netbios::nameQueryRequest(0x2001, user, netbios::Messenger)));
    const auto registration = static_cast<std::uint16_t>(platform::nextTransactionId() + 1);
    names.registerUser(user);
    EXPECT_FALSE(ask(*netbios::negativeRegistrationResponse(registration, user, netbios::Messenger,
                                                            Ipv4{192, 168, 7, 99})));
    EXPECT_FALSE(ask(*netbios::nameQueryRequest(0x2002, user, netbios::Messenger)))
        << "a name another host holds is still answered";
}

// The WINS side of our names on the test's clock: a WACK holds the request back for the time
// the server asks, a granted name is refreshed at half its time to live, a silent server gets
// three tries and then a new round a minute later, a refused name is asked for again later, and
// stop releases what is left.
TEST(WinsClient, RegistersWaitsRefreshesRetriesAndReleases) {
    using enum netbios::NameOpcode;
    Receiver receiver;
    platform::UdpSocket client, server;
    ASSERT_TRUE(client.open(0));
    ASSERT_TRUE(server.open(0));
    WinsClient wins{receiver.loop, client, receiver.network, Loopback, server.localPort()};
    std::vector<std::string> refused, granted;
    wins.onRefused([&](const std::string& name, std::uint8_t) { refused.push_back(name); },
                   [&](const std::string& name, std::uint8_t) { granted.push_back(name); });

    // What the server has received since the last look; of one kind, or one name, if asked.
    const auto received = [&](std::optional<netbios::NameOpcode> opcode = {},
                              std::string_view name = {}) {
        std::vector<netbios::NamePacket> packets;
        std::array<std::uint8_t, 1500> buffer{};
        while (const auto got = server.receiveUntil(Clock::now() + 50ms, buffer))
            if (const auto packet = netbios::parseNamePacket({buffer.data(), got->length}))
                if ((!opcode || packet->opcode == *opcode) &&
                    (name.empty() || packet->name.name == name))
                    packets.push_back(*packet);
        return packets;
    };
    const auto answer = [&](netbios::NamePacket reply, std::uint16_t flags, std::uint32_t ttl) {
        reply.response = true;
        reply.opcode = static_cast<netbios::NameOpcode>((flags >> 11) & 0x0F);
        reply.rcode = static_cast<std::uint8_t>(flags & 0x0F);
        reply.ttl = ttl;
        return wins.onResponse(reply);
    };

    // Our broadcasts show the counter's ids: a unicast request whose id lies between two of
    // them could have been foreseen, and its refusal forged.
    const auto foreseeable = [](std::uint16_t id, std::uint16_t before, std::uint16_t after) {
        const auto sinceBefore = static_cast<std::uint16_t>(id - before);
        return sinceBefore > 0 && sinceBefore < static_cast<std::uint16_t>(after - before);
    };
    const auto counter = platform::nextTransactionId();
    wins.registerName("PC01", netbios::Workstation);
    receiver.settle();
    auto packets = received();
    const auto counterAfterPc01 = platform::nextTransactionId();
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0].opcode, Registration);
    EXPECT_FALSE(packets[0].broadcast);
    EXPECT_EQ(packets[0].address, LoopbackInterface) << "the address on the server's subnet";
    const auto registration = packets[0];

    ASSERT_TRUE(answer(registration, 0xB800, 5)); // WACK: wait 5 s
    receiver.advance(4s);
    EXPECT_TRUE(received().empty()) << "asked again while the server said to wait";
    receiver.advance(3s);
    packets = received();
    ASSERT_EQ(packets.size(), 1u) << "asked again once the wait was over";
    EXPECT_EQ(packets[0].transactionId, registration.transactionId);

    ASSERT_TRUE(answer(registration, 0xAD80, 40)); // granted for 40 s
    EXPECT_TRUE(wins.registered("PC01", netbios::Workstation));
    EXPECT_FALSE(answer(registration, 0xAD80, 40)) << "a repeated answer is not taken again";
    receiver.advance(19s);
    EXPECT_TRUE(received().empty());
    receiver.advance(2s);
    packets = received();
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0].opcode, Refresh);
    EXPECT_NE(packets[0].transactionId, registration.transactionId);

    // The server stays silent: two more tries 2 s apart, then a new round after a minute.
    receiver.advance(2s);
    receiver.advance(2s);
    EXPECT_EQ(received().size(), 2u);
    receiver.advance(2s);
    receiver.advance(30s);
    EXPECT_TRUE(received().empty());
    receiver.advance(31s);
    packets = received();
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0].opcode, Registration);

    // Another name, refused (ACT_ERR): not ours, until the server grants it ten minutes later.
    const auto counterBeforeUser = platform::nextTransactionId();
    wins.registerName("USER", netbios::Messenger);
    receiver.settle();
    packets = received();
    EXPECT_FALSE(
        foreseeable(registration.transactionId, counter, counterAfterPc01) &&
        foreseeable(packets.at(0).transactionId, counterBeforeUser, platform::nextTransactionId()))
        << "the server's refusal could be forged: its request's id follows our broadcasts'";
    ASSERT_EQ(packets.size(), 1u);
    ASSERT_TRUE(answer(packets[0], 0xAD86, 0));
    EXPECT_EQ(refused, std::vector<std::string>{"USER"});
    EXPECT_FALSE(wins.registered("USER", netbios::Messenger));
    EXPECT_FALSE(answer(packets[0], 0xAD86, 0)) << "a refusal with no request in flight taken";
    receiver.advance(WinsClient::RefusedRetryInterval - 2s);
    EXPECT_TRUE(received(Registration, "USER").empty());
    receiver.advance(3s);
    packets = received(Registration, "USER");
    ASSERT_EQ(packets.size(), 1u) << "a refused name was never asked for again";
    ASSERT_TRUE(answer(packets[0], 0xAD80, 300));
    EXPECT_EQ(granted, std::vector<std::string>{"USER"});

    // A server that answers only "wait": a few waits, then the round counts as unanswered.
    wins.registerName("WAITED", netbios::Messenger);
    receiver.settle();
    for (int i = 0; i <= WinsClient::LongestWaits; ++i) {
        packets = received(Registration, "WAITED");
        ASSERT_EQ(packets.size(), 1u) << "wait " << i;
        ASSERT_TRUE(answer(packets[0], 0xB800, 30));
        receiver.advance(31s);
    }
    EXPECT_TRUE(received(Registration, "WAITED").empty());
    receiver.advance(60s);
    EXPECT_EQ(received(Registration, "WAITED").size(), 1u);
    // Refused now: at stop it is not released, the others are.
    wins.registerName("OTHER", netbios::Messenger);
    receiver.settle();
    packets = received(Registration, "OTHER");
    ASSERT_EQ(packets.size(), 1u);
    ASSERT_TRUE(answer(packets[0], 0xAD86, 0));

    wins.stop();
    std::set<std::string> released;
    for (const auto& packet : received(Release)) {
        EXPECT_FALSE(packet.broadcast);
        released.insert(packet.name.name);
    }
    EXPECT_EQ(released, (std::set<std::string>{"PC01", "USER", "WAITED"}));
    receiver.advance(120s);
    EXPECT_TRUE(received().empty()) << "nothing is sent after stop";
}

// --- What one LAN host or one local user must not achieve ---

TEST(Log, WireTextCannotStartALineOrAnEscape) {
    const std::pair<std::string, std::string> cases[] = {
        {"A\n<0>EMERG", "A\\x0A<0>EMERG"},  {"\x1B[31mred", "\\x1B[31mred"},
        {"c1 \xC2\x9B\x32J", "c1 \\x9B2J"}, {"tab\tdel\x7F", "tab\\x09del\\x7F"},
        {"中文 stays", "中文 stays"},
    };
    for (const auto& [text, line] : cases)
        EXPECT_EQ(logLine(text), line);
    EXPECT_LE(logLine(std::string(100000, 'x')).size(), LongestLogLine + 3);
}

TEST(DatagramService, AForgedFloodLeavesRoomForSessionsAndKeepsNothingUnusable) {
    Receiver receiver;
    // Messages no client could use are dropped at the door, not spooled.
    receiver.hear(Neighbour, "", "no sender name");
    receiver.hear(LocalAddress, "SELF", "our own broadcast");
    // Names no computer or user can have, there to push the sender's address out of sight: 40
    // ideographic spaces (CP936 A1 A1), a line break.
    std::string padded = "BOSS";
    for (int i = 0; i < 40; ++i)
        padded += "\xA1\xA1";
    for (const std::string& name : {padded, std::string("BOSS\r\n(192.168.7.1)")})
        receiver.hear(Neighbour, name, "hidden address");
    EXPECT_EQ(receiver.spool.pending().size(), 0u);

    // 1,000 well-formed datagrams from 50 forged on-link addresses in a few seconds: one subnet
    // has a ceiling of its own...
    const auto flood = [&](auto forge) {
        for (int i = 0; i < 1000; ++i)
            receiver.hear(forge(std::uint8_t(100 + i % 50)), "SPAM", "flood " + std::to_string(i));
        return receiver.spool.pending().size();
    };
    const auto fromOneSubnet = flood([](std::uint8_t n) { return Ipv4{192, 168, 7, n}; });
    EXPECT_GT(fromOneSubnet, 0u);
    EXPECT_LE(fromOneSubnet, 30u);
    // ...and the intake as a whole one, however many subnets the sources claim.
    const auto flooded = flood([](std::uint8_t n) { return Ipv4{192, 168, n, 9}; });
    EXPECT_LE(flooded, 60u);
    EXPECT_LE(receiver.admission.tracked(), Admission::MaxTracked);

    // Minutes of it fill the spool only up to the part kept for sessions...
    for (std::size_t i = flooded; i < receiver.spool.capacity(); ++i)
        receiver.store("filler", "", "SPAM", true);
    EXPECT_EQ(receiver.spool.pending().size(), receiver.delivery.roomForDatagrams());
    EXPECT_LT(receiver.delivery.roomForDatagrams(), receiver.spool.capacity());
    // ...where a sender over TCP, whose address is real, still gets in.
    auto sender = receiver.session();
    EXPECT_EQ(statuses(receiver.exchange(
                  sender, {smb::sendMessageRequest("BOSS", "PC01", "real message")})),
              Statuses{status::Success});
}

TEST(DatagramService, OneChattyHostLeavesItsSubnetsBudgetToTheOthers) {
    Receiver receiver;
    // Two datagrams a second for a minute: the host's own rate refuses most of them...
    for (int i = 0; i < 118; ++i) {
        receiver.hear(Neighbour, "CHATTY", "chat " + std::to_string(i));
        receiver.advance(500ms);
    }
    ASSERT_EQ(receiver.spool.size(), 20u);
    // ...and those refused take nothing from what its subnet's other hosts may send.
    for (std::uint8_t host = 100; host < 110; ++host)
        receiver.hear({192, 168, 7, host}, "OTHER", "to all");
    EXPECT_EQ(receiver.spool.size(), 30u);
}

TEST(Admission, ForgedRoutedSourcesGetABoundedStreamOfAnswers) {
    Receiver receiver;
    Admission routed{receiver.loop, receiver.network, {.routedLan = true}};
    // 50 forged sources in the routed LAN's ranges, 20 questions each in a minute.
    const auto answered = [&] {
        int count = 0;
        for (int i = 0; i < 1000; ++i)
            count += routed.mayAnswer(Ipv4{10, 9, static_cast<std::uint8_t>(i % 50), 7});
        return count;
    };
    EXPECT_EQ(answered(), int(Admission::OffLinkAnswersPerMinute));
    EXPECT_TRUE(routed.mayAnswer(Neighbour)) << "the own subnet lost its answers";
    EXPECT_FALSE(routed.mayAnswer(Ipv4{8, 8, 8, 8}));
    receiver.advance(61s);
    EXPECT_EQ(answered(), int(Admission::OffLinkAnswersPerMinute));
}

TEST(ClientHub, ASessionDropsOnlyWhatItWasOfferedAndNobodyElsesMessages) {
    Receiver receiver;
    const std::string text = "for the daemon account";
    // Sent to a user of this computer with no session now: kept for that user alone.
    ASSERT_EQ(receiver.store(text, "DAEMON"), Delivery::Result::Stored);
    const auto id = receiver.spool.pending().at(0).id;
    auto other = receiver.client(0); // root: another user
    EXPECT_EQ(lines(other.receive()).size(), 2u) << "another user's session was offered it";
    receiver.ack(other, id);
    EXPECT_EQ(lines(other.receive()).at(0)[session::Error], session::NotOffered);
    ASSERT_EQ(receiver.spool.pending().size(), 1u) << "a session dropped what it never saw";

    const passwd* account = ::getpwnam("daemon");
    ASSERT_NE(account, nullptr);
    auto owner = receiver.client(account->pw_uid);
    const auto offered = lines(owner.receive());
    ASSERT_EQ(offered.size(), 3u);
    EXPECT_EQ(offered[2][session::field::Text], text);
    receiver.ack(owner, id);
    EXPECT_EQ(receiver.spool.pending().size(), 0u);
}

TEST(ClientHub, ASessionThatNeverReadsHoldsABoundedBacklog) {
    Receiver receiver;
    const std::string text(3900, 'x'); // 100 of them: more than a socket's buffer takes
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(receiver.store(text, "", "S"), Delivery::Result::Stored);
    // One file broken behind the spool's back: said once, however many batches pass it.
    const auto broken = receiver.spool.pending().at(10).id;
    ASSERT_TRUE(
        testsupport::writeFile((receiver.folder.path / "spool" / (broken + ".msg")).string(), "{"));
    Peer silent;
    receiver.hub.adopt(silent.connect(), ::getuid());
    silent.send(Hello);
    testing::internal::CaptureStderr();
    // It sends junk and never reads the answers.
    for (int i = 0; i < 500; ++i) {
        ::send(silent.fd, "junk\n", 5, MSG_NOSIGNAL | MSG_DONTWAIT);
        receiver.settle();
    }
    // Offers wait at the backlog bound; the answers to its junk stop when reading pauses there.
    EXPECT_LE(receiver.hub.queuedBytes(), ClientHub::OfferBacklog + 64 * 1024);
    // Once it reads, everything comes, each message once and in order.
    std::vector<std::string> texts;
    for (int round = 0; round < 400 && texts.size() < 100; ++round) {
        for (const auto& line : lines(silent.receive()))
            if (line.contains(session::field::Text))
                texts.push_back(line[session::field::Id]);
        receiver.settle();
    }
    const std::string logged = testing::internal::GetCapturedStderr();
    EXPECT_EQ(texts.size(), 99u);
    EXPECT_TRUE(std::is_sorted(texts.begin(), texts.end()));
    // Each batch reads only what it offers: an old read of the whole spool per batch said the
    // broken file once a batch.
    EXPECT_EQ(std::count(logged.begin(), logged.end(), '\n'), 1) << logged.substr(0, 300);
}

TEST(ClientHub, OneUserCannotTakeEverySessionSlot) {
    Receiver receiver;
    std::vector<Peer> peers(ClientHub::MaxClientsPerUser + 1);
    for (auto& peer : peers)
        receiver.hub.adopt(peer.connect(), 4242);
    receiver.settle();
    EXPECT_EQ(receiver.hub.clientCount(), ClientHub::MaxClientsPerUser);
    EXPECT_EQ(lines(peers.back().receive()).at(0)[session::Error], session::TooManySessions);
    EXPECT_TRUE(peers.back().hungUp());
    Peer someoneElse;
    receiver.hub.adopt(someoneElse.connect(), 4243);
    EXPECT_EQ(receiver.hub.clientCount(), ClientHub::MaxClientsPerUser + 1);
}

// Out of descriptors, a listener pauses instead of being woken for the same connection at once,
// and takes it after the pause.
TEST(Listener, OutOfDescriptorsItPausesAndThenAccepts) {
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
    // The sanitizers' runtime needs descriptors of its own (a pipe for each memory check of
    // UBSan's type checks, a socket pair for its symbolizer): out of them, it reports faults
    // that are not there.
    GTEST_SKIP() << "the sanitizers cannot run out of descriptors";
#endif
#endif
    TimePoint now = Clock::now();
    EventLoop loop{[&] { return now; }};
    TemporaryFolder folder;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, (folder.path / "socket").c_str());
    const auto where = reinterpret_cast<const sockaddr*>(&address);
    const int listening = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(::bind(listening, where, sizeof address) | ::listen(listening, 4), 0);
    int accepted = 0;
    Listener listener{loop, "test socket", [&](int fd, const sockaddr_storage&) {
                          ++accepted;
                          ::close(fd);
                      }};
    listener.listen(listening);
    Peer client;
    client.fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(::connect(client.fd, where, sizeof address), 0);
    rlimit limit{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
    const int lowestFree = ::dup(0);
    ::close(lowestFree);
    const rlimit full{static_cast<rlim_t>(lowestFree), limit.rlim_max};
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &full), 0);
    loop.turn(0ms);
    ::setrlimit(RLIMIT_NOFILE, &limit);
    EXPECT_FALSE(loop.watching(listening)) << "woken again at once for what it cannot take";
    now += Listener::PauseWhenOutOfDescriptors;
    loop.turn(0ms);
    loop.turn(0ms);
    EXPECT_EQ(accepted, 1);
    ::close(listening);
}

// A signal does not end a wait before its deadline: lanquill-deliver gives lanquilld its whole
// time to answer.
TEST(Wait, ASignalDoesNotEndTheWaitBeforeItsDeadline) {
    struct sigaction quiet {
    }, before{};
    quiet.sa_handler = [](int) {}; // without SA_RESTART: poll fails with EINTR
    ASSERT_EQ(::sigaction(SIGALRM, &quiet, &before), 0);
    Peer silent;
    const int other = silent.connect();
    const auto start = Clock::now();
    std::thread interrupt([waiting = ::pthread_self()] {
        std::this_thread::sleep_for(20ms);
        ::pthread_kill(waiting, SIGALRM);
    });
    EXPECT_FALSE(files::waitUntil(silent.fd, POLLIN, start + 200ms));
    EXPECT_GE(Clock::now() - start, 200ms);
    interrupt.join();
    ::sigaction(SIGALRM, &before, nullptr);
    ::close(other);
}

TEST(ClientHub, SessionsThatComeAndGoCostOneRegistration) {
    Receiver receiver;
    int registered = 0, released = 0;
    receiver.hub.onUserEvents([&](const std::string&) { ++registered; },
                              [&](const std::string&) { ++released; });
    for (int i = 0; i < 200; ++i)
        receiver.client(); // each hangs up as the next comes
    receiver.settle();
    EXPECT_EQ(registered, 1);
    EXPECT_EQ(released, 0);
    receiver.advance(ClientHub::NameKeptAfterLastSession + 1s);
    EXPECT_EQ(released, 1);
}

TEST(MessengerService, HostsHoldingEverySlotMakeRoomForANewSender) {
    Receiver receiver;
    const auto host = [](int subnet, int number) {
        return Ipv4{192, 168, static_cast<std::uint8_t>(subnet), static_cast<std::uint8_t>(number)};
    };
    const auto refusal = [](Peer& peer) {
        const auto answer = peer.receive();
        return answer.size() == 5 ? static_cast<std::uint8_t>(answer[4]) : 0;
    };
    // Four hosts of each of two /24s take every slot, four sessions each, oldest first.
    std::vector<Peer> held(MessengerService::MaxSessions);
    for (std::size_t i = 0; i < held.size(); ++i) {
        receiver.open(held[i], host(7 + int(i) / 16, 10 + int(i) / 4));
        receiver.advance(10ms);
    }
    ASSERT_EQ(receiver.messenger.sessionCount(), MessengerService::MaxSessions);
    Peer fifth, newcomer, neighbour, last, fresh, over;
    receiver.open(fifth, host(7, 10));
    EXPECT_EQ(refusal(fifth), smb::InsufficientResources) << "one host took a fifth slot";

    // A sender from elsewhere takes the place of the session idle longest...
    receiver.open(newcomer, host(9, 1));
    EXPECT_TRUE(held[0].hungUp());
    EXPECT_FALSE(held[1].hungUp());
    EXPECT_FALSE(newcomer.hungUp());
    // ...and one from a /24 that holds its share takes the place of that /24's idlest.
    receiver.open(neighbour, host(8, 99));
    EXPECT_TRUE(held[16].hungUp()) << "the /24 at its share did not give way";
    EXPECT_FALSE(held[1].hungUp()) << "another /24 gave way for a /24 at its share";
    EXPECT_EQ(receiver.messenger.sessionCount(), MessengerService::MaxSessions);

    // A host that opens session after session is held to a pace, and gives way first.
    const Ipv4 cycling = host(7, 200);
    for (std::size_t i = 1; i < receiver.admission.sessionsPerMinute(); ++i) {
        receiver.settle(); // the last one has hung up
        Peer peer;
        receiver.open(peer, cycling);
        EXPECT_EQ(refusal(peer), 0) << "session " << i << " of a minute refused";
    }
    receiver.settle();
    receiver.open(last, cycling);
    receiver.advance(1s);
    receiver.open(fresh, host(9, 2));
    EXPECT_TRUE(last.hungUp()) << "an idle session gave way before the busiest host's";
    receiver.open(over, cycling);
    EXPECT_EQ(refusal(over), smb::InsufficientResources);
}

TEST(Delivery, SystemAccountsGetNoMessagesAndAbsentUsersAShare) {
    Receiver receiver;
    auto sender = receiver.session();
    EXPECT_EQ(
        statuses(receiver.exchange(sender, {smb::sendMessageRequest("SENDER", "DAEMON", "held?"),
                                            smb::sendMessageRequest("SENDER", "NOBODY", "held?")})),
        Statuses(2, status::AccessDenied));
    EXPECT_EQ(receiver.spool.size(), 0u) << "a message nobody will read was kept";

    for (std::size_t i = 0; i < receiver.delivery.roomForAbsentUsers(); ++i)
        ASSERT_EQ(receiver.store("for later", "ALICE"), Delivery::Result::Stored);
    EXPECT_EQ(receiver.store("for later", "BOB"), Delivery::Result::Full);
    EXPECT_EQ(receiver.store("for later"), Delivery::Result::Stored)
        << "no room left for every session";

    // The count outlives a restart, and expiry gives the room back.
    Spool again{receiver.folder.path / "spool", receiver.spool.capacity()};
    EXPECT_EQ(again.waitingForUsers(), receiver.delivery.roomForAbsentUsers());
    for (const auto& entry : std::filesystem::directory_iterator(receiver.folder.path / "spool"))
        std::filesystem::last_write_time(
            entry.path(), std::filesystem::file_time_type::clock::now() - Spool::MaxAge - 1h);
    EXPECT_EQ(again.expire(), receiver.delivery.roomForAbsentUsers() + 1);
    EXPECT_EQ(again.waitingForUsers(), 0u);
    EXPECT_EQ(again.size(), 0u);
}

// A directory that answers only once the test lets it: the messages before are answered and
// kept; after, they follow the accounts. A walk on the loop fails instead of hanging the test.
TEST(Delivery, MessagesDoNotWaitForASlowDirectoryAndFollowItOnceRead) {
    std::mutex mutex;
    std::condition_variable released;
    bool answer = false;
    const auto loopThread = std::this_thread::get_id();
    Receiver receiver{[&](const std::function<void(const passwd&)>& each) {
        if (std::this_thread::get_id() == loopThread) {
            ADD_FAILURE() << "the loop waits on the directory";
            return;
        }
        std::unique_lock lock(mutex);
        released.wait(lock, [&] { return answer; });
        char daemon[] = "daemon", alice[] = "alice", nologin[] = "/usr/sbin/nologin",
             bash[] = "/bin/bash";
        each(passwd{daemon, nullptr, 1, 1, nullptr, nullptr, nologin});
        each(passwd{alice, nullptr, 1000, 1000, nullptr, nullptr, bash});
    }};
    auto sender = receiver.session();
    const auto send = [&](const char* to) {
        const auto answers =
            receiver.exchange(sender, {smb::sendMessageRequest("SENDER", to, "hi")});
        return answers.empty() ? ~0u : answers.back().status;
    };
    EXPECT_EQ(send("DAEMON"), status::Success) << "refused while the directory is slow";
    auto session = receiver.client();
    EXPECT_FALSE(lines(session.receive()).empty()) << "a session waited for the directory";
    {
        const std::lock_guard lock(mutex);
        answer = true;
    }
    released.notify_all();
    receiver.waitForAccounts();
    EXPECT_EQ(send("DAEMON"), status::AccessDenied);
    EXPECT_EQ(send("ALICE"), status::Success);
    const auto kept = receiver.spool.pending();
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_EQ(kept[0].user, "DAEMON");
    EXPECT_EQ(kept[1].user, "ALICE") << "a desktop account's message not kept for it";
}

TEST(Delivery, ASpoolThatCannotBeWrittenIsSaidAndSoIsItsReturn) {
    Receiver receiver;
    const auto spool = receiver.folder.path / "spool";
    struct stat folder {};
    ASSERT_EQ(::stat(spool.c_str(), &folder), 0);
    EXPECT_EQ(folder.st_mode & 07777, 0700u) << "others could list the spooled messages";

    int changes = 0;
    receiver.delivery.onWritableChanged([&] { ++changes; });
    // The folder gone and a file in its place: no write can succeed, as root neither.
    std::filesystem::remove_all(spool);
    ASSERT_TRUE(testsupport::writeFile(spool.string(), "not a folder"));
    EXPECT_EQ(receiver.store("hello"), Delivery::Result::Failed);
    EXPECT_FALSE(receiver.delivery.writable());
    EXPECT_EQ(changes, 1);
    // A thousand refused while it stays so are a few log lines, not a thousand.
    testing::internal::CaptureStderr();
    for (int i = 0; i < 1000; ++i)
        receiver.store("hello");
    const std::string logged = testing::internal::GetCapturedStderr();
    EXPECT_LE(std::count(logged.begin(), logged.end(), '\n'), 12) << logged.substr(0, 300);
    std::filesystem::remove(spool);
    std::filesystem::create_directory(spool);
    EXPECT_EQ(receiver.store("hello"), Delivery::Result::Stored);
    EXPECT_TRUE(receiver.delivery.writable());
    EXPECT_EQ(changes, 2);

    // What is no message file of the spool's own is never read: a FIFO would hang the read.
    ASSERT_EQ(::mkfifo((spool / "01-fifo.msg").c_str(), 0600), 0);
    Spool again{spool, receiver.spool.capacity()};
    EXPECT_EQ(again.pending().size(), 1u);
}

TEST(LocalNetwork, AFailedReadKeepsTheLastInterfaces) {
    TimePoint now = Clock::now();
    EventLoop loop{[&] { return now; }};
    bool failing = false;
    LocalNetwork network{
        loop, [&] { return failing ? std::vector<platform::Interface>{} : interfaces(); }};
    EXPECT_TRUE(network.onLink(Neighbour));
    failing = true; // out of descriptors, say
    now += 1min;
    EXPECT_TRUE(network.onLink(Neighbour)) << "every sender looks off-link";
}

} // namespace
} // namespace lanquill::daemon
