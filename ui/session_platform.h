// Which of Qt's window-system platforms the editor starts on, chosen before
// the application object exists. The windows need what only X11 gives a
// client: placing a window (the about window and the warnings are centred),
// the size of the frame the desktop draws (outer heights), and a way to stay
// out of the task bar. So X11 is taken wherever an X server is offered, as
// XWayland offers one on Wayland desktops; a session with no X server gets
// native Wayland. A platform the user has chosen in QT_QPA_PLATFORM is left
// alone.
#pragma once

#include <string>

namespace session_platform {

// Call first thing in main, before QApplication is built: sets
// QT_QPA_PLATFORM for this process when the user has not. Does nothing on
// systems other than Linux and the BSDs.
void PreferX11();

// Call after PreferX11, just before QApplication is built, with main's
// arguments. Empty when the platforms the -platform argument or
// QT_QPA_PLATFORM names (as Qt picks them when both are unset) have a display
// to open windows on: an X server that the -display argument or DISPLAY
// names and that answers, or a Wayland compositor listening where
// WAYLAND_DISPLAY says. A platform that needs no display server (offscreen,
// and any other the user names) counts as reachable. Otherwise the one line
// that says there is none, names where it looked (the X display, the Wayland
// display), and how to give one; Qt itself would abort with a
// message that blames its installation. When it is empty, and until
// EndDisplayCheck, Qt's messages are held back, and should Qt still find the
// platform unusable (a library its plugin needs missing, eglfs without a DRM
// device, a name it does not know), the process writes one line with the
// first reason Qt or the loader gave and exits with status 1 instead of
// aborting; where the user traces Qt (QT_DEBUG_PLUGINS=1, debug logging
// rules), the held messages come first. Always empty on systems other than
// Linux and the BSDs.
std::string MissingDisplay(int argc, const char* const* argv);

// Call once QApplication is built: passes on Qt's messages held meanwhile
// (in the screenless case below only where the user traces Qt) and closes the
// connection MissingDisplay kept open to the X server it found, which Qt's
// own connection now keeps alive. Returns the one line of
// MissingDisplay's kind when the platform started without a screen to show
// a window on (linuxfb with no frame buffer), else empty.
std::string EndDisplayCheck();

}  // namespace session_platform
