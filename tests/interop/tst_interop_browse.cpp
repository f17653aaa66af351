// The network neighbourhood against a real Samba peer. Runs inside the client namespace that
// run_browse.sh makes, once per peer kind (LQ_BROWSE_MODE):
//   master - the peer is local master browser of LQ_WORKGROUP and speaks SMB1: the browse list
//            gives the workgroup and its computers, no sweep needed;
//   smb2   - the peer's smbd allows no SMB1, so there is no browse list: the node-status sweep
//            of the namespace's subnet must still find the workgroup and the peer.
#include "net/NetUsers.h"
#include "platform/SmbNetworkEnumerator.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTest>

using namespace lanquill;
using namespace lanquill::protocol;

namespace {

std::string env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

class StubSystem : public platform::SystemInfo {
public:
    explicit StubSystem(std::string name) : name_(std::move(name)) {}
    std::string currentDirectory() override { return "/"; }
    std::string hostName() override { return name_; }
    std::string computerName() override { return name_; }
    std::string programDirectory() override { return "/"; }

private:
    std::string name_;
};

// The real enumerator, counting and timing the sweeps that ran to their end, and keeping the
// last workgroup browse list it started.
class CountingEnumerator : public platform::SmbNetworkEnumerator {
public:
    int sweeps = 0;
    qint64 sweepMs = 0;
    std::shared_ptr<platform::BrowseListing> groupsBrowsed;

protected:
    std::shared_ptr<platform::BrowseListing> browseWorkgroups() override {
        groupsBrowsed = SmbNetworkEnumerator::browseWorkgroups();
        return groupsBrowsed;
    }
    std::optional<platform::Neighbourhood> sweep(const std::function<bool()>& stop) override {
        QElapsedTimer timer;
        timer.start();
        auto found = SmbNetworkEnumerator::sweep(stop);
        if (found) {
            ++sweeps;
            sweepMs = timer.elapsed();
        }
        return found;
    }
};

QStringList names(const std::vector<std::string>& list) {
    QStringList out;
    for (const auto& n : list)
        out << QString::fromStdString(n);
    return out;
}

struct Run {
    int exitCode = -1;
    QString out;
};

Run netView(const QStringList& args) {
    QProcess p;
    p.start(QString::fromStdString(env("LQ_NET_BIN")), QStringList{"view"} + args);
    Run run;
    if (!p.waitForFinished(60000))
        return run;
    run.exitCode = p.exitCode();
    run.out = QString::fromUtf8(p.readAllStandardOutput());
    return run;
}

} // namespace

class TestInteropBrowse : public QObject {
    Q_OBJECT

    QString workgroup_ = QString::fromStdString(env("LQ_WORKGROUP"));
    QString peer_ = QString::fromStdString(env("LQ_PEER_NAME"));
    QString mode_ = QString::fromStdString(env("LQ_BROWSE_MODE"));

private Q_SLOTS:
    void initTestCase() {
        QVERIFY2(!workgroup_.isEmpty() && !peer_.isEmpty(), "run through run_browse.sh");
        QVERIFY(mode_ == "master" || mode_ == "smb2");
    }

    void workgroupsAndComputers() {
        CountingEnumerator network;
        StubSystem system("NOT-IN-ANY-GROUP");
        net::TNetUsers users(network, system);
        QVERIFY(users.EnumGroups());
        QVERIFY2(names(users.Names()).contains(workgroup_),
                 qPrintable(names(users.Names()).join(",")));
        // The master browser's list comes whether or not the sweep beside it was faster; without
        // one the browse gives nothing.
        const auto browsed = network.groupsBrowsed->waitUntil(std::chrono::steady_clock::now() +
                                                              std::chrono::seconds(10));
        if (mode_ == "master")
            QVERIFY(browsed && names(*browsed).contains(workgroup_));
        else
            QVERIFY(!browsed || browsed->empty());
        users.setServer(workgroup_.toStdString());
        QVERIFY(users.EnumComputers());
        QVERIFY2(names(users.Names()).contains(peer_), qPrintable(names(users.Names()).join(",")));
        // Samba's master lists its own server only after its first host announcement, minutes
        // after start; until then the computers come from the sweep. Either way one sweep at
        // most served both listings.
        QVERIFY(network.sweeps <= 1);
        if (mode_ == "smb2")
            QCOMPARE(network.sweeps, 1);
        qInfo("computers from the %s; sweep took %lld ms", network.sweeps ? "sweep" : "browse list",
              network.sweepMs);
        users.setServer("NOSUCHGROUP");
        QVERIFY(!users.EnumComputers());
        QVERIFY(users.Names().empty());
    }

    void executeFindsTheLocalWorkgroup() {
        CountingEnumerator network;
        StubSystem system(peer_.toLower().toStdString());
        net::TNetUsers users(network, system);
        QVERIFY(users.Execute());
        QCOMPARE(QString::fromStdString(users.Server()), workgroup_);
        QVERIFY(names(users.Names()).contains(peer_));
    }

    void viewCommand() {
        const Run groups = netView({});
        QCOMPARE(groups.exitCode, 0);
        QVERIFY2(groups.out.split('\n').contains(workgroup_), qPrintable(groups.out));
        const Run computers = netView({"/domain:" + workgroup_});
        QCOMPARE(computers.exitCode, 0);
        QVERIFY2(computers.out.split('\n').contains(peer_), qPrintable(computers.out));
        QCOMPARE(netView({"/domain:NOSUCHGROUP"}).exitCode, 1);
    }
};

QTEST_GUILESS_MAIN(TestInteropBrowse)
#include "tst_interop_browse.moc"
