#pragma once

#include <QApplication>
#include <QTranslator>

namespace lanquill::app {

// The application object. Its notify() is the last stop of every event: an exception that leaves
// a handler is reported in a message box with its text and the program carries on.
class Application : public QApplication {
public:
    Application(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;

private:
    QTranslator qtTranslator_;
    QTranslator translator_;
};

} // namespace lanquill::app
