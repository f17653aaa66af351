// The about box: product, version and the local host's name and address.
#pragma once

#include "desktop/Desktop.h"

#include <QDialog>

#include <memory>

namespace Ui {
class dlgAbout;
}

namespace lanquill::dialogs {

class TAboutBox : public QDialog {
    Q_OBJECT

public:
    TAboutBox(const desktop::Platform& platform, QWidget* owner);
    ~TAboutBox() override;

    QString nameAndAddressLine() const;

private:
    void FormCreate(const desktop::Platform& platform);
    std::unique_ptr<Ui::dlgAbout> ui_;
};

} // namespace lanquill::dialogs
