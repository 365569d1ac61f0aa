// Keeping a modal window in front of the window it blocks. Most desktops keep
// a transient window above its parent and hand it the focus when the parent
// is clicked. A tiling compositor (sway) raises whichever window takes the
// focus, keeps no window above its parent, and answers a client's request for
// the focus by marking the window urgent, or, when told to follow such
// requests, by focusing it without a raise: a click on the blocked main
// window would bury the only window that takes input, and the editor would
// look hung. Showing the window anew brings it back, but it also flickers and
// puts a window the user has moved back where the desktop first placed it, so
// it is done only where the window is, or may be, covered.
#pragma once

#include <functional>

class QWidget;

namespace modal_focus {

// How long the modal window may be covered before it is shown anew: desktops
// that keep it in front bring it back well within it.
constexpr int kGraceMs = 100;

// Call before modal is first shown; the watch ends with modal. showAnew
// should hide and show modal again without ending its modal loop; every
// desktop maps a new window on top and gives it the focus. It is called
//  - on X11, when the window manager's stacking list has kept modal's parent
//    window above modal for kGraceMs;
//  - on sway, natively and through XWayland, whose list of X11 windows is in
//    the order they were mapped, when the parent has held the focus for
//    kGraceMs since it took it;
//  - elsewhere never: Wayland compositors and Windows keep a window above
//    its parent, and without a window manager nothing raises the parent.
void KeepInFront(QWidget* modal, std::function<void()> showAnew);

}  // namespace modal_focus
