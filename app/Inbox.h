// The inbox as the user meets it: messages from lanquilld stored in the history, shown in the
// message window and as desktop notifications, counted on the tray icon; sent messages stored
// too, with a short note at the tray.
#pragma once

#include "contacts/XmlDocument.h"
#include "desktop/Desktop.h"
#include "dialogs/dlgMessage.h"
#include "inbox/History.h"
#include "inbox/SessionConnection.h"

#include <QObject>
#include <QPointer>

#include <memory>
#include <optional>

namespace lanquill::dialogs {
class TdlgHistory;
}

namespace lanquill::app {

class TMainForm;

// A computer of the contact book.
struct BookEntry {
    std::string group;
    std::string computer; // its id
    std::string userName;
};

// The book's entry for a computer known by its NetBIOS name or its dotted address.
std::optional<BookEntry> findInBook(const contacts::XmlDocument& book, const std::string& name,
                                    const std::string& address);

class Inbox : public QObject {
    Q_OBJECT

public:
    Inbox(TMainForm& form, const desktop::Platform& platform,
          QString historyPath = inbox::History::defaultPath());
    ~Inbox() override;

    // Opens the history (telling the user when an unusable one was put aside) and connects to
    // lanquilld. Without a history nothing is received: lanquilld then keeps the messages.
    void start();

    QString trayTip() const;
    int unreadCount() const;
    inbox::History* history() { return history_.get(); }
    inbox::SessionConnection* connection() { return connection_.get(); }
    dialogs::TdlgMessage& messageWindow() { return *messageWindow_; }
    void openHistory();

private:
    void arrived(const inbox::Message& message);
    void sent(const inbox::Message& message);
    void reply(const inbox::Message& message);
    void addToBook(const inbox::Message& message);
    void read(const inbox::Message& message);
    void updateTray();
    dialogs::SenderView describe(const inbox::Message& message) const;
    void report(const QString& text);

    TMainForm& form_;
    const desktop::Platform& platform_;
    QString historyPath_;
    std::unique_ptr<inbox::History> history_;
    std::unique_ptr<inbox::SessionConnection> connection_;
    std::unique_ptr<dialogs::TdlgMessage> messageWindow_;
    QPointer<dialogs::TdlgHistory> historyWindow_;
    QString lastReported_;
};

} // namespace lanquill::app
