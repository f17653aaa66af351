// What the window benchmarks share: platform layers that do nothing, the process's resident
// memory, and the window shown with a book.
#pragma once

#include "BenchBook.h"
#include "app/frmMain.h"
#include "desktop/Desktop.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QCoreApplication>
#include <QIcon>
#include <QPoint>
#include <QString>

#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

namespace lanquill::bench {

// Every layer does nothing: loading the book touches none of them but the message boxes, and
// those only for a book that does not parse.
struct InertPlatform {
    struct System : platform::SystemInfo {
        std::string currentDirectory() override { return "/tmp"; }
        std::string hostName() override { return {}; }
        std::string computerName() override { return "BENCH"; }
        std::string programDirectory() override { return "/tmp"; }
    } system;
    struct Resolver : platform::Resolver {
        std::optional<platform::HostEntry> hostByName(const std::string&) override { return {}; }
        std::optional<platform::HostEntry> hostByAddress(const platform::Ipv4&) override {
            return {};
        }
    } resolver;
    struct Neighbours : platform::NeighbourTable {
        std::vector<std::uint8_t> hardwareAddress(const platform::Ipv4&) override { return {}; }
    } neighbours;
    struct Socket : platform::DatagramSocket {
        Opened open(std::uint16_t) override { return {Failure::Create, 0}; }
        void notifyReadable(std::function<void()>) override {}
        long sendTo(const platform::Ipv4&, std::uint16_t, std::span<const std::uint8_t>) override {
            return -1;
        }
        long receive(std::span<std::uint8_t>, lanquill::platform::Ipv4&) override { return -1; }
        void close() override {}
        bool isOpen() const override { return false; }
    } socket;
    struct Messenger : platform::Messenger {
        std::uint32_t send(const std::string&, const std::string&, const std::string&) override {
            return platform::messenger::NetworkError;
        }
    } messenger;
    struct Commands : platform::CommandRunner {
        bool start(const platform::CommandLine&) override { return false; }
    } commands;
    struct Network : platform::NetworkEnumerator {
        std::uint32_t open(std::uint32_t, std::uint32_t, std::uint32_t,
                           const platform::NetResource*, Handle&) override {
            return platform::netenum::NoNetwork;
        }
        std::uint32_t read(Handle, std::vector<platform::NetResource>&) override {
            return platform::netenum::InvalidHandle;
        }
        std::uint32_t close(Handle) override { return platform::netenum::InvalidHandle; }
    } network;
    struct Tray : desktop::TrayIcon {
        bool add(const QIcon&, const QString&) override { return false; }
        void remove() override {}
        void update(const QIcon&, const QString&) override {}
        void showMessage(const QString&, const QString&) override {}
        void onLeftPress(std::function<void()>) override {}
        void onRightRelease(std::function<void(const QPoint&)>) override {}
        void onShown(std::function<void()>) override {}
    } tray;
    struct HotKeys : desktop::HotKeys {
        std::uint16_t grab(const std::string&, int, int) override { return 1; }
        void release(std::uint16_t) override {}
        void onHotKey(std::function<void(std::uint16_t)>) override {}
    } hotKeys;
    struct Taskbar : desktop::TaskbarButton {
        void hide(QWidget&) override {}
    } taskbar;
    struct Help : desktop::HelpViewer {
        bool closeWindowTitled(const QString&) override { return false; }
        bool open(const std::string&) override { return false; }
    } help;
    // A book that does not parse would be a broken benchmark, not a message to wait for.
    struct Messages : desktop::MessageBoxes {
        void show(QWidget*, const QString& text) override {
            std::fprintf(stderr, "bench: %s\n", text.toLocal8Bit().constData());
            std::abort();
        }
    } messages;

    struct Presence : platform::PresenceProber {
        std::vector<bool> probe(const std::vector<platform::PresenceTarget>& addresses) override {
            return std::vector<bool>(addresses.size(), false);
        }
    } presence;

    desktop::Platform platform() {
        return {&system,   &resolver, &neighbours, &socket,  &messenger, &commands, &network,
                &presence, &tray,     &hotKeys,    &taskbar, &help,      &messages};
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
