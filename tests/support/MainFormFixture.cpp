#include "support/MainFormFixture.h"

#include "desktop/ErrorReport.h"
#include "support/BookFiles.h"

#include <QFile>
#include <QTest>
#include <QTimer>

namespace lanquill::fakes {

QByteArray MainFormFixture::configBytes() const {
    return testsupport::fileBytes(configPath().toStdString());
}

void MainFormFixture::resetFixture() {
    QVERIFY(dir_.isValid());
    QFile::remove(configPath());
    fake_ = std::make_unique<FakePlatform>();
    onDialog_ = nullptr;
    dialogsSeen_.clear();
    desktop::setErrorSink([this](const QString& text) { fake_->messages.show(nullptr, text); });
}

void MainFormFixture::createForm(const QByteArray& book) {
    if (!book.isNull())
        testsupport::writeBytes(configPath().toStdString(), book);
    fake_->system.directory = dir_.path().toStdString();
    form_ = std::make_unique<app::TMainForm>(fake_->platform());
    connect(form_.get(), &app::TMainForm::dialogOpened, this, [this](QDialog* dialog) {
        dialogsSeen_ << dialog->windowTitle();
        QTimer::singleShot(0, dialog, [this, dialog] {
            if (onDialog_)
                onDialog_(dialog);
            else
                dialog->reject();
        });
    });
    desktop::runReported([this] { form_->FormCreate(); });
}

void MainFormFixture::showForm() {
    form_->show();
    QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
}

void MainFormFixture::tearDownFixture() {
    form_.reset();
    desktop::setErrorSink(nullptr);
    fake_.reset();
}

} // namespace lanquill::fakes
