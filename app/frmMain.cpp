#include "app/frmMain.h"

#include "app/Autostart.h"
#include "app/GroupPresence.h"
#include "contacts/BookEdit.h"
#include "contacts/ContactBook.h"
#include "contacts/XMLFile.h"
#include "desktop/ErrorReport.h"
#include "net/LocalHost.h"
#include "protocol/Addresses.h"
#include "protocol/NetBios.h"
#include "ui_frmMain.h"
#include "widgets/Artwork.h"
#include "widgets/TfcOutlookBar.h"
#include "widgets/TfcOutlookList.h"
#include "widgets/TfcOutlookListItem.h"
#include "widgets/TfcOutlookPage.h"
#include "widgets/TfcShapeBtn.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFileInfo>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QScopeGuard>
#include <QScreen>
#include <QShortcut>
#include <QThread>
#include <QToolButton>

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace lanquill::app {

using desktop::reported;

namespace {

std::string toStd(const QString& text) {
    return text.toStdString();
}

QString fromStd(const std::string& text) {
    return QString::fromStdString(text);
}

// The colour a hot item is filled with: the classic desktop blue of the machines the program was
// first made for, darker than the list so the item under the pointer stands out.
const QColor ListColor(58, 110, 165);
const QColor HotTrackColor(0, 78, 152);

// The help of the program directory; without one there, the copy installed with the program
// (PREFIX/share/lanquill beside PREFIX/bin).
std::string helpFilePath(const std::string& appDir) {
    const std::string own = appDir + "/LANQUILL.CHM";
    if (QFileInfo::exists(fromStd(own)))
        return own;
    const QString installed =
        QCoreApplication::applicationDirPath() + QStringLiteral("/../share/lanquill/LANQUILL.CHM");
    return QFileInfo::exists(installed) ? toStd(QFileInfo(installed).canonicalFilePath()) : own;
}

void addGroupItem(widgets::TfcOutlookList& list, const QString& text, int image) {
    widgets::TfcOutlookListItem* item = list.addItem();
    item->setText(text);
    item->setGlyphOffset(1);
    item->setTextAlignment(Qt::AlignLeft);
    item->setImageIndex(image);
    item->setSeparation(5);
}

} // namespace

TMainForm::TMainForm(const desktop::Platform& platform, QWidget* parent)
    : QWidget(parent), platform_(platform), ui_(std::make_unique<Ui::frmMain>()) {
    ui_->setupUi(this);
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    // No maximise box: window managers that offer to maximise any resizable window are kept
    // from it by the form's fixed size.
    setFixedSize(size());
    setWindowTitle(QString());
    setWindowIcon(widgets::programIcon());
    QFont formFont = font();
    formFont.setPixelSize(12);
    setFont(formFont);

    fcOutlookBar1 = ui_->fcOutlookBar1;
    Panel1 = ui_->Panel1;
    Label1 = ui_->Label1;
    pnlLogo = ui_->pnlLogo;
    Image1 = ui_->Image1;
    fcOutlookBar1->setButtonSize(20);

    QFont labelFont(QStringLiteral("Arial Narrow"));
    labelFont.setItalic(true);
    labelFont.setPixelSize(11);
    ui_->Label1->setFont(labelFont);
    ui_->Label1->setCursor(Qt::PointingHandCursor);
    ui_->Image1->setPixmap(widgets::logoPixmap());
    ui_->Image1->setMouseTracking(true);
    ui_->pnlLogo->setMouseTracking(true);
    ui_->Label1->installEventFilter(this);
    ui_->Image1->installEventFilter(this);
    ui_->pnlLogo->installEventFilter(this);
    // The form sees every key before the focused control does (F1 from anywhere).
    qApp->installEventFilter(&keyPreview_);

    for (int i = 0; i < 10; ++i)
        ImageList1.add(i == 6 ? widgets::groupPixmap(24) : widgets::computerPixmap(24));
    for (int i = 0; i <= 6; ++i)
        ImageListMenu.add(widgets::menuPixmap(i, 20));
    buildMenus();
    buildEmptyBarHint();
    buildStripMenu();

    desktopEvents_.push_back(
        platform_.tray->leftPress.add(reported([this] { MyCallBackLeftPress(); })));
    desktopEvents_.push_back(platform_.tray->rightRelease.add(
        reported([this](const QPoint& position) { MyCallBackRightRelease(position); })));
    desktopEvents_.push_back(
        platform_.hotKeys->pressed.add(reported([this](std::uint16_t id) { WMHotKey(id); })));
    // Without a tray host the task-bar button is the only way back to a minimised window: it
    // goes only once the tray icon is there.
    desktopEvents_.push_back(platform_.tray->shown.add(reported([this] { HideAppTaskButton(); })));

    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    if (platform_.presence != nullptr) {
        presence_ = std::make_unique<GroupPresence>(*platform_.presence);
        presenceTimer_.setInterval(GroupPresence::kInterval);
        presenceTimer_.setTimerType(Qt::PreciseTimer); // a coarse timer may fire 5 % early
        connect(&presenceTimer_, &QTimer::timeout, this, [this] { schedulePresenceCheck(); });
        connect(fcOutlookBar1, &widgets::TfcOutlookBar::activePageChanged, this,
                [this] { schedulePresenceCheck(); });
    }
}

TMainForm::~TMainForm() {
    // The lookup uses the platform's resolver: it ends (within the resolver's bounds) first.
    if (QThread* lookup = std::exchange(hostNameLookup_, nullptr)) {
        disconnect(lookup, nullptr, this, nullptr);
        lookup->wait();
        delete lookup;
    }
    qApp->removeEventFilter(&keyPreview_);
}

QAction* TMainForm::addMenuItem(QMenu* menu, const char* name, const QString& caption, int image,
                                const QKeySequence& shortcut) {
    QAction* action = menu->addAction(caption);
    action->setObjectName(QString::fromLatin1(name));
    if (image >= 0)
        action->setIcon(ImageListMenu.icon(image));
    action->setShortcut(shortcut);
    // A menu's keys act through the control that carries the menu, while it has the focus.
    action->setShortcutContext(Qt::WidgetShortcut);
    action->setShortcutVisibleInContextMenu(true);
    return action;
}

void TMainForm::buildMenus() {
    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    mnuDelete =
        addMenuItem(PopupMenu1, "mnuDelete", tr("删除成员"), 4, QKeySequence(Qt::Key_Delete));
    N2 = addMenuItem(PopupMenu1, "N2", tr("查找机器"), 0, {});
    pMnuAddGroup = addMenuItem(PopupMenu1, "pMnuAddGroup", tr("添加工作组"), 2,
                               QKeySequence(Qt::CTRL | Qt::Key_A));

    PopupMenu2 = new QMenu(this);
    PopupMenu2->setObjectName(QStringLiteral("PopupMenu2"));
    munDeleteGroup = addMenuItem(PopupMenu2, "munDeleteGroup", tr("删除工作组"), 1,
                                 QKeySequence(Qt::Key_Delete));
    mnuAddGroup = addMenuItem(PopupMenu2, "mnuAddGroup", tr("添加工作组"), 2,
                              QKeySequence(Qt::CTRL | Qt::Key_A));

    pMnuCallBack = new QMenu(this);
    pMnuCallBack->setObjectName(QStringLiteral("pMnuCallBack"));
    mnuReActive = addMenuItem(pMnuCallBack, "mnuReActive", tr("打开窗口(&O)"), 6,
                              QKeySequence(Qt::CTRL | Qt::Key_A));
    mnuHelp = addMenuItem(pMnuCallBack, "mnuHelp", tr("帮助(&H)"), -1, QKeySequence(Qt::Key_F1));
    mnuHistory = addMenuItem(pMnuCallBack, "mnuHistory", tr("消息记录"), -1, {});
    mnuAutoStart = addMenuItem(pMnuCallBack, "mnuAutoStart", tr("开机启动"), -1, {});
    mnuAutoStart->setCheckable(true);
    N3 = pMnuCallBack->addSeparator();
    N3->setObjectName(QStringLiteral("N3"));
    mnuExit = addMenuItem(pMnuCallBack, "mnuExit", tr("关闭退出(&X)"), 5, {});

    connect(mnuDelete, &QAction::triggered, this, reported([this](bool) { mnuDeleteClick(); }));
    connect(N2, &QAction::triggered, this, reported([this](bool) { N2Click(); }));
    connect(pMnuAddGroup, &QAction::triggered, this,
            reported([this](bool) { pMnuAddGroupClick(); }));
    connect(munDeleteGroup, &QAction::triggered, this,
            reported([this](bool) { munDeleteGroupClick(); }));
    connect(mnuAddGroup, &QAction::triggered, this,
            reported([this](bool) { pMnuAddGroupClick(); }));
    connect(mnuReActive, &QAction::triggered, this, reported([this](bool) { mnuReActiveClick(); }));
    connect(mnuHelp, &QAction::triggered, this, reported([this](bool) { mnuHelpClick(); }));
    connect(mnuHistory, &QAction::triggered, this, [this](bool) { Q_EMIT historyRequested(); });
    connect(mnuExit, &QAction::triggered, this, reported([this](bool) { mnuExitClick(); }));
    connect(mnuAutoStart, &QAction::triggered, this,
            reported([this](bool checked) { mnuAutoStartClick(checked); }));
    // The entry may have been added or removed outside the program since the menu last opened.
    connect(pMnuCallBack, &QMenu::aboutToShow, this,
            [this] { mnuAutoStart->setChecked(autostartEnabled()); });
}

void TMainForm::buildEmptyBarHint() {
    PopupMenuEmpty = new QMenu(this);
    PopupMenuEmpty->setObjectName(QStringLiteral("PopupMenuEmpty"));
    mnuEmptyAddGroup = addMenuItem(PopupMenuEmpty, "mnuEmptyAddGroup", tr("添加工作组"), 2,
                                   QKeySequence(Qt::CTRL | Qt::Key_A));
    // With no list or page button to carry the bar's keys, the window carries Ctrl+A; only
    // while the bar is empty, so that it never competes with the lists' own Ctrl+A.
    mnuEmptyAddGroup->setShortcutContext(Qt::WindowShortcut);
    addAction(mnuEmptyAddGroup);
    connect(mnuEmptyAddGroup, &QAction::triggered, this,
            reported([this](bool) { pMnuAddGroupClick(); }));

    lblEmptyBar = new QLabel(fcOutlookBar1);
    lblEmptyBar->setObjectName(QStringLiteral("lblEmptyBar"));
    lblEmptyBar->setText(tr("还没有工作组。<br><br>右击这里<br>或按 Ctrl+A<br>"
                            "<a href=\"add\">添加工作组</a>。"));
    lblEmptyBar->setWordWrap(true);
    lblEmptyBar->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
    lblEmptyBar->setTextInteractionFlags(Qt::LinksAccessibleByMouse |
                                         Qt::LinksAccessibleByKeyboard);
    lblEmptyBar->setFocusPolicy(Qt::StrongFocus);
    lblEmptyBar->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(lblEmptyBar, &QLabel::linkActivated, this,
            reported([this](const QString&) { pMnuAddGroupClick(); }));
    connect(lblEmptyBar, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& position) {
                PopupMenuEmpty->popup(lblEmptyBar->mapToGlobal(position));
            });
    fcOutlookBar1->installEventFilter(this);
    placeEmptyBarHint();
    lblEmptyBar->hide();
    mnuEmptyAddGroup->setEnabled(false);
}

void TMainForm::buildStripMenu() {
    // The same actions as the tray menu, which stays as it is: a desktop without a tray host
    // (or a user without a mouse) reaches them here.
    PopupMenuMain = new QMenu(this);
    PopupMenuMain->setObjectName(QStringLiteral("PopupMenuMain"));
    PopupMenuMain->addAction(mnuHistory);
    PopupMenuMain->addAction(mnuAutoStart);
    PopupMenuMain->addSeparator();
    PopupMenuMain->addAction(mnuHelp);
    mnuAbout = addMenuItem(PopupMenuMain, "mnuAbout", tr("关于(&A)"), -1, {});
    PopupMenuMain->addSeparator();
    PopupMenuMain->addAction(mnuExit);
    connect(mnuAbout, &QAction::triggered, this, reported([this](bool) { Image1Click(); }));
    connect(PopupMenuMain, &QMenu::aboutToShow, this,
            [this] { mnuAutoStart->setChecked(autostartEnabled()); });

    btnMenu = new QToolButton(ui_->Panel1);
    btnMenu->setObjectName(QStringLiteral("btnMenu"));
    btnMenu->setArrowType(Qt::UpArrow);
    btnMenu->setAutoRaise(true);
    btnMenu->setFixedSize(12, 18);
    btnMenu->setFocusPolicy(Qt::StrongFocus);
    btnMenu->setToolTip(tr("菜单 (F10)"));
    btnMenu->setAccessibleName(tr("菜单"));
    // Left of the "Lanquill" label, which keeps its least width.
    ui_->Panel1Layout->setContentsMargins(0, 0, 0, 0);
    ui_->Panel1Layout->insertWidget(0, btnMenu);
    ui_->Panel1Layout->insertSpacing(1, 5);
    connect(btnMenu, &QToolButton::clicked, this, [this] { showStripMenu(); });
    // F10 opens a window's menu on the usual Linux desktops.
    auto* f10 = new QShortcut(QKeySequence(Qt::Key_F10), this);
    connect(f10, &QShortcut::activated, this, [this] { showStripMenu(); });
}

void TMainForm::showStripMenu() {
    // Opens upwards from the strip at the bottom of the window.
    const QPoint corner = btnMenu->mapToGlobal(QPoint(0, 0));
    PopupMenuMain->popup(corner - QPoint(0, PopupMenuMain->sizeHint().height()));
}

void TMainForm::placeEmptyBarHint() {
    // Clear of the top, where the first page button would be, and of the frame.
    lblEmptyBar->setGeometry(fcOutlookBar1->contentsRect().adjusted(4, 24, -4, -4));
}

void TMainForm::updateEmptyBarHint() {
    bool empty = true;
    for (int i = 0; i < fcOutlookBar1->pageCount() && empty; ++i)
        empty = fcOutlookBar1->page(i)->button()->isHidden();
    mnuEmptyAddGroup->setEnabled(empty);
    lblEmptyBar->setVisible(empty);
    if (empty)
        lblEmptyBar->raise();
}

// ---- start-up --------------------------------------------------------------------------------

void TMainForm::FormCreate(std::function<void()> beforeAsking) {
    if (CreateIconInSystemBar())
        HideAppTaskButton();
    RegisterMyHotKey();
    AppDir = platform_.system->currentDirectory();
    captionFromHostName();
    book_.setPath(AppDir + "/config.xml");
    beforeAsking_ = std::move(beforeAsking);
    const auto once = qScopeGuard([this] { beforeAsking_ = nullptr; });
    LoadXMLFile(ConfigPath());
    UDPPortListen();
}

void TMainForm::captionFromHostName() {
    // A host name that no resolver knows takes the NetBIOS query its 1.5 s to give up, and the
    // system resolver may wait on a DNS server: the window comes up at once without its caption
    // (as when the name does not resolve) and takes the name when the answer is in.
    platform::SystemInfo& system = *platform_.system;
    platform::Resolver& resolver = *platform_.resolver;
    const auto name = std::make_shared<std::string>();
    hostNameLookup_ = QThread::create([&system, &resolver, name] {
        try {
            *name = net::GetLocalHostInfo(system, resolver).first;
        } catch (...) { // a caption is not worth an error box: it stays empty
        }
    });
    connect(hostNameLookup_, &QThread::finished, this, [this, name] {
        hostNameLookup_->wait(); // `finished` comes just before the thread's very end
        delete std::exchange(hostNameLookup_, nullptr);
        setWindowTitle(fromStd(*name));
    });
    hostNameLookup_->start();
}

void TMainForm::HideAppTaskButton() {
    platform_.taskbar->hide(*this);
}

bool TMainForm::CreateIconInSystemBar() {
    return platform_.tray->add(widgets::programIcon(), QStringLiteral("Lanquill"));
}

void TMainForm::DeleteIconInSystemBar() {
    platform_.tray->remove();
}

void TMainForm::RegisterMyHotKey() {
    HotKeyAtom =
        platform_.hotKeys->grab("hotkey", Qt::ControlModifier | Qt::ShiftModifier, Qt::Key_Z);
}

void TMainForm::UDPPortListen() {
    platform::DatagramSocket& socket = *platform_.probeSocket;
    desktop::MessageBoxes& messages = *platform_.messages;
    using Failure = platform::DatagramSocket::Failure;
    const auto opened = socket.open(ProbePort);
    // A socket that could not be made cannot be bound either: both are said.
    if (opened.failure == Failure::Create)
        messages.show(this, QString::number(opened.error) + tr("  Socket创建失败"));
    if (opened.failure != Failure::None)
        messages.show(this, tr("bind fail"));
    socket.notifyReadable(reported([this] { ReadUDPData(); }));
    PeerAddr = {};
}

// ---- the contact book -----------------------------------------------------------------------

contacts::XmlDocument& TMainForm::XMLDoc() {
    return book_.document();
}

const std::string& TMainForm::ConfigPath() const {
    return book_.path();
}

const net::NodeStatusResults& TMainForm::nodeStatus() const {
    return NodeStatus;
}

void TMainForm::LoadXMLFile(const std::string& path) {
    fcOutlookBar1->clearPages();
    const contacts::LoadOutcome outcome = book_.load(path);
    if (outcome.kind == contacts::LoadOutcome::Kind::Unreadable)
        platform_.messages->show(this, desktop::bookErrorText(outcome.failure));

    // However the load ends, an empty bar says how to fill it.
    const auto hint = qScopeGuard([this] { updateEmptyBarHint(); });
    const contacts::XmlNodeList groups = XMLDoc().documentElement().childNodes();
    if (groups.length() == 0) {
        if (const auto starting = std::exchange(beforeAsking_, nullptr))
            starting();
        pMnuAddGroupClick();
        return;
    }
    const int groupCount = groups.length();
    for (int g = 0; g < groupCount; ++g) {
        const contacts::XmlNode group = groups.item(g);
        const std::string id = group.getAttribute("id");
        if (id.empty())
            continue;
        widgets::TfcOutlookPage* page = fcOutlookBar1->addPage();
        page->button()->setText(fromStd(id));
        page->button()->setPopupMenu(PopupMenu2);

        widgets::TfcOutlookList* list = page->outlookList();
        list->setImages(&ImageList1);
        list->setItemLayout(widgets::ItemLayout::GlyphLeft);
        list->setColor(ListColor);
        list->setItemSpacing(15);
        list->setPopupMenu(PopupMenu1);
        list->setItemHotTrackColor(HotTrackColor);
        list->setScrollInterval(20);

        connect(
            list, &widgets::TfcOutlookList::itemClick, this,
            reported([this](widgets::TfcOutlookList* sender, widgets::TfcOutlookListItem* item) {
                OutlookBarOutlookListItemClick(sender, item);
            }));

        // Only the ids, and the items from them when the page is first shown or asked for: the
        // book may change under the page before then (another program's edit read back in), so
        // the fill keeps no node of it.
        const contacts::XmlNodeList computers = group.childNodes();
        const int computerCount = computers.length();
        std::vector<std::string> ids;
        ids.reserve(static_cast<std::size_t>(computerCount));
        for (int c = 0; c < computerCount; ++c)
            ids.push_back(computers.item(c).getAttribute("id"));
        list->setItemSource([ids = std::move(ids)](widgets::TfcOutlookList& filled) {
            addGroupItem(filled, tr(GroupMessageCaption), 6);
            for (const std::string& computer : ids)
                addGroupItem(filled, fromStd(computer), 0);
        });
    }
}

namespace {

// The bar names an entry of the book by its id exactly as stored and by how many entries of
// that same id come before it: ids that differ only in case are different entries. Pages whose
// button 删除工作组 hid stand for groups that have left the book and are not counted.
contacts::EntryRef pageEntry(const widgets::TfcOutlookBar& bar,
                             const widgets::TfcOutlookPage& page) {
    contacts::EntryRef ref{toStd(page.button()->text()), 0};
    for (int i = 0; i < page.index(); ++i) {
        const widgets::TfcShapeBtn* button = bar.page(i)->button();
        if (!button->isHidden() && toStd(button->text()) == ref.id)
            ++ref.occurrence;
    }
    return ref;
}

// Item 0 is the group-message item, not a computer of the book.
contacts::EntryRef itemEntry(const widgets::TfcOutlookListItem& item) {
    contacts::EntryRef ref{toStd(item.text()), 0};
    for (int i = 1; i < item.index(); ++i)
        if (item.list()->item(i)->text() == item.text())
            ++ref.occurrence;
    return ref;
}

} // namespace

void TMainForm::mnuDeleteClick() {
    widgets::TfcOutlookPage* page = fcOutlookBar1->activePageEntry();
    if (page == nullptr)
        return;
    widgets::TfcOutlookList* list = page->outlookList();
    widgets::TfcOutlookListItem* hot = nullptr;
    for (int i = 0; i < list->count() && hot == nullptr; ++i) {
        if (list->item(i)->isHot())
            hot = list->item(i);
    }
    // The group-message item stands for the workgroup, not for a member: nothing to delete.
    if (hot == nullptr || hot->index() == 0)
        return;
    // Exactly the entry clicked leaves the book, never the first whose id matches after folding.
    const contacts::EntryRef group = pageEntry(*fcOutlookBar1, *page);
    const contacts::EntryRef computer = itemEntry(*hot);
    bool removed = false;
    const bool reread =
        contacts::editBook(XMLDoc(), ConfigPath(), [&](contacts::XmlDocument& book) {
            removed = contacts::DeleteComputer(book, group, computer);
            book.save(ConfigPath());
        });
    // A book read again, or one that no longer held the entry, is shown as it now is.
    if (reread || !removed)
        LoadXMLFile(ConfigPath());
    else
        hot->destroy();
}

void TMainForm::munDeleteGroupClick() {
    widgets::TfcOutlookPage* page = fcOutlookBar1->activePageEntry();
    if (page == nullptr || page->button()->isHidden())
        return;
    const contacts::EntryRef group = pageEntry(*fcOutlookBar1, *page);
    widgets::TfcOutlookList* list = page->outlookList();
    list->setItemSource(nullptr); // items not made yet need no making now
    for (int remaining = list->count(); remaining > 0; --remaining)
        list->item(0)->destroy();
    page->button()->setVisible(false);
    updateEmptyBarHint();
    bool removed = false;
    const bool reread =
        contacts::editBook(XMLDoc(), ConfigPath(), [&](contacts::XmlDocument& book) {
            removed = contacts::DeleteGroup(book, group);
            book.save(ConfigPath());
        });
    if (reread || !removed)
        LoadXMLFile(ConfigPath());
}

void TMainForm::selectComputer(const std::string& GroupId, const std::string& ComputerId) {
    // The page of the group AddComputer adds to: exactly that id first, else the first whose id
    // matches after folding; in it, the item of exactly the stored id.
    widgets::TfcOutlookPage* target = nullptr;
    for (const bool exact : {true, false}) {
        for (int i = 0; i < fcOutlookBar1->pageCount() && target == nullptr; ++i) {
            widgets::TfcOutlookPage* page = fcOutlookBar1->page(i);
            const std::string id = toStd(page->button()->text());
            if (!page->button()->isHidden() &&
                (exact ? id == GroupId : contacts::idsMatch(id, GroupId)))
                target = page;
        }
        if (target != nullptr)
            break;
    }
    if (target == nullptr)
        return;
    fcOutlookBar1->setActivePage(target);
    fcOutlookBar1->ensureLaidOut();
    widgets::TfcOutlookList* list = target->outlookList();
    for (int i = 1; i < list->count(); ++i) {
        if (toStd(list->item(i)->text()) == ComputerId) {
            list->selectItem(list->item(i));
            return;
        }
    }
}

// ---- node-status socket ---------------------------------------------------------------------

bool TMainForm::SendUDPData(const std::string& ip) {
    PeerAddr = protocol::inetAddr(ip);
    const long sent = platform_.probeSocket->sendTo(PeerAddr, NetBiosNamePort, net::NbStatQuery);
    return sent == static_cast<long>(net::NbStatQuery.size());
}

void TMainForm::ReadUDPData() {
    // The datagram is read whole whatever its length; the decoder looks at its first
    // NbReceiveBufferSize bytes only.
    std::vector<std::uint8_t> buffer(protocol::netbios::MaxDatagramLength);
    platform::Ipv4 from{};
    const long n = platform_.probeSocket->receive(buffer, from);
    if (n <= 0)
        return;
    net::handleDatagram(std::span(buffer.data(), static_cast<std::size_t>(n)),
                        protocol::formatIpv4(from), NodeStatus);
    Q_EMIT nodeStatusDecoded();
}

// ---- tray, hot key, help --------------------------------------------------------------------

void TMainForm::restoreMainWindow() {
    if (isMinimized() || !isVisible()) {
        setWindowState(windowState() & ~Qt::WindowMinimized);
        show();
    }
    QWidget* target = QApplication::activeModalWidget();
    if (target == nullptr)
        target = this;
    target->raise();
    target->activateWindow();
}

void TMainForm::MyCallBackLeftPress() {
    restoreMainWindow();
}

void TMainForm::MyCallBackRightRelease(const QPoint& screenPosition) {
    pMnuCallBack->popup(screenPosition);
}

void TMainForm::WMHotKey(std::uint16_t) {
    restoreMainWindow();
}

void TMainForm::mnuReActiveClick() {
    restoreMainWindow();
}

void TMainForm::mnuHelpClick() {
    platform_.help->closeWindowTitled(QString::fromLatin1(HelpWindowTitle));
    platform_.help->open(helpFilePath(AppDir));
}

void TMainForm::mnuExitClick() {
    close();
}

void TMainForm::mnuAutoStartClick(bool checked) {
    // The check mark shows the entry as it is, also when writing or removing it failed.
    const auto showState = qScopeGuard([this] { mnuAutoStart->setChecked(autostartEnabled()); });
    setAutostart(checked, QCoreApplication::applicationFilePath(), fromStd(AppDir));
}

void TMainForm::Label1Click() {
    mnuHelpClick();
    LoadXMLFile(ConfigPath());
}

bool TMainForm::logoRaised() const {
    return ui_->pnlLogo->frameShadow() == QFrame::Raised;
}

void TMainForm::Image1MouseMove() {
    ui_->pnlLogo->setFrameShadow(QFrame::Raised);
}

void TMainForm::pnlLogoMouseMove() {
    ui_->pnlLogo->setFrameShadow(QFrame::Sunken);
}

bool TMainForm::KeyPreview::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType())
        return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    auto* widget = static_cast<QWidget*>(watched);
    if (key->key() != Qt::Key_F1 || widget->window() != &form)
        return false;
    // A key the focused control does not take travels on to its parents and passes here again;
    // it opens help once.
    const bool travelling = event == last && key->timestamp() == lastTime && lastReceiver &&
                            widget->isAncestorOf(lastReceiver);
    last = event;
    lastTime = key->timestamp();
    lastReceiver = widget;
    if (!travelling)
        desktop::runReported([this] { form.mnuHelpClick(); });
    // Help opens, and the key still goes on to the focused control.
    return false;
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (watched == fcOutlookBar1 && type == QEvent::Resize)
        placeEmptyBarHint();
    if (type == QEvent::MouseMove && (watched == ui_->Image1 || watched == ui_->pnlLogo)) {
        if (watched == ui_->Image1)
            desktop::runReported([this] { Image1MouseMove(); });
        else
            desktop::runReported([this] { pnlLogoMouseMove(); });
        return true; // not on to the parent, which would take it for its margin
    }
    if (type == QEvent::MouseButtonRelease && (watched == ui_->Label1 || watched == ui_->Image1)) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        const auto* widget = static_cast<QWidget*>(watched);
        if (mouse->button() == Qt::LeftButton &&
            widget->rect().contains(mouse->position().toPoint())) {
            if (watched == ui_->Label1)
                desktop::runReported([this] { Label1Click(); });
            else
                desktop::runReported([this] { Image1Click(); });
        }
    }
    return QWidget::eventFilter(watched, event);
}

// ---- shutdown -------------------------------------------------------------------------------

void TMainForm::FormClose() {
    platform_.probeSocket->close();
    DeleteIconInSystemBar();
    platform_.hotKeys->release(HotKeyAtom);
    platform_.help->closeWindowTitled(QString::fromLatin1(HelpWindowTitle));
}

// ---- presence in the group bar ---------------------------------------------------------------

void TMainForm::schedulePresenceCheck() {
    if (presence_ == nullptr || std::exchange(presenceCheckScheduled_, true))
        return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            presenceCheckScheduled_ = false;
            desktop::runReported([this] { checkPresence(); });
        },
        Qt::QueuedConnection);
}

// Nothing goes out for a window nobody sees.
void TMainForm::checkPresence() {
    widgets::TfcOutlookPage* page = fcOutlookBar1->activePageEntry();
    if (!presenceWanted() || page == nullptr || closing_)
        return;
    const std::string group = toStd(page->button()->text());
    widgets::TfcOutlookList* list = page->outlookList();
    // Item 0 addresses the whole workgroup. A computer is asked at its address in the book, or
    // by its name where the book has none; a name that cannot be a NetBIOS name gets no mark.
    std::vector<std::optional<platform::PresenceTarget>> targets(
        static_cast<std::size_t>(list->count()));
    for (int index = 1; index < list->count(); ++index) {
        const std::string id = toStd(list->item(index)->text());
        std::string computerName = id, userName, ipAddress, memo;
        if (!contacts::GetComputerInfo(XMLDoc(), group, id, computerName, userName, ipAddress,
                                       memo))
            continue;
        auto& target = targets[static_cast<std::size_t>(index)];
        if (const auto address = protocol::parseIpv4(ipAddress))
            target = *address;
        else if (auto name = protocol::netbios::netbiosName(computerName))
            target = std::move(*name);
    }
    presence_->check(list, std::move(targets));
}

void TMainForm::followPresenceVisibility() {
    if (presence_ == nullptr)
        return;
    if (!presenceWanted()) {
        presenceTimer_.stop();
    } else if (!presenceTimer_.isActive()) {
        presenceTimer_.start();
        schedulePresenceCheck();
    }
}

void TMainForm::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    followPresenceVisibility();
}

void TMainForm::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    followPresenceVisibility();
}

void TMainForm::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange)
        followPresenceVisibility();
}

void TMainForm::closeEvent(QCloseEvent* event) {
    if (!closing_) {
        closing_ = true;
        desktop::runReported([this] { FormClose(); });
        Q_EMIT closed();
    }
    event->accept();
}

} // namespace lanquill::app
