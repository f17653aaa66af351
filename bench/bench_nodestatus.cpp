// Decoder throughput on real nmbd replies: replies per second. And one presence round of a
// 200-computer page over real sockets: the datagrams it sends, and whether answers that all come
// in the same millisecond, some of them from the wrong host, are matched to the right computers.
#include "net/NodeStatus.h"
#include "platform/PresenceProbe.h"
#include "protocol/NetBios.h"

#include <benchmark/benchmark.h>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace {

std::vector<std::uint8_t> capture(const std::string& name) {
    std::ifstream in(std::string(LANQUILL_TEST_DATA "/nodestatus/") + name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void decode(benchmark::State& state, const char* file) {
    const auto reply = capture(file);
    if (reply.empty()) {
        state.SkipWithError("capture missing");
        return;
    }
    lanquill::net::NodeStatusResults results;
    for (auto _ : state) {
        lanquill::net::handleDatagram(reply, "192.168.0.9", results);
        benchmark::DoNotOptimize(results);
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(reply.size()));
}

namespace netbios = lanquill::protocol::netbios;
using lanquill::protocol::Ipv4;

// 200 computers on loopback addresses 127.0.1.1 to 127.0.1.200, one socket each on one port.
// Each round they wait until every query is in, then all answer at once: every tenth stays
// silent, and each answering computer also sends the next one's transaction id, which counts for
// nobody (right id, wrong host).
class LoopbackPage {
public:
    static constexpr int kComputers = 200;

    LoopbackPage() {
        for (int i = 0; i < kComputers; ++i) {
            const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
            sockaddr_in at{};
            at.sin_family = AF_INET;
            at.sin_addr.s_addr = htonl(address(i));
            at.sin_port = htons(port_);
            if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0) {
                if (fd >= 0)
                    ::close(fd);
                continue; // the page is incomplete; ok() says so
            }
            if (port_ == 0) {
                socklen_t length = sizeof at;
                ::getsockname(fd, reinterpret_cast<sockaddr*>(&at), &length);
                port_ = ntohs(at.sin_port);
            }
            fds_.push_back(fd);
        }
    }
    ~LoopbackPage() {
        for (const int fd : fds_)
            ::close(fd);
    }
    bool ok() const { return fds_.size() == kComputers; }
    std::uint16_t port() const { return port_; }
    static std::uint32_t address(int i) { return 0x7F000101u + static_cast<std::uint32_t>(i); }
    static Ipv4 ipv4(int i) {
        const std::uint32_t a = address(i);
        return {static_cast<std::uint8_t>(a >> 24), static_cast<std::uint8_t>(a >> 16),
                static_cast<std::uint8_t>(a >> 8), static_cast<std::uint8_t>(a)};
    }
    static bool answers(int i) { return i % 10 != 0; }

    // Serves one round on a thread; returns the datagrams that reached the page.
    std::thread serveRound(std::atomic<std::size_t>& received) {
        return std::thread([this, &received] {
            std::vector<std::uint16_t> ids(kComputers);
            std::vector<sockaddr_in> from(kComputers);
            std::vector<bool> asked(kComputers, false);
            std::size_t count = 0;
            std::vector<pollfd> polled;
            for (const int fd : fds_)
                polled.push_back({fd, POLLIN, 0});
            while (count<kComputers&& ::poll(polled.data(), polled.size(), 2000)> 0) {
                for (int i = 0; i < kComputers; ++i) {
                    std::uint8_t request[600];
                    socklen_t length = sizeof from[0];
                    const ssize_t n = ::recvfrom(fds_[i], request, sizeof request, MSG_DONTWAIT,
                                                 reinterpret_cast<sockaddr*>(&from[i]), &length);
                    if (n < 2)
                        continue;
                    ++received;
                    ids[i] = static_cast<std::uint16_t>((request[0] << 8) | request[1]);
                    if (!asked[i]) {
                        asked[i] = true;
                        ++count;
                    }
                }
            }
            const std::vector<netbios::NodeName> names{{"PC", netbios::Workstation, false, 0x0400}};
            for (int i = 0; i < kComputers; ++i) {
                if (!asked[i] || !answers(i))
                    continue;
                const auto send = [&](std::uint16_t id) {
                    const auto reply = netbios::nodeStatusResponse(id, names, {});
                    ::sendto(fds_[i], reply.data(), reply.size(), 0,
                             reinterpret_cast<const sockaddr*>(&from[i]), sizeof from[i]);
                };
                send(ids[(i + 1) % kComputers]);
                send(ids[i]);
            }
        });
    }

private:
    std::vector<int> fds_;
    std::uint16_t port_ = 0;
};

void BM_PresenceRound200(benchmark::State& state) {
    LoopbackPage page;
    if (!page.ok()) {
        state.SkipWithError("cannot bind the loopback addresses");
        return;
    }
    // The silent tenth keeps every round waiting for its whole collect time.
    lanquill::platform::UdpPresenceProber prober(std::chrono::milliseconds(300), page.port());
    std::vector<lanquill::platform::PresenceTarget> targets;
    for (int i = 0; i < LoopbackPage::kComputers; ++i)
        targets.emplace_back(LoopbackPage::ipv4(i));
    std::atomic<std::size_t> received = 0;
    std::size_t rounds = 0, mismatched = 0;
    for (auto _ : state) {
        std::thread server = page.serveRound(received);
        const std::vector<bool> answered = prober.probe(targets);
        server.join();
        ++rounds;
        for (int i = 0; i < LoopbackPage::kComputers; ++i)
            if (answered[static_cast<std::size_t>(i)] != LoopbackPage::answers(i))
                ++mismatched;
    }
    state.counters["datagrams"] = static_cast<double>(received) / static_cast<double>(rounds);
    state.counters["mismatched"] = static_cast<double>(mismatched);
}

} // namespace

BENCHMARK_CAPTURE(decode, reply193, "nmbd-193.bin");
BENCHMARK_CAPTURE(decode, reply229, "nmbd-229.bin");
BENCHMARK(BM_PresenceRound200)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
