#include "desktop/Desktop.h"

#include "desktop/ChmHelpViewer.h"
#include "desktop/DBusNotifications.h"
#include "desktop/QtMessageBoxes.h"
#include "desktop/SystemTrayIcon.h"
#include "desktop/UdpDatagramSocket.h"
#include "desktop/X11HotKeys.h"
#include "desktop/X11TaskbarButton.h"
#include "platform/DetachedCommandRunner.h"
#include "platform/LocalSystem.h"
#include "platform/NameService.h"
#include "platform/NeighbourTable.h"
#include "platform/SmbMessenger.h"
#include "platform/SmbNetworkEnumerator.h"

namespace lanquill::desktop {

// Each real layer, owned here for the whole run.
struct RealPlatform::Layers {
    platform::LocalSystem system;
    UdpDatagramSocket probeSocket;
    SystemTrayIcon tray;
    X11HotKeys hotKeys;
    X11TaskbarButton taskbar;
    ChmHelpViewer help;
    QtMessageBoxes messages;
    DBusNotifications notifications;
    platform::RealResolver resolver;
    platform::RealNeighbourTable neighbours;
    platform::SmbMessenger messenger{resolver};
    platform::DetachedCommandRunner commands;
    platform::SmbNetworkEnumerator network;
};

RealPlatform::RealPlatform() : layers_(std::make_unique<Layers>()) {
    platform_.system = &layers_->system;
    platform_.probeSocket = &layers_->probeSocket;
    platform_.tray = &layers_->tray;
    platform_.hotKeys = &layers_->hotKeys;
    platform_.taskbar = &layers_->taskbar;
    platform_.help = &layers_->help;
    platform_.messages = &layers_->messages;
    platform_.notifications = &layers_->notifications;
    platform_.resolver = &layers_->resolver;
    platform_.neighbours = &layers_->neighbours;
    platform_.messenger = &layers_->messenger;
    platform_.commands = &layers_->commands;
    platform_.network = &layers_->network;
}

RealPlatform::~RealPlatform() = default;

} // namespace lanquill::desktop
