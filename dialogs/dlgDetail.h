// The send-message dialog: a short pop-up message to one computer, or to a whole workgroup.
#pragma once

#include "dialogs/MainWindowServices.h"

#include <QDialog>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Ui {
class dlgDetail;
}

namespace lanquill::dialogs {

inline constexpr auto GroupMessageMarker =
    QT_TRANSLATE_NOOP("lanquill::dialogs::TdlgSendMessage", "群体消息");

// Delivers Text to ToName (a messenger name or dotted address). FromName empty means the default
// sender name. 0 when the receiver accepted the message, an error code otherwise.
std::uint32_t SendNetMessage(platform::Messenger& messenger, const std::string& ToName,
                             const std::string& FromName, const std::string& Text);

// Why a message was not delivered, in a sentence of its own, from a non-zero result code.
QString sendFailureReason(std::uint32_t code);

class TdlgSendMessage : public QDialog {
    Q_OBJECT

public:
    enum class Mode { Computer, Group };

    TdlgSendMessage(MainWindowServices& main, QWidget* owner);
    ~TdlgSendMessage() override;

    // Group mode: the message goes to every computer of `workgroup`; `members` (the book's
    // computers of it) are reached by name too where the broadcast does not go.
    void setGroupMode(const QString& workgroup, const std::vector<std::string>& members = {});
    // Computer mode, filled from the contact book and a fresh lookup of the name.
    void setComputerMode(const QString& group, const QString& computerName, const QString& userName,
                         const QString& address, bool online);
    Mode mode() const { return mode_; }

    // The memo's text with its lines joined by CR LF, as the receivers show it.
    std::string messageText() const;

    // Whether the memo holds more than blanks and line breaks; 发送 is enabled only then.
    bool hasText() const;

    // Delivers the message (nothing without text); true when it went out (the dialog then closes
    // with OK). Any failure shows "无法发送！" with the reason on a second line and keeps the
    // dialog with the typed text.
    bool OKBtnClick();
    void sbtnOffLineClick();

    Ui::dlgDetail& ui() { return *ui_; }

private:
    // Empty when the message went out, else why not; may throw when a layer below fails
    // unexpectedly.
    QString sendMessage();
    // The broadcast to the workgroup (and its members by name), and the message to each of its
    // Windows desktops; failures of the latter are listed, the broadcast having gone out.
    QString sendToGroup();
    // What lanquill-net is given for a Windows desktop of the book: its address, else its name.
    std::string windowsAddress(const std::string& workgroup, const std::string& computer);

    MainWindowServices& main_;
    std::unique_ptr<Ui::dlgDetail> ui_;
    Mode mode_ = Mode::Computer;
    std::vector<std::string> members_;
    QString openedAddress_; // the recipient the dialog was opened with, before any edit
};

} // namespace lanquill::dialogs
