#include "desktop/X11HotKeys.h"

#include <QGuiApplication>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <array>
#include <cstdlib>
#include <memory>

namespace lanquill::desktop {

namespace {

// The lock modifiers a user may have on while pressing the hot key.
constexpr std::uint16_t NumLockMask = XCB_MOD_MASK_2;
constexpr std::uint16_t CapsLockMask = XCB_MOD_MASK_LOCK;
constexpr std::array<std::uint16_t, 4> LockCombinations = {0, NumLockMask, CapsLockMask,
                                                           NumLockMask | CapsLockMask};

std::uint16_t x11Modifiers(int qtModifiers) {
    std::uint16_t mask = 0;
    if (qtModifiers & Qt::ShiftModifier)
        mask |= XCB_MOD_MASK_SHIFT;
    if (qtModifiers & Qt::ControlModifier)
        mask |= XCB_MOD_MASK_CONTROL;
    if (qtModifiers & Qt::AltModifier)
        mask |= XCB_MOD_MASK_1;
    if (qtModifiers & Qt::MetaModifier)
        mask |= XCB_MOD_MASK_4;
    return mask;
}

// Letters and digits are all the program needs; their keysyms are their Latin-1 codes.
xcb_keysym_t keysymFor(int key) {
    if (key >= Qt::Key_A && key <= Qt::Key_Z)
        return static_cast<xcb_keysym_t>('a' + (key - Qt::Key_A));
    if (key >= Qt::Key_0 && key <= Qt::Key_9)
        return static_cast<xcb_keysym_t>(key);
    return 0;
}

} // namespace

X11HotKeys::X11HotKeys() {
    if (auto* x11 =
            qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr) {
        connection_ = x11->connection();
        if (connection_ != nullptr) {
            const xcb_setup_t* setup = xcb_get_setup(connection_);
            root_ = xcb_setup_roots_iterator(setup).data->root;
            qGuiApp->installNativeEventFilter(this);
        }
    }
}

X11HotKeys::~X11HotKeys() {
    for (const auto& [id, grab] : grabs_)
        ungrab(grab);
    if (connection_ != nullptr && qGuiApp)
        qGuiApp->removeNativeEventFilter(this);
}

std::uint16_t X11HotKeys::grab(const std::string& name, int modifiers, int key) {
    // Ids of names take the values 0xC000 to 0xFFFF, as global atoms do; a name grabbed again
    // keeps its id and its first grab.
    for (const auto& [id, known] : names_)
        if (known == name)
            return id;
    std::uint16_t id = 0xC000;
    while (names_.count(id) != 0)
        ++id;
    names_[id] = name;
    grabKey(id, modifiers, key);
    return id;
}

void X11HotKeys::release(std::uint16_t id) {
    names_.erase(id);
    auto it = grabs_.find(id);
    if (it == grabs_.end())
        return;
    ungrab(it->second);
    grabs_.erase(it);
}

bool X11HotKeys::grabKey(std::uint16_t id, int modifiers, int key) {
    if (connection_ == nullptr || grabs_.count(id) != 0)
        return false;
    const xcb_keysym_t keysym = keysymFor(key);
    if (keysym == 0)
        return false;
    std::unique_ptr<xcb_key_symbols_t, decltype(&xcb_key_symbols_free)> symbols(
        xcb_key_symbols_alloc(connection_), &xcb_key_symbols_free);
    std::unique_ptr<xcb_keycode_t, decltype(&std::free)> keycodes(
        xcb_key_symbols_get_keycode(symbols.get(), keysym), &std::free);
    if (!keycodes || keycodes.get()[0] == XCB_NO_SYMBOL)
        return false;
    const Grab grab{keycodes.get()[0], x11Modifiers(modifiers)};

    bool taken = false;
    std::array<xcb_void_cookie_t, LockCombinations.size()> cookies{};
    for (std::size_t i = 0; i < LockCombinations.size(); ++i) {
        cookies[i] =
            xcb_grab_key_checked(connection_, 1, root_, grab.modifiers | LockCombinations[i],
                                 grab.keycode, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
    }
    for (auto cookie : cookies) {
        if (xcb_generic_error_t* error = xcb_request_check(connection_, cookie)) {
            taken = true; // BadAccess: another client holds this combination
            std::free(error);
        }
    }
    if (taken) {
        ungrab(grab);
        return false;
    }
    grabs_[id] = grab;
    return true;
}

void X11HotKeys::ungrab(const Grab& grab) {
    if (connection_ == nullptr)
        return;
    for (std::uint16_t locks : LockCombinations)
        xcb_ungrab_key(connection_, grab.keycode, root_, grab.modifiers | locks);
    xcb_flush(connection_);
}

bool X11HotKeys::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t")
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7F) != XCB_KEY_PRESS)
        return false;
    const auto* press = static_cast<const xcb_key_press_event_t*>(message);
    if (press->event != root_)
        return false;
    const std::uint16_t modifiers = press->state & ~(NumLockMask | CapsLockMask) & 0xFF;
    for (const auto& [id, grab] : grabs_) {
        if (grab.keycode == press->detail && grab.modifiers == modifiers) {
            pressed(id);
            return true;
        }
    }
    return false;
}

} // namespace lanquill::desktop
