#include "dialogs/FindComputer.h"

#include "contacts/BookEdit.h"
#include "contacts/XMLFile.h"
#include "desktop/ErrorReport.h"
#include "desktop/OffGuiThread.h"
#include "dialogs/FixedDialog.h"
#include "dialogs/dlgUserDetail.h"
#include "net/Lookups.h"
#include "ui_FindComputer.h"
#include "ui_dlgUserDetail.h"

namespace lanquill::dialogs {

TdlgFindComputer::TdlgFindComputer(MainWindowServices& main, std::string targetGroup,
                                   QWidget* owner)
    : QDialog(owner), main_(main), targetGroup_(std::move(targetGroup)),
      ui_(std::make_unique<Ui::FindComputer>()) {
    ui_->setupUi(this);
    setUpFixedDialog(*this);
    connect(ui_->OKBtn, &QPushButton::clicked, this, [this](bool) {
        // The dialog closes after the search whatever it found, also on an error.
        desktop::runReported([this] { OKBtnClick(); });
        accept();
    });
    connect(ui_->CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
    // What the user types first is what to look for.
    ui_->edtUserName->setFocus();
}

TdlgFindComputer::~TdlgFindComputer() = default;

void TdlgFindComputer::OKBtnClick() {
    const desktop::Platform& platform = main_.platform();
    const std::string typed = ui_->edtUserName->text().toStdString();
    std::string machineName;
    std::string address;
    net::Lookup lookup;
    if (ui_->rbName->isChecked()) {
        machineName = typed;
        lookup = desktop::withoutFreezing(
            [&] { return net::HostNameToIP(*platform.resolver, machineName); });
        address = lookup.text;
    } else {
        address = typed;
        lookup = desktop::withoutFreezing(
            [&] { return net::IPToHostName(*platform.resolver, address); });
        machineName = lookup.text;
    }
    if (!lookup.found) {
        platform.messages->show(this, tr("没有此用户或用户不在线"));
        return;
    }

    // Found once by name and once by address, a computer comes back in another case: the book
    // keeps one entry of it, with the user name and note given it before.
    if (const auto stored = contacts::ComputerInGroup(main_.XMLDoc(), targetGroup_, machineName)) {
        main_.computerAlreadyInGroup(this, targetGroup_, *stored);
        return;
    }

    TdlgUserDetailInfo detail(main_, this);
    auto& d = detail.ui();
    d.edtUserName->setText(QString::fromStdString(machineName));
    d.stxtCompName->setText(QString::fromStdString(machineName));
    d.stGroupName->setText(QString::fromStdString(targetGroup_));
    d.IPAddress->setText(QString::fromStdString(address));
    d.stMac->setText(QString::fromStdString(desktop::withoutFreezing(
        [&] { return net::GetMacAddress(*platform.neighbours, address); })));
    detail.offerToAdd();
    Q_EMIT detailShown(&detail);
    if (detail.exec() != QDialog::Accepted)
        return;
    // The user name typed in the detail dialog is the one stored with the computer; the box
    // comes filled with the machine name, which left as it is names no user.
    std::string userName = d.edtUserName->text().toStdString();
    if (userName == machineName)
        userName.clear();
    std::optional<std::string> stored; // added meanwhile by another program
    contacts::editBook(main_.XMLDoc(), main_.ConfigPath(), [&](contacts::XmlDocument& book) {
        stored = contacts::ComputerInGroup(book, targetGroup_, machineName);
        if (stored)
            return;
        contacts::AddComputer(book, targetGroup_, machineName, machineName, userName, address,
                              d.Memo1->toPlainText().toStdString());
        book.save(main_.ConfigPath());
    });
    main_.LoadXMLFile(main_.ConfigPath());
    if (stored)
        main_.computerAlreadyInGroup(this, targetGroup_, *stored);
}

} // namespace lanquill::dialogs
