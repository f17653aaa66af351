// Work run off the GUI thread: while it runs, the GUI thread keeps handling its events, and the
// user's input is held back until the work has ended, then handled in order, not lost.
#include "desktop/OffGuiThread.h"

#include <QPushButton>
#include <QtTest>
#include <qpa/qwindowsysteminterface.h>

#include <functional>
#include <stdexcept>

using namespace lanquill;
using Async = QWindowSystemInterface::AsynchronousDelivery;

class TestOffGuiThread : public QObject {
    Q_OBJECT

private:
    // Runs `onGuiThread` on the GUI thread from inside the work, then lets the GUI thread turn
    // its loop a few more times before the work ends.
    static void waitWhile(const std::function<void()>& onGuiThread) {
        desktop::runWithoutFreezing([&] {
            QMetaObject::invokeMethod(qApp, onGuiThread, Qt::BlockingQueuedConnection);
            for (int turn = 0; turn < 5; ++turn)
                QMetaObject::invokeMethod(
                    qApp, [] {}, Qt::BlockingQueuedConnection);
        });
    }

private Q_SLOTS:
    void inputIsHeldUntilTheWorkEnds_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("clicksAfter"); // clicks once the held input has been handled
        QTest::addColumn<bool>("openAfter");
        QTest::newRow("mouse click") << 0 << 1 << true;
        QTest::newRow("space key") << 1 << 1 << true;
        QTest::newRow("two clicks, both kept") << 2 << 2 << true;
        QTest::newRow("close box, closes after") << 3 << 0 << false;
    }

    void inputIsHeldUntilTheWorkEnds() {
        QFETCH(int, kind);
        QFETCH(int, clicksAfter);
        QFETCH(bool, openAfter);
        QPushButton button(QStringLiteral("OK"));
        button.resize(120, 40);
        button.show();
        QApplication::setActiveWindow(&button);
        QVERIFY(QTest::qWaitForWindowExposed(&button));
        button.setFocus();
        int clicks = 0;
        connect(&button, &QPushButton::clicked, [&] { ++clicks; });
        QWindow* window = button.windowHandle();
        const QPointF centre(60, 20);
        const auto click = [&] {
            const QPointF global = button.mapToGlobal(centre.toPoint());
            QWindowSystemInterface::handleMouseEvent<Async>(
                window, centre, global, Qt::LeftButton, Qt::LeftButton, QEvent::MouseButtonPress);
            QWindowSystemInterface::handleMouseEvent<Async>(
                window, centre, global, Qt::NoButton, Qt::LeftButton, QEvent::MouseButtonRelease);
        };
        int handledDuringWait = -1;
        bool openDuringWait = false;
        waitWhile([&] {
            switch (kind) {
            case 0:
                click();
                break;
            case 1:
                QWindowSystemInterface::handleKeyEvent<Async>(window, QEvent::KeyPress,
                                                              Qt::Key_Space, Qt::NoModifier, " ");
                QWindowSystemInterface::handleKeyEvent<Async>(window, QEvent::KeyRelease,
                                                              Qt::Key_Space, Qt::NoModifier, " ");
                break;
            case 2:
                click();
                click();
                break;
            case 3:
                QWindowSystemInterface::handleCloseEvent<Async>(window);
                break;
            }
            QMetaObject::invokeMethod(
                qApp,
                [&] {
                    handledDuringWait = clicks;
                    openDuringWait = button.isVisible();
                },
                Qt::QueuedConnection);
        });
        QCOMPARE(handledDuringWait, 0); // the GUI thread ran, but acted on no input
        QCOMPARE(clicks, 0);
        QVERIFY(openDuringWait);
        QTRY_COMPARE(clicks, clicksAfter);
        QCoreApplication::processEvents();
        QCOMPARE(button.isVisible(), openAfter);
    }

    void resultsAndErrorsComeBack() {
        QCOMPARE(desktop::withoutFreezing([] { return std::string("10.0.0.7"); }),
                 std::string("10.0.0.7"));
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, desktop::withoutFreezing([]() -> int {
                                     throw std::runtime_error("no network");
                                 }));
        // Off the GUI thread the work simply runs there.
        bool ranOnCaller = false;
        std::thread other([&] {
            const auto caller = std::this_thread::get_id();
            desktop::runWithoutFreezing(
                [&] { ranOnCaller = std::this_thread::get_id() == caller; });
        });
        other.join();
        QVERIFY(ranOnCaller);
    }
};

QTEST_MAIN(TestOffGuiThread)
#include "tst_OffGuiThread.moc"
