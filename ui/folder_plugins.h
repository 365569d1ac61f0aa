// The release folder's editor takes Qt's plugins from the folder only. Its
// qt.conf points Qt at the folder's plugins, but Qt looks first in the folders
// QT_PLUGIN_PATH names: a system's plugins, built against the system's Qt,
// would load on top of the folder's libraries (and crash where that Qt is
// another version). The editor built on the system, with no qt.conf beside
// it, keeps Qt's usual rules. Linux only; elsewhere both do nothing.
#pragma once

namespace folder_plugins {

// Call first thing in main, before QApplication is built: where a qt.conf
// sits beside the executable, QT_PLUGIN_PATH is hidden from Qt.
void IgnorePluginPathInFolder();

// Call once QApplication is built, when Qt has listed its plugin folders for
// good: QT_PLUGIN_PATH is given back, for the programs the editor starts
// (the web browser, which may be a Qt program of the system's).
void GivePluginPathBack();

}  // namespace folder_plugins
