// The computer detail dialog: the contact-book entry, the adapter address and what node-status
// replies tell of the computer; the user name and the note can be edited and saved. Its third
// page marks the computer as a Windows 10/11 desktop sent to with an administrator's account.
#pragma once

#include "dialogs/MainWindowServices.h"

#include <QDialog>

#include <memory>
#include <string>

namespace Ui {
class dlgUserDetail;
}

namespace lanquill::dialogs {

class TdlgUserDetailInfo : public QDialog {
    Q_OBJECT

public:
    TdlgUserDetailInfo(MainWindowServices& main, QWidget* owner);
    ~TdlgUserDetailInfo() override;

    // OK becomes "添加" and writes nothing back: the opener adds a new entry from the fields.
    void offerToAdd();

    // Writes the user name, address and note back into the contact book (and saves it), and the
    // Windows mark into its own file, a typed password into the keyring. Throws when any fails
    // (an invalid account before anything is written).
    void OKBtnClick();
    // Sends a node-status query to the shown address; the answer shows when it arrives.
    void BitBtnRefreshClick();

    Ui::dlgUserDetail& ui() { return *ui_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    // Sends the node-status query to the shown address; false when it could not go out.
    bool askNodeStatus();
    // A node-status reply has been decoded: shown when it answers the last question.
    void nodeStatusArrived();
    // Fills the Windows page from the marks file; the page goes when the computer is not in
    // the book or marks are not kept.
    void loadWindowsMark();
    // Throws when the page is marked with an account lanquill-net would refuse.
    void checkWindowsAccount() const;
    void saveWindowsMark();
    void updateWindowsFields();

    MainWindowServices& main_;
    std::unique_ptr<Ui::dlgUserDetail> ui_;
    bool writesBack_ = true;
    bool shown_ = false;
    std::string awaitedReply_;   // dotted address of the query not yet answered; empty: none
    bool windowsPage_ = false;   // the Windows page is offered and its file could be read
    std::string windowsAccount_; // the account the computer was marked with; empty: not marked
};

} // namespace lanquill::dialogs
