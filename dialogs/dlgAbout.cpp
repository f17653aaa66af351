#include "dialogs/dlgAbout.h"

#include "dialogs/FixedDialog.h"
#include "net/LocalHost.h"
#include "ui_dlgAbout.h"
#include "widgets/Artwork.h"

#include <QFontInfo>

namespace lanquill::dialogs {

TAboutBox::TAboutBox(const desktop::Platform& platform, QWidget* owner)
    : QDialog(owner), ui_(std::make_unique<Ui::dlgAbout>()) {
    ui_->setupUi(this);
    setUpFixedDialog(*this);
    ui_->Image1->setPixmap(widgets::logoPixmap());
    QFont product = ui_->ProductName->font();
    product.setBold(true);
    product.setItalic(true);
    // The dialog's font is set in pixels, so its point size reads -1: grow what is shown.
    product.setPixelSize(QFontInfo(product).pixelSize() + 4);
    ui_->ProductName->setFont(product);
    // OK is both the default and the cancel button: Enter and Esc close the box.
    connect(ui_->Button1, &QPushButton::clicked, this, &QDialog::accept);
    FormCreate(platform);
}

TAboutBox::~TAboutBox() = default;

void TAboutBox::FormCreate(const desktop::Platform& platform) {
    const auto [name, address] = net::GetLocalHostInfo(*platform.system, *platform.resolver);
    ui_->lblNameIP->setText(QStringLiteral("Name:") + QString::fromStdString(name) +
                            QStringLiteral("    IP: ") + QString::fromStdString(address));
}

QString TAboutBox::nameAndAddressLine() const {
    return ui_->lblNameIP->text();
}

} // namespace lanquill::dialogs
