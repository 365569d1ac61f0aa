#include "taskbar.h"

#include <QGuiApplication>
#include <QWidget>

#if defined(Q_OS_LINUX) && __has_include(<xcb/xcb.h>)
#define TARVENOR_X11 1
#include <QWindow>
#include <QtGui/qguiapplication_platform.h>
#include <xcb/xcb.h>

#include "x11_atom.h"

#include <cstdlib>
#include <cstring>
#include <vector>
#endif

namespace taskbar {

#ifdef TARVENOR_X11
namespace {

xcb_connection_t* Connection() {
    if (QGuiApplication::platformName() != QLatin1String("xcb")) return nullptr;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

std::vector<xcb_atom_t> States(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t property) {
    std::vector<xcb_atom_t> states;
    xcb_get_property_reply_t* reply = xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, window, property, XCB_ATOM_ATOM, 0, 1024), nullptr);
    if (reply && reply->format == 32 && reply->type == XCB_ATOM_ATOM) {
        const auto* atoms = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply));
        states.assign(atoms, atoms + xcb_get_property_value_length(reply) / sizeof(xcb_atom_t));
    }
    std::free(reply);
    return states;
}

bool Contains(const std::vector<xcb_atom_t>& states, xcb_atom_t atom) {
    for (xcb_atom_t state : states)
        if (state == atom) return true;
    return false;
}

}  // namespace

// The state of a window not yet mapped is its own property; Qt adds its own
// marks to it when it maps the window. The id comes from the window's
// QWindow: QWidget::winId() would mark the widget as wanting a native window,
// and Qt then gives every widget beside it in its owner an X window of its
// own, which turns each later step of the progress bar into a request to the
// X server.
void KeepOut(QWidget* window) {
    xcb_connection_t* connection = Connection();
    if (!connection || !window->windowHandle()) return;
    const auto id = static_cast<xcb_window_t>(window->windowHandle()->winId());
    const xcb_atom_t property = x11::Atom(connection, "_NET_WM_STATE");
    std::vector<xcb_atom_t> states = States(connection, id, property);
    for (const char* name : {"_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER"}) {
        const xcb_atom_t atom = x11::Atom(connection, name);
        if (!Contains(states, atom)) states.push_back(atom);
    }
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, property, XCB_ATOM_ATOM, 32, uint32_t(states.size()),
                        states.data());
    xcb_flush(connection);
}

bool IsKeptOut(const QWidget* window) {
    xcb_connection_t* connection = Connection();
    if (!connection || !window->internalWinId()) return false;
    const auto id = static_cast<xcb_window_t>(window->internalWinId());
    const std::vector<xcb_atom_t> states = States(connection, id, x11::Atom(connection, "_NET_WM_STATE"));
    return Contains(states, x11::Atom(connection, "_NET_WM_STATE_SKIP_TASKBAR")) &&
           Contains(states, x11::Atom(connection, "_NET_WM_STATE_SKIP_PAGER"));
}

#else

void KeepOut(QWidget*) {}
bool IsKeptOut(const QWidget*) { return false; }

#endif

}  // namespace taskbar
