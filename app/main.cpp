#include "Form1.h"
#include "fallback_font.h"
#include "folder_plugins.h"
#include "session_platform.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char** argv) {
    folder_plugins::IgnorePluginPathInFolder();
    session_platform::PreferX11();
    if (const std::string missing = session_platform::MissingDisplay(argc, argv); !missing.empty()) {
        std::fprintf(stderr, "%s\n", missing.c_str());
        return 1;
    }
    QApplication app(argc, argv);
    folder_plugins::GivePluginPathBack();
    if (const std::string missing = session_platform::EndDisplayCheck(); !missing.empty()) {
        std::fprintf(stderr, "%s\n", missing.c_str());
        return 1;
    }
    fallback_font::AddWhereSystemLacksChinese();
    Form1 window(QCoreApplication::applicationDirPath());
    window.show();
    return app.exec();
}
