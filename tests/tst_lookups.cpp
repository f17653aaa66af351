// Name and address lookups as the dialogs see them (found flag, texts), the neighbour-table
// reading behind GetMacAddress, the workgroup command line, and who a workgroup message reaches
// by name beyond the broadcast.
#include "fakes/FakePlatform.h"
#include "net/GroupCommand.h"
#include "net/GroupDelivery.h"
#include "net/Lookups.h"
#include "platform/NameService.h"
#include "platform/NeighbourTable.h"

#include <QtTest>

#include <mutex>

using namespace lanquill;
using platform::HostEntry;
using platform::Ipv4;

class TestLookups : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void hostNameToIP() {
        fakes::FakeResolver resolver;
        resolver.byName["PC-07"] = HostEntry{"pc-07.lan", {{10, 0, 0, 7}, {192, 168, 0, 5}}};
        const auto found = net::HostNameToIP(resolver, "PC-07");
        QVERIFY(found.found);
        QCOMPARE(found.text, std::string("10.0.0.7")); // the first address listed
        const auto missing = net::HostNameToIP(resolver, "PC-08");
        QVERIFY(!missing.found);
        QCOMPARE(missing.text, std::string());
        // An entry without addresses is no answer.
        resolver.byName["EMPTY"] = HostEntry{"empty", {}};
        QVERIFY(!net::HostNameToIP(resolver, "EMPTY").found);
        // Small bytes are written without leading zeros.
        resolver.byName["LOW"] = HostEntry{"low", {{1, 2, 0, 9}}};
        QCOMPARE(net::HostNameToIP(resolver, "LOW").text, std::string("1.2.0.9"));
    }

    void ipToHostName() {
        fakes::FakeResolver resolver;
        resolver.byAddress[Ipv4{192, 168, 0, 5}] = "PC-07";
        resolver.byAddress[Ipv4{255, 255, 255, 255}] = "ALL-ONES";
        QCOMPARE(net::IPToHostName(resolver, "192.168.0.5").text, std::string("PC-07"));
        QVERIFY(net::IPToHostName(resolver, "192.168.0.5").found);
        const auto unknown = net::IPToHostName(resolver, "192.168.0.6");
        QVERIFY(!unknown.found);
        QCOMPARE(unknown.text, std::string());
        // inet_addr reading: a text that is not an address stands for 255.255.255.255, and the
        // shorter forms inet_addr accepts mean what they mean there.
        QCOMPARE(net::IPToHostName(resolver, "no address").text, std::string("ALL-ONES"));
        QCOMPARE(net::IPToHostName(resolver, "192.168.5").text, std::string("PC-07"));
        QCOMPARE(net::IPToHostName(resolver, "0xC0.168.0.5").text, std::string("PC-07"));
    }

    void macAddress() {
        fakes::FakeNeighbourTable neighbours;
        neighbours.table[Ipv4{192, 168, 0, 5}] = {0x00, 0x0C, 0x29, 0x1A, 0x2B, 0x3C};
        neighbours.table[Ipv4{192, 168, 0, 6}] = {0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0xAA, 0xBB};
        QCOMPARE(net::GetMacAddress(neighbours, "192.168.0.5"), std::string("00-0C-29-1A-2B-3C"));
        // Only the six bytes the ARP buffer holds.
        QCOMPARE(net::GetMacAddress(neighbours, "192.168.0.6"), std::string("0A-0B-0C-0D-0E-0F"));
        QCOMPARE(net::GetMacAddress(neighbours, "192.168.0.7"), std::string());
        QCOMPARE(net::GetMacAddress(neighbours, "not an address"), std::string());
    }

    void arpTable() {
        const std::string table =
            "IP address       HW type     Flags       HW address            Mask     Device\n"
            "192.168.0.5      0x1         0x2         00:0c:29:1a:2b:3c     *        eth0\n"
            "192.168.0.6      0x1         0x0         00:00:00:00:00:00     *        eth0\n"
            "192.168.0.7      0x1         0x6         aa:bb:cc:dd:ee:ff     *        eth0\n"
            "192.168.0.8      0x1         0x2         zz:bb:cc:dd:ee:ff     *        eth0\n"
            "192.168.0.9 broken line\n"
            "192.168.0.55     0x1         0x2         11:22:33:44:55:66     *        eth0\n";
        using Mac = std::vector<std::uint8_t>;
        QCOMPARE(platform::arpTableEntry(table, {192, 168, 0, 5}),
                 std::optional<Mac>(Mac{0x00, 0x0C, 0x29, 0x1A, 0x2B, 0x3C}));
        QVERIFY(!platform::arpTableEntry(table, {192, 168, 0, 6})); // incomplete
        QCOMPARE(platform::arpTableEntry(table, {192, 168, 0, 7}),
                 std::optional<Mac>(Mac{0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF}));
        QVERIFY(!platform::arpTableEntry(table, {192, 168, 0, 8})); // not hex
        QVERIFY(!platform::arpTableEntry(table, {192, 168, 0, 9}));
        QVERIFY(!platform::arpTableEntry(table, {192, 168, 0, 1}));
        QVERIFY(!platform::arpTableEntry("", {192, 168, 0, 5}));
    }

    void realResolverOnLoopback() {
        // Only names and addresses that stay on this machine: nothing is broadcast, and no WINS
        // server this machine's smb.conf may name is asked.
        platform::RealResolver resolver(std::nullopt);
        const auto local = resolver.hostByName("localhost");
        QVERIFY(local);
        QCOMPARE(local->addresses.front(), (Ipv4{127, 0, 0, 1}));
        QVERIFY(!resolver.hostByName(""));
        QVERIFY(!resolver.hostByName(std::string("local\0host", 10)));
        const auto reverse = resolver.hostByAddress({127, 0, 0, 1});
        QVERIFY(reverse);
        QVERIFY(!reverse->officialName.empty());
    }

    // The members beyond the broadcast's networks, each computer once, and only inside the
    // LAN's networks whatever the name server says; failures counted, not stopping the rest,
    // each said per name; the cap counted as not reached.
    void groupDeliveryReachesEachRemoteComputerOnce() {
        fakes::FakeResolver resolver;
        resolver.byName["LOCAL"] = HostEntry{"local", {{10, 0, 0, 5}}};
        resolver.byName["FAR"] = HostEntry{"far", {{10, 1, 0, 5}}};
        resolver.byName["FAR-ALIAS"] = HostEntry{"far", {{10, 1, 0, 5}}};
        resolver.byName["REFUSES"] = HostEntry{"refuses", {{10, 2, 0, 9}}};
        resolver.byName["LINK"] = HostEntry{"link", {{10, 3, 0, 2}}};
        // What a hostile name server may answer: the first address inside the LAN is taken.
        resolver.byName["ABROAD"] = HostEntry{"abroad", {{203, 0, 113, 5}}};
        resolver.byName["SPLIT"] = HostEntry{"split", {{198, 51, 100, 1}, {10, 9, 0, 1}}};
        resolver.byName["LOOP"] = HostEntry{"loop", {{127, 0, 0, 1}}};
        resolver.byName["GROUP"] = HostEntry{"group", {{224, 0, 0, 251}}};
        resolver.byName["LINKCAST"] = HostEntry{"linkcast", {{10, 3, 0, 255}}};
        resolver.byName["OVERCAP"] = HostEntry{"overcap", {{10, 4, 0, 1}}};
        std::vector<platform::Interface> interfaces(2);
        interfaces[0].address = {10, 0, 0, 1};
        interfaces[0].prefixLength = 24;
        interfaces[0].broadcast = Ipv4{10, 0, 0, 255};
        // A point-to-point link carries no broadcast: its peer is sent to by name.
        interfaces[1].address = {10, 3, 0, 1};
        interfaces[1].prefixLength = 24;

        struct Recording : platform::Messenger {
            Recording(platform::Resolver& known, std::mutex& mutex,
                      std::vector<std::pair<std::string, Ipv4>>& sent)
                : known_(known), mutex_(mutex), sent_(sent) {}
            std::uint32_t send(const std::string& to, const std::string& from,
                               const std::string& text) override {
                const auto host = known_.hostByName(to);
                const std::lock_guard lock(mutex_);
                if (!host || from != "ME" || text != "hello")
                    return platform::messenger::InvalidParameter;
                sent_.emplace_back(to, host->addresses.at(0));
                return to == "REFUSES" ? platform::messenger::MessageRejected
                                       : platform::messenger::Success;
            }
            platform::Resolver& known_;
            std::mutex& mutex_;
            std::vector<std::pair<std::string, Ipv4>>& sent_;
        };
        std::mutex mutex;
        std::vector<std::pair<std::string, Ipv4>> sent;
        net::GroupDeliveryOptions options;
        options.cap = 11;
        options.startsPerSecond = 1000;
        const auto members = net::distinctMembers({"LOCAL", "me", "FAR", "far", "FAR-ALIAS", "GONE",
                                                   "REFUSES", "LINK", "ABROAD", "SPLIT", "LOOP",
                                                   "GROUP", "LINKCAST", "OVERCAP"},
                                                  "ME");
        QCOMPARE(members, (std::vector<std::string>{"LOCAL", "FAR", "FAR-ALIAS", "GONE", "REFUSES",
                                                    "LINK", "ABROAD", "SPLIT", "LOOP", "GROUP",
                                                    "LINKCAST", "OVERCAP"}));
        // With a WINS server the private range around us counts; a public server adds its /24.
        const auto lan = net::lanNetworks(interfaces, Ipv4{10, 0, 0, 2});
        QCOMPARE(lan, (std::vector<net::Network>{
                          {{10, 0, 0, 0}, 24}, {{10, 3, 0, 0}, 24}, {{10, 0, 0, 0}, 8}}));
        QCOMPARE(net::lanNetworks(interfaces, Ipv4{198, 51, 100, 7}).back(),
                 (net::Network{{198, 51, 100, 0}, 24}));
        const auto result = net::deliverToMembers(
            members, "ME", "hello", resolver, interfaces, lan,
            [&](platform::Resolver& known, net::GroupClock::time_point) {
                return std::make_unique<Recording>(known, mutex, sent);
            },
            options);
        std::sort(sent.begin(), sent.end());
        const std::vector<std::pair<std::string, Ipv4>> expected{{"FAR", {10, 1, 0, 5}},
                                                                 {"LINK", {10, 3, 0, 2}},
                                                                 {"REFUSES", {10, 2, 0, 9}},
                                                                 {"SPLIT", {10, 9, 0, 1}}};
        QCOMPARE(sent, expected);
        QCOMPARE(result.delivered, std::size_t{3});
        QCOMPARE(result.local, std::size_t{2}); // LOCAL, and FAR again as FAR-ALIAS
        using Why = net::GroupMiss::Why;
        const std::vector<net::GroupMiss> missed{
            {"GONE", Why::NotFound, platform::messenger::NameNotFound, {}},
            {"REFUSES", Why::SendFailed, platform::messenger::MessageRejected, {}},
            {"ABROAD", Why::OutsideLan, 0, {203, 0, 113, 5}},
            {"LOOP", Why::OutsideLan, 0, {127, 0, 0, 1}},
            {"GROUP", Why::OutsideLan, 0, {224, 0, 0, 251}},
            {"LINKCAST", Why::OutsideLan, 0, {10, 3, 0, 255}},
            {"OVERCAP", Why::OverCap, 0, {}}};
        QCOMPARE(result.missed, missed);
        // The broadcast networks: the same net under any host part, not the next one.
        QVERIFY(net::onBroadcastNetwork({10, 0, 0, 254}, interfaces));
        QVERIFY(!net::onBroadcastNetwork({10, 0, 1, 1}, interfaces));
    }

    // On a clock the test moves: lookups in batches of 25 a second, sends 25 a second, nothing
    // started that could not end in the delivery's time; what was left is said per name.
    void groupDeliveryIsPacedAndEndsInTime() {
        using namespace std::chrono_literals;
        using Time = net::GroupClock::time_point;
        // One sender (`inFlight`), and it starts after the lookups: the clock is never read
        // from two threads at once.
        Time now{};
        std::vector<std::pair<Time, std::size_t>> batches;
        struct Moved : platform::Resolver {
            std::function<void(std::size_t)> record;
            std::optional<HostEntry> hostByName(const std::string& name) override {
                if (!name.starts_with("PC"))
                    return std::nullopt;
                return HostEntry{name, {{10, 9, 0, std::uint8_t(std::stoi(name.substr(2)))}}};
            }
            std::optional<HostEntry> hostByAddress(const Ipv4&) override { return std::nullopt; }
            std::vector<std::optional<HostEntry>>
            hostsByName(const std::vector<std::string>& names) override {
                record(names.size());
                return Resolver::hostsByName(names);
            }
        } moved;
        moved.record = [&](std::size_t names) { batches.emplace_back(now, names); };
        net::GroupDeliveryOptions options;
        options.inFlight = 1;
        options.now = [&] { return now; };
        options.sleepUntil = [&](Time to) { now = std::max(now, to); };
        const std::vector<platform::Interface> interfaces{{{10, 0, 0, 1}, 24, {}, 0, {}}};
        const auto deliver = [&](const char* prefix, int count, std::chrono::seconds time) {
            std::vector<std::string> names;
            for (int i = 1; i <= count; ++i)
                names.push_back(prefix + std::to_string(i));
            options.until = now + time;
            const auto result = net::deliverToMembers(
                names, {}, "x", moved, interfaces, net::lanNetworks(interfaces, Ipv4{10, 0, 0, 2}),
                [&](platform::Resolver&, Time until) {
                    // A messenger that outlived the delivery would send on: it gets none.
                    return until == options.until ? std::make_unique<fakes::FakeMessenger>()
                                                  : std::unique_ptr<fakes::FakeMessenger>();
                },
                options);
            std::map<net::GroupMiss::Why, int> why;
            for (const auto& miss : result.missed)
                ++why[miss.why];
            return std::pair{result.delivered, why};
        };
        using Why = net::GroupMiss::Why;
        // 600 names nobody knows, 10 s: nine batches (a tenth could not end in time), the next
        // 275 never asked, the last 100 over the cap.
        const auto nobody = deliver("NOBODY", 600, 10s);
        QCOMPARE(
            nobody.second,
            (std::map<Why, int>{{Why::NotFound, 225}, {Why::OverCap, 100}, {Why::OutOfTime, 275}}));
        // 100 computers beyond the routers, 5 s: four batches, then two seconds of sends at 25
        // a second.
        const auto reached = deliver("PC", 100, 5s);
        QCOMPARE(reached.first, std::size_t{50});
        QCOMPARE(reached.second, (std::map<Why, int>{{Why::OutOfTime, 50}}));
        QCOMPARE(batches.size(), std::size_t{9 + 4});
        for (std::size_t i = 0; i < batches.size(); ++i)
            QVERIFY(batches[i].second == 25 &&
                    (i == 0 || batches[i].first - batches[i - 1].first >= 1s));
    }
};

QTEST_GUILESS_MAIN(TestLookups)
#include "tst_lookups.moc"
