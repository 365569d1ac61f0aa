// Keys pressed with Alt or the Windows key are menu and shortcut keys, never
// typing. Qt's text boxes take Alt+R as a plain "r" whenever no enabled
// shortcut claims it first: after Read has disabled its own button, Alt+R
// would overwrite the selected value in a box. Windows' own boxes never type
// such a key, and neither do the editor's, on any system.
#pragma once

class QKeyEvent;
class QWidget;

namespace menu_keys {

// True for a press that carries a character but is held with Alt (without Ctrl) or
// with the Windows/Meta key. Ctrl together with Alt is how Windows reports
// AltGr, which types characters on many keyboards, so it still types; Ctrl
// alone is already refused by Qt's boxes. An input method's text arrives as
// a commit, not as a key press, and is never affected.
bool IsMenuKey(const QKeyEvent& event);

// Makes box drop such presses before it sees them. The filter is a child of
// box and goes with it.
void KeepFromTyping(QWidget* box);

}  // namespace menu_keys
