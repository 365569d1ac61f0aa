// The whole editor's Save, for the crash-state tests to record: the main
// window opened on a program folder, Read clicked, the first unit clicked in
// the list, its attack retyped as 99 and Save clicked, all through the
// window's own controls.
//
//   recorded_editor_save <program folder>
#include "Form1.h"
#include "offscreen_noise.h"
#include "warning_box.h"

#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QtTest>

#include <cstdio>

int main(int argc, char** argv) {
    DropOffscreenPlatformNoise();
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: recorded_editor_save <program folder>\n");
        return 2;
    }
    // A box would wait for a click nobody makes: its text goes to the test.
    bool warned = false;
    warning_box::SetHandler([&warned](QWidget*, const QString&, const QString& text) {
        std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
        warned = true;
    });
    Form1 form(QString::fromLocal8Bit(argv[1]));
    form.show();
    const auto control = [&form]<typename T>(T*, const char* name) {
        T* widget = form.findChild<T*>(QString::fromLatin1(name));
        if (!widget) qFatal("no control %s", name);
        return widget;
    };
    QTest::mouseClick(control(static_cast<QPushButton*>(nullptr), "cmdGetData"), Qt::LeftButton);
    auto* list = control(static_cast<QListWidget*>(nullptr), "List2");
    if (list->count() == 0) return 1;
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(0)).center());
    auto* attack = control(static_cast<QLineEdit*>(nullptr), "Text1(0)");
    attack->selectAll();
    QTest::keyClicks(attack, QStringLiteral("99"));
    QTest::mouseClick(control(static_cast<QPushButton*>(nullptr), "cmdSave"), Qt::LeftButton);
    return warned ? 1 : 0;
}
