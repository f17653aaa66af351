// The computer detail dialog: the contact-book entry, the adapter address and what node-status
// replies tell of the computer; the user name and the note can be edited and saved.
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

    // Writes the user name, address and note back into the contact book (and saves it).
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

    MainWindowServices& main_;
    std::unique_ptr<Ui::dlgUserDetail> ui_;
    bool writesBack_ = true;
    bool shown_ = false;
    std::string awaitedReply_; // dotted address of the query not yet answered; empty: none
};

} // namespace lanquill::dialogs
