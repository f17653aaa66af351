#include "app/Application.h"

#include "desktop/ErrorReport.h"
#include "desktop/Language.h"

#include <QFont>
#include <QLibraryInfo>
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
    // Chinese is the program's own language and stays for a Chinese or C locale; every other
    // language gets the English translation, and Qt's own texts in their source English.
    if (desktop::prefersEnglish(QLocale::system())) {
        desktop::installEnglish(translator_);
        return;
    }
    // Qt's own texts (message-box buttons, edit menus) in Chinese like the rest of the program.
    if (qtTranslator_.load(QStringLiteral("qtbase_zh_CN"),
                           QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        installTranslator(&qtTranslator_);
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
