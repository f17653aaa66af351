// What the dialogs use of the main window: the contact book, its path, the probe and the platform
// layers. The main window implements it; tests hand down their own.
#pragma once

#include "contacts/XmlDocument.h"
#include "desktop/Desktop.h"
#include "inbox/Message.h"
#include "net/NodeStatus.h"

#include <QCoreApplication>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <string>
#include <vector>

namespace lanquill::dialogs {

class MainWindowServices {
public:
    virtual ~MainWindowServices() = default;
    virtual const desktop::Platform& platform() const = 0;
    virtual contacts::XmlDocument& XMLDoc() = 0;
    virtual const std::string& ConfigPath() const = 0;
    // Reloads the contact book from `path` and rebuilds the group bar.
    virtual void LoadXMLFile(const std::string& path) = 0;
    // Sends the node-status query to port 137 of the dotted address `ip`.
    virtual bool SendUDPData(const std::string& ip) = 0;
    virtual const net::NodeStatusResults& nodeStatus() const = 0;
    // `listener` runs after each node-status reply has been decoded, for as long as `context`
    // lives.
    virtual void onNodeStatusReply(QObject* context, std::function<void()> listener) = 0;
    // The file of the computers marked as Windows 10/11 desktops; empty: none are ever marked
    // (the detail dialog then offers no mark).
    virtual QString windowsDesktopsPath() const { return {}; }
    // A message went out (or failed to: `delivered` tells); it belongs in the history.
    virtual void messageSent(const inbox::Message&) {}
    // Shows the computer stored as `ComputerId` in workgroup `GroupId` in the group bar: its page
    // comes forward and the item is highlighted as the one the item commands act on.
    virtual void selectComputer(const std::string& /*GroupId*/, const std::string& /*ComputerId*/) {
    }

    // A computer the workgroup already holds (ids that match after folding name one computer)
    // is not added a second time: the user is told, and the entry there is shows in the bar.
    void computerAlreadyInGroup(QWidget* parent, const std::string& GroupId,
                                const std::string& storedId) {
        // Shown first, so that the entry is in sight while the notice is read.
        selectComputer(GroupId, storedId);
        platform().messages->show(parent, alreadyInGroupText(GroupId, {storedId}));
    }
    static QString alreadyInGroupText(const std::string& GroupId,
                                      const std::vector<std::string>& storedIds) {
        QStringList names;
        for (const std::string& id : storedIds)
            names << QString::fromStdString(id);
        return QCoreApplication::translate("lanquill::dialogs::MainWindowServices",
                                           "工作组 %1 中已有 %2，没有重复添加。")
            .arg(QString::fromStdString(GroupId),
                 names.join(QCoreApplication::translate("lanquill::dialogs::MainWindowServices",
                                                        "、", "between the names of a list")));
    }
};

} // namespace lanquill::dialogs
