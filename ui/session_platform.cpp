#include "session_platform.h"

#include <QByteArray>
#include <QtGlobal>

namespace session_platform {

void PreferX11() {
#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN) && !defined(Q_OS_ANDROID)
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) return;
    // DISPLAY may name a server that has gone away; Qt then goes on down the
    // list, to Wayland where the session has it.
    if (!qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("xcb;wayland"));
    else if (!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("wayland"));
#endif
}

}  // namespace session_platform
