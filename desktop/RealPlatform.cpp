#include "desktop/Desktop.h"

#include "desktop/ChmHelpViewer.h"
#include "desktop/DBusNotifications.h"
#include "desktop/PortalHotKeys.h"
#include "desktop/QtKeychainKeyring.h"
#include "desktop/QtMessageBoxes.h"
#include "desktop/SystemTrayIcon.h"
#include "desktop/UdpDatagramSocket.h"
#include "desktop/X11HotKeys.h"
#include "desktop/X11TaskbarButton.h"
#include "platform/DetachedCommandRunner.h"
#include "platform/LocalSystem.h"
#include "platform/NameService.h"
#include "platform/NeighbourTable.h"
#include "platform/PresenceProbe.h"
#include "platform/SmbMessenger.h"
#include "platform/SmbNetworkEnumerator.h"

#include <QGuiApplication>

namespace lanquill::desktop {

namespace {

// X11 lets the program grab its keys. Wayland lets no program do that; there the desktop portal
// binds them where it offers global shortcuts (KDE Plasma), and elsewhere (GNOME) the user binds
// `lanquill --show` to a key of the desktop's own.
std::unique_ptr<HotKeys> makeHotKeys() {
    if (QGuiApplication::platformName() != QStringLiteral("xcb") && PortalHotKeys::offered())
        return std::make_unique<PortalHotKeys>();
    return std::make_unique<X11HotKeys>();
}

} // namespace

// Each real layer, owned here for the whole run.
struct RealPlatform::Layers {
    platform::LocalSystem system;
    UdpDatagramSocket probeSocket;
    SystemTrayIcon tray;
    std::unique_ptr<HotKeys> hotKeys = makeHotKeys();
    X11TaskbarButton taskbar;
    ChmHelpViewer help;
    QtMessageBoxes messages;
    DBusNotifications notifications;
    QtKeychainKeyring keyring;
    platform::RealResolver resolver;
    platform::RealNeighbourTable neighbours;
    platform::SmbMessenger messenger{resolver};
    platform::DetachedCommandRunner commands;
    platform::SmbNetworkEnumerator network;
    platform::UdpPresenceProber presence;
};

RealPlatform::RealPlatform() : layers_(std::make_unique<Layers>()) {
    platform_.system = &layers_->system;
    platform_.probeSocket = &layers_->probeSocket;
    platform_.tray = &layers_->tray;
    platform_.hotKeys = layers_->hotKeys.get();
    platform_.taskbar = &layers_->taskbar;
    platform_.help = &layers_->help;
    platform_.messages = &layers_->messages;
    platform_.notifications = &layers_->notifications;
    platform_.keyring = &layers_->keyring;
    platform_.resolver = &layers_->resolver;
    platform_.neighbours = &layers_->neighbours;
    platform_.messenger = &layers_->messenger;
    platform_.commands = &layers_->commands;
    platform_.network = &layers_->network;
    platform_.presence = &layers_->presence;
}

RealPlatform::~RealPlatform() = default;

} // namespace lanquill::desktop
