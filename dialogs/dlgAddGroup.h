// The add-group dialog: a workgroup from the network neighbourhood (or typed), the computers of
// it the user ticks, written into the contact book with their addresses.
#pragma once

#include "dialogs/MainWindowServices.h"
#include "net/NetUsers.h"

#include <QDialog>

#include <memory>
#include <string>

namespace Ui {
class dlgAddGroup;
}

namespace lanquill::dialogs {

class TdlgAddNewGroup : public QDialog {
    Q_OBJECT

public:
    TdlgAddNewGroup(MainWindowServices& main, QWidget* owner);
    ~TdlgAddNewGroup() override;

    void FormShow();
    void cbGroupNameChange();
    void cbSelectAllClick();
    void OKBtnClick();
    void AddNewGroup(const std::string& GroupName);

    net::TNetUsers& netUsers() { return *netUsers_; }
    Ui::dlgAddGroup& ui() { return *ui_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    MainWindowServices& main_;
    std::unique_ptr<Ui::dlgAddGroup> ui_;
    net::TNetUsers* netUsers_ = nullptr; // owned by the dialog, as a child object
    bool shown_ = false;
};

} // namespace lanquill::dialogs
