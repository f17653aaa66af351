// The probe socket under a flood: 100,000 datagrams of random bytes and lengths, with cut-short
// copies of a real nmbd reply, hit the main window's port 6767 while it runs on the real
// platform layers. The window must stay responsive, and the node-status results may only ever
// hold what whole, well-formed replies carried. Runs inside a private network namespace that
// harness.sh makes (run_flood.sh); no Samba peer is needed.
#include "RealMainWindow.h"
#include "app/frmMain.h"
#include "net/NodeStatus.h"
#include "platform/Platform.h"
#include "support/Files.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTest>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <random>
#include <thread>
#include <tuple>
#include <vector>

using namespace lanquill;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int FloodCount = 100000;
constexpr int GoodEvery = 10000; // a well-formed reply, three times, every so many datagrams
constexpr int CutEvery = 2000;   // a cut-short copy of nmbd's reply every so many datagrams
constexpr int Batch = 100;       // datagrams between short pauses: about 20,000 a second
constexpr auto BatchPause = std::chrono::milliseconds(5);
constexpr auto TickInterval = std::chrono::milliseconds(100);
constexpr double MaxTickWaitMs = 1000;

// One whole reply's worth of the node-status results.
struct Tuple {
    std::string workstation, currentUser, extraName, browserGroup, mac;
    bool operator==(const Tuple&) const = default;
};

Tuple tupleOf(const net::NodeStatusResults& r) {
    return {r.NbWorkstationName, r.NbCurrentUser, r.NbExtraName, r.NbBrowserGroup, r.NbMacAddress};
}

struct Entry {
    std::string name; // raw OEM bytes, padded with blanks to 15
    std::uint8_t suffix;
    bool group;
};

// A node status response as nmbd lays it out: answer name "*", seven names, the unit id and a
// zeroed statistics block. The sixth entry begins at byte 147, the seventh at 165.
Bytes buildReply(const std::vector<Entry>& entries, std::uint8_t macLast) {
    Bytes out = {0x00, 0x00, 0x84, 0x00, 0x00, 0x00, 0x00, 0x01,
                 0x00, 0x00, 0x00, 0x00, 0x20, 'C',  'K'};
    out.insert(out.end(), 30, 'A');
    const Bytes rest = {0x00, 0x00, 0x21, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    out.insert(out.end(), rest.begin(), rest.end());
    out.push_back(static_cast<std::uint8_t>(entries.size()));
    for (const Entry& e : entries) {
        Bytes name(15, 0x20);
        std::copy_n(e.name.begin(), std::min<std::size_t>(e.name.size(), 15), name.begin());
        out.insert(out.end(), name.begin(), name.end());
        out.push_back(e.suffix);
        out.push_back(e.group ? 0x84 : 0x04);
        out.push_back(0x00);
    }
    const Bytes mac = {0x02, 0x00, 0x00, 0x00, 0x00, macLast};
    out.insert(out.end(), mac.begin(), mac.end());
    out.insert(out.end(), 40, 0x00);
    return out;
}

struct GoodReply {
    Bytes bytes;
    Tuple decoded; // what the decoder must make of it
};

GoodReply goodReply(const std::string& workstation, const std::string& user,
                    const std::string& extra, const std::string& browseRaw,
                    const std::string& browseShown, std::uint8_t macLast) {
    GoodReply reply;
    reply.bytes = buildReply({{workstation, 0x00, false},
                              {workstation, 0x03, false},
                              {workstation, 0x20, false},
                              {browseRaw, 0x01, true},
                              {"FLOODWG", 0x00, true},
                              {user, 0x03, false},
                              {extra, 0x03, false}},
                             macLast);
    char mac[32];
    std::snprintf(mac, sizeof mac, "02-00-00-00-00-%02X", macLast);
    reply.decoded = {workstation, user, extra, browseShown, mac};
    return reply;
}

GoodReply interleaved(int k) {
    char n[8];
    std::snprintf(n, sizeof n, "%02d", k);
    return goodReply(std::string("GOOD") + n, std::string("USER") + n, std::string("EXTRA") + n,
                     "\x01\x02__MSBROWSE__\x02", "__MSBROWSE__", static_cast<std::uint8_t>(k));
}

GoodReply finalReply() {
    return goodReply("FLOODOK", "OKUSER", "OKEXTRA", "OKBROWSE", "OKBROWSE", 0xFF);
}

// Random bytes of random length, with any accidental NBSTAT/IN marker (21 00 01) broken up, so
// that nothing in them is a reply.
Bytes garbage(std::mt19937& random) {
    std::uniform_int_distribution<int> length(0, 600);
    std::uniform_int_distribution<int> byte(0, 255);
    Bytes out(static_cast<std::size_t>(length(random)));
    for (auto& b : out)
        b = static_cast<std::uint8_t>(byte(random));
    for (std::size_t p = 0; p + 2 < out.size(); ++p)
        if (out[p] == 0x21 && out[p + 1] == 0x00 && out[p + 2] == 0x01)
            out[p + 1] = 0x5A;
    return out;
}

class Sender {
public:
    Sender() : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
        to_.sin_family = AF_INET;
        to_.sin_port = htons(app::ProbePort);
        to_.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    }
    ~Sender() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Sender(const Sender&) = delete;
    Sender& operator=(const Sender&) = delete;
    bool ok() const { return fd_ >= 0; }
    void send(const Bytes& datagram) {
        ::sendto(fd_, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&to_),
                 sizeof to_);
    }

private:
    int fd_;
    sockaddr_in to_{};
};

} // namespace

class InteropFlood : public QObject {
    Q_OBJECT

    interop::RealMainWindow window;

private Q_SLOTS:
    void initTestCase() {
        if (!interop::inPrivateNetworkNamespace())
            QSKIP("needs a private network namespace: run through tests/interop/run_flood.sh");
        window.start("<book><group id=\"FLOODWG\"/></book>");
    }

    void cleanupTestCase() { window.stop(); }

    void floodChangesNothingButWholeReplies() {
        const Bytes capture = testsupport::nodeStatusCapture("nmbd-193.bin");
        QCOMPARE(capture.size(), std::size_t{193});
        // A copy cut anywhere before the end of its unit id (57 + 5 * 18 + 6 = 153 bytes).
        constexpr int LastCut = 152;

        std::vector<GoodReply> good;
        for (int k = 1; k <= FloodCount / GoodEvery; ++k)
            good.push_back(interleaved(k));
        const GoodReply last = finalReply();
        // What may ever be seen: the start values, or exactly one whole reply.
        std::vector<Tuple> allowed = {Tuple{}};
        for (const auto& reply : good)
            allowed.push_back(reply.decoded);
        allowed.push_back(last.decoded);

        // Every turn of the event loop: note each change of the results.
        std::vector<Tuple> seen = {tupleOf(window.form->nodeStatus())};
        QTimer recorder;
        recorder.setInterval(0);
        connect(&recorder, &QTimer::timeout, this, [&] {
            const Tuple now = tupleOf(window.form->nodeStatus());
            if (!(now == seen.back()))
                seen.push_back(now);
        });
        recorder.start();

        // Queued events posted every 100 ms from another thread: how long each waits.
        std::vector<double> waits;
        std::atomic<bool> flooding{true};
        std::thread ticker([&] {
            while (flooding.load()) {
                const auto posted = Clock::now();
                QMetaObject::invokeMethod(
                    this,
                    [&waits, posted] {
                        waits.push_back(
                            std::chrono::duration<double, std::milli>(Clock::now() - posted)
                                .count());
                    },
                    Qt::QueuedConnection);
                std::this_thread::sleep_for(TickInterval);
            }
        });

        const unsigned seed = std::random_device{}();
        qInfo("flood seed %u", seed);
        QEventLoop loop;
        QElapsedTimer floodTime;
        floodTime.start();
        std::atomic<bool> senderOk{true};
        std::thread sender([&] {
            Sender out;
            if (!out.ok())
                senderOk = false;
            std::mt19937 random(seed);
            std::uniform_int_distribution<int> cut(0, LastCut);
            for (int i = 1; i <= FloodCount && out.ok(); ++i) {
                if (i % GoodEvery == GoodEvery / 2) {
                    for (int copy = 0; copy < 3; ++copy)
                        out.send(good[static_cast<std::size_t>(i / GoodEvery)].bytes);
                } else if (i % CutEvery == 0) {
                    out.send(Bytes(capture.begin(), capture.begin() + cut(random)));
                } else {
                    out.send(garbage(random));
                }
                if (i % Batch == 0)
                    std::this_thread::sleep_for(BatchPause);
            }
            QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
        });
        loop.exec();
        sender.join();
        const qint64 floodMs = floodTime.elapsed();
        QVERIFY(senderOk);

        // Let what is queued drain, then the final reply, until it shows.
        QTest::qWait(300);
        flooding = false;
        ticker.join();
        {
            Sender out;
            QVERIFY(out.ok());
            bool shown = false;
            for (int attempt = 0; attempt < 25 && !shown; ++attempt) {
                out.send(last.bytes);
                shown = QTest::qWaitFor(
                    [&] { return tupleOf(window.form->nodeStatus()) == last.decoded; }, 200);
            }
            QVERIFY(shown);
        }
        QTest::qWait(100); // the waits posted last
        recorder.stop();

        const double longest = waits.empty() ? 0 : *std::max_element(waits.begin(), waits.end());
        const auto goodSeen = std::count_if(good.begin(), good.end(), [&](const GoodReply& reply) {
            return std::find(seen.begin(), seen.end(), reply.decoded) != seen.end();
        });
        qInfo("flood of %d datagrams took %lld ms; %zu queued events, longest wait %.1f ms; "
              "%lld of %zu interleaved replies seen",
              FloodCount, floodMs, waits.size(), longest, static_cast<long long>(goodSeen),
              good.size());

        QVERIFY2(window.errors.isEmpty(), qPrintable(window.errors.join('\n')));
        QVERIFY2(window.unexpectedModals.isEmpty(), qPrintable(window.unexpectedModals.join(' ')));
        // A queued event every 100 ms while the flood ran, none left waiting a second.
        QVERIFY(waits.size() >= static_cast<std::size_t>(floodMs / 100 / 2));
        QVERIFY2(longest <= MaxTickWaitMs, qPrintable(QString::number(longest)));
        // Nothing but whole replies ever reached the results; the last one is what they hold.
        for (const Tuple& t : seen)
            QVERIFY2(std::find(allowed.begin(), allowed.end(), t) != allowed.end(),
                     qPrintable(QString::fromStdString(t.workstation + "|" + t.currentUser + "|" +
                                                       t.extraName + "|" + t.browserGroup + "|" +
                                                       t.mac)));
        QVERIFY(tupleOf(window.form->nodeStatus()) == last.decoded);
        QVERIFY(window.form->nodeStatus().NbReplyReceived);
        // Decoding kept going during the flood, not only after it.
        QVERIFY(goodSeen >= static_cast<long>(good.size() / 2));
    }
};

QTEST_MAIN(InteropFlood)
#include "tst_interop_flood.moc"
