#include "session_platform.h"

#include <QByteArray>
#include <QGuiApplication>
#include <QList>
#include <QLoggingCategory>
#include <QtGlobal>

#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN) && !defined(Q_OS_ANDROID)
#define TARVENOR_UNIX_DESKTOP 1
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>
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

void CloseProbe() {
    if (g_probe) xcb_disconnect(g_probe);
    g_probe = nullptr;
}
#endif

// The way Qt's X11 platform connects: the same library, the display its
// -display argument names, else DISPLAY.
bool XServerAnswers(const QByteArray& display) {
#ifdef TARVENOR_X11
    xcb_connection_t* connection = xcb_connect(display.isEmpty() ? nullptr : display.constData(), nullptr);
    if (xcb_connection_has_error(connection) != 0) {
        xcb_disconnect(connection);
        return false;
    }
    CloseProbe();
    g_probe = connection;
    return true;
#else
    Q_UNUSED(display);
    return false;
#endif
}

// What was tried where no X server answered.
QByteArray NoXServer(const QByteArray& display) {
    const QByteArray named = display.isEmpty() ? qgetenv("DISPLAY") : display;
    return named.isEmpty() ? QByteArrayLiteral("DISPLAY is not set") : "no X server answers at " + named;
}

// The Wayland display the client library connects to: WAYLAND_DISPLAY,
// wayland-0 when unset.
QByteArray WaylandDisplay() {
    const QByteArray named = qgetenv("WAYLAND_DISPLAY");
    return named.isEmpty() ? QByteArrayLiteral("wayland-0") : named;
}

// Where the Wayland client library looks: a socket handed over in
// WAYLAND_SOCKET, else the Wayland display, a path of its own or a name in
// XDG_RUNTIME_DIR.
bool WaylandCompositorListens() {
    if (!qEnvironmentVariableIsEmpty("WAYLAND_SOCKET")) return true;
    QByteArray path = WaylandDisplay();
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

constexpr const char* kNoDisplay = "tarvenor-unit-editor: no display to open the window on: ";
constexpr const char* kHowToGiveOne =
    "start it in a desktop session, or set DISPLAY (such as :0) or WAYLAND_DISPLAY (such as wayland-0) to a running one";

// What the platform was asked for, for the line that says it did not start.
QByteArray g_platforms;

// Qt's messages while QApplication is built, passed on once it stands. Should
// the platform not start, Qt ends the process with a message that blames its
// installation, after warnings of its own; the line that replaces it names
// the first reason Qt gave.
struct HeldMessage {
    QtMsgType type;
    const char* file;  // Qt's own texts, static
    int line;
    const char* function;
    const char* category;
    QString text;
    bool wanted;  // the user's logging settings show it
};
std::vector<HeldMessage>* g_held = nullptr;
QtMessageHandler g_passOn = nullptr;

// Why a plugin did not load (a library it needs missing, say) Qt's plugin
// loader tells only at debug level (QT_DEBUG_PLUGINS=1). While messages are
// held it is heard anyway, for the reason, and its debug messages are passed
// on only where the user's settings ask for them.
constexpr const char* kLoaderCategory = "qt.core.plugin.loader";
QLoggingCategory::CategoryFilter g_usersFilter = nullptr;
bool g_userHearsLoader = false;

void HearTheLoader(QLoggingCategory* category) {
    g_usersFilter(category);
    if (std::strcmp(category->categoryName(), kLoaderCategory) != 0) return;
    g_userHearsLoader = category->isDebugEnabled();
    category->setEnabled(QtDebugMsg, true);
}

bool FromLoader(const char* category) { return category && std::strcmp(category, kLoaderCategory) == 0; }

// The held messages the user's settings show, all of them or only where they
// show debug messages (the user is tracing Qt: nothing of it may be lost).
void PassOnHeld(bool onlyWhenTracing) {
    bool tracing = false;
    for (const HeldMessage& held : *g_held) tracing = tracing || (held.wanted && held.type == QtDebugMsg);
    if (onlyWhenTracing && !tracing) return;
    for (const HeldMessage& held : *g_held)
        if (held.wanted)
            g_passOn(held.type, QMessageLogContext(held.file, held.line, held.function, held.category), held.text);
}

// The first reason Qt gave: the loader's, where a plugin did not load, else
// Qt's first warning, else its last word. fromLoader: the reason is a plugin
// that did not load, not the display.
QByteArray FirstReason(const QString& fatal, bool* fromLoader) {
    *fromLoader = false;
    for (const HeldMessage& held : *g_held) {
        // "QLibraryPrivate::loadPlugin failed on "<file>" : "<reason>""
        const qsizetype reason = held.text.indexOf(QLatin1String("\" : \""));
        if (FromLoader(held.category) && held.text.contains(QLatin1String("loadPlugin failed")) && reason >= 0) {
            *fromLoader = true;  // before another platform's warning, which came first in a list
            return held.text.mid(reason + 5).chopped(1).toLocal8Bit();
        }
    }
    for (const HeldMessage& held : *g_held)
        if (!FromLoader(held.category) && (held.type == QtWarningMsg || held.type == QtCriticalMsg))
            return held.text.toLocal8Bit();
    return fatal.section(QLatin1Char('\n'), 0, 0).toLocal8Bit();
}

void HoldOrEnd(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type == QtFatalMsg) {
        PassOnHeld(true);
        bool fromLoader = false;
        const QByteArray reason = FirstReason(text, &fromLoader);
        std::fprintf(stderr, "tarvenor-unit-editor: the window system %s (QT_QPA_PLATFORM, -platform) did not start: %s",
                     g_platforms.constData(), reason.constData());
        if (!fromLoader)
            std::fprintf(stderr, "; unset QT_QPA_PLATFORM and leave out -platform, or %s", kHowToGiveOne);
        std::fprintf(stderr, "\n");
        std::fflush(stderr);
        std::_Exit(1);
    }
    const bool wanted = !(type == QtDebugMsg && FromLoader(context.category) && !g_userHearsLoader);
    g_held->push_back({type, context.file, context.line, context.function, context.category, text, wanted});
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
    QList<QByteArray> tried;  // what did not answer, for the line that says so
    for (const QByteArray& entry : platforms.split(';')) {
        const QByteArray name = entry.split(':').first().trimmed();
        const bool x11 = name == "xcb", wayland = name.startsWith("wayland");
        const bool reachable = x11 ? XServerAnswers(display) : wayland ? WaylandCompositorListens() : !name.isEmpty();
        if (!reachable) {
            const QByteArray missing =
                x11 ? NoXServer(display) : wayland ? "no Wayland compositor answers at " + WaylandDisplay() : QByteArray();
            if (!missing.isEmpty() && !tried.contains(missing)) tried << missing;
            continue;
        }
        if (!g_held) {
            g_platforms = '"' + platforms + '"';
            g_held = new std::vector<HeldMessage>;
            g_passOn = qInstallMessageHandler(HoldOrEnd);
            g_usersFilter = QLoggingCategory::installFilter(HearTheLoader);
        }
        return {};
    }
    if (tried.isEmpty()) tried << "no window system is named";
    return std::string(kNoDisplay) + tried.join(" and ").toStdString() + "; " + kHowToGiveOne;
#else
    Q_UNUSED(argc);
    Q_UNUSED(argv);
    return {};
#endif
}

std::string EndDisplayCheck() {
#ifdef TARVENOR_X11
    CloseProbe();
#endif
#ifdef TARVENOR_UNIX_DESKTOP
    // A platform may start without a screen (linuxfb with no frame buffer)
    // and end the process at the first window; its complaints go with it.
    const bool screenless = qGuiApp && QGuiApplication::screens().isEmpty();
    if (g_held) {
        QLoggingCategory::installFilter(g_usersFilter);
        qInstallMessageHandler(g_passOn);
        PassOnHeld(screenless);
        delete g_held;
        g_held = nullptr;
    }
    if (screenless)
        return std::string(kNoDisplay) + "the window system \"" + QGuiApplication::platformName().toStdString() +
               "\" has no screen; " + kHowToGiveOne;
#endif
    return {};
}

}  // namespace session_platform
