// The contact book at a size far beyond a real LAN: 500 workgroups of 20 computers each.
// Parsing alone, our document load, a lookup, and the two saving edits.
#include "BenchBook.h"
#include "contacts/BookGenerator.h"
#include "contacts/XMLFile.h"
#include "contacts/XmlDocument.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

using namespace lanquill::contacts;

namespace {

using namespace lanquill::bench;

void BM_Libxml2ParseOnly(benchmark::State& state) {
    parseBookWithLibxml2Alone(state);
}
BENCHMARK(BM_Libxml2ParseOnly)->Unit(benchmark::kMillisecond);

void BM_XmlDocumentLoad(benchmark::State& state) {
    const std::string& path = bookDir().book();
    for (auto _ : state) {
        XmlDocument doc;
        if (doc.load(path).kind != LoadOutcome::Kind::Loaded)
            state.SkipWithError("load failed");
        benchmark::DoNotOptimize(doc.documentElement());
    }
}
BENCHMARK(BM_XmlDocumentLoad)->Unit(benchmark::kMillisecond);

// The computer clicked is in the last group: the search walks the whole book.
void BM_GetComputerInfoLastGroup(benchmark::State& state) {
    XmlDocument doc;
    if (doc.load(bookDir().book()).kind != LoadOutcome::Kind::Loaded)
        std::abort();
    const std::string group = bookGroupId(kGroups - 1);
    const std::string computer = bookComputerId(kGroups - 1, kComputers - 1);
    for (auto _ : state) {
        std::string name, user, ip, memo;
        if (!GetComputerInfo(doc, group, computer, name, user, ip, memo))
            state.SkipWithError("not found");
        benchmark::DoNotOptimize(memo);
    }
}
BENCHMARK(BM_GetComputerInfoLastGroup)->Unit(benchmark::kMicrosecond);

void BM_SetComputerInfoWithSave(benchmark::State& state) {
    XmlDocument doc;
    if (doc.load(bookDir().book()).kind != LoadOutcome::Kind::Loaded)
        std::abort();
    const std::string out = bookDir().scratch("set.xml");
    const std::string group = bookGroupId(kGroups - 1);
    const std::string computer = bookComputerId(kGroups - 1, kComputers - 1);
    int i = 0;
    for (auto _ : state) {
        if (!SetComputerInfo(doc, out, group, computer, "user", "10.0.0.1",
                             "memo " + std::to_string(++i)))
            state.SkipWithError("not found");
    }
}
BENCHMARK(BM_SetComputerInfoWithSave)->Unit(benchmark::kMillisecond);

void BM_DeleteComputerAndSave(benchmark::State& state) {
    XmlDocument doc;
    if (doc.load(bookDir().book()).kind != LoadOutcome::Kind::Loaded)
        std::abort();
    const std::string out = bookDir().scratch("delete.xml");
    const std::string group = bookGroupId(kGroups - 1);
    const std::string computer = bookComputerId(kGroups - 1, kComputers - 1);
    for (auto _ : state) {
        if (!DeleteComputer(doc, group, computer))
            state.SkipWithError("not found");
        doc.save(out);
        state.PauseTiming(); // put it back for the next round
        AddComputer(doc, group, computer, computer, "user", "10.0.0.1", "");
        state.ResumeTiming();
    }
}
BENCHMARK(BM_DeleteComputerAndSave)->Unit(benchmark::kMillisecond);

void BM_MakeBook(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(makeBook(kGroups, kComputers));
}
BENCHMARK(BM_MakeBook)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
