#include "warning_box.h"

#include <QEvent>
#include <QMessageBox>
#include <QScreen>

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
    if (parent && parent->isVisible()) {
        QMessageBox::warning(parent, title, text, QMessageBox::Ok);
        return;
    }
    // A box over a window that is not on the screen yet (the start-up
    // warning) would stand at the screen's corner: it is centred on the
    // screen instead, by its frame as the platform reports it once the box
    // has its native window (Qt's own placement guesses the frame's size).
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Ok);
    struct Centre : QObject {
        bool eventFilter(QObject* watched, QEvent* event) override {
            if (event->type() == QEvent::Show) {
                auto* window = static_cast<QWidget*>(watched);
                QRect frame = window->frameGeometry();
                frame.moveCenter(window->screen()->availableGeometry().center());
                window->move(frame.topLeft());
            }
            return false;
        }
    } centre;
    box.installEventFilter(&centre);
    box.exec();
}

Handler SetHandler(Handler handler) { return std::exchange(Installed(), std::move(handler)); }

}  // namespace warning_box
