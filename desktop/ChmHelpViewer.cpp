#include "desktop/ChmHelpViewer.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <algorithm>

namespace lanquill::desktop {

namespace {

constexpr int CloseWaitMs = 2000;

void end(QProcess& process) {
    process.terminate();
    if (!process.waitForFinished(CloseWaitMs)) {
        process.kill();
        process.waitForFinished(CloseWaitMs);
    }
}

} // namespace

ChmHelpViewer::ChmHelpViewer()
    : program_(QCoreApplication::applicationDirPath() + QStringLiteral("/lanquill-help")) {}

ChmHelpViewer::~ChmHelpViewer() {
    for (Viewer& viewer : viewers_)
        if (viewer.process->state() != QProcess::NotRunning)
            end(*viewer.process);
}

bool ChmHelpViewer::closeWindowTitled(const QString& title) {
    bool closed = false;
    for (Viewer& viewer : viewers_) {
        QProcess& process = *viewer.process;
        if (process.state() == QProcess::NotRunning)
            continue;
        if (viewer.title.isEmpty() && (process.canReadLine() || process.waitForReadyRead(0)))
            viewer.title = QString::fromUtf8(process.readLine()).trimmed();
        if (!viewer.title.isEmpty() && viewer.title != title)
            continue;
        end(process);
        closed = true;
    }
    std::erase_if(viewers_, [](const Viewer& viewer) {
        return viewer.process->state() == QProcess::NotRunning;
    });
    return closed;
}

bool ChmHelpViewer::open(const std::string& path) {
    const QString file = QString::fromStdString(path);
    if (!QFileInfo(file).isFile() || !QFileInfo(file).isReadable())
        return false;
    auto process = std::make_unique<QProcess>();
    process->setProgram(program_);
    process->setArguments({file});
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->start();
    if (!process->waitForStarted())
        return false;
    viewers_.push_back({std::move(process), {}});
    return true;
}

} // namespace lanquill::desktop
