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
// desktop maps a new window on top and gives it the focus. It is called at
// most once per press on modal's parent window (or the focus such a press
// gives it), kGraceMs after it, and only where modal is then covered:
//  - on X11, where the X server stacks the parent's frame above modal's, and
//    still does kGraceMs later;
//  - on sway, natively and through XWayland, whose X server's order need not
//    be the compositor's, when the parent has held the focus since it took it;
//  - elsewhere never: Wayland compositors and Windows keep a window above
//    its parent, and without a window manager nothing raises the parent.
// A window manager's lists play no part, and the focus it passes to the
// parent while modal is being shown anew is no press.
void KeepInFront(QWidget* modal, std::function<void()> showAnew);

}  // namespace modal_focus
