// Decoder throughput on real nmbd replies: replies per second.
#include "net/NodeStatus.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
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

} // namespace

BENCHMARK_CAPTURE(decode, reply193, "nmbd-193.bin");
BENCHMARK_CAPTURE(decode, reply229, "nmbd-229.bin");

BENCHMARK_MAIN();
