#include "app/Application.h"
#include "app/Inbox.h"
#include "app/SingleInstance.h"
#include "app/frmMain.h"
#include "desktop/ErrorReport.h"
#include "dialogs/WindowsDesktops.h"

#include <QDir>
#include <QStandardPaths>

#include <cstdio>

namespace {

struct StartOptions {
    // Started from the desktop's menu (the desktop entry passes --installed): the program
    // directory is the user's data folder, not whatever folder the session started in.
    bool installed = false;
    // Only bring the running copy forward (a desktop shortcut); with none running, start as the
    // menu does.
    bool show = false;
    bool valid = true;
};

StartOptions parseStartOptions(const QStringList& arguments) {
    StartOptions options;
    for (const QString& argument : arguments.mid(1)) {
        if (argument == QStringLiteral("--installed"))
            options.installed = true;
        else if (argument == QStringLiteral("--show"))
            options.show = true;
        else
            options.valid = false;
    }
    return options;
}

// From a terminal the program directory stays the current directory; from the menu or a
// shortcut it is the data folder, made on the first start.
void enterProgramDirectory(const StartOptions& options) {
    if (!options.installed && !options.show)
        return;
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    if (!QDir().mkpath(folder) || !QDir::setCurrent(folder))
        std::fprintf(stderr, "lanquill: cannot use %s as the program directory\n",
                     qPrintable(folder));
}

} // namespace

int main(int argc, char** argv) {
    lanquill::app::Application application(argc, argv);
    const StartOptions options = parseStartOptions(QCoreApplication::arguments());
    if (!options.valid) {
        std::fputs("usage: lanquill [--installed] [--show]\n", stderr);
        return 2;
    }
    QString noGuard;
    lanquill::app::SingleInstance instance(lanquill::app::SingleInstance::socketPath(&noGuard));
    if (!noGuard.isEmpty())
        std::fprintf(stderr, "lanquill: running without the one-copy guard: %s\n",
                     qPrintable(noGuard));
    if (instance.forwardToRunning())
        return 0;
    enterProgramDirectory(options);

    lanquill::desktop::RealPlatform real;
    const lanquill::desktop::Platform& platform = real.platform();

    lanquill::app::TMainForm form(platform);
    form.setWindowsDesktopsPath(lanquill::dialogs::WindowsDesktops::defaultPath());
    lanquill::desktop::setErrorSink(
        [&](const QString& text) { platform.messages->show(&form, text); });
    QObject::connect(&form, &lanquill::app::TMainForm::closed, &application, &QApplication::quit,
                     Qt::QueuedConnection);
    application.setQuitOnLastWindowClosed(false);
    // Before the start-up: a second start during the first one's add-group dialog is answered.
    instance.listen(lanquill::desktop::reported([&] { form.mnuReActiveClick(); }));

    // An error stops the start-up where it arose; the window is still shown. The inbox starts
    // before a first start's 添加工作组 dialog, so that messages arriving while the user picks
    // workgroups show at once; otherwise once the window is up.
    lanquill::app::Inbox inbox(form, platform);
    const auto startInbox = [&] { lanquill::desktop::runReported([&] { inbox.start(); }); };
    lanquill::desktop::runReported([&] { form.FormCreate(startInbox); });
    form.show();
    startInbox();
    const int status = application.exec();
    lanquill::desktop::setErrorSink(nullptr);
    return status;
}
