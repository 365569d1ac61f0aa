#include "folder_plugins.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QtGlobal>

#ifdef Q_OS_LINUX
#include <filesystem>
#include <system_error>
#endif

namespace folder_plugins {

#ifdef Q_OS_LINUX
namespace {
bool g_hidden = false;
QByteArray g_pluginPath;
}  // namespace
#endif

void IgnorePluginPathInFolder() {
#ifdef Q_OS_LINUX
    if (!qEnvironmentVariableIsSet("QT_PLUGIN_PATH")) return;
    // Where Qt itself looks for qt.conf: beside the executable, links resolved.
    std::error_code error;
    const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error || !std::filesystem::exists(executable.parent_path() / "qt.conf", error)) return;
    g_pluginPath = qgetenv("QT_PLUGIN_PATH");
    g_hidden = qunsetenv("QT_PLUGIN_PATH");
#endif
}

void GivePluginPathBack() {
#ifdef Q_OS_LINUX
    if (!g_hidden) return;
    QCoreApplication::libraryPaths();  // listed now, if Qt has not yet
    qputenv("QT_PLUGIN_PATH", g_pluginPath);
    g_hidden = false;
#endif
}

}  // namespace folder_plugins
