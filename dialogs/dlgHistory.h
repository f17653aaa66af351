// The history window: conversations by computer, each in time order; a search through every
// message's text; deleting a conversation.
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

private:
    void showConversation();
    void showMessages(const std::vector<inbox::Message>& messages, bool withPeer);

    inbox::History& history_;
    std::unique_ptr<Ui::dlgHistory> ui_;
};

} // namespace lanquill::dialogs
