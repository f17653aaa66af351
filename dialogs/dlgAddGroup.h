// The add-group dialog: a workgroup from the network neighbourhood (or typed), the computers of
// it the user ticks, written into the contact book with their addresses.
#pragma once

#include "dialogs/MainWindowServices.h"
#include "net/NetUsers.h"

#include <QDialog>
#include <QThread>
#include <QTimer>

#include <memory>
#include <string>
#include <vector>

namespace Ui {
class dlgAddGroup;
}

namespace lanquill::dialogs {

class TdlgAddNewGroup : public QDialog {
    Q_OBJECT

public:
    TdlgAddNewGroup(MainWindowServices& main, QWidget* owner);
    ~TdlgAddNewGroup() override;

    // How long typing must pause before the computers of the typed workgroup are listed.
    static constexpr int ListingPauseMs = 300;

    void FormShow();
    // Starts listing the computers of the workgroup in the box; the lines come when it ends,
    // unless the text has changed since.
    void cbGroupNameChange();
    void cbSelectAllClick();
    void OKBtnClick();
    void AddNewGroup(const std::string& GroupName);

    net::TNetUsers& netUsers() { return *netUsers_; }
    Ui::dlgAddGroup& ui() { return *ui_; }
    // The ticked computers the workgroup already held, as stored there, after OK.
    const std::vector<std::string>& alreadyInBook() const { return alreadyInBook_; }
    const std::string& groupAdded() const { return groupAdded_; }
    // True while a listing waits for the typing to pause or for the network.
    bool listingPending() const { return pauseTimer_.isActive() || listing_ != nullptr; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    struct ComputerListing;
    void listingFinished(const ComputerListing& listing, unsigned generation);

    MainWindowServices& main_;
    std::unique_ptr<Ui::dlgAddGroup> ui_;
    net::TNetUsers* netUsers_ = nullptr; // owned by the dialog, as a child object
    bool shown_ = false;
    QTimer pauseTimer_;
    QThread* listing_ = nullptr;  // the listing under way, if any
    unsigned textGeneration_ = 0; // counts the edits of the workgroup text
    bool relistWhenDone_ = false;
    std::vector<std::string> alreadyInBook_;
    std::string groupAdded_;
};

} // namespace lanquill::dialogs
