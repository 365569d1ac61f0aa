#include "session_platform.h"

#include <QByteArray>
#include <QList>
#include <QtGlobal>

#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN) && !defined(Q_OS_ANDROID)
#define TARVENOR_UNIX_DESKTOP 1
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#if __has_include(<xcb/xcb.h>)
#define TARVENOR_X11 1
#include <xcb/xcb.h>
#endif
#endif

namespace session_platform {

void PreferX11() {
#ifdef TARVENOR_UNIX_DESKTOP
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) return;
    // DISPLAY may name a server that has gone away; Qt then goes on down the
    // list, to Wayland where the session has it.
    if (!qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("xcb;wayland"));
    else if (!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("wayland"));
#endif
}

#ifdef TARVENOR_UNIX_DESKTOP
namespace {

#ifdef TARVENOR_X11
// The connection that found the X server answering, open until Qt has its
// own: an X server whose last client leaves resets, or ends (-terminate), and
// Qt's connection a moment later would find it gone.
xcb_connection_t* g_probe = nullptr;
#endif

// The way Qt's X11 platform connects: the same library, the display its
// -display argument names, else DISPLAY. Without DISPLAY it does not start,
// whatever -display says.
bool XServerAnswers(const QByteArray& display) {
#ifdef TARVENOR_X11
    if (qEnvironmentVariableIsEmpty("DISPLAY")) return false;
    xcb_connection_t* connection = xcb_connect(display.isEmpty() ? nullptr : display.constData(), nullptr);
    if (xcb_connection_has_error(connection) != 0) {
        xcb_disconnect(connection);
        return false;
    }
    EndDisplayCheck();
    g_probe = connection;
    return true;
#else
    Q_UNUSED(display);
    return false;
#endif
}

// Where the Wayland client library looks: a socket handed over in
// WAYLAND_SOCKET, else WAYLAND_DISPLAY (wayland-0 when unset), a path of its
// own or a name in XDG_RUNTIME_DIR.
bool WaylandCompositorListens() {
    if (!qEnvironmentVariableIsEmpty("WAYLAND_SOCKET")) return true;
    QByteArray path = qgetenv("WAYLAND_DISPLAY");
    if (path.isEmpty()) path = QByteArrayLiteral("wayland-0");
    if (!path.startsWith('/')) {
        const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
        if (runtime.isEmpty()) return false;
        path = runtime + '/' + path;
    }
    sockaddr_un address{};
    if (std::size_t(path.size()) >= sizeof address.sun_path) return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.constData(), std::size_t(path.size()));
    const int socket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (socket < 0) return false;
    const bool listens = ::connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(socket);
    return listens;
}

}  // namespace
#endif

std::string MissingDisplay(int argc, const char* const* argv) {
#ifdef TARVENOR_UNIX_DESKTOP
    QByteArray platforms = qgetenv("QT_QPA_PLATFORM");
    QByteArray display;
    // Qt's own arguments, read as Qt reads them: -platform overrides
    // QT_QPA_PLATFORM, -display names the X server; "--" is "-".
    for (int i = 1; i + 1 < argc; ++i) {
        QByteArray argument(argv[i]);
        if (argument.startsWith("--")) argument.remove(0, 1);
        if (argument == "-platform") platforms = argv[++i];
        else if (argument == "-display") display = argv[++i];
    }
    // Unset, Qt tries its default, X11, after Wayland in a Wayland session.
    if (platforms.isEmpty())
        platforms = qgetenv("XDG_SESSION_TYPE") == "wayland" ? QByteArrayLiteral("wayland;xcb") : QByteArrayLiteral("xcb");
    for (const QByteArray& entry : platforms.split(';')) {
        const QByteArray name = entry.split(':').first().trimmed();
        if (name == "xcb") {
            if (XServerAnswers(display)) return {};
        } else if (name.startsWith("wayland")) {
            if (WaylandCompositorListens()) return {};
        } else if (!name.isEmpty()) {
            return {};
        }
    }
    return "tarvenor-unit-editor: no display to open the window on: no X server answers at DISPLAY and no "
           "Wayland compositor at WAYLAND_DISPLAY; start it in a desktop session, or set DISPLAY (such as :0) or "
           "WAYLAND_DISPLAY (such as wayland-0) to a running one";
#else
    Q_UNUSED(argc);
    Q_UNUSED(argv);
    return {};
#endif
}

void EndDisplayCheck() {
#ifdef TARVENOR_X11
    if (g_probe) xcb_disconnect(g_probe);
    g_probe = nullptr;
#endif
}

}  // namespace session_platform
