#include "dialogs/dlgAddGroup.h"

#include "contacts/BookEdit.h"
#include "contacts/XMLFile.h"
#include "desktop/ErrorReport.h"
#include "desktop/OffGuiThread.h"
#include "dialogs/FixedDialog.h"
#include "net/Lookups.h"
#include "ui_dlgAddGroup.h"
#include "widgets/Artwork.h"

#include <QApplication>
#include <QListWidgetItem>
#include <QThread>

#include <exception>

namespace lanquill::dialogs {

using desktop::reported;

struct TdlgAddNewGroup::ComputerListing {
    std::string server;
    std::vector<std::string> names;
    std::exception_ptr error;
};

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
    // The computers are listed once typing pauses: a listing per keystroke would keep the
    // network busy with names nobody wants, and each can take seconds.
    pauseTimer_.setSingleShot(true);
    pauseTimer_.setInterval(ListingPauseMs);
    connect(&pauseTimer_, &QTimer::timeout, this,
            [this] { desktop::runReported([this] { cbGroupNameChange(); }); });
    connect(ui_->cbGroupName, &QComboBox::currentTextChanged, this, [this](const QString&) {
        ++textGeneration_; // whatever is being listed now is for an older text
        ui_->clbComputer->clear();
        pauseTimer_.start();
    });
    connect(ui_->cbSelectAll, &QCheckBox::clicked, this,
            reported([this](bool) { cbSelectAllClick(); }));
    // What the user types first is the workgroup's name.
    ui_->cbGroupName->setFocus();
}

TdlgAddNewGroup::~TdlgAddNewGroup() {
    // A listing still under way uses the program's network layer: it ends (within its deadline)
    // before the dialog is gone, with the windows drawn meanwhile.
    if (QThread* thread = listing_) {
        disconnect(thread, nullptr, this, nullptr);
        desktop::runWithoutFreezing([thread] { thread->wait(); });
        delete thread;
        QApplication::restoreOverrideCursor();
    }
}

void TdlgAddNewGroup::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!shown_) {
        shown_ = true;
        // The listing waits for the network: it starts once the dialog runs, drawn.
        QTimer::singleShot(0, this, reported([this] { FormShow(); }));
    }
}

void TdlgAddNewGroup::FormShow() {
    desktop::withoutFreezing([this] { netUsers_->EnumGroups(); });
    // Filling the list must not pick an entry: the text stays what the user has (empty).
    const QSignalBlocker quiet(ui_->cbGroupName);
    const QString text = ui_->cbGroupName->currentText();
    for (const std::string& name : netUsers_->Names())
        ui_->cbGroupName->addItem(QString::fromStdString(name));
    ui_->cbGroupName->setCurrentIndex(-1);
    ui_->cbGroupName->setEditText(text);
}

void TdlgAddNewGroup::cbGroupNameChange() {
    ui_->clbComputer->clear();
    if (listing_ != nullptr) {
        // One listing at a time: the one under way is for an older text and is dropped.
        relistWhenDone_ = true;
        return;
    }
    auto listing = std::make_shared<ComputerListing>();
    listing->server = ui_->cbGroupName->currentText().toStdString();
    platform::NetworkEnumerator& network = *main_.platform().network;
    platform::SystemInfo& system = *main_.platform().system;
    QThread* thread = QThread::create([listing, &network, &system] {
        try {
            net::TNetUsers users(network, system);
            users.setServer(listing->server);
            users.Execute();
            listing->names = users.Names();
        } catch (...) {
            listing->error = std::current_exception();
        }
    });
    const unsigned generation = textGeneration_;
    connect(thread, &QThread::finished, this, [this, listing, generation] {
        desktop::runReported([&] { listingFinished(*listing, generation); });
    });
    listing_ = thread;
    // Input is not held back while the network answers: typing on makes this listing stale.
    QApplication::setOverrideCursor(Qt::BusyCursor);
    thread->start();
}

void TdlgAddNewGroup::listingFinished(const ComputerListing& listing, unsigned generation) {
    listing_->wait(); // `finished` comes just before the thread's very end
    delete listing_;
    listing_ = nullptr;
    QApplication::restoreOverrideCursor();
    if (relistWhenDone_) {
        relistWhenDone_ = false;
        cbGroupNameChange();
    }
    if (generation != textGeneration_)
        return; // the text has changed since: these lines belong to no text on show
    if (listing.error)
        std::rethrow_exception(listing.error);
    // In the order the neighbourhood gives, which ignores case (the list's own sorting would not).
    for (const std::string& name : listing.names) {
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

void TdlgAddNewGroup::AddNewGroup(const std::string& GroupName) {
    // Every id is checked before anything changes: a name the book would refuse later (on every
    // edit of the entry) is refused now.
    std::vector<std::string> ticked;
    for (int i = 0; i < ui_->clbComputer->count(); ++i) {
        const QListWidgetItem* line = ui_->clbComputer->item(i);
        if (line->checkState() == Qt::Checked)
            ticked.push_back(line->text().toStdString());
    }
    contacts::checkLength(GroupName, contacts::kMaxIdBytes, contacts::BookField::GroupName);
    for (const std::string& name : ticked)
        contacts::checkLength(name, contacts::kMaxIdBytes, contacts::BookField::ComputerName);
    // The names are resolved before the book is locked: a lookup may take seconds.
    platform::Resolver& resolver = *main_.platform().resolver;
    const std::vector<net::Lookup> addresses =
        desktop::withoutFreezing([&] { return net::HostNamesToIPs(resolver, ticked); });
    // A computer the workgroup already holds, in whatever case, keeps its one entry (with the
    // user name and note given it); the user is told which were left out.
    contacts::editBook(main_.XMLDoc(), main_.ConfigPath(), [&](contacts::XmlDocument& book) {
        alreadyInBook_.clear();
        groupAdded_ = contacts::AddGroup(book, GroupName).getAttribute("id");
        for (std::size_t i = 0; i < ticked.size(); ++i) {
            if (auto stored = contacts::ComputerInGroup(book, GroupName, ticked[i]))
                alreadyInBook_.push_back(std::move(*stored));
            else
                contacts::AddComputer(book, GroupName, ticked[i], ticked[i], "", addresses[i].text,
                                      "");
        }
        book.save(main_.ConfigPath());
    });
    if (!alreadyInBook_.empty())
        main_.platform().messages->show(
            this, MainWindowServices::alreadyInGroupText(groupAdded_, alreadyInBook_));
}

} // namespace lanquill::dialogs
