#include "menu_keys.h"

#include <QEvent>
#include <QKeyEvent>
#include <QObject>
#include <QWidget>

namespace menu_keys {

namespace {

class MenuKeyFilter : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::KeyPress && IsMenuKey(*static_cast<QKeyEvent*>(event))) return true;
        return QObject::eventFilter(watched, event);
    }
};

}  // namespace

bool IsMenuKey(const QKeyEvent& event) {
    const QString text = event.text();
    // Keys that type no character (arrows, Backspace, Alt+Backspace as undo)
    // keep whatever meaning the box gives them; any other text would go in.
    if (text.isEmpty() || text.front().category() == QChar::Other_Control) return false;
    const Qt::KeyboardModifiers modifiers = event.modifiers();
    const bool altWithoutCtrl = (modifiers & Qt::AltModifier) && !(modifiers & Qt::ControlModifier);
    return altWithoutCtrl || (modifiers & Qt::MetaModifier);
}

void KeepFromTyping(QWidget* box) { box->installEventFilter(new MenuKeyFilter(box)); }

}  // namespace menu_keys
