// Keeping a modal window in front of the window it blocks. Most desktops keep
// a transient window above its parent and hand it the focus when the parent
// is clicked. A tiling compositor (sway) raises whichever window takes the
// focus, keeps no window above its parent, and answers a client's request for
// the focus by marking the window urgent, or, when told to follow such
// requests, by focusing it without a raise: a click on the blocked main
// window would bury the only window that takes input, and the editor would
// look hung.
#pragma once

#include <functional>

class QWidget;

namespace modal_focus {

// How long the blocked window may hold the focus before the modal window is
// shown anew: desktops that hand the focus on do so well within it.
constexpr int kGraceMs = 100;

// Call before modal is first shown; the watch ends with modal. Whenever the
// desktop gives the focus to modal's parent window while modal is shown,
// and kGraceMs later the parent still has it, or (X11) the window manager
// does not list modal above it, showAnew is called: it should hide and show
// modal again without ending its modal loop. Every desktop maps a new window
// on top and gives it the focus.
void KeepInFront(QWidget* modal, std::function<void()> showAnew);

}  // namespace modal_focus
