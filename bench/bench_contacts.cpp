// The contact book at a size far beyond a real LAN: 500 workgroups of 20 computers each.
// Parsing alone, our load (parse + whitespace walk), a lookup, and the two saving edits.
#include "contacts/BookGenerator.h"
#include "contacts/XMLFile.h"
#include "contacts/XmlDocument.h"

#include <benchmark/benchmark.h>
#include <libxml/parser.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

using namespace lanquill::contacts;

namespace {

constexpr int kGroups = 500;
constexpr int kComputers = 20;

// A folder holding the generated book, removed at exit.
class BookDir {
public:
    BookDir() {
        char dir[] = "/tmp/bench_contacts.XXXXXX";
        if (::mkdtemp(dir) == nullptr)
            std::abort();
        dir_ = dir;
        book_ = dir_ + "/config.xml";
        std::ofstream(book_, std::ios::binary) << makeBook(kGroups, kComputers);
    }
    ~BookDir() { std::filesystem::remove_all(dir_); }
    const std::string& book() const { return book_; }
    std::string scratch(const char* name) const { return dir_ + "/" + name; }

private:
    std::string dir_;
    std::string book_;
};

const BookDir& bookDir() {
    static const BookDir dir;
    return dir;
}

void BM_Libxml2ParseOnly(benchmark::State& state) {
    const std::string& path = bookDir().book();
    for (auto _ : state) {
        xmlDoc* doc = xmlReadFile(path.c_str(), nullptr,
                                  XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING |
                                      XML_PARSE_NOCDATA | XML_PARSE_NOXINCNODE);
        if (doc == nullptr)
            state.SkipWithError("parse failed");
        xmlFreeDoc(doc);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(std::filesystem::file_size(path)));
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
