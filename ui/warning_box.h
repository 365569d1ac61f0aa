// The one way the windows show a warning: a modal box with a warning icon and
// an OK button. Tests replace the box with a handler that records it, so no
// test waits on a modal box.
#pragma once

#include <QString>

#include <functional>

class QWidget;

namespace warning_box {

using Handler = std::function<void(QWidget* parent, const QString& title, const QString& text)>;

// Shows the box and returns when the user has closed it.
void Show(QWidget* parent, const QString& title, const QString& text);

// Replaces the box (an empty handler brings the real box back); returns the
// handler it replaces.
Handler SetHandler(Handler handler);

}  // namespace warning_box
