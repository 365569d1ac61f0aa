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

// The progress strip's value, 0 to 100, told to screen readers as it changes.
void SetProgress(QWidget* strip, double fraction);

}  // namespace accessibility
