// Loading the contact book into the main window: TMainForm::LoadXMLFile (parse, then the group
// bar rebuilt page by page) on a book of 500 workgroups of 20 computers each, beside libxml2
// parsing the same file alone. Goal: the load costs at most three times the bare parse.
// Big books: 100,000 computers in 1,000 workgroups show the window within 1 s, reload in the
// same, with at most 200 MiB resident; the growth rows go from 1,000 to 100,000 computers.
// Runs on Qt's offscreen platform; the platform layers are inert stand-ins.
#include "BenchBook.h"
#include "BenchPlatform.h"
#include "app/GroupPresence.h"
#include "app/frmMain.h"
#include "desktop/Desktop.h"
#include "widgets/TfcOutlookBar.h"
#include "widgets/TfcOutlookList.h"
#include "widgets/TfcOutlookPage.h"
#include "widgets/TfcShapeBtn.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QIcon>
#include <QPoint>
#include <QString>

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

namespace {

using namespace lanquill;
using namespace lanquill::bench;

void BM_Libxml2ParseOnly(benchmark::State& state) {
    parseBookWithLibxml2Alone(state);
    state.counters["rss_mib"] = residentMiB();
}
BENCHMARK(BM_Libxml2ParseOnly)->Unit(benchmark::kMillisecond);

// The book of a row's arguments: workgroups, computers in each.
const std::string& bookOfRow(const benchmark::State& state) {
    return bookDir(static_cast<int>(state.range(0)), static_cast<int>(state.range(1))).book();
}

// The window's load, as start-up and every reload run it. The pages of the previous load go
// when the event loop next runs; that deletion is part of every reload and is timed too.
void BM_LoadXMLFile(benchmark::State& state) {
    const std::string& path = bookOfRow(state);
    InertPlatform inert;
    const desktop::Platform layers = inert.platform();
    app::TMainForm form(layers);
    form.show();
    for (auto _ : state) {
        form.LoadXMLFile(path);
        QCoreApplication::sendPostedEvents(); // the bar as the event loop leaves it, old pages gone
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(std::filesystem::file_size(path)));
    // Memory with the whole book loaded and shown in the bar.
    state.counters["rss_mib"] = residentMiB();
    state.counters["pages"] = static_cast<double>(form.fcOutlookBar1->pageCount());
}
BENCHMARK(BM_LoadXMLFile)
    ->Args({kGroups, kComputers})
    ->Args({1000, 100})
    ->Unit(benchmark::kMillisecond);

// The load at start-up: into a window whose bar is still empty, so no previous pages go.
void BM_FirstLoadXMLFile(benchmark::State& state) {
    const std::string& path = bookDir().book();
    InertPlatform inert;
    const desktop::Platform layers = inert.platform();
    for (auto _ : state) {
        state.PauseTiming();
        auto form = std::make_unique<app::TMainForm>(layers);
        form->show();
        QCoreApplication::sendPostedEvents();
        state.ResumeTiming();
        form->LoadXMLFile(path);
        QCoreApplication::sendPostedEvents();
        state.PauseTiming();
        form.reset();
        QCoreApplication::sendPostedEvents();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_FirstLoadXMLFile)->Unit(benchmark::kMillisecond);

// One presence refresh of a 200-computer page, each with an address of its own: the datagrams
// the refresh sends, counted at the prober (one query each, so 200 is the floor and the goal).
void BM_PresenceRefresh200(benchmark::State& state) {
    struct CountingPresence : platform::PresenceProber {
        std::vector<bool> probe(const std::vector<platform::PresenceTarget>& addresses) override {
            datagrams += addresses.size();
            return std::vector<bool>(addresses.size(), true);
        }
        std::atomic<std::size_t> datagrams = 0;
    } counting;
    constexpr int kPage = 200;
    std::string book = "<Lanquill>\n  <group id=\"WG\">\n";
    for (int c = 0; c < kPage; ++c) {
        const std::string id = "PC" + std::to_string(c);
        book += "    <computer id=\"" + id + "\"><ComputerName>" + id +
                "</ComputerName><IpAddress>10.0." + std::to_string(c / 250) + "." +
                std::to_string(c % 250 + 1) + "</IpAddress></computer>\n";
    }
    book += "  </group>\n</Lanquill>\n";
    const std::string path = bookDir().scratch("presence.xml");
    std::ofstream(path, std::ios::binary) << book;

    InertPlatform inert;
    desktop::Platform layers = inert.platform();
    layers.presence = &counting;
    std::size_t refreshes = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto form = std::make_unique<app::TMainForm>(layers);
        form->LoadXMLFile(path);
        state.ResumeTiming();
        bool finished = false;
        QObject::connect(form->groupPresence(), &app::GroupPresence::roundFinished,
                         [&finished] { finished = true; });
        form->show(); // the page is shown: one refresh
        while (!finished)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        state.PauseTiming();
        ++refreshes;
        form.reset();
        QCoreApplication::sendPostedEvents();
        state.ResumeTiming();
    }
    state.counters["datagrams"] =
        static_cast<double>(counting.datagrams) / static_cast<double>(refreshes);
}
BENCHMARK(BM_PresenceRefresh200)->Unit(benchmark::kMillisecond);

void BM_WindowShown(benchmark::State& state) {
    showWindowWithBook(state);
}
// 1,000 to 100,000 computers, 100 to a workgroup.
BENCHMARK(BM_WindowShown)
    ->Args({10, 100})
    ->Args({100, 100})
    ->Args({1000, 100})
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    return lanquill::bench::runOffscreenBenchmarks(argc, argv);
}
