// Keys as a Windows user presses them, sent through Windows itself
// (SendInput) rather than handed to Qt: the access keys of the four buttons,
// and that they push nothing while Read or Save runs; Tab through the
// designed order; in the about window the arrow keys choosing sites and
// Escape leaving it open. Runs with -platform windows.
#include "Form1.h"
#include "editor_fixture.h"
#include "frmAbout.h"

#include "rules_generator.h"

#include <QComboBox>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <QWindow>
#include <QtTest>

#include <windows.h>

#include <vector>

namespace {

// Presses the keys in order and lets them go in reverse order, as a hand does.
void Press(std::initializer_list<WORD> keys) {
    std::vector<INPUT> inputs;
    for (WORD key : keys) {
        INPUT input{};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = key;
        inputs.push_back(input);
    }
    for (auto key = std::rbegin(keys); key != std::rend(keys); ++key) {
        INPUT input{};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = *key;
        input.ki.dwFlags = KEYEVENTF_KEYUP;
        inputs.push_back(input);
    }
    SendInput(UINT(inputs.size()), inputs.data(), sizeof(INPUT));
}

// Brings the window to the front, where Windows sends the keys.
bool Foreground(QWidget* window) {
    window->activateWindow();
    // Not winId(): on a window with a parent it makes the parent's widgets native.
    if (window->windowHandle()) SetForegroundWindow(reinterpret_cast<HWND>(window->windowHandle()->winId()));
    return QTest::qWaitForWindowActive(window);
}

QString Focused() { return QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : QString(); }

}  // namespace

class WindowsKeysTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void accessKeysClickTheirButtons();
    void accessKeysDoNothingWhileACommandRuns_data();
    void accessKeysDoNothingWhileACommandRuns();
    void tabFollowsTheDesignedOrder();
    void aboutWindowArrowsChooseSitesAndEscapeKeepsItOpen();
};

void WindowsKeysTest::initTestCase() {
    if (QGuiApplication::platformName() != QLatin1String("windows")) QSKIP("needs -platform windows");
}

void WindowsKeysTest::accessKeysClickTheirButtons() {
    Editor editor(GenerateRules({5, 0, 4}).bytes);
    QVERIFY(Foreground(editor.form.get()));
    Press({VK_MENU, 'R'});
    QTRY_COMPARE(editor.get<QListWidget>("List2")->count(), 5);
    // Read is disabled now: Alt+R again types nothing over the selected value.
    editor.select(0);
    const QString attack = editor.box(0)->text();
    editor.box(0)->selectAll();
    Press({VK_MENU, 'R'});
    const std::string file = editor.file();
    std::filesystem::remove(Fs(file));
    Press({VK_MENU, 'S'});
    QTRY_VERIFY(std::filesystem::exists(Fs(file)));
    QCOMPARE(editor.box(0)->text(), attack);

    bool aboutOpened = false;
    QTimer closer;  // runs inside the about window's own event loop
    connect(&closer, &QTimer::timeout, [&] {
        if (auto* about = qobject_cast<frmAbout*>(QApplication::activeModalWidget())) {
            aboutOpened = true;
            about->close();
        }
    });
    closer.start(0);
    Press({VK_MENU, 'A'});
    QTRY_VERIFY(aboutOpened);
    closer.stop();

    QVERIFY(Foreground(editor.form.get()));
    Press({VK_MENU, 'X'});
    QTRY_VERIFY(!editor.form->isVisible());
}

void WindowsKeysTest::accessKeysDoNothingWhileACommandRuns_data() {
    QTest::addColumn<bool>("save");
    QTest::addColumn<int>("key");
    for (const auto& [command, save] : {std::pair{"read", false}, std::pair{"save", true}})
        for (const char key : {'R', 'S', 'A', 'X'})
            QTest::addRow("Alt+%c during %s", key, command) << save << int(key);
}

void WindowsKeysTest::accessKeysDoNothingWhileACommandRuns() {
    QFETCH(bool, save);
    QFETCH(int, key);
    Editor editor(GenerateRules({300, 0, 4}).bytes);
    QVERIFY(Foreground(editor.form.get()));
    if (save) editor.read();
    const QList<QPushButton*> buttons{editor.get<QPushButton>("cmdGetData"), editor.get<QPushButton>("cmdSave"),
                                      editor.get<QPushButton>("Command1"), editor.get<QPushButton>("Command2")};
    bool sent = false;
    bool arrivedWhileBusy = false;
    bool reacted = false;
    // Where the key arrives: an access key that matches pushes its button
    // down at once, before the key itself is delivered.
    struct KeyWatch : QObject {
        std::function<void()> arrived;
        int key = 0;
        bool eventFilter(QObject*, QEvent* event) override {
            if (event->type() == QEvent::KeyRelease && static_cast<QKeyEvent*>(event)->key() == key) arrived();
            return false;
        }
    } watch;
    watch.key = key;
    watch.arrived = [&] {
        arrivedWhileBusy |= editor.form->busy();
        for (QPushButton* button : buttons) reacted |= button->isDown();
    };
    qApp->installEventFilter(&watch);
    QTimer presser;
    connect(&presser, &QTimer::timeout, [&] {
        if (QWidget* opened = QApplication::activeModalWidget()) {  // the about window, opened by mistake
            reacted = true;
            opened->close();
        }
        if (!editor.form->busy() || sent) return;
        sent = true;
        Press({VK_MENU, WORD(key)});
    });
    presser.start(0);
    save ? editor.save() : editor.read();
    presser.stop();
    qApp->removeEventFilter(&watch);
    QVERIFY(sent);
    QVERIFY2(arrivedWhileBusy, "the key came after the command: make the file longer");
    QVERIFY(!reacted);
    QVERIFY(editor.form->isVisible());
}

void WindowsKeysTest::tabFollowsTheDesignedOrder() {
    Editor editor(GenerateRules({5, 0, 4}).bytes);
    QVERIFY(Foreground(editor.form.get()));
    QCOMPARE(Focused(), QStringLiteral("Text1(0)"));
    const QStringList order{QStringLiteral("Text1(1)"), QStringLiteral("Text1(2)"), QStringLiteral("Text1(3)"),
                            QStringLiteral("Text1(5)"), QStringLiteral("Text1(6)"), QStringLiteral("Text1(7)"),
                            QStringLiteral("Text1(4)"), QStringLiteral("txtFind"),  QStringLiteral("List2"),
                            QStringLiteral("cmdGetData"), QStringLiteral("Command1"), QStringLiteral("Command2"),
                            QStringLiteral("Text1(0)")};
    for (const QString& next : order) {
        Press({VK_TAB});
        QTRY_COMPARE(Focused(), next);
    }
    Press({VK_SHIFT, VK_TAB});
    QTRY_COMPARE(Focused(), QStringLiteral("Command2"));
}

void WindowsKeysTest::aboutWindowArrowsChooseSitesAndEscapeKeepsItOpen() {
    const QString log = ShellAddressLog();
    if (log.isEmpty()) QSKIP("the shell's browser is only stood in for under Wine");
    QFile::remove(log);
    frmAbout about;
    about.show();
    QVERIFY(Foreground(&about));
    auto* sites = about.findChild<QComboBox*>(QStringLiteral("cbURL"));
    QTRY_VERIFY(sites->hasFocus());
    // Down, Down and Up choose sites 0, 1 and 0; Escape leaves the window open
    // and the choice as it was, which the Down after it shows. Each opening is
    // awaited before the next key: the stand-in browser's processes would
    // otherwise log them in the order the system happens to run them.
    QStringList opened;
    for (const auto& [key, site] : std::initializer_list<std::pair<WORD, int>>{
             {VK_DOWN, 0}, {VK_DOWN, 1}, {VK_UP, 0}, {VK_ESCAPE, 0}, {VK_DOWN, 1}}) {
        Press({key});
        if (key == VK_ESCAPE) continue;
        QTRY_COMPARE(sites->currentIndex(), site);
        opened << about.findChild<QWidget*>(QStringLiteral("imgURL(%1)").arg(site))->property("Tag").toString();
        QTRY_COMPARE_WITH_TIMEOUT(LoggedAddresses(log), opened, 20000);
    }
    QVERIFY(about.isVisible());
}

QTEST_MAIN(WindowsKeysTest)
#include "windows_keys_test.moc"
