#include "app/Application.h"

#include "desktop/ErrorReport.h"

#include <QFont>
#include <QStringList>

namespace lanquill::app {

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QStringLiteral("Lanquill"));
    setApplicationVersion(QStringLiteral("2.0"));
    setDesktopFileName(QStringLiteral("lanquill"));
    // The forms name the Windows Chinese font; on Linux the installed CJK sans fonts stand in for
    // it, rather than whatever serif face the font matcher would pick for an unknown name.
    const QStringList cjkSans = {QStringLiteral("WenQuanYi Micro Hei"),
                                 QStringLiteral("Noto Sans CJK SC"),
                                 QStringLiteral("Droid Sans Fallback")};
    QFont::insertSubstitutions(QStringLiteral("宋体"), cjkSans);
    QFont::insertSubstitutions(QStringLiteral("SimSun"), cjkSans);
}

bool Application::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        desktop::reportCurrentException();
        return false;
    }
}

} // namespace lanquill::app
