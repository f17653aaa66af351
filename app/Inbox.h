// The inbox as the user meets it: messages from lanquilld stored in the history, shown in the
// message window and as desktop notifications, counted on the tray icon; sent messages stored
// too, with a short note at the tray. A received message is unread until it has been on screen,
// in the message window or the history window; the tray counts what the history holds unread.
#pragma once

#include "contacts/XmlDocument.h"
#include "desktop/Desktop.h"
#include "dialogs/dlgMessage.h"
#include "inbox/History.h"
#include "inbox/SessionConnection.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>

#include <map>
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

// Who a received message is from, as far as this computer can tell. A sender's name is only a
// claim (any host can put any name in a datagram or an SMB request); the address a session came
// from is what the receiver saw. The book vouches for a sender when one of its computers has that
// address and the claimed name is the computer's id, computer name or user name (ids fold a..z to
// A..Z). A datagram's source address is written by its sender: it vouches for nobody.
struct Sender {
    std::optional<BookEntry> entry; // the computer that vouches for the sender
    dialogs::SenderView view;       // as the windows and notifications show it
    QString conversation;           // the history's key: the computer's id, else the address
    bool nameInBook = false;        // the claimed name is a computer id of the book
};
Sender attribute(const contacts::XmlDocument& book, const QString& claimed, const QString& address,
                 bool datagram = false);

class Inbox : public QObject {
    Q_OBJECT

public:
    Inbox(TMainForm& form, const desktop::Platform& platform,
          QString historyPath = inbox::History::defaultPath(),
          QString settingsPath = defaultSettingsPath());
    ~Inbox() override;

    // The program's own settings (beside the contact book, which is the user's data).
    static QString defaultSettingsPath();

    // Opens the history (telling the user when an unusable one was put aside) and connects to
    // lanquilld. Without a history nothing is received: lanquilld then keeps the messages. Once:
    // a later call does nothing.
    void start();

    // Notifications and their sound for arriving messages; kept in the settings.
    bool alertsOn() const;
    void setAlertsOn(bool on);
    QAction* alertsAction() { return alertsAction_; }
    // Messages from one sender less than this apart share one notification.
    static constexpr int BurstGapMs = 5000;

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
    void readInHistory();
    void alert(const inbox::Message& message, const Sender& attributed);
    void openMessage(const QString& id);
    void updateTray();
    // Stores a message; the tray says so while the history cannot be written.
    bool keep(const inbox::Message& message);
    // Who sent `message`. The filing, the message window and the notification of one arrival
    // ask in turn; the answer is kept for the latest message asked about while the book stays
    // as it was, so that a message is attributed once.
    const Sender& senderOf(const inbox::Message& message) const;
    static dialogs::SenderView shown(const Sender& sender);
    dialogs::SenderView describe(const inbox::Message& message) const;
    void report(const QString& text);

    TMainForm& form_;
    const desktop::Platform& platform_;
    QString historyPath_;
    QString settingsPath_;
    bool started_ = false;
    QAction* alertsAction_ = nullptr;
    // The notification of a sender's latest burst: how many it counts, since when the last.
    struct Burst {
        int serial = 0; // which of the sender's bursts: a later one is a notification of its own
        int count = 0;
        QString firstId;
        QElapsedTimer last;
    };
    std::map<QString, Burst> bursts_; // by conversation
    std::unique_ptr<inbox::History> history_;
    std::unique_ptr<inbox::SessionConnection> connection_;
    std::unique_ptr<dialogs::TdlgMessage> messageWindow_;
    QPointer<dialogs::TdlgHistory> historyWindow_;
    struct Attributed {
        QString id, claimed, address;
        bool datagram = false;
        const contacts::XmlDocument* book = nullptr;
        std::uint64_t generation = 0;
        Sender sender;
    };
    mutable std::optional<Attributed> attributed_;
    QString lastReported_;
    QString historyProblem_; // why the last write to the history failed; empty once one succeeds
    desktop::Subscription trayPress_;
};

} // namespace lanquill::app
