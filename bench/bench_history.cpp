// The message history at 10,000 messages: opening the history window (conversations listed, the
// latest conversation shown) and a search through every text, with the messages in one
// conversation (the whole history on screen at once) and spread over 100 computers.
// Goals: the window opens in under 300 ms, a search answers in under 100 ms.
// Start-up with 100,000 messages left unread (a flood while the program was not running): the
// time until the program first answers, and its memory then, with a book of 200 computers.
// A received message attributed from books of 10 to 100,000 computers and filed, and one taken
// from the session socket to the message window with the main window showing such a book.
// Runs on Qt's offscreen platform; the database lies in a temporary folder.
#include "BenchBook.h"
#include "BenchPlatform.h"
#include "app/Inbox.h"
#include "contacts/BookGenerator.h"
#include "contacts/ContactBook.h"
#include "contacts/XmlDocument.h"
#include "dialogs/dlgHistory.h"
#include "dialogs/dlgMessage.h"
#include "inbox/History.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalServer>
#include <QLocalSocket>
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

// Unread messages from strangers, as a flood leaves them; made through the history itself, on a
// memory file system where the system has one (a write per message, as arrival makes them).
QString floodedHistory(int unread) {
    static QTemporaryDir dir(QDir(QStringLiteral("/dev/shm")).exists()
                                 ? QStringLiteral("/dev/shm/lanquill-bench-XXXXXX")
                                 : QDir::tempPath() + QStringLiteral("/lanquill-bench-XXXXXX"));
    const QString path = dir.filePath(QStringLiteral("flood-%1.sqlite").arg(unread));
    if (QFile::exists(path))
        return path;
    inbox::History history(path);
    for (int i = 0; i < unread; ++i) {
        inbox::Message m;
        m.id = QStringLiteral("f%1").arg(i);
        m.sender = QStringLiteral("SPAM%1").arg(i % 500);
        m.address = QStringLiteral("10.9.%1.%2").arg(i % 500 / 250).arg(i % 250 + 1);
        m.peer = m.address;
        m.time = QDateTime::fromSecsSinceEpoch(1796000000 + i, Qt::UTC);
        m.text = QStringLiteral("免费！ cheap offer number %1, reply now").arg(i);
        m.unread = true;
        m.datagram = i % 2 == 0;
        history.add(m);
    }
    return path;
}

void BM_StartWithUnread(benchmark::State& state) {
    const QString path = floodedHistory(static_cast<int>(state.range(0)));
    const std::string& book = bench::bookDir(10, 20).book();
    bench::InertPlatform inert;
    const desktop::Platform layers = inert.platform();
    // No lanquilld: the connection finds nobody at this socket and waits.
    qputenv("LANQUILL_SESSION_SOCKET", QFile::encodeName(path + QStringLiteral(".sock")));
    double rss = 0;
    int held = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto form = std::make_unique<app::TMainForm>(layers);
        form->LoadXMLFile(book);
        state.ResumeTiming();
        auto inbox =
            std::make_unique<app::Inbox>(*form, layers, path, path + QStringLiteral(".conf"));
        inbox->start();
        QApplication::processEvents();
        state.PauseTiming();
        rss = bench::residentMiB();
        held = inbox->messageWindow().count();
        inbox.reset();
        form.reset();
        QApplication::sendPostedEvents();
        state.ResumeTiming();
    }
    state.counters["held"] = held;
    state.counters["rss_mib"] = rss;
}
BENCHMARK(BM_StartWithUnread)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

// The sender of BM_AttributeAndFile and BM_ArrivalOnScreen: the last computer of the book
// (makeBook's numbering, its address), or a stranger the book does not know.
void setSender(inbox::Message& m, int groups, int perGroup, bool inBook) {
    if (inBook) {
        const int n = groups * perGroup - 1;
        m.sender = QString::fromStdString(contacts::bookComputerId(groups - 1, perGroup - 1));
        m.address = QStringLiteral("10.%1.%2.%3")
                        .arg((n >> 16) & 255)
                        .arg((n >> 8) & 255)
                        .arg((n & 255) == 0 ? 1 : n & 255);
    } else {
        m.sender = QStringLiteral("STRANGER");
        m.address = QStringLiteral("192.168.77.5");
    }
}

// Books of 10, 10,000 and 100,000 computers, each with a sender in it and one not.
void booksAndSenders(benchmark::internal::Benchmark* bench) {
    bench->ArgNames({"groups", "per_group", "in_book"});
    for (const auto& [groups, perGroup] : {std::pair{1, 10}, {100, 100}, {1000, 100}})
        for (const int inBook : {1, 0})
            bench->Args({groups, perGroup, inBook});
}

// One message from arrival to the history: who sent it, as the book tells (the address looked up
// in a book of 10, 10,000 or 100,000 computers), and the row filed under that conversation.
// Goal: under 100 ms with 100,000 computers, since the window waits for it.
void BM_AttributeAndFile(benchmark::State& state) {
    const int groups = static_cast<int>(state.range(0));
    const int perGroup = static_cast<int>(state.range(1));
    const bool inBook = state.range(2) != 0;
    contacts::XmlDocument book;
    if (book.load(bench::bookDir(groups, perGroup).book()).kind !=
        contacts::LoadOutcome::Kind::Loaded)
        std::abort();
    const QTemporaryDir dir;
    inbox::History history(dir.filePath(QStringLiteral("attribute.sqlite")));
    inbox::Message m;
    m.direction = inbox::Direction::Received;
    m.text = QStringLiteral("今天中午一起吃饭吗？");
    m.unread = true;
    setSender(m, groups, perGroup, inBook);
    // The book's model is read once after a load or an edit (BM_BookModel), not per message.
    benchmark::DoNotOptimize(&book.model());
    int i = 0;
    bool vouched = false;
    for (auto _ : state) {
        m.id = QStringLiteral("a%1").arg(++i);
        m.time = QDateTime::fromSecsSinceEpoch(1796000000 + i, Qt::UTC);
        const app::Sender sender = app::attribute(book, m.sender, m.address, false);
        vouched = sender.entry.has_value();
        m.peer = sender.conversation;
        history.add(m);
    }
    if (vouched != inBook)
        state.SkipWithError("attributed wrongly");
    state.counters["computers"] = groups * perGroup;
}
BENCHMARK(BM_AttributeAndFile)->Apply(booksAndSenders)->Unit(benchmark::kMillisecond);

// One message from lanquilld's line to the message window, the whole way the program takes it:
// the session socket, the attribution, the history row, the notification and the window, with
// the main window showing a book of 10, 10,000 or 100,000 computers and the sender in it or not.
// Goal: under 100 ms with 100,000 computers.
void BM_ArrivalOnScreen(benchmark::State& state) {
    const int groups = static_cast<int>(state.range(0));
    const int perGroup = static_cast<int>(state.range(1));
    const QTemporaryDir dir;
    QLocalServer lanquilld;
    if (!lanquilld.listen(dir.filePath(QStringLiteral("session.sock"))))
        std::abort();
    qputenv("LANQUILL_SESSION_SOCKET", QFile::encodeName(lanquilld.fullServerName()));
    bench::InertPlatform inert;
    const desktop::Platform layers = inert.platform();
    auto form = std::make_unique<app::TMainForm>(layers);
    form->LoadXMLFile(bench::bookDir(groups, perGroup).book());
    form->show();
    auto inbox =
        std::make_unique<app::Inbox>(*form, layers, dir.filePath(QStringLiteral("history.sqlite")),
                                     dir.filePath(QStringLiteral("lanquill.conf")));
    inbox->start();
    QDeadlineTimer connected(10000);
    while (!lanquilld.hasPendingConnections() && !connected.hasExpired())
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    QLocalSocket* session = lanquilld.nextPendingConnection();
    if (session == nullptr)
        std::abort();
    session->write("{\"status\":\"receiving\"}\n");
    inbox::Message m;
    setSender(m, groups, perGroup, state.range(2) != 0);
    const dialogs::TdlgMessage& window = inbox->messageWindow();
    int i = 0;
    for (auto _ : state) {
        const qsizetype before = window.count();
        session->write(
            QJsonDocument(
                QJsonObject{{QStringLiteral("id"), QStringLiteral("s%1").arg(++i)},
                            {QStringLiteral("time"), QStringLiteral("2026-12-08T10:00:00Z")},
                            {QStringLiteral("kind"), QStringLiteral("direct")},
                            {QStringLiteral("from"), m.sender},
                            {QStringLiteral("address"), m.address},
                            {QStringLiteral("to"), QStringLiteral("PC-07")},
                            {QStringLiteral("text"), QStringLiteral("今天中午一起吃饭吗？")}})
                .toJson(QJsonDocument::Compact) +
            '\n');
        session->flush();
        QDeadlineTimer shown(10000);
        while (window.count() == before && !shown.hasExpired())
            QApplication::processEvents(QEventLoop::AllEvents, 1);
        if (window.count() == before) {
            state.SkipWithError("the message did not reach the window");
            break;
        }
    }
    state.counters["computers"] = groups * perGroup;
    inbox.reset();
    form.reset();
    QApplication::sendPostedEvents();
}
BENCHMARK(BM_ArrivalOnScreen)
    ->Apply(booksAndSenders)
    ->Iterations(200)
    ->Unit(benchmark::kMillisecond);

// What the first message after a load or an edit of the book waits for besides: the model of a
// book of 10, 10,000 or 100,000 computers read out of the document.
void BM_BookModel(benchmark::State& state) {
    contacts::XmlDocument book;
    if (book.load(bench::bookDir(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)))
                      .book())
            .kind != contacts::LoadOutcome::Kind::Loaded)
        std::abort();
    for (auto _ : state) {
        state.PauseTiming();
        book.documentElement().setAttribute("touched", "1"); // a change: the model is read again
        state.ResumeTiming();
        benchmark::DoNotOptimize(book.model().computerCount());
    }
}
BENCHMARK(BM_BookModel)
    ->ArgNames({"groups", "per_group"})
    ->Args({1, 10})
    ->Args({100, 100})
    ->Args({1000, 100})
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return EXIT_SUCCESS;
}
