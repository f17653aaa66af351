#include "app/Inbox.h"

#include "app/frmMain.h"
#include "contacts/BookEdit.h"
#include "contacts/XMLFile.h"
#include "desktop/ErrorReport.h"
#include "dialogs/dlgHistory.h"
#include "protocol/Addresses.h"
#include "widgets/Artwork.h"

#include <QCoreApplication>
#include <QPainter>

namespace lanquill::app {

using desktop::reported;

namespace {

// The program icon with a red dot in its corner while unread messages wait.
QIcon unreadIcon() {
    QPixmap picture = widgets::programIcon().pixmap(32, 32);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::white, 2));
    painter.setBrush(QColor(220, 30, 30));
    painter.drawEllipse(QRectF(18, 1, 13, 13));
    painter.end();
    return QIcon(picture);
}

QString receiverText(const inbox::ReceiverStatus& status) {
    using inbox::ReceiverState;
    const QString because =
        status.reason.isEmpty()
            ? QString()
            : QCoreApplication::translate("lanquill::app::Inbox", "（%1）").arg(status.reason);
    switch (status.state) {
    case ReceiverState::Connecting:
        return QCoreApplication::translate("lanquill::app::Inbox", "正在连接接收服务");
    case ReceiverState::Receiving:
        return QCoreApplication::translate("lanquill::app::Inbox", "正在接收消息");
    case ReceiverState::NotInstalled:
        return QCoreApplication::translate("lanquill::app::Inbox",
                                           "接收消息已关闭：未安装 lanquilld");
    case ReceiverState::NotRunning:
        return QCoreApplication::translate("lanquill::app::Inbox",
                                           "接收消息已关闭：lanquilld 未运行");
    case ReceiverState::Port139Held:
        return QCoreApplication::translate("lanquill::app::Inbox",
                                           "接收消息已关闭：139 端口被 Samba 占用");
    case ReceiverState::SpoolUnwritable:
        return QCoreApplication::translate("lanquill::app::Inbox",
                                           "接收消息已关闭：lanquilld 无法保存收到的消息") +
               because;
    case ReceiverState::NameLost:
        return QCoreApplication::translate("lanquill::app::Inbox",
                                           "接收消息受阻：本机名称已被网络上的另一台计算机占用") +
               because;
    case ReceiverState::Unavailable:
        return QCoreApplication::translate("lanquill::app::Inbox", "接收消息已关闭：") +
               status.reason;
    }
    return {};
}

} // namespace

Sender attribute(const contacts::XmlDocument& book, const QString& claimed,
                 const QString& address) {
    const std::string name = claimed.toStdString();
    const std::string at = address.toStdString();
    const std::optional<protocol::Ipv4> from = protocol::parseIpv4(at);
    Sender sender;
    const contacts::XmlNodeList groups = book.documentElement().childNodes();
    for (int g = 0; g < groups.length(); ++g) {
        const std::string group = groups.item(g).getAttribute("id");
        const contacts::XmlNodeList computers = groups.item(g).childNodes();
        for (int c = 0; c < computers.length(); ++c) {
            const std::string id = computers.item(c).getAttribute("id");
            std::string computerName = id, userName, ipAddress, memo;
            contacts::GetComputerInfo(book, group, id, computerName, userName, ipAddress, memo);
            const bool named = contacts::idsMatch(id, name);
            sender.nameInBook = sender.nameInBook || named;
            // A computer without an address in the book vouches for nobody: its name alone is
            // what any host can claim. A hand-written address counts as the same address when
            // it reads as the same four numbers.
            const std::optional<protocol::Ipv4> there = protocol::parseIpv4(ipAddress);
            const bool sameAddress =
                !ipAddress.empty() && (from && there ? *from == *there : ipAddress == at);
            if (!sameAddress || !(named || contacts::idsMatch(computerName, name) ||
                                  (!userName.empty() && contacts::idsMatch(userName, name))))
                continue;
            const QString user = QString::fromStdString(userName.empty() ? id : userName);
            sender.entry = BookEntry{group, id, userName};
            sender.shown =
                user + QStringLiteral(" (") + QString::fromStdString(group) + QStringLiteral(")");
            sender.conversation = QString::fromStdString(id);
            return sender;
        }
    }
    if (address.isEmpty()) {
        // Only rows kept before messages carried their address (lanquilld always gives one).
        sender.shown = claimed;
        sender.conversation = claimed;
    } else {
        sender.shown = claimed + QStringLiteral(" (") + address + QStringLiteral(")");
        sender.conversation = address;
    }
    return sender;
}

namespace {

// The name a received message's sender gave (rows from before it was kept apart: the peer).
QString claimedName(const inbox::Message& message) {
    return message.sender.isEmpty() ? message.peer : message.sender;
}

} // namespace

Inbox::Inbox(TMainForm& form, const desktop::Platform& platform, QString historyPath)
    : form_(form), platform_(platform), historyPath_(std::move(historyPath)),
      messageWindow_(std::make_unique<dialogs::TdlgMessage>(
          [this](const inbox::Message& m) { return describe(m); }, nullptr)) {
    connect(messageWindow_.get(), &dialogs::TdlgMessage::replyClicked, this,
            reported([this](const inbox::Message& m) { reply(m); }));
    connect(messageWindow_.get(), &dialogs::TdlgMessage::addToBookClicked, this,
            reported([this](const inbox::Message& m) { addToBook(m); }));
    connect(messageWindow_.get(), &dialogs::TdlgMessage::read, this,
            reported([this](const inbox::Message& m) { read(m); }));
    connect(&form_, &TMainForm::sent, this, [this](const inbox::Message& m) { sent(m); });
    connect(&form_, &TMainForm::historyRequested, this, reported([this] { openHistory(); }));
}

Inbox::~Inbox() {
    // The history window reads the history, which goes with this.
    delete historyWindow_.data();
}

void Inbox::start() {
    try {
        history_ = std::make_unique<inbox::History>(historyPath_);
    } catch (const inbox::HistoryError& error) {
        report(tr("无法打开消息记录，不接收消息：") + QString::fromStdString(error.what()));
        updateTray();
        return;
    }
    if (history_->outcome().kind == inbox::OpenOutcome::Kind::KeptAside)
        platform_.messages->show(&form_, tr("消息记录已损坏，原文件已另存为 %1，"
                                            "现已新建消息记录。")
                                             .arg(history_->outcome().keptAsidePath));
    // A computer in the book keeps one conversation, whichever of its names its messages are sent
    // under (Windows and smbclient send the user's name): received messages file under its id, as
    // the ones sent to it do. A sender the book does not vouch for files under its address, so
    // that a claimed name never slips into a contact's conversation.
    connection_ = std::make_unique<inbox::SessionConnection>([this](const inbox::Message& m) {
        inbox::Message filed = m;
        filed.peer = attribute(form_.XMLDoc(), claimedName(m), m.address).conversation;
        return keep(filed);
    });
    connect(connection_.get(), &inbox::SessionConnection::arrived, this,
            reported([this](const inbox::Message& m) { arrived(m); }));
    connect(connection_.get(), &inbox::SessionConnection::statusChanged, this,
            [this] { updateTray(); });
    connect(connection_.get(), &inbox::SessionConnection::problem, this,
            [](const QString& text) { qWarning("inbox: %s", qPrintable(text)); });
    // Messages left unread when the program last ended wait in the window again.
    for (const inbox::Message& m : history_->unread())
        messageWindow_->append(m);
    connection_->start();
    updateTray();
}

int Inbox::unreadCount() const {
    return history_ ? history_->unreadCount() : 0;
}

QString Inbox::trayTip() const {
    // A history that cannot be written stops receiving as surely as a missing lanquilld:
    // messages stay in lanquilld's spool, unacknowledged, until a write succeeds.
    QString tip = QStringLiteral("Lanquill\n") +
                  (!connection_ ? tr("接收消息已关闭：无法打开消息记录")
                   : !historyProblem_.isEmpty() ? tr("消息记录无法写入：") + historyProblem_
                                                : receiverText(connection_->status()));
    if (const int unread = unreadCount(); unread > 0)
        tip += tr("\n%n 条未读消息", nullptr, unread);
    return tip;
}

bool Inbox::keep(const inbox::Message& message) {
    try {
        const bool added = history_->add(message);
        if (!historyProblem_.isEmpty()) {
            historyProblem_.clear();
            updateTray();
        }
        return added;
    } catch (const inbox::HistoryError& error) {
        historyProblem_ = error.reason();
        updateTray();
        throw;
    }
}

void Inbox::updateTray() {
    platform_.tray->update(unreadCount() > 0 ? unreadIcon() : widgets::programIcon(), trayTip());
}

void Inbox::arrived(const inbox::Message& message) {
    messageWindow_->append(message);
    const dialogs::SenderView sender = describe(message);
    const QString id = message.id;
    platform_.notifications->notify(
        sender.text, message.text,
        [window = QPointer<dialogs::TdlgMessage>(messageWindow_.get()), id] {
            if (window)
                window->showMessage(id);
        });
    updateTray();
    if (historyWindow_)
        historyWindow_->reload();
}

void Inbox::read(const inbox::Message& message) {
    if (history_ && message.unread) {
        history_->markRead(message.id);
        updateTray();
    }
}

void Inbox::sent(const inbox::Message& message) {
    if (message.delivered)
        platform_.tray->showMessage(QStringLiteral("Lanquill"),
                                    message.kind == inbox::Kind::Workgroup
                                        ? tr("已广播到 ") + message.peer
                                        : tr("已发送给 ") + message.peer);
    if (history_)
        desktop::runReported([&] { keep(message); });
    if (historyWindow_)
        historyWindow_->reload();
}

dialogs::SenderView Inbox::describe(const inbox::Message& message) const {
    const Sender sender = attribute(form_.XMLDoc(), claimedName(message), message.address);
    // Adding a sender whose name is already a computer of the book would give that id twice; the
    // contact's details are where its address is put right.
    return {sender.shown, sender.entry.has_value() || sender.nameInBook};
}

void Inbox::reply(const inbox::Message& message) {
    const Sender sender = attribute(form_.XMLDoc(), claimedName(message), message.address);
    if (sender.entry)
        form_.openSendDialog(QString::fromStdString(sender.entry->group),
                             QString::fromStdString(sender.entry->computer), message.address);
    else
        // To the address it came from: looking up the claimed name could find another host, the
        // one whose name was claimed. The reply files in the address's conversation too.
        form_.openSendDialog(QString(), message.address, message.address);
}

void Inbox::addToBook(const inbox::Message& message) {
    const QString group = form_.activeGroup();
    if (group.isEmpty())
        return;
    const std::string name = claimedName(message).toStdString();
    std::optional<std::string> stored; // the sender's entry in that workgroup, in any case
    contacts::editBook(form_.XMLDoc(), form_.ConfigPath(), [&](contacts::XmlDocument& book) {
        stored = contacts::ComputerInGroup(book, group.toStdString(), name);
        if (stored)
            return;
        contacts::AddComputer(book, group.toStdString(), name, name, "",
                              message.address.toStdString(), "");
        book.save(form_.ConfigPath());
    });
    form_.LoadXMLFile(form_.ConfigPath());
    if (stored)
        form_.computerAlreadyInGroup(messageWindow_.get(), group.toStdString(), *stored);
    messageWindow_->refreshSender();
}

void Inbox::openHistory() {
    if (!history_)
        return;
    if (!historyWindow_) {
        historyWindow_ = new dialogs::TdlgHistory(*history_, nullptr);
        historyWindow_->setAttribute(Qt::WA_DeleteOnClose);
    }
    historyWindow_->show();
    historyWindow_->raise();
    historyWindow_->activateWindow();
}

void Inbox::report(const QString& text) {
    if (text == lastReported_)
        return;
    lastReported_ = text;
    platform_.messages->show(&form_, text);
}

} // namespace lanquill::app
