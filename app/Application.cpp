#include "app/Application.h"

#include "platform/ErrorReport.h"

namespace lanquill::app {

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QStringLiteral("Lanquill"));
    setApplicationVersion(QStringLiteral("2.0"));
    setDesktopFileName(QStringLiteral("lanquill"));
}

bool Application::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        platform::reportCurrentException();
        return false;
    }
}

} // namespace lanquill::app
