// Which of Qt's window-system platforms the editor starts on, chosen before
// the application object exists. The windows need what only X11 gives a
// client: placing a window (the about window and the warnings are centred),
// the size of the frame the desktop draws (outer heights), and a way to stay
// out of the task bar. So X11 is taken wherever an X server is offered, as
// XWayland offers one on Wayland desktops; a session with no X server gets
// native Wayland. A platform the user has chosen in QT_QPA_PLATFORM is left
// alone.
#pragma once

namespace session_platform {

// Call first thing in main, before QApplication is built: sets
// QT_QPA_PLATFORM for this process when the user has not. Does nothing on
// systems other than Linux and the BSDs.
void PreferX11();

}  // namespace session_platform
