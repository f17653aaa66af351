// A book of 300,000 workgroups without computers: the window shown with a page button each, and
// the resident memory then. A program of its own, so that the memory it frees does not swell the
// resident figures of bench_load's rows. Runs on Qt's offscreen platform.
#include "BenchPlatform.h"

#include <benchmark/benchmark.h>

namespace {

using namespace lanquill::bench;

void BM_ManyWorkgroupsShown(benchmark::State& state) {
    showWindowWithBook(state);
}
BENCHMARK(BM_ManyWorkgroupsShown)->Args({300000, 0})->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    return lanquill::bench::runOffscreenBenchmarks(argc, argv);
}
