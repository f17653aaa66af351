// The find-computer dialog: looks one computer up by name or by address and, when the user
// confirms its details, adds it to the workgroup of the page the command came from.
#pragma once

#include "dialogs/MainWindowServices.h"

#include <QDialog>

#include <memory>
#include <string>

namespace Ui {
class FindComputer;
}

namespace lanquill::dialogs {

class TdlgFindComputer : public QDialog {
    Q_OBJECT

public:
    // `targetGroup`: the workgroup a found computer joins.
    TdlgFindComputer(MainWindowServices& main, std::string targetGroup, QWidget* owner);
    ~TdlgFindComputer() override;

    void OKBtnClick();

    Ui::FindComputer& ui() { return *ui_; }

Q_SIGNALS:
    // The detail dialog is about to be shown modally (for tests that drive it).
    void detailShown(QDialog* detail);

private:
    MainWindowServices& main_;
    std::string targetGroup_;
    std::unique_ptr<Ui::FindComputer> ui_;
};

} // namespace lanquill::dialogs
