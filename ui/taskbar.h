// Keeping a window out of the desktop's task bar and pager. Qt marks a tool
// window only by its type, which some X11 window managers ignore; on X11 the
// window's state says so outright.
#pragma once

class QWidget;

namespace taskbar {

// Call once the window's native window exists (QWidget::create) and before
// it is first shown; does nothing where the window system needs no help.
void KeepOut(QWidget* window);

// Whether the window's X11 state carries both marks (false elsewhere).
bool IsKeptOut(const QWidget* window);

}  // namespace taskbar
