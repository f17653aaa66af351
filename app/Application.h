#pragma once

#include <QApplication>
#include <QLocale>
#include <QTranslator>

namespace lanquill::app {

// The application object. Its notify() is the last stop of every event: an exception that leaves
// a handler is reported in a message box with its text and the program carries on.
class Application : public QApplication {
public:
    Application(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
    // Whether the user's locale asks for the English texts rather than the program's Chinese.
    static bool prefersEnglish(const QLocale& locale);

private:
    QTranslator qtTranslator_;
    QTranslator translator_;
};

} // namespace lanquill::app
