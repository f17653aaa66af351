// The main window on the real platform layers, for the real-peer tests that run inside the
// client namespace harness.sh makes: started in a program folder of its own with a given book,
// every error report and every unexpected message box recorded, the working folder restored at
// the end.
#pragma once

#include "app/frmMain.h"
#include "desktop/Desktop.h"
#include "desktop/ErrorReport.h"
#include "support/BookFiles.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace lanquill::interop {

// True inside the namespace that harness.sh made (LQ_NS_CLIENT): the real layers may broadcast,
// which they must only ever do into the harness's private namespaces.
inline bool inPrivateNetworkNamespace() {
    const char* name = std::getenv("LQ_NS_CLIENT");
    if (name == nullptr || *name == '\0' || std::strchr(name, '/') != nullptr)
        return false;
    struct stat own {};
    struct stat made {};
    if (::stat("/proc/self/ns/net", &own) != 0 ||
        ::stat((std::string("/run/netns/") + name).c_str(), &made) != 0)
        return false;
    return own.st_ino == made.st_ino && own.st_dev == made.st_dev;
}

class RealMainWindow : public QObject {
public:
    // Writes `book` as config.xml and starts the window as the program does. Dialogs its
    // commands open are cancelled. A failure is a failed check of the calling test.
    void start(const QByteArray& book) {
        QVERIFY(programDir.isValid());
        testsupport::writeBytes(programDir.filePath(QStringLiteral("config.xml")).toStdString(),
                                book);

        desktop::setErrorSink([this](const QString& text) { errors << text; });
        // A message box of the real layers would wait for a click that never comes: close any
        // modal window that the test did not mark as its own ("lqExpected"), and remember it.
        connect(&modalWatch_, &QTimer::timeout, this, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            if (modal != nullptr && !modal->property("lqExpected").toBool()) {
                unexpectedModals << modal->metaObject()->className();
                modal->close();
            }
        });
        modalWatch_.start(100);

        previousDirectory_ = QDir::currentPath();
        QVERIFY(QDir::setCurrent(programDir.path()));
        real = std::make_unique<desktop::RealPlatform>();
        form = std::make_unique<app::TMainForm>(real->platform());
        connect(form.get(), &app::TMainForm::dialogOpened, this,
                [](QDialog* dialog) { QTimer::singleShot(0, dialog, &QDialog::reject); });
        desktop::runReported([this] { form->FormCreate(); });
        QVERIFY2(errors.isEmpty(), qPrintable(errors.join('\n')));
        QVERIFY2(unexpectedModals.isEmpty(), qPrintable(unexpectedModals.join(' ')));
        QVERIFY(real->platform().probeSocket->isOpen());
    }

    void stop() {
        if (form)
            form->close();
        form.reset();
        real.reset();
        modalWatch_.stop();
        desktop::setErrorSink(nullptr);
        if (!previousDirectory_.isEmpty())
            QDir::setCurrent(previousDirectory_);
    }

    QTemporaryDir programDir;
    std::unique_ptr<desktop::RealPlatform> real;
    std::unique_ptr<app::TMainForm> form;
    QStringList errors;
    QStringList unexpectedModals;

private:
    QTimer modalWatch_;
    QString previousDirectory_;
};

} // namespace lanquill::interop
