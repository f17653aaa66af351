// The history window: conversations by computer, each in time order; a search through every
// message's text; deleting a conversation. Unread messages are marked; once on screen here they
// are read.
#pragma once

#include "inbox/History.h"

#include <QDialog>

#include <memory>

namespace Ui {
class dlgHistory;
}

namespace lanquill::dialogs {

class TdlgHistory : public QDialog {
    Q_OBJECT

public:
    TdlgHistory(inbox::History& history, QWidget* owner);
    ~TdlgHistory() override;

    // Lists the conversations again (after a message came or went) and shows the chosen one.
    void reload();
    // Shows every message whose text holds `word`.
    void search(const QString& word);
    void deleteConversation();

    Ui::dlgHistory& ui() { return *ui_; }

Q_SIGNALS:
    // Messages shown here were unread and are read now.
    void messagesRead();

protected:
    void showEvent(QShowEvent* event) override;

private:
    // Reads the unread messages on screen; the marks stay in the text until it is shown again.
    void readShown();
    void labelConversations();
    void showConversation();
    void showMessages(const std::vector<inbox::Message>& messages, bool withPeer);

    inbox::History& history_;
    std::unique_ptr<Ui::dlgHistory> ui_;
    std::vector<QString> unreadShown_; // ids of the unread messages in the text
};

} // namespace lanquill::dialogs
