#include "app/Inbox.h"

#include "app/frmMain.h"
#include "contacts/BookEdit.h"
#include "contacts/ContactBook.h"
#include "contacts/XMLFile.h"
#include "desktop/ErrorReport.h"
#include "dialogs/dlgHistory.h"
#include "widgets/Artwork.h"

#include <QAction>
#include <QCoreApplication>
#include <QMenu>
#include <QPainter>
#include <QScopeGuard>
#include <QSet>
#include <QSettings>
#include <QStandardPaths>

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

Sender attribute(const contacts::XmlDocument& book, const QString& claimed, const QString& address,
                 bool datagram) {
    const std::string name = claimed.toStdString();
    const contacts::ContactBook& model = book.model();
    // Only computers with the sender's address can vouch (usually none or one): a computer
    // without an address in the book vouches for nobody, its name alone being what any host can
    // claim, and a hand-written address counts as the same address when it reads as the same
    // four numbers. The book is searched in document order, so the first computer that vouches
    // is the one taken.
    Sender sender;
    sender.nameInBook = model.firstWithId(name).has_value();
    if (!datagram) {
        for (const contacts::BookPlace place : model.atAddress(address.toStdString())) {
            const contacts::BookComputer& computer = model.computer(place);
            const std::string computerName = computer.computerName.value_or(computer.id);
            const std::string userName = computer.userName.value_or(std::string());
            if (!(contacts::idsMatch(computer.id, name) || contacts::idsMatch(computerName, name) ||
                  (!userName.empty() && contacts::idsMatch(userName, name))))
                continue;
            const std::string& group = model.group(place.group).id;
            const QString user = QString::fromStdString(userName.empty() ? computer.id : userName);
            sender.entry = BookEntry{group, computer.id, userName};
            sender.view = {dialogs::displayName(user), QString::fromStdString(group), true};
            sender.conversation = QString::fromStdString(computer.id);
            return sender;
        }
    }
    sender.view = {dialogs::displayName(claimed), address, false};
    // Only rows kept before messages carried their address (lanquilld always gives one) file
    // under the name.
    sender.conversation = address.isEmpty() ? claimed : address;
    return sender;
}

namespace {

// The name a received message's sender gave (rows from before it was kept apart: the peer).
QString claimedName(const inbox::Message& message) {
    return message.sender.isEmpty() ? message.peer : message.sender;
}

} // namespace

namespace {

const auto AlertsKey = QStringLiteral("notifications/alerts");

// Puts `action` into `menu` right after `after` (at the end when `after` is not in it).
void insertAfter(QMenu* menu, QAction* after, QAction* action) {
    if (menu == nullptr)
        return;
    const QList<QAction*> actions = menu->actions();
    const qsizetype at = actions.indexOf(after);
    menu->insertAction(at >= 0 && at + 1 < actions.size() ? actions[at + 1] : nullptr, action);
}

} // namespace

QString Inbox::defaultSettingsPath() {
    return QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation) +
           QStringLiteral("/lanquill.conf");
}

Inbox::Inbox(TMainForm& form, const desktop::Platform& platform, QString historyPath,
             QString settingsPath)
    : form_(form), platform_(platform), historyPath_(std::move(historyPath)),
      settingsPath_(std::move(settingsPath)),
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

    // Beside 开机启动, in the tray's menu and the main window's: the user's switch for the
    // notifications and their sound (the message window still opens).
    alertsAction_ =
        new QAction(QCoreApplication::translate("lanquill::app::Inbox", "消息提醒"), this);
    alertsAction_->setObjectName(QStringLiteral("mnuAlerts"));
    alertsAction_->setCheckable(true);
    alertsAction_->setChecked(alertsOn());
    connect(alertsAction_, &QAction::triggered, this,
            reported([this](bool checked) { setAlertsOn(checked); }));
    insertAfter(form_.pMnuCallBack, form_.mnuAutoStart, alertsAction_);
    insertAfter(form_.PopupMenuMain, form_.mnuAutoStart, alertsAction_);
    // The file may have been changed outside the program since a menu last opened.
    for (QMenu* menu : {form_.pMnuCallBack, form_.PopupMenuMain}) {
        if (menu != nullptr)
            connect(menu, &QMenu::aboutToShow, this,
                    [this] { alertsAction_->setChecked(alertsOn()); });
    }
    // After the main window's own answer, which brings the window back.
    trayPress_ = platform_.tray->leftPress.add(reported([this] { messageWindow_->showOldest(); }));
}

Inbox::~Inbox() {
    // The history window reads the history, which goes with this.
    delete historyWindow_.data();
}

bool Inbox::alertsOn() const {
    return QSettings(settingsPath_, QSettings::IniFormat).value(AlertsKey, true).toBool();
}

void Inbox::setAlertsOn(bool on) {
    // The check mark shows the setting as it is, also when it could not be written.
    const auto showState = qScopeGuard([this] { alertsAction_->setChecked(alertsOn()); });
    QSettings settings(settingsPath_, QSettings::IniFormat);
    settings.setValue(AlertsKey, on);
    settings.sync();
    if (settings.status() != QSettings::NoError)
        throw std::runtime_error(
            QCoreApplication::translate("lanquill::app::Inbox", "消息提醒: cannot write %1")
                .arg(settingsPath_)
                .toStdString());
}

void Inbox::start() {
    if (started_)
        return;
    started_ = true;
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
        filed.peer = senderOf(m).conversation;
        return keep(filed);
    });
    connect(connection_.get(), &inbox::SessionConnection::arrived, this,
            reported([this](const inbox::Message& m) { arrived(m); }));
    connect(connection_.get(), &inbox::SessionConnection::statusChanged, this,
            [this] { updateTray(); });
    connect(connection_.get(), &inbox::SessionConnection::problem, this,
            [](const QString& text) { qWarning("inbox: %s", qPrintable(text)); });
    // Messages left unread when the program last ended wait in the window again.
    messageWindow_->setTextSource([this](const QString& id) {
        try {
            return history_->text(id);
        } catch (const inbox::HistoryError& error) {
            return tr("无法读取消息记录：") + error.reason();
        }
    });
    messageWindow_->append(history_->unreadWithoutText(), true);
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
    // As filed a moment ago; the window may attribute another message it shows meanwhile.
    const Sender sender = senderOf(message);
    messageWindow_->append(message);
    alert(message, sender);
    updateTray();
    if (historyWindow_)
        historyWindow_->reload();
}

void Inbox::alert(const inbox::Message& message, const Sender& attributed) {
    if (!alertsOn())
        return;
    // One notification for a sender's burst, counting it, and one sound: twenty messages in a
    // second would otherwise fill the screen.
    const QString& from = attributed.conversation;
    Burst& burst = bursts_[from];
    if (burst.count == 0 || burst.last.hasExpired(BurstGapMs)) {
        ++burst.serial;
        burst.count = 0;
        burst.firstId = message.id;
    }
    ++burst.count;
    burst.last.start();
    const dialogs::SenderView sender = shown(attributed);
    const QString summary =
        burst.count > 1
            ? sender.text() + QCoreApplication::translate("lanquill::app::Inbox", "（%n 条消息）",
                                                          nullptr, burst.count)
            : sender.text();
    platform_.notifications->notify(
        summary, message.text,
        [inbox = QPointer<Inbox>(this), first = burst.firstId] {
            if (inbox)
                inbox->openMessage(first);
        },
        {from + QLatin1Char('/') + QString::number(burst.serial), burst.count == 1});
}

void Inbox::openMessage(const QString& id) {
    // The first of the burst; when it has been read and let go, whatever waits; when nothing
    // does, the conversations, where the read ones are.
    if (!messageWindow_->showMessage(id) && !messageWindow_->showOldest())
        openHistory();
}

void Inbox::read(const inbox::Message& message) {
    if (history_ && message.unread) {
        history_->markRead(message.id);
        updateTray();
        if (historyWindow_)
            historyWindow_->reload();
    }
}

void Inbox::readInHistory() {
    updateTray();
    QSet<QString> unread;
    for (const inbox::Message& m : history_->unreadWithoutText())
        unread.insert(m.id);
    messageWindow_->keepOnly(unread);
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

const Sender& Inbox::senderOf(const inbox::Message& message) const {
    const contacts::XmlDocument& book = form_.XMLDoc();
    const QString claimed = claimedName(message);
    const bool same = attributed_ && attributed_->id == message.id &&
                      attributed_->claimed == claimed && attributed_->address == message.address &&
                      attributed_->datagram == message.datagram && attributed_->book == &book &&
                      attributed_->generation == book.generation();
    if (!same)
        attributed_ = Attributed{message.id,
                                 claimed,
                                 message.address,
                                 message.datagram,
                                 &book,
                                 book.generation(),
                                 attribute(book, claimed, message.address, message.datagram)};
    return attributed_->sender;
}

dialogs::SenderView Inbox::shown(const Sender& sender) {
    dialogs::SenderView view = sender.view;
    // Adding a sender whose name is already a computer of the book would give that id twice; the
    // contact's details are where its address is put right.
    view.inBook = sender.entry.has_value() || sender.nameInBook;
    return view;
}

dialogs::SenderView Inbox::describe(const inbox::Message& message) const {
    return shown(senderOf(message));
}

void Inbox::reply(const inbox::Message& message) {
    const Sender sender = senderOf(message);
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
        connect(historyWindow_.data(), &dialogs::TdlgHistory::messagesRead, this,
                reported([this] { readInHistory(); }));
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
