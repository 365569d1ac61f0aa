#include "warning_box.h"

#include <QMessageBox>

namespace warning_box {
namespace {
Handler& Installed() {
    static Handler handler;
    return handler;
}
}  // namespace

void Show(QWidget* parent, const QString& title, const QString& text) {
    if (Installed()) {
        Installed()(parent, title, text);
        return;
    }
    // A box over a window that is not on the screen yet (the start-up
    // warning) would stand at the screen's corner; without a parent it is
    // centred on the screen.
    QWidget* over = parent && parent->isVisible() ? parent : nullptr;
    QMessageBox::warning(over, title, text, QMessageBox::Ok);
}

Handler SetHandler(Handler handler) { return std::exchange(Installed(), std::move(handler)); }

}  // namespace warning_box
