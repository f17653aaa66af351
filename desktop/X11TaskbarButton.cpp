#include "desktop/X11TaskbarButton.h"

#include <QEvent>
#include <QGuiApplication>
#include <QWidget>

#include <xcb/xcb.h>

#include <array>
#include <cstdlib>
#include <cstring>

namespace lanquill::desktop {

namespace {

xcb_atom_t internAtom(xcb_connection_t* connection, const char* name) {
    auto cookie =
        xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::strlen(name)), name);
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection, cookie, nullptr);
    if (reply == nullptr)
        return XCB_ATOM_NONE;
    const xcb_atom_t atom = reply->atom;
    std::free(reply);
    return atom;
}

// Sets the skip-task-bar and skip-pager states: as a property while the window is unmapped (the
// toolkit keeps states it finds there when it maps the window), and by a request to the window
// manager once it is mapped.
void skipTaskbar(QWidget& window) {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (x11 == nullptr || x11->connection() == nullptr)
        return;
    xcb_connection_t* connection = x11->connection();
    const auto handle = static_cast<xcb_window_t>(window.winId());
    const xcb_atom_t state = internAtom(connection, "_NET_WM_STATE");
    const std::array<xcb_atom_t, 2> skip = {internAtom(connection, "_NET_WM_STATE_SKIP_TASKBAR"),
                                            internAtom(connection, "_NET_WM_STATE_SKIP_PAGER")};
    if (state == XCB_ATOM_NONE || skip[0] == XCB_ATOM_NONE)
        return;

    xcb_change_property(connection, XCB_PROP_MODE_APPEND, handle, state, XCB_ATOM_ATOM, 32,
                        static_cast<std::uint32_t>(skip.size()), skip.data());

    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = handle;
    message.type = state;
    message.data.data32[0] = 1; // _NET_WM_STATE_ADD
    message.data.data32[1] = skip[0];
    message.data.data32[2] = skip[1];
    message.data.data32[3] = 1; // source: a normal application
    xcb_send_event(connection, 0, root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&message));
    xcb_flush(connection);
}

} // namespace

void X11TaskbarButton::hide(QWidget& window) {
    window.installEventFilter(this);
    skipTaskbar(window);
}

bool X11TaskbarButton::eventFilter(QObject* watched, QEvent* event) {
    // The show event comes before the window is mapped; a window manager may drop the states of
    // a withdrawn window, so they are set again on every show.
    if (event->type() == QEvent::Show && watched->isWidgetType())
        skipTaskbar(*static_cast<QWidget*>(watched));
    return false;
}

} // namespace lanquill::desktop
