// What the window benchmarks share: the platform fakes, the process's resident memory, and the
// window shown with a book.
#pragma once

#include "BenchBook.h"
#include "app/frmMain.h"
#include "desktop/Desktop.h"
#include "fakes/FakePlatform.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QCoreApplication>
#include <QString>

#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

namespace lanquill::bench {

// The tests' platform fakes: nothing leaves the process, and what the window asks is only
// recorded. A book that does not parse would be a broken benchmark, not a message to wait for.
struct InertPlatform : fakes::FakePlatform {
    ~InertPlatform() {
        if (!messages.shown.isEmpty()) {
            std::fprintf(stderr, "bench: %s\n",
                         messages.shown.join('\n').toLocal8Bit().constData());
            std::abort();
        }
    }
};

// Resident memory of this process, in MiB, after handing back to the system what the allocator
// holds free: rows run interleaved, and what an earlier, larger row freed would count otherwise.
inline double residentMiB() {
    ::malloc_trim(0);
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            double kib = 0;
            status >> kib;
            return kib / 1024.0;
        }
        status.ignore(1 << 16, '\n');
    }
    return 0;
}

// Start-up as the user sees it: the window made, the book of the row's arguments (workgroups,
// computers in each) loaded, the window shown and painted once the event loop has run.
// Resident memory is read with the window up.
inline void showWindowWithBook(benchmark::State& state) {
    const std::string& path =
        bookDir(static_cast<int>(state.range(0)), static_cast<int>(state.range(1))).book();
    InertPlatform inert;
    const desktop::Platform layers = inert.platform();
    double rss = 0;
    for (auto _ : state) {
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
    state.counters["computers"] = static_cast<double>(state.range(0) * state.range(1));
    state.counters["rss_mib"] = rss;
}
// The main of a window benchmark program: Qt's offscreen platform, then the benchmarks.
inline int runOffscreenBenchmarks(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

} // namespace lanquill::bench
