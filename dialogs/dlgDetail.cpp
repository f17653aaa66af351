#include "dialogs/dlgDetail.h"

#include "contacts/XMLFile.h"
#include "desktop/ErrorReport.h"
#include "desktop/OffGuiThread.h"
#include "dialogs/FixedDialog.h"
#include "dialogs/WindowsDesktops.h"
#include "dialogs/WindowsSend.h"
#include "dialogs/dlgUserDetail.h"
#include "net/GroupCommand.h"
#include "net/Lookups.h"
#include "protocol/MessageLimits.h"
#include "ui_dlgDetail.h"
#include "ui_dlgUserDetail.h"
#include "widgets/Artwork.h"

#include <QCoreApplication>
#include <QStringList>
#include <QUuid>

#include <algorithm>
#include <optional>

namespace lanquill::dialogs {

using desktop::reported;

std::uint32_t SendNetMessage(platform::Messenger& messenger, const std::string& ToName,
                             const std::string& FromName, const std::string& Text) {
    // Refused rather than cut: a message that arrives shortened or to a shortened name is a
    // message the user did not write.
    if (protocol::overMessageLimits(ToName, FromName, Text))
        return platform::messenger::BufferTooSmall;
    return messenger.send(ToName, FromName, Text);
}

QString sendFailureReason(std::uint32_t code) {
    namespace m = platform::messenger;
    switch (code) {
    case m::NameNotFound:
        return QCoreApplication::translate("lanquill::dialogs::TdlgSendMessage",
                                           "网络上找不到接收方。");
    case m::NetworkError:
        return QCoreApplication::translate("lanquill::dialogs::TdlgSendMessage",
                                           "接收方没有应答。");
    case m::MessageRejected:
        return QCoreApplication::translate("lanquill::dialogs::TdlgSendMessage",
                                           "接收方拒绝了这条消息。");
    case m::ReceiverBusy:
        return QCoreApplication::translate("lanquill::dialogs::TdlgSendMessage",
                                           "接收方正忙，请稍后再试。");
    case m::BadTransactConfig:
        return QCoreApplication::translate("lanquill::dialogs::TdlgSendMessage",
                                           "接收方不接收信使消息。");
    case m::InvalidParameter:
        return QCoreApplication::translate("lanquill::dialogs::TdlgSendMessage",
                                           "名称或消息中有无法发送的字符。");
    case m::BufferTooSmall:
        return QCoreApplication::translate("lanquill::dialogs::TdlgSendMessage",
                                           "名称或消息太长。");
    default:
        return QCoreApplication::translate("lanquill::dialogs::TdlgSendMessage", "错误代码 %1。")
            .arg(code);
    }
}

TdlgSendMessage::TdlgSendMessage(MainWindowServices& main, QWidget* owner)
    : QDialog(owner), main_(main), ui_(std::make_unique<Ui::dlgDetail>()) {
    ui_->setupUi(this);
    setUpFixedDialog(*this, true);
    paintAsButtonFace({ui_->stxtCompName, ui_->IPAddress});
    ui_->sbtnOffLine->setIcon(widgets::offlinePixmap(32));
    ui_->spbtnOnline->setIcon(widgets::onlinePixmap(32));
    QFont sending(QStringLiteral("SimSun"));
    sending.setPixelSize(13);
    ui_->SendStstus->setFont(sending);
    QPalette sendingColour = ui_->SendStstus->palette();
    sendingColour.setColor(QPalette::WindowText, QColor(0, 64, 128));
    ui_->SendStstus->setPalette(sendingColour);
    ui_->Memo1->setFocus();

    connect(ui_->OKBtn, &QPushButton::clicked, this, reported([this](bool) {
                if (OKBtnClick())
                    accept();
            }));
    connect(ui_->CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
    // Nothing to send until there is something to read: blanks and line breaks alone would
    // pop up an empty window on the receiver's screen.
    connect(ui_->Memo1, &QPlainTextEdit::textChanged, this,
            [this] { ui_->OKBtn->setEnabled(hasText()); });
    ui_->OKBtn->setEnabled(false);
    connect(ui_->sbtnOffLine, &QToolButton::clicked, this,
            reported([this](bool) { sbtnOffLineClick(); }));
    connect(ui_->spbtnOnline, &QToolButton::clicked, this,
            reported([this](bool) { sbtnOffLineClick(); }));
}

TdlgSendMessage::~TdlgSendMessage() = default;

void TdlgSendMessage::setGroupMode(const QString& workgroup,
                                   const std::vector<std::string>& members) {
    mode_ = Mode::Group;
    members_ = members;
    ui_->stxtCompName->setText(workgroup);
    ui_->stUserName->setText(tr(GroupMessageMarker));
    ui_->cbAnonymous->setEnabled(false);
    // The message goes to the whole workgroup: that is its address, and the status says so.
    ui_->IPAddress->setText(workgroup);
    ui_->stStatus->setText(tr("群发"));
    ui_->stGroupName->setText(workgroup);
}

void TdlgSendMessage::setComputerMode(const QString& group, const QString& computerName,
                                      const QString& userName, const QString& address,
                                      bool online) {
    mode_ = Mode::Computer;
    ui_->stGroupName->setText(group);
    ui_->stxtCompName->setText(computerName);
    ui_->stxtCompName->setCursorPosition(0); // a name too long for the field shows its start
    ui_->IPAddress->setText(address);
    openedAddress_ = address;
    ui_->stStatus->setText(online ? tr("在线") : tr("不在线"));
    ui_->spbtnOnline->setVisible(online);
    ui_->sbtnOffLine->setVisible(!online);
    ui_->stUserName->setText(userName);
}

std::string TdlgSendMessage::messageText() const {
    return ui_->Memo1->toPlainText()
        .replace(QLatin1Char('\n'), QLatin1String("\r\n"))
        .toStdString();
}

bool TdlgSendMessage::hasText() const {
    return !ui_->Memo1->toPlainText().trimmed().isEmpty();
}

bool TdlgSendMessage::OKBtnClick() {
    if (!hasText())
        return false;
    ui_->SendStstus->setVisible(true);
    repaint();
    inbox::Message sent;
    sent.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    sent.direction = inbox::Direction::Sent;
    sent.peer = ui_->stxtCompName->text();
    sent.time = QDateTime::currentDateTimeUtc();
    sent.text = ui_->Memo1->toPlainText();
    if (mode_ == Mode::Group) {
        sent.kind = inbox::Kind::Workgroup;
        sent.to = sent.peer;
    } else {
        sent.to = ui_->IPAddress->text();
        sent.address = sent.to;
        // A recipient typed over the one the dialog was opened for is another computer: the
        // message belongs to that one's conversation, not to the book entry's.
        const QString typed = sent.to.trimmed();
        if (!typed.isEmpty() && typed != openedAddress_.trimmed())
            sent.peer = typed;
    }
    QString failure;
    try {
        failure = sendMessage();
    } catch (const std::exception&) {
        // A developer's text would mean nothing here, and closing would lose what was typed.
        failure = tr("发送时出现意外错误。");
    }
    const bool delivered = failure.isEmpty();
    sent.delivered = delivered;
    main_.messageSent(sent);
    if (!delivered) {
        ui_->SendStstus->setVisible(false);
        main_.platform().messages->show(this, tr("无法发送！") + QLatin1Char('\n') + failure);
    }
    return delivered;
}

QString TdlgSendMessage::sendToGroup() {
    const desktop::Platform& platform = main_.platform();
    const std::string workgroup = ui_->stxtCompName->text().toStdString();
    // The page's Windows desktops get the message their own way, each once: the broadcast may
    // reach them too (they ignore it), but they are no longer among the members reached by name.
    std::vector<WindowsTarget> windows;
    QString marksFault;
    std::vector<std::string> members = members_;
    if (!main_.windowsDesktopsPath().isEmpty()) {
        try {
            for (const WindowsDesktop& marked :
                 WindowsDesktops(main_.windowsDesktopsPath()).inWorkgroup(workgroup)) {
                const auto member =
                    std::find_if(members.begin(), members.end(), [&](const std::string& name) {
                        return contacts::foldId(name) == contacts::foldId(marked.computer);
                    });
                if (member == members.end())
                    continue; // no longer on the page
                // Named as the book names it, whatever case the mark was written in.
                windows.push_back({*member, windowsAddress(workgroup, *member), marked.account});
                members.erase(member);
            }
        } catch (const WindowsDesktopsError& error) {
            marksFault = error.text();
        }
    }
    if (!platform.commands->start(net::groupSendCommand(workgroup, messageText(), members)))
        return tr("无法启动群发命令。");
    // The broadcast went out: what did not reach a Windows desktop is told, not refused.
    QStringList missed;
    for (const WindowsFailure& failure : sendToWindowsDesktops(platform, windows, messageText()))
        missed << tr("%1：%2").arg(QString::fromStdString(failure.name), failure.reason);
    if (!marksFault.isEmpty())
        missed << marksFault;
    if (!missed.isEmpty())
        platform.messages->show(this, tr("群发消息已发出，但没有送达以下 Windows 桌面：") +
                                          QLatin1Char('\n') + missed.join(QLatin1Char('\n')));
    return {};
}

std::string TdlgSendMessage::windowsAddress(const std::string& workgroup,
                                            const std::string& computer) {
    std::string computerName = computer, userName, address, memo;
    contacts::GetComputerInfo(main_.XMLDoc(), workgroup, computer, computerName, userName, address,
                              memo);
    address = QString::fromStdString(address).trimmed().toStdString();
    return address.empty() ? computerName : address;
}

QString TdlgSendMessage::sendMessage() {
    const desktop::Platform& platform = main_.platform();
    if (mode_ == Mode::Group)
        return sendToGroup();
    const std::string from = ui_->cbAnonymous->isChecked() ? "Lanquill" : "";
    const std::string to = ui_->IPAddress->text().trimmed().toStdString();
    // A computer marked as a Windows desktop is sent to with its administrator's account, unless
    // the user typed another recipient over the one the dialog was opened for.
    if (!main_.windowsDesktopsPath().isEmpty() &&
        ui_->IPAddress->text().trimmed() == openedAddress_.trimmed()) {
        const std::string computer = ui_->stxtCompName->text().toStdString();
        std::optional<std::string> account;
        try {
            account = WindowsDesktops(main_.windowsDesktopsPath())
                          .account(ui_->stGroupName->text().toStdString(), computer);
        } catch (const WindowsDesktopsError& error) {
            return error.text();
        }
        if (account) {
            const std::vector<WindowsFailure> failures = sendToWindowsDesktops(
                platform, {{computer, to.empty() ? computer : to, *account}}, messageText());
            return failures.empty() ? QString() : failures.front().reason;
        }
    }
    // A computer whose name did not resolve opens with no address: say that, not what the
    // messenger makes of an empty recipient (an invalid parameter, read as a bad character).
    if (to.empty())
        return tr("不知道接收方的地址。");
    const std::string text = messageText();
    const std::uint32_t result = desktop::withoutFreezing(
        [&] { return SendNetMessage(*platform.messenger, to, from, text); });
    return result == platform::messenger::Success ? QString() : sendFailureReason(result);
}

void TdlgSendMessage::sbtnOffLineClick() {
    TdlgUserDetailInfo detail(main_, this);
    auto& d = detail.ui();
    d.stxtCompName->setText(ui_->stxtCompName->text());
    d.edtUserName->setText(ui_->stUserName->text());
    d.IPAddress->setText(ui_->IPAddress->text());
    d.stGroupName->setText(ui_->stGroupName->text());
    std::string computerName, userName, ipAddress, memo;
    contacts::GetComputerInfo(main_.XMLDoc(), ui_->stGroupName->text().toStdString(),
                              ui_->stxtCompName->text().toStdString(), computerName, userName,
                              ipAddress, memo);
    d.Memo1->setPlainText(QString::fromStdString(memo));
    const std::string address = ui_->IPAddress->text().toStdString();
    d.stMac->setText(QString::fromStdString(desktop::withoutFreezing(
        [&] { return net::GetMacAddress(*main_.platform().neighbours, address); })));
    // The mode stays what the item click made it: only the shown user name changes.
    if (detail.exec() == QDialog::Accepted)
        ui_->stUserName->setText(d.edtUserName->text());
}

} // namespace lanquill::dialogs
