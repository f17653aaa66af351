// The connection to lanquilld's session socket: JSON lines in, acknowledgements out. A message is
// acknowledged only once the history holds it, so that nothing is lost when this program ends
// between the two; lanquilld resends what was not acknowledged, and the history keeps one copy.
#pragma once

#include "inbox/Message.h"
#include "protocol/SessionProtocol.h"

#include <QByteArray>
#include <QLocalSocket>
#include <QObject>
#include <QTimer>

#include <functional>
#include <optional>

namespace lanquill::inbox {

// Why receiving is on or off, as far as this program can tell.
enum class ReceiverState {
    Connecting,      // not known yet
    Receiving,       // lanquilld says it receives
    NotInstalled,    // no session socket and no lanquilld program
    NotRunning,      // lanquilld is installed but its socket does not answer
    Port139Held,     // lanquilld runs, but another server (Samba) holds port 139
    SpoolUnwritable, // lanquilld cannot keep what arrives, so it refuses it
    NameLost,        // another host on the LAN holds this computer's name: messages go there
    Unavailable,     // lanquilld runs and says it cannot receive, for the reason it gives
};

struct ReceiverStatus {
    ReceiverState state = ReceiverState::Connecting;
    QString reason; // lanquilld's own words, when it gave any
};

// The first line this program sends on every connection.
QByteArray helloLine();

// A message line of lanquilld as a received message, or nullopt with `problem` set when the line
// breaks the session protocol's rules for one (session::messageFromJson). Its peer and sender are
// the name the sender gave; where it is filed is for the inbox to decide.
std::optional<Message> parseMessageLine(const QByteArray& line, QString& problem);

class SessionConnection : public QObject {
    Q_OBJECT

public:
    // Stores a message; true when stored now, false when it was already stored. Throws when it
    // cannot be stored (the message is then not acknowledged).
    using Store = std::function<bool(const Message&)>;

    explicit SessionConnection(Store store, QObject* parent = nullptr);
    ~SessionConnection() override;

    // LANQUILL_SESSION_SOCKET when set, else lanquilld's system socket.
    static QString socketPath();
    // Whether the lanquilld program is on this computer (tells "not installed" from "not running").
    static bool receiverInstalled();
    void setInstalledCheck(std::function<bool()> check) { installed_ = std::move(check); }

    void start();
    const ReceiverStatus& status() const { return status_; }
    // The wait before the next connection attempt; it doubles after each failure up to a bound.
    int reconnectDelayMs() const { return delayMs_; }

    static constexpr int FirstDelayMs = 500;
    static constexpr int LongestDelayMs = 30000;
    static constexpr int LongestLine = static_cast<int>(protocol::session::LongestServerLine);

Q_SIGNALS:
    void statusChanged();
    // A message new to the history (a resent one that was stored before does not come again).
    void arrived(const lanquill::inbox::Message& message);
    // A line that could not be used or a message that could not be stored.
    void problem(const QString& text);

private:
    void connectNow();
    void connected();
    void disconnected();
    void readLines();
    void handleLine(const QByteArray& line);
    void setStatus(ReceiverState state, const QString& reason = {});
    void retryLater();

    Store store_;
    std::function<bool()> installed_ = &SessionConnection::receiverInstalled;
    QLocalSocket socket_;
    QTimer retry_;
    int delayMs_ = FirstDelayMs;
    ReceiverStatus status_;
};

} // namespace lanquill::inbox
