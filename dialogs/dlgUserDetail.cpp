#include "dialogs/dlgUserDetail.h"

#include "contacts/BookEdit.h"
#include "contacts/XMLFile.h"
#include "desktop/ErrorReport.h"
#include "desktop/WaitCursor.h"
#include "dialogs/FixedDialog.h"
#include "dialogs/WindowsDesktops.h"
#include "protocol/Addresses.h"
#include "ui_dlgUserDetail.h"
#include "widgets/Artwork.h"

#include <QTextCursor>
#include <QTimer>

#include <utility>

namespace lanquill::dialogs {

using desktop::reported;

TdlgUserDetailInfo::TdlgUserDetailInfo(MainWindowServices& main, QWidget* owner)
    : QDialog(owner), main_(main), ui_(std::make_unique<Ui::dlgUserDetail>()) {
    ui_->setupUi(this);
    setUpFixedDialog(*this, false, QStringLiteral("SimSun"));
    paintAsButtonFace({ui_->stxtCompName, ui_->IPAddress});
    ui_->PageControl1->setTabIcon(0, widgets::computerPixmap(16));
    ui_->PageControl1->setTabIcon(1, widgets::menuPixmap(0, 16));
    ui_->BitBtnRefresh->setIcon(widgets::refreshPixmap(32));
    // Seventeen characters in a field sized for the narrow Windows font.
    QFont macFont = font();
    macFont.setPixelSize(11);
    ui_->stMac->setFont(macFont);
    // The buttons lie over the page control's right-hand side.
    ui_->OKBtn->raise();
    ui_->CancelBtn->raise();
    ui_->BitBtnRefresh->raise();

    connect(ui_->OKBtn, &QPushButton::clicked, this, [this](bool) {
        // A write-back that fails (a value the book refuses, a read-only file) is reported and
        // the dialog stays open with what the user typed: closing would throw the edit away.
        // The user can put it right and press OK again, or give up with Cancel.
        if (!writesBack_ || desktop::runReported([this] { OKBtnClick(); }))
            accept();
    });
    connect(ui_->CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
    connect(ui_->BitBtnRefresh, &QToolButton::clicked, this,
            reported([this](bool) { BitBtnRefreshClick(); }));
    main_.onNodeStatusReply(this, [this] { nodeStatusArrived(); });
    // Until the fields are known (at the first showing), the Windows page is not offered.
    ui_->PageControl1->setTabVisible(2, false);
    connect(ui_->cbWindows, &QCheckBox::toggled, this, [this] { updateWindowsFields(); });
}

TdlgUserDetailInfo::~TdlgUserDetailInfo() = default;

void TdlgUserDetailInfo::offerToAdd() {
    // A computer found again may already be in the group under the same name; writing back
    // would overwrite that entry with the new one's fields.
    writesBack_ = false;
    ui_->OKBtn->setText(tr("添加"));
}

void TdlgUserDetailInfo::loadWindowsMark() {
    const std::string group = ui_->stGroupName->text().toStdString();
    const std::string computer = ui_->stxtCompName->text().toStdString();
    std::string name = computer, user, address, memo;
    // A workgroup (the dialog opened from a group message) or a computer not in the book has
    // nothing to mark.
    if (!writesBack_ || main_.windowsDesktopsPath().isEmpty() ||
        !contacts::GetComputerInfo(main_.XMLDoc(), group, computer, name, user, address, memo))
        return;
    ui_->PageControl1->setTabVisible(2, true);
    try {
        windowsAccount_ =
            WindowsDesktops(main_.windowsDesktopsPath()).account(group, computer).value_or("");
        windowsPage_ = true;
    } catch (const WindowsDesktopsError& error) {
        // Shown where the mark would be, and nothing there can be changed: the file is never
        // written over while it is broken.
        ui_->stWindowsNote->setText(error.text());
        ui_->cbWindows->setEnabled(false);
    }
    ui_->cbWindows->setChecked(!windowsAccount_.empty());
    ui_->edtAccount->setText(QString::fromStdString(windowsAccount_));
    updateWindowsFields();
}

void TdlgUserDetailInfo::updateWindowsFields() {
    const bool marked = windowsPage_ && ui_->cbWindows->isChecked();
    ui_->edtAccount->setEnabled(marked);
    ui_->edtPassword->setEnabled(marked);
}

void TdlgUserDetailInfo::checkWindowsAccount() const {
    if (!windowsPage_ || !ui_->cbWindows->isChecked())
        return;
    const std::string account = ui_->edtAccount->text().trimmed().toStdString();
    if (!isValidWindowsAccount(account))
        throw WindowsDesktopsError(account.empty()
                                       ? tr("请填写管理员账户（用户名或 域\\用户名）。")
                                       : tr("管理员账户 %1 无效：应为“用户名”或“域\\用户名”。")
                                             .arg(QString::fromStdString(account)));
}

void TdlgUserDetailInfo::saveWindowsMark() {
    if (!windowsPage_)
        return;
    checkWindowsAccount();
    const bool marked = ui_->cbWindows->isChecked();
    const std::string account = marked ? ui_->edtAccount->text().trimmed().toStdString() : "";
    const QString password = ui_->edtPassword->text();
    // The password first: a mark whose password could not be kept would only fail later.
    if (marked && !password.isEmpty()) {
        const desktop::Keyring::Answer stored =
            main_.platform().keyring->write(windowsKeyringKey(account), password);
        if (!stored.ok)
            throw WindowsDesktopsError(tr("无法把密码存入钥匙环：%1").arg(stored.error));
        ui_->edtPassword->clear();
    }
    WindowsDesktops(main_.windowsDesktopsPath())
        .set(ui_->stGroupName->text().toStdString(), ui_->stxtCompName->text().toStdString(),
             account);
    windowsAccount_ = account;
}

void TdlgUserDetailInfo::OKBtnClick() {
    checkWindowsAccount(); // before anything is written
    contacts::editBook(main_.XMLDoc(), main_.ConfigPath(), [this](contacts::XmlDocument& book) {
        contacts::SetComputerInfo(
            book, main_.ConfigPath(), ui_->stGroupName->text().toStdString(),
            ui_->stxtCompName->text().toStdString(), ui_->edtUserName->text().toStdString(),
            ui_->IPAddress->text().toStdString(), ui_->Memo1->toPlainText().toStdString());
    });
    saveWindowsMark();
}

void TdlgUserDetailInfo::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (std::exchange(shown_, true))
        return;
    loadWindowsMark();
    // The current user is what the dialog is mostly opened for: it is asked for at once and
    // filled in when the answer arrives, as after a press of 刷新. Only a real address is asked:
    // the field may hold a workgroup's name (opened from a group message).
    if (protocol::parseIpv4(ui_->IPAddress->text().toStdString()))
        QTimer::singleShot(0, this, reported([this] { askNodeStatus(); }));
}

void TdlgUserDetailInfo::BitBtnRefreshClick() {
    desktop::WaitCursor wait;
    askNodeStatus();
}

bool TdlgUserDetailInfo::askNodeStatus() {
    const std::string address = ui_->IPAddress->text().toStdString();
    if (!main_.SendUDPData(address))
        return false;
    // Only the answer from the computer asked is shown, once for each question.
    const auto parsed = protocol::parseIpv4(address);
    awaitedReply_ = parsed ? protocol::formatIpv4(*parsed) : std::string();
    return true;
}

void TdlgUserDetailInfo::nodeStatusArrived() {
    const net::NodeStatusResults& results = main_.nodeStatus();
    if (awaitedReply_.empty() || results.NbReplyFrom != awaitedReply_ || !results.NbReplyReceived)
        return;
    awaitedReply_.clear();
    // A reply without an adapter address leaves the one the neighbour table gave.
    if (!results.NbMacAddress.empty())
        ui_->stMac->setText(QString::fromStdString(results.NbMacAddress));
    ui_->stCurUser->setText(QString::fromStdString(results.NbCurrentUser));
    // Each name goes on a line of its own after what is there, the memo's first (empty) line
    // included; appendPlainText would fill that first line instead.
    QTextCursor end(ui_->memOther->document());
    end.movePosition(QTextCursor::End);
    for (const std::string* line :
         {&results.NbWorkstationName, &results.NbExtraName, &results.NbBrowserGroup}) {
        end.insertBlock();
        end.insertText(QString::fromStdString(*line));
    }
}

} // namespace lanquill::dialogs
