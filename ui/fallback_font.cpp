#include "fallback_font.h"

#include <QDir>
#include <QFontDatabase>
#include <QLibraryInfo>

namespace fallback_font {

void AddWhereSystemLacksChinese() {
    const QDir folder(QLibraryInfo::path(QLibraryInfo::LibrariesPath) + QStringLiteral("/fonts"));
    const QStringList files =
        folder.entryList({QStringLiteral("*.ttc"), QStringLiteral("*.ttf"), QStringLiteral("*.otf")}, QDir::Files);
    if (files.isEmpty() || !QFontDatabase::families(QFontDatabase::SimplifiedChinese).isEmpty()) return;
    for (const QString& file : files) QFontDatabase::addApplicationFont(folder.filePath(file));
}

}  // namespace fallback_font
