// The main window's commands that open dialogs.
#include "app/frmMain.h"

namespace lanquill::app {

void TMainForm::pMnuAddGroupClick() {}

void TMainForm::N2Click() {}

void TMainForm::Image1Click() {}

void TMainForm::OutlookBarOutlookListItemClick(widgets::TfcOutlookList*,
                                               widgets::TfcOutlookListItem*) {}

} // namespace lanquill::app
