// The offscreen platform warns on every change of a window's fixed size and
// on raise(); neither says anything about the editor, so the window tests
// drop those two messages and pass every other one on.
#pragma once

#include <QtGlobal>

inline void DropOffscreenPlatformNoise() {
    static QtMessageHandler passOn = nullptr;
    passOn = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context, const QString& text) {
        if (text.startsWith(QLatin1String("This plugin does not support"))) return;
        passOn(type, context, text);
    });
}
