// The message window: received messages one at a time, with the sender as the contact book
// knows it, and the ways to answer: reply, next and previous, add the sender to the book.
#pragma once

#include "inbox/Message.h"

#include <QDialog>

#include <functional>
#include <memory>
#include <vector>

namespace Ui {
class dlgMessage;
}

namespace lanquill::dialogs {

// The sender as shown: the book's entry when there is one, else the NetBIOS name and address.
struct SenderView {
    QString text;
    bool inBook = false;
};

class TdlgMessage : public QDialog {
    Q_OBJECT

public:
    using Describe = std::function<SenderView(const inbox::Message&)>;
    TdlgMessage(Describe describe, QWidget* owner);
    ~TdlgMessage() override;

    // Adds a message to the ones the window steps through, and brings the window forward
    // without taking the keyboard focus from whatever the user is typing in.
    void append(const inbox::Message& message);
    // Shows the message of that id (from a notification), taking the focus as a click does.
    void showMessage(const QString& id);

    int count() const { return static_cast<int>(messages_.size()); }
    int current() const { return current_; }
    const inbox::Message& currentMessage() const { return messages_.at(std::size_t(current_)); }
    // After the book changed: the sender's line and the add button again.
    void refreshSender();

    Ui::dlgMessage& ui() { return *ui_; }

Q_SIGNALS:
    void replyClicked(const lanquill::inbox::Message& message);
    void addToBookClicked(const lanquill::inbox::Message& message);
    // The user has seen the message and moved on (closed the window): it is read.
    void read(const lanquill::inbox::Message& message);

private:
    void showMessage(int index);
    // Moves the window, about to be shown, off `busy` (a dialog the user is working in).
    void placeClearOf(const QWidget* busy);
    void closeWindow();

    Describe describe_;
    std::unique_ptr<Ui::dlgMessage> ui_;
    std::vector<inbox::Message> messages_;
    std::vector<bool> seen_;
    int current_ = -1;
};

QString kindText(inbox::Kind kind);

} // namespace lanquill::dialogs
