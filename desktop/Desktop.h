// The desktop's services: tray icon, global hot key, task-bar hint, help viewer, message boxes,
// one small interface each over Qt Widgets and X11. The program builds the real set once in
// main() and hands it down with the operating-system layers; tests hand down fakes instead.
#pragma once

#include "desktop/Listeners.h"
#include "platform/Platform.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class QIcon;
class QPoint;
class QWidget;

namespace lanquill::desktop {

// The notification-area icon.
class TrayIcon {
public:
    virtual ~TrayIcon() = default;
    // Adds the icon; while no tray host is up, keeps looking for one. Returns false when the
    // icon could not be shown at once: then `shown` is raised when it appears.
    virtual bool add(const QIcon& icon, const QString& tip) = 0;
    virtual void remove() = 0;
    // Changes the picture and tip of the icon (as added or not).
    virtual void update(const QIcon& icon, const QString& tip) = 0;
    // A short note beside the icon that goes away by itself.
    virtual void showMessage(const QString& title, const QString& text) = 0;

    // Left button pressed over the icon.
    Listeners<> leftPress;
    // Right button released over the icon, with the pointer's position on the screen.
    Listeners<const QPoint&> rightRelease;
    // The icon added while no tray host was up has appeared.
    Listeners<> shown;
};

// Global hot keys, registered under atoms as GlobalAddAtom / RegisterHotKey do.
class HotKeys {
public:
    virtual ~HotKeys() = default;
    // Grabs `key` (a Qt::Key) with `modifiers` (Qt::KeyboardModifiers bits) for the whole
    // desktop under `name`; its presses raise `pressed` with the id returned. The id is given
    // even when the key is taken or there is no global hot-key service (not X11): then nothing
    // is pressed under it.
    virtual std::uint16_t grab(const std::string& name, int modifiers, int key) = 0;
    virtual void release(std::uint16_t id) = 0;

    Listeners<std::uint16_t> pressed;
};

// Keeps a top-level window off the task bar.
class TaskbarButton {
public:
    virtual ~TaskbarButton() = default;
    virtual void hide(QWidget& window) = 0;
};

// The help viewer window.
class HelpViewer {
public:
    virtual ~HelpViewer() = default;
    // Closes the top-level window titled `title`, if there is one; true when one was closed.
    virtual bool closeWindowTitled(const QString& title) = 0;
    // Shows the compiled help file at `path`; false when it cannot be opened (not reported).
    virtual bool open(const std::string& path) = 0;
};

// Desktop notifications (the session's notification server).
class Notifications {
public:
    virtual ~Notifications() = default;
    struct Options {
        // A notification raised under the same thread as a shown one takes its place (a burst
        // from one sender stays one notification); empty: always a new one.
        QString thread;
        // The desktop's sound for a new message goes with it.
        bool sound = false;
    };
    // Raises a notification of a received message; `onOpen` runs when the user picks it. Without
    // a notification server nothing shows and nothing is reported.
    virtual void notify(const QString& summary, const QString& body, std::function<void()> onOpen,
                        const Options& options) = 0;
};

// Plain message boxes with one OK button.
class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    virtual void show(QWidget* parent, const QString& text) = 0;
};

// The desktop's keyring (the Secret Service), where the passwords of the administrator accounts
// of Windows desktops are kept: never in a file of the program's own.
class Keyring {
public:
    virtual ~Keyring() = default;
    struct Answer {
        bool ok = false;      // the keyring answered and did what was asked
        bool missing = false; // it answered that it holds nothing under the key
        QString secret;       // what it holds, for a read
        QString error;        // why not, in the keyring's words, when neither
    };
    // The secret stored under `key`. Waits for the keyring without freezing the windows; the
    // user's input is held back meanwhile.
    virtual Answer read(const QString& key) = 0;
    // Stores `secret` under `key`, replacing what was there.
    virtual Answer write(const QString& key, const QString& secret) = 0;
};

// The whole set handed down through the program: the operating-system layers and the desktop's.
// Pointers, never null in a complete set.
struct Platform : platform::Platform {
    TrayIcon* tray = nullptr;
    HotKeys* hotKeys = nullptr;
    TaskbarButton* taskbar = nullptr;
    HelpViewer* help = nullptr;
    MessageBoxes* messages = nullptr;
    Notifications* notifications = nullptr;
    Keyring* keyring = nullptr;
};

// Owns the real layers; `platform()` hands them out.
class RealPlatform {
public:
    RealPlatform();
    ~RealPlatform();
    RealPlatform(const RealPlatform&) = delete;
    RealPlatform& operator=(const RealPlatform&) = delete;
    const Platform& platform() const { return platform_; }

private:
    struct Layers;
    std::unique_ptr<Layers> layers_;
    Platform platform_;
};

} // namespace lanquill::desktop
