// The main window's commands that open dialogs. Each dialog lives for one command: created with
// the main window as owner, shown modally, destroyed when it closes, also when an error passes.
#include "app/frmMain.h"

#include "contacts/XMLFile.h"
#include "desktop/OffGuiThread.h"
#include "desktop/WaitCursor.h"
#include "dialogs/FindComputer.h"
#include "dialogs/dlgAbout.h"
#include "dialogs/dlgAddGroup.h"
#include "dialogs/dlgDetail.h"
#include "net/Lookups.h"
#include "widgets/TfcOutlookBar.h"
#include "widgets/TfcOutlookList.h"
#include "widgets/TfcOutlookListItem.h"
#include "widgets/TfcOutlookPage.h"
#include "widgets/TfcShapeBtn.h"

namespace lanquill::app {

namespace {

// The computer names of a book page (its items after the group-message item), for the group
// message to reach them by name where its broadcast does not go.
std::vector<std::string> pageComputers(const contacts::XmlDocument& book, const QString& group,
                                       const widgets::TfcOutlookList& list) {
    std::vector<std::string> names;
    for (int i = 1; i < list.count(); ++i) {
        const std::string id = list.item(i)->text().toStdString();
        std::string computerName = id;
        std::string userName;
        std::string address;
        std::string memo;
        contacts::GetComputerInfo(book, group.toStdString(), id, computerName, userName, address,
                                  memo);
        names.push_back(computerName);
    }
    return names;
}

} // namespace

void TMainForm::pMnuAddGroupClick() {
    dialogs::TdlgAddNewGroup dialog(*this, this);
    Q_EMIT dialogOpened(&dialog);
    if (dialog.exec() != QDialog::Accepted)
        return;
    LoadXMLFile(ConfigPath());
    if (!dialog.alreadyInBook().empty())
        selectComputer(dialog.groupAdded(), dialog.alreadyInBook().front());
}

void TMainForm::N2Click() {
    // A found computer joins the workgroup of the page the command came from.
    widgets::TfcOutlookPage* page = fcOutlookBar1->activePageEntry();
    if (page == nullptr)
        return;
    dialogs::TdlgFindComputer dialog(*this, page->button()->text().toStdString(), this);
    Q_EMIT dialogOpened(&dialog);
    dialog.exec();
}

void TMainForm::Image1Click() {
    dialogs::TAboutBox about(platform_, this);
    Q_EMIT dialogOpened(&about);
    about.exec();
}

void TMainForm::OutlookBarOutlookListItemClick(widgets::TfcOutlookList* sender,
                                               widgets::TfcOutlookListItem* item) {
    if (item->index() == 0) {
        dialogs::TdlgSendMessage dialog(*this, this);
        {
            desktop::WaitCursor wait;
            const QString group = sender->page()->button()->text();
            dialog.setGroupMode(group, pageComputers(XMLDoc(), group, *sender));
        }
        Q_EMIT dialogOpened(&dialog);
        dialog.exec();
        return;
    }
    openSendDialog(sender->page()->button()->text(), item->text());
}

QString TMainForm::activeGroup() const {
    widgets::TfcOutlookPage* page = fcOutlookBar1->activePageEntry();
    return page == nullptr ? QString() : page->button()->text();
}

void TMainForm::openSendDialog(const QString& group, const QString& name,
                               const QString& knownAddress) {
    dialogs::TdlgSendMessage dialog(*this, this);
    {
        desktop::WaitCursor wait;
        std::string computerName = name.toStdString();
        std::string userName;
        std::string ipAddress = knownAddress.toStdString();
        std::string memo;
        contacts::GetComputerInfo(XMLDoc(), group.toStdString(), name.toStdString(), computerName,
                                  userName, ipAddress, memo);
        const net::Lookup lookup = desktop::withoutFreezing(
            [&] { return net::HostNameToIP(*platform_.resolver, computerName); });
        dialog.setComputerMode(
            group, QString::fromStdString(computerName), QString::fromStdString(userName),
            QString::fromStdString(lookup.text.empty() ? ipAddress : lookup.text), lookup.found);
    }
    Q_EMIT dialogOpened(&dialog);
    dialog.exec();
}

} // namespace lanquill::app
