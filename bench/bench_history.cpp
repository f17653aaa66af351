// The message history at 10,000 messages: opening the history window (conversations listed, the
// latest conversation shown) and a search through every text, with the messages in one
// conversation (the whole history on screen at once) and spread over 100 computers.
// Goals: the window opens in under 300 ms, a search answers in under 100 ms.
// Runs on Qt's offscreen platform; the database lies in a temporary folder.
#include "dialogs/dlgHistory.h"
#include "inbox/History.h"

#include <QApplication>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>

namespace {

using namespace lanquill;

constexpr int MessageCount = 10000;

// A history of MessageCount messages over `computers` computers; every 97th text holds the word
// searched for.
std::unique_ptr<inbox::History> filledHistory(const QTemporaryDir& dir, int computers) {
    const QString path = dir.filePath(QStringLiteral("history-%1.sqlite").arg(computers));
    auto history = std::make_unique<inbox::History>(path);
    if (!history->conversations().empty())
        return history;
    for (int i = 0; i < MessageCount; ++i) {
        inbox::Message m;
        m.id = QStringLiteral("m%1").arg(i);
        m.direction = i % 3 == 0 ? inbox::Direction::Sent : inbox::Direction::Received;
        m.peer = QStringLiteral("PC%1").arg(i % computers, 3, 10, QLatin1Char('0'));
        m.address = QStringLiteral("10.0.%1.%2").arg(i % computers / 250).arg(i % 250 + 1);
        m.time = QDateTime::fromSecsSinceEpoch(1796000000 + i * 60LL, Qt::UTC);
        m.text = i % 97 == 0
                     ? QStringLiteral("会议改到下午三点 quarterly review %1").arg(i)
                     : QStringLiteral("今天中午一起吃饭吗？ message number %1, room 4").arg(i);
        history->add(m);
    }
    return history;
}

QTemporaryDir& folder() {
    static QTemporaryDir dir;
    return dir;
}

void BM_OpenHistoryWindow(benchmark::State& state) {
    auto history = filledHistory(folder(), static_cast<int>(state.range(0)));
    for (auto _ : state) {
        dialogs::TdlgHistory window(*history, nullptr);
        window.show();
        QApplication::processEvents();
        benchmark::DoNotOptimize(window.isVisible());
    }
}
BENCHMARK(BM_OpenHistoryWindow)->Arg(1)->Arg(100)->Unit(benchmark::kMillisecond);

void BM_Search(benchmark::State& state) {
    auto history = filledHistory(folder(), static_cast<int>(state.range(0)));
    dialogs::TdlgHistory window(*history, nullptr);
    window.show();
    for (auto _ : state) {
        window.search(QStringLiteral("quarterly"));
        QApplication::processEvents();
    }
    state.counters["found"] = double(history->search(QStringLiteral("quarterly")).size());
}
BENCHMARK(BM_Search)->Arg(1)->Arg(100)->Unit(benchmark::kMillisecond);

void BM_SearchQueryOnly(benchmark::State& state) {
    auto history = filledHistory(folder(), 100);
    for (auto _ : state)
        benchmark::DoNotOptimize(history->search(QStringLiteral("三点")));
}
BENCHMARK(BM_SearchQueryOnly)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return EXIT_SUCCESS;
}
