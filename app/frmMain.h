// The main window: a narrow group bar of workgroups and computers over a bottom strip with the
// title label and the logo. It frames the program's life: start-up, tray icon, hot key, help,
// the node-status socket and shutdown.
#pragma once

#include "app/BookOwner.h"
#include "contacts/XmlDocument.h"
#include "desktop/Desktop.h"
#include "dialogs/MainWindowServices.h"
#include "net/NodeStatus.h"
#include "widgets/ImageList.h"

#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>
#include <utility>

class QAction;
class QDialog;
class QLabel;
class QMenu;
class QThread;
class QToolButton;

namespace Ui {
class frmMain;
}

namespace lanquill::widgets {
class TfcOutlookBar;
class TfcOutlookList;
class TfcOutlookListItem;
} // namespace lanquill::widgets

namespace lanquill::app {

class GroupPresence;

inline constexpr std::uint16_t ProbePort = 6767;
inline constexpr std::uint16_t NetBiosNamePort = 137;
inline constexpr auto HelpWindowTitle = "Lanquill 2.0";
inline constexpr auto GroupMessageCaption =
    QT_TRANSLATE_NOOP("lanquill::app::TMainForm", "群体消息");

class TMainForm : public QWidget, public dialogs::MainWindowServices {
    Q_OBJECT

public:
    explicit TMainForm(const desktop::Platform& platform, QWidget* parent = nullptr);
    ~TMainForm() override;

    // The start-up sequence; an error stops it where it arose and is reported. `beforeAsking`
    // runs once the book is loaded, before an empty book's 添加工作组 dialog, whose modal wait
    // would otherwise hold up what it starts (the inbox).
    void FormCreate(std::function<void()> beforeAsking = {});
    // Whether the host name for the caption is still being looked up.
    bool captionPending() const { return hostNameLookup_ != nullptr; }

    // MainWindowServices
    const desktop::Platform& platform() const override { return platform_; }
    contacts::XmlDocument& XMLDoc() override;
    const std::string& ConfigPath() const override;
    void LoadXMLFile(const std::string& path) override;
    bool SendUDPData(const std::string& ip) override;
    const net::NodeStatusResults& nodeStatus() const override;
    void onNodeStatusReply(QObject* context, std::function<void()> listener) override {
        connect(this, &TMainForm::nodeStatusDecoded, context, std::move(listener));
    }
    void messageSent(const inbox::Message& message) override { Q_EMIT sent(message); }
    void selectComputer(const std::string& GroupId, const std::string& ComputerId) override;
    QString windowsDesktopsPath() const override { return windowsDesktopsPath_; }
    // The program sets the user's file; tests leave none (nothing marked) or give their own.
    void setWindowsDesktopsPath(const QString& path) { windowsDesktopsPath_ = path; }

    // Opens the send dialog to a computer as a click on its item does; a computer not in the
    // book is addressed by `name`, at `knownAddress` when its name does not resolve.
    void openSendDialog(const QString& group, const QString& name,
                        const QString& knownAddress = {});
    // The workgroup of the page shown, empty without one.
    QString activeGroup() const;

    // Components, by their form names.
    widgets::TfcOutlookBar* fcOutlookBar1 = nullptr;
    QWidget* Panel1 = nullptr;
    QWidget* Label1 = nullptr;
    QWidget* pnlLogo = nullptr;
    QWidget* Image1 = nullptr;
    widgets::ImageList ImageList1{QSize(24, 24)};
    widgets::ImageList ImageListMenu{QSize(20, 20)};
    QMenu* PopupMenu1 = nullptr;
    QMenu* PopupMenu2 = nullptr;
    QMenu* pMnuCallBack = nullptr;
    // Over a bar without workgroups: a hint, with its own menu and Ctrl+A for 添加工作组.
    QLabel* lblEmptyBar = nullptr;
    QMenu* PopupMenuEmpty = nullptr;
    QAction* mnuEmptyAddGroup = nullptr;
    // The bottom strip's menu button (F10 opens its menu from anywhere in the window): the
    // tray menu's commands, for desktops without a tray, and the about box.
    QToolButton* btnMenu = nullptr;
    QMenu* PopupMenuMain = nullptr;
    QAction* mnuAbout = nullptr;
    QAction* mnuDelete = nullptr;
    QAction* N2 = nullptr;
    QAction* pMnuAddGroup = nullptr;
    QAction* munDeleteGroup = nullptr;
    QAction* mnuAddGroup = nullptr;
    QAction* mnuReActive = nullptr;
    QAction* mnuHelp = nullptr;
    QAction* mnuHistory = nullptr;
    QAction* mnuAutoStart = nullptr;
    QAction* N3 = nullptr;
    QAction* mnuExit = nullptr;

    // Handlers.
    void MyCallBackLeftPress();
    void MyCallBackRightRelease(const QPoint& screenPosition);
    void WMHotKey(std::uint16_t id);
    void mnuReActiveClick();
    void mnuHelpClick();
    void mnuExitClick();
    void mnuAutoStartClick(bool checked);
    void Label1Click();
    void Image1MouseMove();
    void pnlLogoMouseMove();
    void Image1Click();
    void mnuDeleteClick();
    void munDeleteGroupClick();
    void pMnuAddGroupClick();
    void N2Click();
    void OutlookBarOutlookListItemClick(widgets::TfcOutlookList* sender,
                                        widgets::TfcOutlookListItem* item);
    void ReadUDPData();

    std::uint16_t hotKeyAtom() const { return HotKeyAtom; }
    // The program directory FormCreate took: the book is kept there, and the help looked for.
    const std::string& appDir() const { return AppDir; }
    // The presence marks of the page on show; null without a prober.
    GroupPresence* groupPresence() const { return presence_.get(); }
    bool logoRaised() const;

Q_SIGNALS:
    // FormClose has run: the program ends.
    void closed();
    // A command's modal dialog is about to be shown (lets tests drive it).
    void dialogOpened(QDialog* dialog);
    // The tray menu's 消息记录.
    void historyRequested();
    void sent(const lanquill::inbox::Message& message);
    // ReadUDPData has decoded a node-status reply into the results.
    void nodeStatusDecoded();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildMenus();
    void buildEmptyBarHint();
    void buildStripMenu();
    void showStripMenu();
    void placeEmptyBarHint();
    // Shows the hint while no page button shows (none loaded, or 删除工作组 hid the last).
    void updateEmptyBarHint();
    void HideAppTaskButton();
    bool CreateIconInSystemBar();
    void DeleteIconInSystemBar();
    void RegisterMyHotKey();
    void UDPPortListen();
    // Looks the host's name up off the GUI thread; the caption follows when the answer is in.
    void captionFromHostName();
    void FormClose();
    void restoreMainWindow();
    bool presenceWanted() const { return isVisible() && !isMinimized(); }
    // Checks the page on show once the current event is handled (the bar may be mid-rebuild).
    void schedulePresenceCheck();
    void checkPresence();
    void followPresenceVisibility();
    QAction* addMenuItem(QMenu* menu, const char* name, const QString& caption, int image,
                         const QKeySequence& shortcut);

    const desktop::Platform& platform_;
    std::unique_ptr<Ui::frmMain> ui_;
    std::string AppDir;
    BookOwner book_;
    net::NodeStatusResults NodeStatus;
    std::uint16_t HotKeyAtom = 0;
    platform::Ipv4 PeerAddr{};
    bool closing_ = false;
    std::unique_ptr<GroupPresence> presence_;
    QTimer presenceTimer_;
    QString windowsDesktopsPath_;
    std::function<void()> beforeAsking_; // set during FormCreate only
    bool presenceCheckScheduled_ = false;
    QThread* hostNameLookup_ = nullptr; // the caption's lookup while it runs

    // F1 with any modifiers, wherever the focus is in the window.
    struct KeyPreview : QObject {
        explicit KeyPreview(TMainForm& owner) : form(owner) {}
        bool eventFilter(QObject* watched, QEvent* event) override;
        TMainForm& form;
        const QEvent* last = nullptr;
        quint64 lastTime = 0;
        QPointer<QWidget> lastReceiver;
    } keyPreview_{*this};
    // Last, so that they end first: no event of the tray or the hot keys reaches a form that is
    // going.
    std::vector<desktop::Subscription> desktopEvents_;
};

} // namespace lanquill::app
