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
    QMessageBox::warning(parent, title, text, QMessageBox::Ok);
}

Handler SetHandler(Handler handler) { return std::exchange(Installed(), std::move(handler)); }

}  // namespace warning_box
