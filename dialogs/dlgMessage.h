// The message window: received messages one at a time, with the sender as the contact book
// knows it, and the ways to answer: reply, next and previous, add the sender to the book.
#pragma once

#include "inbox/Message.h"

#include <QDialog>
#include <QSet>

#include <functional>
#include <memory>
#include <vector>

namespace Ui {
class dlgMessage;
}

namespace lanquill::dialogs {

// A name a sender gave, as it may be shown: control and format characters (bidirectional
// overrides among them) dropped, every run of white space (line breaks, ideographic spaces) one
// space. Whatever a sender writes then stays on one line and cannot push what follows it away.
QString displayName(const QString& name);

// The sender as shown: the book's user name and workgroup when the book vouches for it, else the
// name it gave, marked as not checked, and the address it came from.
struct SenderView {
    QString name;  // as displayName() gives it
    QString where; // vouched: the workgroup; else the address (empty in rows kept without one)
    bool vouched = false;
    bool inBook = false;
    // The sender's line with the name cut to `longestName` characters: what follows the name
    // (the workgroup or the address) is never cut.
    QString text(qsizetype longestName = LongestName) const;
    static constexpr qsizetype LongestName = 32;
};

// The window steps through the messages of the session that wait to be read, oldest first,
// and those it showed since it last closed. A message is read once it has been on screen (the
// window exposed with it as the current one); closing the window reads nothing more, and what it
// did not show waits for the next time it opens.
class TdlgMessage : public QDialog {
    Q_OBJECT

public:
    using Describe = std::function<SenderView(const inbox::Message&)>;
    TdlgMessage(Describe describe, QWidget* owner);
    ~TdlgMessage() override;

    // Adds a message to the ones the window steps through (once, whatever times it comes), and
    // brings the window forward without taking the keyboard focus from whatever the user is
    // typing in. A window that was closed opens at the oldest message waiting.
    void append(const inbox::Message& message);
    // The same for many at once (those left unread last time): one look at the sender and one
    // showing, however many they are. With `textLater` their texts are not in them: the text
    // source gives each when it is shown.
    void append(std::vector<inbox::Message> messages, bool textLater = false);
    void setTextSource(std::function<QString(const QString& id)> source) {
        textSource_ = std::move(source);
    }
    // Shows the message of that id (from a notification), taking the focus as a click does;
    // false when the window does not hold it.
    bool showMessage(const QString& id);
    // Shows the oldest message not yet on screen (the tray's click); false when none waits.
    bool showOldest();
    // Lets go of the waiting messages that `unread` no longer holds (read elsewhere); the one
    // on screen stays.
    void keepOnly(const QSet<QString>& unread);

    int count() const { return static_cast<int>(messages_.size()); }
    int current() const { return current_; }
    // Messages held that have not been on screen.
    int waiting() const;
    const inbox::Message& currentMessage() const { return messages_.at(std::size_t(current_)); }
    // After the book changed: the sender's line and the add button again.
    void refreshSender();

    Ui::dlgMessage& ui() { return *ui_; }

Q_SIGNALS:
    void replyClicked(const lanquill::inbox::Message& message);
    void addToBookClicked(const lanquill::inbox::Message& message);
    // The message is read: it has been on screen, or the user marked it read unseen.
    void read(const lanquill::inbox::Message& message);

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void display(int index);
    void rememberHeld();
    void updateSteps();
    int firstWaiting() const;
    // The current message is read once the window is on screen with it.
    void noteShown();
    void markAllRead();
    // Moves the window, about to be shown, off `busy` (a dialog the user is working in).
    void placeClearOf(const QWidget* busy);
    void closeWindow();

    Describe describe_;
    std::unique_ptr<Ui::dlgMessage> ui_;
    std::vector<inbox::Message> messages_;
    QSet<QString> held_;      // the ids of messages_
    QSet<QString> textLater_; // those whose text the source gives
    std::function<QString(const QString& id)> textSource_;
    std::vector<bool> seen_;
    int current_ = -1;
    int memoHeight_ = 0;
};

QString kindText(inbox::Kind kind);

} // namespace lanquill::dialogs
