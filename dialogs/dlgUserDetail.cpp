#include "dialogs/dlgUserDetail.h"

#include "contacts/BookEdit.h"
#include "contacts/XMLFile.h"
#include "desktop/ErrorReport.h"
#include "desktop/WaitCursor.h"
#include "dialogs/FixedDialog.h"
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
}

TdlgUserDetailInfo::~TdlgUserDetailInfo() = default;

void TdlgUserDetailInfo::offerToAdd() {
    // A computer found again may already be in the group under the same name; writing back
    // would overwrite that entry with the new one's fields.
    writesBack_ = false;
    ui_->OKBtn->setText(tr("添加"));
}

void TdlgUserDetailInfo::OKBtnClick() {
    contacts::editBook(main_.XMLDoc(), main_.ConfigPath(), [this](contacts::XmlDocument& book) {
        contacts::SetComputerInfo(
            book, main_.ConfigPath(), ui_->stGroupName->text().toStdString(),
            ui_->stxtCompName->text().toStdString(), ui_->edtUserName->text().toStdString(),
            ui_->IPAddress->text().toStdString(), ui_->Memo1->toPlainText().toStdString());
    });
}

void TdlgUserDetailInfo::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (std::exchange(shown_, true))
        return;
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
