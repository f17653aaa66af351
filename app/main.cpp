#include "app/Application.h"
#include "app/Inbox.h"
#include "app/frmMain.h"
#include "desktop/ErrorReport.h"

int main(int argc, char** argv) {
    lanquill::app::Application application(argc, argv);
    lanquill::desktop::RealPlatform real;
    const lanquill::desktop::Platform& platform = real.platform();

    lanquill::app::TMainForm form(platform);
    lanquill::desktop::setErrorSink(
        [&](const QString& text) { platform.messages->show(&form, text); });
    QObject::connect(&form, &lanquill::app::TMainForm::closed, &application, &QApplication::quit,
                     Qt::QueuedConnection);
    application.setQuitOnLastWindowClosed(false);

    // An error stops the start-up where it arose; the window is still shown.
    lanquill::desktop::runReported([&] { form.FormCreate(); });
    form.show();
    lanquill::app::Inbox inbox(form, platform);
    lanquill::desktop::runReported([&] { inbox.start(); });
    const int status = application.exec();
    lanquill::desktop::setErrorSink(nullptr);
    return status;
}
