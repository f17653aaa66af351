// TNetUsers over a scripted neighbourhood; the SMB enumerator's containers, handles and
// fall-back with scripted sources; the subnet sweep's arithmetic and a real sweep over
// loopback against a responder of the test's own.
#include "fakes/FakeNetworkEnumerator.h"
#include "net/NetUsers.h"
#include "platform/SmbNetworkEnumerator.h"
#include "platform/SubnetSweep.h"
#include "protocol/Addresses.h"
#include "protocol/NetBios.h"

#include <QtTest>

#include <arpa/inet.h>
#include <atomic>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using lanquill::fakes::FakeNetworkEnumerator;
using lanquill::net::TNetUsers;
using namespace lanquill::platform;
using namespace lanquill::protocol;
namespace ne = lanquill::platform::netenum;

namespace {

class StubSystem : public SystemInfo {
public:
    std::string name;
    std::string currentDirectory() override { return "/"; }
    std::string hostName() override { return name; }
    std::string computerName() override { return name; }
    std::string programDirectory() override { return "/"; }
};

QStringList list(const std::vector<std::string>& names) {
    QStringList out;
    for (const auto& n : names)
        out << QString::fromStdString(n);
    return out;
}

// Batches of entries `make` builds from the names: workgroups or computers.
template <NetResource (*make)(const std::string&)>
std::vector<FakeNetworkEnumerator::Batch> batches(std::vector<std::vector<std::string>> names) {
    std::vector<FakeNetworkEnumerator::Batch> out;
    for (const auto& b : names) {
        out.emplace_back();
        for (const auto& name : b)
            out.back().push_back(make(name));
    }
    return out;
}
constexpr auto groups = &batches<&FakeNetworkEnumerator::workgroup>;
constexpr auto computers = &batches<&FakeNetworkEnumerator::computer>;

// The enumerator with its two sources scripted, counting how often each runs.
class ScriptedSmbEnumerator : public SmbNetworkEnumerator {
public:
    // When the browse list comes: before the sweep starts, while it runs, from another thread
    // 50 ms after the listing began, or never.
    enum class Comes { AtOnce, DuringSweep, Late, Never };
    Comes browseComes = Comes::AtOnce;
    bool browseOk = true;
    std::vector<std::string> browsedGroups;
    std::map<std::string, std::vector<std::string>> browsedComputers;
    Neighbourhood swept;
    int browseCalls = 0;
    int sweepCalls = 0;
    int sweepsStopped = 0;

    ScriptedSmbEnumerator() { browseDeadline_ = std::chrono::hours(1); }
    ~ScriptedSmbEnumerator() override {
        for (auto& t : late_)
            t.join();
    }
    void setBrowseDeadline(std::chrono::milliseconds deadline) { browseDeadline_ = deadline; }

    // The codes of the last listing's open and close, and what it read.
    std::uint32_t opened = 0, closed = 0;
    std::vector<NetResource> listed;
    // Opens the container, reads until the end and closes; the remote names in order.
    QStringList listAll(std::uint32_t displayType, const std::string& name) {
        NetResource c;
        c.displayType = displayType;
        c.remoteName = name;
        Handle h = 0;
        listed.clear();
        opened = open(ne::ScopeGlobalNet, ne::TypeDisk, ne::UsageContainer, &c, h);
        QStringList out;
        if (opened != ne::NoError)
            return out;
        for (std::vector<NetResource> batch; read(h, batch) == ne::NoError;)
            listed.insert(listed.end(), batch.begin(), batch.end());
        for (const auto& entry : listed)
            out << QString::fromStdString(entry.remoteName);
        closed = close(h);
        return out;
    }
    QStringList workgroups() { return listAll(ne::DisplayNetwork, "Lanquill Network"); }
    QStringList computersOf(const std::string& group) { return listAll(ne::DisplayServer, group); }

protected:
    std::shared_ptr<BrowseListing> browseWorkgroups() override { return browse(browsedGroups); }
    std::shared_ptr<BrowseListing> browseComputers(const std::string& workgroup) override {
        const auto it = browsedComputers.find(workgroup);
        return browse(it != browsedComputers.end() ? it->second : std::vector<std::string>{});
    }
    std::optional<Neighbourhood> sweep(const std::function<bool()>& stop) override {
        ++sweepCalls;
        if (browseComes == Comes::DuringSweep)
            pending_->finish(browseOk, pendingNames_);
        if (stop()) {
            ++sweepsStopped;
            return std::nullopt;
        }
        return swept;
    }

private:
    std::shared_ptr<BrowseListing> browse(const std::vector<std::string>& names) {
        ++browseCalls;
        pending_ = std::make_shared<BrowseListing>();
        pendingNames_ = names;
        if (browseComes == Comes::AtOnce)
            pending_->finish(browseOk, names);
        if (browseComes == Comes::Late)
            late_.emplace_back([listing = pending_, ok = browseOk, names] {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                listing->finish(ok, names);
            });
        return pending_;
    }

    std::shared_ptr<BrowseListing> pending_;
    std::vector<std::string> pendingNames_;
    std::vector<std::thread> late_;
};

// A node status response to `id` with a computer <00> and a workgroup <00> group name.
std::vector<std::uint8_t> nodeStatusReply(std::uint16_t id, const std::string& computer,
                                          const std::string& group) {
    // One answer, a response with the AA flag.
    std::vector<std::uint8_t> out{
        std::uint8_t(id >> 8), std::uint8_t(id), 0x84, 0, 0, 0, 0, 1, 0, 0, 0, 0};
    const auto star = netbios::encodeName("*", 0x00);
    out.insert(out.end(), star->begin(), star->end());
    // NBSTAT, IN, no time to live, the length of two entries and the statistics; two names.
    out.insert(out.end(), {0x00, 0x21, 0x00, 0x01, 0, 0, 0, 0, 0x00, 2 * 18 + 1 + 46, 2});
    for (const auto& [name, flags] : {std::pair{computer, 0x04}, std::pair{group, 0x84}}) {
        const std::string padded = (name + std::string(15, ' ')).substr(0, 15);
        out.insert(out.end(), padded.begin(), padded.end());
        out.insert(out.end(), {0x00, std::uint8_t(flags), 0x00});
    }
    out.insert(out.end(), 46, 0x00);
    return out;
}

} // namespace

class TestNetUsers : public QObject {
    Q_OBJECT

    std::unique_ptr<FakeNetworkEnumerator> net_;
    StubSystem sys_;
    std::unique_ptr<TNetUsers> users_;

private Q_SLOTS:
    // Each TNetUsers case starts on a computer without a name, in a neighbourhood of two
    // providers: "Microsoft Windows Network" with three workgroups, "Web Client" with none.
    void init() {
        users_.reset();
        net_ = std::make_unique<FakeNetworkEnumerator>();
        net_->script(FakeNetworkEnumerator::TopLevel,
                     {{FakeNetworkEnumerator::provider("Microsoft Windows Network"),
                       FakeNetworkEnumerator::provider("Web Client")}});
        net_->script("Microsoft Windows Network", groups({{"SALES", "ACCOUNTS"}, {"BUILD"}}));
        net_->script("Web Client", {});
        net_->script("ACCOUNTS", computers({{"ACC-01", "ACC-02"}}));
        net_->script("BUILD", computers({{"BUILD-01"}, {"ME", "BUILD-02"}}));
        net_->script("SALES", computers({{"SALES-01"}}));
        sys_.name.clear();
        users_ = std::make_unique<TNetUsers>(*net_, sys_);
    }
    // Every case has to end with each handle it opened closed again.
    void cleanup() { QCOMPARE(net_->openHandles(), std::size_t{0}); }

    void noProvider() {
        net_->script(FakeNetworkEnumerator::TopLevel, {});
        QVERIFY(!users_->EnumGroups());
        QVERIFY(users_->Names().empty());
        QCOMPARE(net_->openHandles(), std::size_t{0});
        QVERIFY(!users_->Execute());
    }

    void workgroupsOfAllProviders() {
        QVERIFY(users_->EnumGroups());
        QCOMPARE(list(users_->Names()), (QStringList{"ACCOUNTS", "BUILD", "SALES"}));
        // Every open with the same scope, type and usage; the providers handed back whole.
        for (const auto& call : net_->opens()) {
            QCOMPARE(call.scope, ne::ScopeGlobalNet);
            QCOMPARE(call.type, ne::TypeDisk);
            QCOMPARE(call.usage, ne::UsageContainer);
        }
        QCOMPARE(net_->opens().size(), std::size_t{3});
        QCOMPARE(net_->opens()[2].container.provider, std::string("Web Client"));
        QCOMPARE(net_->opens()[2].container.displayType, ne::DisplayNetwork);
    }

    void duplicatesAndOrder() {
        net_->script(FakeNetworkEnumerator::TopLevel, {{FakeNetworkEnumerator::provider("P1"),
                                                        FakeNetworkEnumerator::provider("P2")}});
        net_->script("P1", groups({{"WORKGROUP", "zeta", "Office"}}));
        net_->script("P2", groups({{"workgroup", "OFFICE", "alpha", "Beta", ""}}));
        QVERIFY(users_->EnumGroups());
        // The first spelling stays; case does not decide the order.
        QCOMPARE(list(users_->Names()),
                 (QStringList{"alpha", "Beta", "Office", "WORKGROUP", "zeta"}));
        QVERIFY(users_->containsName("office"));
        QVERIFY(users_->containsName("ZETA"));
        QVERIFY(!users_->containsName("gamma"));
    }

    void computersOfOneWorkgroup() {
        // A name without the two backslashes is kept whole; one of backslashes alone is none.
        auto batches = computers({{"PC-07", "zulu", "Alpha"}, {"pc-07", "Mike"}});
        batches.back().push_back(FakeNetworkEnumerator::workgroup("BARE"));
        batches.back().push_back(FakeNetworkEnumerator::workgroup("\\\\"));
        net_->script("LAB", batches);
        users_->setServer("LAB");
        QVERIFY(users_->EnumComputers());
        QCOMPARE(list(users_->Names()), (QStringList{"Alpha", "BARE", "Mike", "PC-07", "zulu"}));
        // The container: remote name Server, connected scope, any type, server display type.
        const auto& call = net_->opens().back();
        QCOMPARE(call.key, std::string("LAB"));
        QCOMPARE(call.scope, ne::ScopeGlobalNet);
        QCOMPARE(call.container.scope, ne::ScopeConnected);
        QCOMPARE(call.container.type, ne::TypeAny);
        QCOMPARE(call.container.displayType, ne::DisplayServer);
        QCOMPARE(call.container.usage, ne::UsageContainer);
        QVERIFY(call.container.localName.empty() && call.container.comment.empty() &&
                call.container.provider.empty());
    }

    void executeStopsAtTheLocalWorkgroup() {
        sys_.name = "me"; // the workgroup lists it as ME
        QVERIFY(users_->Execute());
        QCOMPARE(users_->Server(), std::string("BUILD"));
        QCOMPARE(list(users_->Names()), (QStringList{"BUILD-01", "BUILD-02", "ME"}));
        const auto opened = net_->openedKeys();
        QVERIFY(std::find(opened.begin(), opened.end(), "ACCOUNTS") != opened.end());
        QVERIFY(std::find(opened.begin(), opened.end(), "SALES") == opened.end());
    }

    void executeWithoutLocalWorkgroup() {
        sys_.name = "ELSEWHERE";
        QVERIFY(!users_->Execute());
        QCOMPARE(users_->Server(), std::string("SALES"));
        QCOMPARE(list(users_->Names()), (QStringList{"SALES-01"}));
        // No name at all (the name could not be read) matches nothing either.
        sys_.name.clear();
        users_->setServer("");
        QVERIFY(!users_->Execute());
    }

    void executeWithServerSetAndSameServer() {
        users_->setServer("ACCOUNTS");
        QVERIFY(users_->Execute());
        QCOMPARE(net_->openedKeys(), (std::vector<std::string>{"ACCOUNTS"}));
        users_->setServer("ACCOUNTS");
        QCOMPARE(users_->Server(), std::string("ACCOUNTS"));
        QVERIFY(users_->Execute());
        QCOMPARE(net_->openedKeys(), (std::vector<std::string>{"ACCOUNTS", "ACCOUNTS"}));
        QCOMPARE(list(users_->Names()), (QStringList{"ACC-01", "ACC-02"}));
    }

    // A workgroup whose read fails is not reported; the search goes on.
    void executePassesOverAFailingWorkgroup() {
        net_->failRead("ACCOUNTS", 0, ne::NoNetwork);
        sys_.name = "ME";
        QVERIFY(users_->Execute());
        QCOMPARE(users_->Server(), std::string("BUILD"));
    }

    void enumGroupsFailures_data() {
        QTest::addColumn<QString>("call");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QStringList>("kept");
        const auto row = [](const char* name, const char* call, const char* key, QStringList kept) {
            QTest::newRow(name) << QString(call) << QString(key) << kept;
        };
        const QStringList all{"ACCOUNTS", "BUILD", "SALES"};
        row("top open", "open", "<top>", {});
        row("top read", "read0", "<top>", {});
        row("top close", "close", "<top>", {});
        row("provider open", "open", "Microsoft Windows Network", {});
        row("provider second read", "read1", "Microsoft Windows Network", {"ACCOUNTS", "SALES"});
        row("provider close", "close", "Microsoft Windows Network", all);
        row("second provider open", "open", "Web Client", all);
    }
    void enumGroupsFailures() {
        QFETCH(QString, call);
        QFETCH(QString, key);
        QFETCH(QStringList, kept);
        const std::string k = key.toStdString();
        if (call == "open")
            net_->failOpen(k, ne::NoNetwork);
        else if (call == "close")
            net_->failClose(k, ne::NoNetwork);
        else
            net_->failRead(k, call.back().digitValue(), ne::NoNetwork);
        int code = 0;
        QString text;
        try {
            users_->EnumGroups();
        } catch (const SystemError& e) {
            code = e.code();
            text = QString::fromUtf8(e.what());
        }
        QCOMPARE(code, 1222);
        QVERIFY(text.contains("1222"));
        QCOMPARE(list(users_->Names()), kept);
        QCOMPARE(net_->openHandles(), std::size_t{0});
        // Execute adds no handling: the same error passes through.
        users_->setServer("");
        QVERIFY_THROWS_EXCEPTION(SystemError, users_->Execute());
    }

    void enumComputersWhenTheOpenFails() {
        net_->failOpen("BUILD", ne::BadNetName);
        users_->setServer("BUILD");
        QVERIFY(!users_->EnumComputers());
        QVERIFY(users_->Names().empty());
    }

    void enumComputersWhenAReadFails() {
        net_->failRead("BUILD", 1, ne::NoNetwork);
        users_->setServer("BUILD");
        QVERIFY(!users_->EnumComputers());
        QCOMPARE(list(users_->Names()), QStringList{"BUILD-01"});
        QCOMPARE(net_->closes(), std::vector<std::string>{"BUILD"});
    }

    void enumComputersWhenTheCloseFails() {
        net_->failClose("BUILD", ne::InvalidHandle);
        users_->setServer("BUILD");
        QVERIFY_THROWS_EXCEPTION(SystemError, users_->EnumComputers());
        QCOMPARE(list(users_->Names()), (QStringList{"BUILD-01", "BUILD-02", "ME"}));
    }

    void ownerDestroysIt() {
        auto* owner = new QObject;
        QPointer<TNetUsers> users = new TNetUsers(*net_, sys_, owner);
        delete owner;
        QVERIFY(users.isNull());
    }

    // The SMB enumerator, its sources scripted.

    void smbTopLevelAndHandles() {
        ScriptedSmbEnumerator e;
        NetworkEnumerator::Handle h = 0;
        QCOMPARE(e.open(ne::ScopeGlobalNet, ne::TypeDisk, ne::UsageContainer, nullptr, h),
                 ne::NoError);
        std::vector<NetResource> batch;
        QCOMPARE(e.read(h, batch), ne::NoError);
        QCOMPARE(batch.size(), std::size_t{1});
        QCOMPARE(batch[0].remoteName, std::string("Lanquill Network"));
        QCOMPARE(batch[0].displayType, ne::DisplayNetwork);
        QCOMPARE(e.read(h, batch), ne::NoMoreItems);
        QVERIFY(batch.empty());
        QCOMPARE(e.close(h), ne::NoError);
        QCOMPARE(e.read(h, batch), ne::InvalidHandle);
        QCOMPARE(e.close(h), ne::InvalidHandle);
        QCOMPARE(e.browseCalls + e.sweepCalls, 0);
    }

    void smbBrowseListFirst() {
        ScriptedSmbEnumerator e;
        e.browsedGroups = {"WORKGROUP", "LAB"};
        e.browsedComputers["LAB"] = {"PC-1", "PC-2"};
        for (int listing = 0; listing < 2; ++listing) {
            QCOMPARE(e.workgroups(), (QStringList{"WORKGROUP", "LAB"}));
            QCOMPARE(e.opened, ne::NoError);
        }
        QCOMPARE(e.listed.at(0).displayType, ne::DisplayDomain); // a workgroup, not a server
        QCOMPARE(e.closed, ne::NoError);
        QCOMPARE(e.computersOf("LAB"), (QStringList{"\\\\PC-1", "\\\\PC-2"}));
        // The list was there before the sweep sent anything.
        QCOMPARE(e.sweepsStopped, e.sweepCalls);
    }

    void smbBrowseListKeepsEveryNetBiosName() {
        // Windows computer and workgroup names may hold @ # % and more; only names no computer
        // can have are dropped.
        ScriptedSmbEnumerator e;
        e.browsedGroups = {"R&D#2", "bad/group", "50%", "A:B"};
        e.browsedComputers["R&D#2"] = {
            "PC@HOME",  "A;B,C+D=E", "NO*STAR",         "50%OFF",          "#1", "WG%2Fx", "测试组",
            "guest@WG", "PC-07_b.x", "ABCDEFGHIJKLMNO", "ABCDEFGHIJKLMNOP"};
        QCOMPARE(e.workgroups(), (QStringList{"R&D#2", "50%"}));
        QStringList kept{"PC@HOME",  "A;B,C+D=E", "50%OFF",         "#1", "WG%2Fx", "测试组",
                         "guest@WG", "PC-07_b.x", "ABCDEFGHIJKLMNO"};
        QCOMPARE(e.computersOf("R&D#2"), kept.replaceInStrings(QRegularExpression("^"), "\\\\"));
        QCOMPARE(e.opened, ne::NoError);
    }

    void smbSweepWhenNoBrowseList_data() {
        using Comes = ScriptedSmbEnumerator::Comes;
        QTest::addColumn<bool>("browseOk");
        QTest::addColumn<Comes>("comes");
        QTest::newRow("browse list empty") << true << Comes::AtOnce;
        QTest::newRow("browse failed") << false << Comes::AtOnce;
        QTest::newRow("browse failed during the sweep") << false << Comes::DuringSweep;
        // No master browser answered the sweep: the listing does not wait for the browse
        // deadline (an hour here).
        QTest::newRow("browse never comes") << true << Comes::Never;
    }
    void smbSweepWhenNoBrowseList() {
        QFETCH(bool, browseOk);
        QFETCH(ScriptedSmbEnumerator::Comes, comes);
        ScriptedSmbEnumerator e;
        e.browseOk = browseOk;
        e.browseComes = comes;
        e.swept.workgroups = {{"WORKGROUP", {"PEER", "PC-2"}}, {"LAB", {"LAB-1"}}};
        QCOMPARE(e.workgroups(), (QStringList{"LAB", "WORKGROUP"}));
        // The workgroup is found whatever the case of the name asked for.
        QCOMPARE(e.computersOf("workgroup"), (QStringList{"\\\\PC-2", "\\\\PEER"}));
        QCOMPARE(e.computersOf("NOWHERE"), QStringList{});
        QCOMPARE(e.opened, ne::BadNetName);
        // One sweep serves listings made in a row.
        QCOMPARE(e.sweepCalls, 1);

        // TNetUsers over it, as the add-group dialog uses it.
        sys_.name = "PEER";
        TNetUsers users(e, sys_);
        QVERIFY(users.EnumGroups());
        QCOMPARE(list(users.Names()), (QStringList{"LAB", "WORKGROUP"}));
        QVERIFY(users.Execute());
        QCOMPARE(users.Server(), std::string("WORKGROUP"));
        QCOMPARE(list(users.Names()), (QStringList{"PC-2", "PEER"}));
        QCOMPARE(e.sweepCalls, 1);
    }

    void smbBrowseListBesideTheSweep_data() {
        using Comes = ScriptedSmbEnumerator::Comes;
        QTest::addColumn<Comes>("comes");
        QTest::addColumn<bool>("master");
        QTest::addColumn<QStringList>("listed");
        QTest::addColumn<int>("sweepsKept");
        const QStringList browsed{"BROWSED"}, swept{"SWEPT"};
        // The sweep stops as the list comes; what it had found so far is not kept.
        QTest::newRow("list comes during the sweep") << Comes::DuringSweep << false << browsed << 0;
        // A master browser answered the sweep, so its list is waited for.
        QTest::newRow("list comes after the sweep") << Comes::Late << true << browsed << 1;
        QTest::newRow("master answered, list never comes") << Comes::Never << true << swept << 1;
    }
    void smbBrowseListBesideTheSweep() {
        QFETCH(ScriptedSmbEnumerator::Comes, comes);
        QFETCH(bool, master);
        QFETCH(QStringList, listed);
        QFETCH(int, sweepsKept);
        ScriptedSmbEnumerator e;
        e.browseComes = comes;
        e.browsedGroups = {"BROWSED"};
        e.swept.workgroups = {{"SWEPT", {"PC-1"}}};
        e.swept.masterBrowserAnswered = master;
        if (comes == ScriptedSmbEnumerator::Comes::Never)
            e.setBrowseDeadline(std::chrono::milliseconds(100));
        QCOMPARE(e.workgroups(), listed);
        QCOMPARE(e.sweepCalls - e.sweepsStopped, sweepsKept);
        // A sweep cut short is no answer: the next listing sweeps again.
        e.workgroups();
        QCOMPARE(e.sweepCalls, sweepsKept == 0 ? 2 : 1);
    }

    void smbRefusesNamesThatCannotBeWorkgroups_data() {
        QTest::addColumn<QString>("name");
        QTest::newRow("empty") << "";
        QTest::newRow("16 bytes") << "ABCDEFGHIJKLMNOP";
        QTest::newRow("path") << "WG/share";
        QTest::newRow("backslashes") << "\\\\PC";
        QTest::newRow("control") << "WG\n";
        QTest::newRow("not in CP936") << QString::fromUtf8("WG\xF0\x9F\x98\x80");
        QTest::newRow("8 Chinese = 16 bytes") << QString::fromUtf8("测试测试测试测试");
    }
    void smbRefusesNamesThatCannotBeWorkgroups() {
        QFETCH(QString, name);
        ScriptedSmbEnumerator e;
        e.browseOk = false;
        e.computersOf(name.toStdString());
        QCOMPARE(e.opened, ne::BadNetName);
        QCOMPARE(e.browseCalls + e.sweepCalls, 0);
    }

    // The sweep.

    void sweepTargets_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("prefix");
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("last");
        const auto row = [](const char* name, const char* address, int prefix, int count,
                            const char* first, const char* last) {
            QTest::newRow(name) << QString(address) << prefix << count << QString(first)
                                << QString(last);
        };
        row("/24", "192.168.0.5", 24, 254, "192.168.0.1", "192.168.0.254");
        row("/22", "10.0.6.9", 22, 1022, "10.0.4.1", "10.0.7.254");
        row("/16 cut to /22", "10.1.130.7", 16, 1022, "10.1.128.1", "10.1.131.254");
        row("/8 cut to /22", "10.200.3.1", 8, 1022, "10.200.0.1", "10.200.3.254");
        row("/30", "172.16.0.6", 30, 2, "172.16.0.5", "172.16.0.6");
        row("/31", "172.16.0.7", 31, 2, "172.16.0.6", "172.16.0.7");
        row("/32", "172.16.0.7", 32, 1, "172.16.0.7", "172.16.0.7");
    }
    void sweepTargets() {
        QFETCH(QString, address);
        QFETCH(int, prefix);
        QFETCH(int, count);
        QFETCH(QString, first);
        QFETCH(QString, last);
        const auto own = parseIpv4(address.toStdString());
        QVERIFY(own);
        const auto targets = lanquill::platform::sweepTargets(Subnet{*own, prefix});
        QCOMPARE(static_cast<int>(targets.size()), count);
        QCOMPARE(QString::fromStdString(formatIpv4(targets.front())), first);
        QCOMPARE(QString::fromStdString(formatIpv4(targets.back())), last);
        QVERIFY(std::find(targets.begin(), targets.end(), *own) != targets.end());
    }

    void onLinkSubnetsLeaveOutLoopback() {
        for (const Subnet& s : onLinkSubnets())
            QVERIFY2(s.address[0] != 127,
                     qPrintable(QString::fromStdString(formatIpv4(s.address))));
    }

    void sweepOverLoopback() {
        // A responder on 127.0.0.1 answers the request with the right id, then with a wrong id,
        // then with a reply cut short; another socket on 127.0.0.3, which was not asked, answers
        // too. Only the first answer may count.
        const int responder = ::socket(AF_INET, SOCK_DGRAM, 0);
        const int stranger = ::socket(AF_INET, SOCK_DGRAM, 0);
        QVERIFY(responder >= 0 && stranger >= 0);
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        QCOMPARE(::bind(responder, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
        socklen_t len = sizeof at;
        ::getsockname(responder, reinterpret_cast<sockaddr*>(&at), &len);
        const std::uint16_t port = ntohs(at.sin_port);
        sockaddr_in strangerAt{};
        strangerAt.sin_family = AF_INET;
        strangerAt.sin_addr.s_addr = htonl(0x7F000003);
        QCOMPARE(::bind(stranger, reinterpret_cast<sockaddr*>(&strangerAt), sizeof strangerAt), 0);

        std::atomic<int> requests{0};
        std::thread answer([&] {
            pollfd p{responder, POLLIN, 0};
            if (::poll(&p, 1, 3000) <= 0)
                return;
            std::uint8_t request[100];
            sockaddr_in from{};
            socklen_t fromLength = sizeof from;
            const ssize_t n = ::recvfrom(responder, request, sizeof request, 0,
                                         reinterpret_cast<sockaddr*>(&from), &fromLength);
            if (n < 2)
                return;
            ++requests;
            const auto id = static_cast<std::uint16_t>((request[0] << 8) | request[1]);
            const auto send = [&](int fd, const std::vector<std::uint8_t>& d) {
                ::sendto(fd, d.data(), d.size(), 0, reinterpret_cast<sockaddr*>(&from), fromLength);
            };
            send(responder, nodeStatusReply(id, "PC-LOOP", "\xB2\xE2\xCA\xD4"));
            send(responder, nodeStatusReply(static_cast<std::uint16_t>(id + 1), "WRONG-ID", "X"));
            auto cut = nodeStatusReply(id, "CUT-SHORT", "X");
            cut.resize(80);
            send(responder, cut);
            send(stranger, nodeStatusReply(id, "STRANGER", "X"));
        });
        SweepOptions options;
        options.port = port;
        options.collect = std::chrono::milliseconds(300);
        const auto found = sweepNodeStatus({{127, 0, 0, 1}, {127, 0, 0, 2}}, options);
        answer.join();
        ::close(responder);
        ::close(stranger);
        QCOMPARE(requests.load(), 1);
        QVERIFY(found);
        QCOMPARE(found->workgroups.size(), std::size_t{1});
        const auto it = found->workgroups.find("测试");
        QVERIFY(it != found->workgroups.end());
        QCOMPARE(it->second, (std::set<std::string>{"PC-LOOP"}));
    }
};

QTEST_GUILESS_MAIN(TestNetUsers)
#include "tst_netusers.moc"
