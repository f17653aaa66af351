#include "dialogs/dlgHistory.h"

#include "desktop/ErrorReport.h"
#include "dialogs/FixedDialog.h"
#include "dialogs/dlgMessage.h"
#include "ui_dlgHistory.h"
#include "widgets/Artwork.h"

#include <map>

namespace lanquill::dialogs {

using desktop::reported;

TdlgHistory::TdlgHistory(inbox::History& history, QWidget* owner)
    : QDialog(owner), history_(history), ui_(std::make_unique<Ui::dlgHistory>()) {
    ui_->setupUi(this);
    setUpFixedDialog(*this, true, QStringLiteral("WenQuanYi Micro Hei"));
    setWindowIcon(widgets::programIcon());
    connect(ui_->lstConversations, &QListWidget::currentRowChanged, this,
            reported([this](int) { showConversation(); }));
    connect(ui_->btnSearch, &QPushButton::clicked, this,
            reported([this](bool) { search(ui_->edtSearch->text()); }));
    connect(ui_->btnDelete, &QPushButton::clicked, this,
            reported([this](bool) { deleteConversation(); }));
    connect(ui_->CancelBtn, &QPushButton::clicked, this, &QDialog::close);
    reload();
}

TdlgHistory::~TdlgHistory() = default;

namespace {

// The conversation an item of the list stands for; its text adds how many wait unread.
constexpr int PeerRole = Qt::UserRole;

} // namespace

void TdlgHistory::reload() {
    const QString chosen = ui_->lstConversations->currentItem()
                               ? ui_->lstConversations->currentItem()->data(PeerRole).toString()
                               : QString();
    QSignalBlocker quiet(ui_->lstConversations);
    ui_->lstConversations->clear();
    int row = 0;
    for (const inbox::Conversation& c : history_.conversations()) {
        if (c.peer == chosen)
            row = ui_->lstConversations->count();
        auto* item = new QListWidgetItem(ui_->lstConversations);
        item->setData(PeerRole, c.peer);
    }
    labelConversations();
    ui_->lstConversations->setCurrentRow(row);
    showConversation();
}

void TdlgHistory::labelConversations() {
    std::map<QString, int> unread;
    for (const inbox::Conversation& c : history_.conversations())
        unread[c.peer] = c.unread;
    for (int i = 0; i < ui_->lstConversations->count(); ++i) {
        QListWidgetItem* item = ui_->lstConversations->item(i);
        const QString peer = item->data(PeerRole).toString();
        const int count = unread[peer];
        item->setText(count > 0 ? peer + tr(" (%n 未读)", nullptr, count) : peer);
        QFont font = item->font();
        font.setBold(count > 0);
        item->setFont(font);
    }
}

void TdlgHistory::showConversation() {
    const QListWidgetItem* item = ui_->lstConversations->currentItem();
    ui_->btnDelete->setEnabled(item != nullptr);
    if (item == nullptr) {
        ui_->Memo1->clear();
        unreadShown_.clear();
        return;
    }
    showMessages(history_.conversation(item->data(PeerRole).toString()), false);
}

void TdlgHistory::search(const QString& word) {
    if (word.isEmpty()) {
        showConversation();
        return;
    }
    showMessages(history_.search(word), true);
}

void TdlgHistory::deleteConversation() {
    const QListWidgetItem* item = ui_->lstConversations->currentItem();
    if (item == nullptr)
        return;
    history_.deleteConversation(item->data(PeerRole).toString());
    reload();
    // Unread messages may have gone with it.
    Q_EMIT messagesRead();
}

void TdlgHistory::showMessages(const std::vector<inbox::Message>& messages, bool withPeer) {
    // One plain-text document built at once: quick for thousands of messages, and no text a
    // sender wrote is ever read as markup.
    QString text;
    unreadShown_.clear();
    for (const inbox::Message& m : messages) {
        text += m.time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss "));
        const bool received = m.direction == inbox::Direction::Received;
        text += received ? tr("收到") : tr("发出");
        if (withPeer)
            text += (received ? tr(" 来自 ") : tr(" 给 ")) + m.peer;
        text += QStringLiteral(" [") + kindText(m.kind) + QLatin1Char(']');
        if (!received && !m.delivered)
            text += tr(" (未送达)");
        if (received && m.unread) {
            text += tr(" (未读)");
            unreadShown_.push_back(m.id);
        }
        text += QLatin1Char('\n') + m.text + QStringLiteral("\n\n");
    }
    ui_->Memo1->setPlainText(text);
    ui_->Memo1->moveCursor(QTextCursor::End);
    readShown();
}

void TdlgHistory::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    readShown();
}

void TdlgHistory::readShown() {
    // Only what is on screen: the window also fills its text before it is first shown.
    if (!isVisible() || unreadShown_.empty())
        return;
    for (const QString& id : unreadShown_)
        history_.markRead(id);
    unreadShown_.clear();
    labelConversations();
    Q_EMIT messagesRead();
}

} // namespace lanquill::dialogs
