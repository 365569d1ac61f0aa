#include "Form1.h"
#include "session_platform.h"

#include <QApplication>

int main(int argc, char** argv) {
    session_platform::PreferX11();
    QApplication app(argc, argv);
    Form1 window(QCoreApplication::applicationDirPath());
    window.show();
    return app.exec();
}
