#include "dialogs/dlgAddGroup.h"

#include "contacts/XMLFile.h"
#include "desktop/ErrorReport.h"
#include "dialogs/FixedDialog.h"
#include "dialogs/WaitCursor.h"
#include "net/Lookups.h"
#include "ui_dlgAddGroup.h"
#include "widgets/Artwork.h"

#include <QListWidgetItem>

namespace lanquill::dialogs {

using desktop::reported;

TdlgAddNewGroup::TdlgAddNewGroup(MainWindowServices& main, QWidget* owner)
    : QDialog(owner), main_(main), ui_(std::make_unique<Ui::dlgAddGroup>()) {
    ui_->setupUi(this);
    setUpFixedDialog(*this);
    ui_->Image1->setPixmap(widgets::menuPixmap(2, 32));
    // FormCreate: the dialog's own neighbourhood reader.
    netUsers_ = new net::TNetUsers(*main.platform().network, *main.platform().system, this);

    connect(ui_->OKBtn, &QPushButton::clicked, this, [this](bool) {
        // OK closes the dialog with OK also when writing the group fails: the main window then
        // reloads the book from the file.
        desktop::runReported([this] { OKBtnClick(); });
        accept();
    });
    connect(ui_->CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
    connect(ui_->cbGroupName, &QComboBox::currentTextChanged, this,
            reported([this](const QString&) { cbGroupNameChange(); }));
    connect(ui_->cbSelectAll, &QCheckBox::clicked, this,
            reported([this](bool) { cbSelectAllClick(); }));
}

TdlgAddNewGroup::~TdlgAddNewGroup() = default;

void TdlgAddNewGroup::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!shown_) {
        shown_ = true;
        desktop::runReported([this] { FormShow(); });
    }
}

void TdlgAddNewGroup::FormShow() {
    {
        WaitCursor wait;
        netUsers_->EnumGroups();
    }
    // Filling the list must not pick an entry: the text stays what the user has (empty).
    const QSignalBlocker quiet(ui_->cbGroupName);
    const QString text = ui_->cbGroupName->currentText();
    for (const std::string& name : netUsers_->Names())
        ui_->cbGroupName->addItem(QString::fromStdString(name));
    ui_->cbGroupName->setCurrentIndex(-1);
    ui_->cbGroupName->setEditText(text);
}

void TdlgAddNewGroup::cbGroupNameChange() {
    WaitCursor wait;
    ui_->clbComputer->clear();
    netUsers_->setServer(ui_->cbGroupName->currentText().toStdString());
    netUsers_->Execute();
    for (const std::string& name : netUsers_->Names()) {
        auto* line = new QListWidgetItem(QString::fromStdString(name), ui_->clbComputer);
        line->setFlags(line->flags() | Qt::ItemIsUserCheckable);
        line->setCheckState(Qt::Unchecked);
    }
}

void TdlgAddNewGroup::cbSelectAllClick() {
    const Qt::CheckState state = ui_->cbSelectAll->isChecked() ? Qt::Checked : Qt::Unchecked;
    for (int i = 0; i < ui_->clbComputer->count(); ++i)
        ui_->clbComputer->item(i)->setCheckState(state);
}

void TdlgAddNewGroup::OKBtnClick() {
    AddNewGroup(ui_->cbGroupName->currentText().toStdString());
}

namespace {

// The same limit the book's other writers keep: a name the book would refuse later (on every
// edit of the entry) is refused now, before anything changes.
void checkIdLength(const std::string& id, const char* what) {
    if (id.size() > contacts::kMaxIdBytes)
        throw contacts::XmlError(std::string(what) + " is too long (" + std::to_string(id.size()) +
                                 " bytes; at most " + std::to_string(contacts::kMaxIdBytes) + ")");
}

} // namespace

void TdlgAddNewGroup::AddNewGroup(const std::string& GroupName) {
    checkIdLength(GroupName, "The workgroup name");
    for (int i = 0; i < ui_->clbComputer->count(); ++i) {
        const QListWidgetItem* line = ui_->clbComputer->item(i);
        if (line->checkState() == Qt::Checked)
            checkIdLength(line->text().toStdString(), "The computer name");
    }
    contacts::XmlDocument& doc = main_.XMLDoc();
    contacts::XmlNode root = doc.documentElement();
    contacts::XmlNode target;
    // Both sides folded, as every other id match is: typing office finds the group OFFICE.
    const contacts::XmlNodeList groups = root.childNodes();
    for (int i = 0; i < groups.length() && !target; ++i) {
        if (contacts::idsMatch(groups.item(i).getAttribute("id"), GroupName))
            target = groups.item(i);
    }
    if (!target) {
        target = doc.createElement("group");
        target.setAttribute("id", GroupName);
        root.appendChild(target);
    }
    platform::Resolver& resolver = *main_.platform().resolver;
    for (int i = 0; i < ui_->clbComputer->count(); ++i) {
        const QListWidgetItem* line = ui_->clbComputer->item(i);
        if (line->checkState() != Qt::Checked)
            continue;
        const std::string name = line->text().toStdString();
        contacts::XmlNode computer = doc.createElement("computer");
        computer.setAttribute("id", name);
        target.appendChild(computer);
        auto field = [&](const char* element, const std::string& text) {
            contacts::XmlNode node = doc.createElement(element);
            computer.appendChild(node);
            node.setText(text);
        };
        field("ComputerName", name);
        field("UserName", "");
        field("IpAddress", net::HostNameToIP(resolver, name).text);
        field("Memo", "");
    }
    doc.save(main_.ConfigPath());
}

} // namespace lanquill::dialogs
