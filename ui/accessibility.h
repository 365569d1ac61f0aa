// What a screen reader is told beyond what the widgets say of themselves: the
// main window is a window, the progress strip is a progress bar with a value,
// the about window's logos are links that can be pressed, its site list keeps
// one name whatever site it shows, and the about window is a modal dialog.
#pragma once

class QWidget;

namespace accessibility {

// Installs the descriptions once per process; the windows call it when they
// are made.
void Install();

// The progress strip's value for a fraction of the way: a whole percentage,
// 0 to 100, the fraction clamped and rounded.
int ProgressPercent(double fraction);

// Gives the progress strip the value percent and tells screen readers. The
// caller keeps the value it last gave and calls this only when it changes: a
// command reports its progress once a line, the value changes 101 times.
void SetProgress(QWidget* strip, int percent);

}  // namespace accessibility
