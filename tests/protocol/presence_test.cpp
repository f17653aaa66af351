// Matching presence replies to the queries of one round: by transaction id and sender together
// for an address, by transaction id and name for a name.
#include "protocol/NetBios.h"
#include "protocol/PresenceRound.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <string>
#include <vector>

using namespace lanquill::protocol;
using namespace lanquill::protocol::netbios;

namespace {

const Ipv4 A{10, 0, 0, 1}, B{10, 0, 0, 2}, C{10, 0, 0, 3};

Bytes replyWithId(std::uint16_t id) {
    const std::vector<NodeName> names{{"PC", 0x00, false, 0x0400}};
    return nodeStatusResponse(id, names, {});
}

Bytes nameAnswer(std::uint16_t id, const std::string& name, const Ipv4& at,
                 std::uint8_t suffix = 0x00) {
    return *positiveNameQueryResponse(id, name, suffix, false, at);
}

Bytes truncated(Bytes bytes, std::size_t length) {
    bytes.resize(length);
    return bytes;
}

struct Datagram {
    Ipv4 from;
    Bytes bytes;
};

struct Case {
    std::string what;
    std::vector<PresenceTarget> queried; // first transaction id 0x1000
    std::vector<Datagram> received;      // in arrival order, all at once
    std::vector<bool> answered;
};

} // namespace

TEST(PresenceRound, MatchesRepliesByTransactionIdAndSender) {
    const std::vector<Case> cases{
        {"two computers answering together, in reverse order",
         {A, B},
         {{B, replyWithId(0x1001)}, {A, replyWithId(0x1000)}},
         {true, true}},
        {"the right id from the wrong host", {A, B}, {{C, replyWithId(0x1000)}}, {false, false}},
        {"another query's id from a host of the round",
         {A, B},
         {{B, replyWithId(0x1000)}},
         {false, false}},
        {"a stale id of an earlier round", {A}, {{A, replyWithId(0x0FFF)}}, {false}},
        {"a name query, not a node status",
         {A},
         {{A, *nameQueryRequest(0x1000, "PC", 0x00)}},
         {false}},
        {"a truncated reply", {A}, {{A, truncated(replyWithId(0x1000), 20)}}, {false}},
        {"one address twice in the book: each entry by its own id",
         {A, A},
         {{A, replyWithId(0x1001)}},
         {false, true}},
        {"a name answered from any host, beside an address",
         {A, "PC-B"},
         {{C, nameAnswer(0x1001, "PC-B", B)}, {A, replyWithId(0x1000)}},
         {true, true}},
        {"a name answered in lower case", {"PC-B"}, {{B, nameAnswer(0x1000, "pc-b", B)}}, {true}},
        {"an answer for another name", {"PC-B"}, {{B, nameAnswer(0x1000, "PC-C", B)}}, {false}},
        {"an answer for the name's <20>",
         {"PC-B"},
         {{B, nameAnswer(0x1000, "PC-B", B, 0x20)}},
         {false}},
        {"an answer pointing at loopback",
         {"PC-B"},
         {{B, nameAnswer(0x1000, "PC-B", {127, 0, 0, 1})}},
         {false}},
        {"a negative answer",
         {"PC-B"},
         {{B, *negativeNameQueryResponse(0x1000, "PC-B", 0x00)}},
         {false}},
        {"a node status with a name query's id", {"PC-B"}, {{B, replyWithId(0x1000)}}, {false}},
        {"a name answer with an address query's id",
         {A},
         {{A, nameAnswer(0x1000, "PC-A", A)}},
         {false}},
    };
    for (const Case& c : cases) {
        PresenceRound round(c.queried, 0x1000);
        for (const Datagram& d : c.received)
            round.accept(d.from, d.bytes);
        EXPECT_EQ(round.answered(), c.answered) << c.what;
        EXPECT_EQ(round.complete(),
                  std::all_of(c.answered.begin(), c.answered.end(), [](bool b) { return b; }))
            << c.what;
    }
}

TEST(PresenceRound, ARepeatedReplyCountsOnceAndIdsWrap) {
    PresenceRound round({A, B}, 0xFFFF);
    EXPECT_EQ(round.request(0).size(), NodeStatusRequestLength);
    EXPECT_EQ(PresenceRound({std::string("PC-B")}, 7).request(0), *nameQueryRequest(7, "PC-B", 0));
    EXPECT_EQ(round.accept(B, replyWithId(0x0000)), std::optional<std::size_t>(1));
    EXPECT_EQ(round.accept(B, replyWithId(0x0000)), std::nullopt);
    EXPECT_FALSE(round.complete());
    EXPECT_EQ(round.accept(A, replyWithId(0xFFFF)), std::optional<std::size_t>(0));
    EXPECT_TRUE(round.complete());
}

// A WINS server gets the same question under the same id, without the broadcast flag (nmbd
// answers a flagged one only for its own subnet); its answer, from another subnet, counts.
TEST(PresenceRound, TheServerIsAskedTheSameNameByUnicast) {
    PresenceRound round({A, std::string("PC-B")}, 0x2000);
    EXPECT_TRUE(round.serverRequest(0).empty());
    const Bytes unicast = round.serverRequest(1);
    Bytes expected = round.request(1);
    ASSERT_EQ(unicast.size(), expected.size());
    expected[2] = 0x01; // RD only: 0x0100
    expected[3] = 0x00;
    EXPECT_EQ(unicast, expected);
    EXPECT_EQ(round.accept(Ipv4{10, 9, 0, 254}, nameAnswer(0x2001, "PC-B", Ipv4{10, 9, 1, 2})),
              std::optional<std::size_t>(1));
}
