#pragma once

#include "desktop/Desktop.h"

#include <QAbstractNativeEventFilter>

#include <map>
#include <vector>

struct xcb_connection_t;

namespace lanquill::desktop {

// Global hot keys on X11: the key is grabbed on the root window, also with NumLock and CapsLock
// on, so that it works whatever the lock state. Without an X11 display nothing is registered.
class X11HotKeys : public HotKeys, public QAbstractNativeEventFilter {
public:
    X11HotKeys();
    ~X11HotKeys() override;
    std::uint16_t grab(const std::string& name, int modifiers, int key) override;
    void release(std::uint16_t id) override;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    struct Grab {
        std::uint8_t keycode;
        std::uint16_t modifiers;
    };
    bool grabKey(std::uint16_t id, int modifiers, int key);
    void ungrab(const Grab& grab);

    xcb_connection_t* connection_ = nullptr;
    std::uint32_t root_ = 0;
    std::map<std::uint16_t, Grab> grabs_;
    std::map<std::uint16_t, std::string> names_;
};

} // namespace lanquill::desktop
