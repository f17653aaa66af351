#include "desktop/OffGuiThread.h"

#include "desktop/WaitCursor.h"

#include <QApplication>
#include <QEventLoop>
#include <QThread>

#include <exception>
#include <thread>

namespace lanquill::desktop {

void runWithoutFreezing(const std::function<void()>& work) {
    QCoreApplication* application = QCoreApplication::instance();
    if (application == nullptr || QThread::currentThread() != application->thread()) {
        work();
        return;
    }
    const WaitCursor cursor;
    QEventLoop loop;
    std::exception_ptr error;
    std::thread worker([&] {
        try {
            work();
        } catch (...) {
            error = std::current_exception();
        }
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    // Input (the close box too) stays queued in the window system's queue, to be handled after
    // the wait by the loop that runs next, which also applies the modality of whatever window
    // opens then.
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    // The loop also ends when the application quits; the work is bounded, so it is waited for.
    worker.join();
    if (error)
        std::rethrow_exception(error);
}

} // namespace lanquill::desktop
