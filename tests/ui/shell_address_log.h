// Under Wine, tools/wine_prefix.sh stands in for the browser: every address
// opened through the shell is appended to a file of the Wine prefix, each by
// a process of its own, so openings asked for together land in any order.
#pragma once

#include <QDir>
#include <QFile>
#include <QStringList>

// The file, or empty when not under Wine.
inline QString ShellAddressLog() {
    const QString prefix = qEnvironmentVariable("WINEPREFIX");
    if (prefix.isEmpty()) return {};
    return QStringLiteral("Z:") + QDir::toNativeSeparators(prefix + QStringLiteral("/opened-addresses.txt"));
}

inline QStringList LoggedAddresses(const QString& log) {
    QFile file(log);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}
