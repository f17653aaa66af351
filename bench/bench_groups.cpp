// A book of 300,000 workgroups without computers: the window shown with a page button each, and
// the resident memory then. A program of its own, so that the memory it frees does not swell the
// resident figures of bench_load's rows. Runs on Qt's offscreen platform.
#include "BenchBook.h"
#include "BenchPlatform.h"
#include "app/frmMain.h"

#include <QApplication>
#include <QCoreApplication>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>

namespace {

using namespace lanquill;
using namespace lanquill::bench;

void BM_ManyWorkgroupsShown(benchmark::State& state) {
    const std::string& path =
        bookDir(static_cast<int>(state.range(0)), static_cast<int>(state.range(1))).book();
    InertPlatform inert;
    const desktop::Platform layers = inert.platform();
    double rss = 0;
    for (auto _ : state) {
        state.PauseTiming();
        app::resetMainModule();
        state.ResumeTiming();
        auto form = std::make_unique<app::TMainForm>(layers);
        form->LoadXMLFile(path);
        form->show();
        QCoreApplication::processEvents();
        form->repaint();
        state.PauseTiming();
        rss = residentMiB();
        form.reset();
        QCoreApplication::sendPostedEvents();
        state.ResumeTiming();
    }
    state.counters["rss_mib"] = rss;
}
BENCHMARK(BM_ManyWorkgroupsShown)->Args({300000, 0})->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
