// The Chinese font that the Linux release folder carries for systems with
// none: without it every caption and name would be drawn as boxes. It sits in
// Qt's own font folder (fonts/ beside Qt's libraries, as qt.conf places them).
#pragma once

namespace fallback_font {

// Call once QApplication is built, before any window is shown: adds the
// fonts of Qt's font folder to the application's fonts when no system font
// covers Simplified Chinese. A system that has one keeps its own fonts alone,
// and where Qt's font folder does not exist (Qt installed on the system, or
// Windows) nothing is done.
void AddWhereSystemLacksChinese();

}  // namespace fallback_font
