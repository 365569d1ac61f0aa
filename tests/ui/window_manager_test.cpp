// The main window under a real window manager, whose title bar and borders
// take their share of the outer height (run by with_window_manager.sh).
#include "Form1.h"
#include "frmAbout.h"
#include "taskbar.h"

#include "rules_generator.h"
#include "test_files.h"

#include <QGroupBox>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QListWidget>
#include <QScreen>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QWindow>
#include <QtTest>

#include <algorithm>
#include <functional>
#include <memory>
#include <cmath>

namespace {

// A program folder with a rules file of so many units, and the main window
// shown on it.
struct ShownEditor {
    ScratchFolder folder;
    std::unique_ptr<Form1> form;
    explicit ShownEditor(unsigned long long units) {
        MakeFolder(folder / "data");
        WriteBytes(folder / "data/unitrules.xml", GenerateRules({units, 0, 9}).bytes);
        form = std::make_unique<Form1>(QString::fromStdString(folder.path()));
        form->show();
    }
};

// The window ids xprop reads from a window's property (the root's when id is 0).
QList<WId> WindowsIn(const char* property, WId id = 0) {
    QProcess xprop;
    QStringList arguments = id ? QStringList{QStringLiteral("-id"), QString::number(id)} : QStringList{QStringLiteral("-root")};
    xprop.start(QStringLiteral("xprop"), arguments << QString::fromLatin1(property));
    xprop.waitForFinished();
    // NAME(WINDOW): window id # 0x1e00003, 0x2000007
    const QByteArray out = xprop.readAllStandardOutput();
    QList<WId> windows;
    const qsizetype hash = out.indexOf('#');
    if (hash < 0) return windows;
    for (const QByteArray& item : out.mid(hash + 1).split(','))
        windows << item.trimmed().toULongLong(nullptr, 16);
    return windows;
}

// Each window's place from the top in the X server's own stacking, by the
// root's child that holds it (its frame); -1 where it is not shown. A window
// manager's stacking list may be written either way round (jwm: top first).
QList<qsizetype> PlacesFromTop(const QList<WId>& windows) {
    QProcess xwininfo;
    xwininfo.start(QStringLiteral("xwininfo"), {QStringLiteral("-root"), QStringLiteral("-tree")});
    xwininfo.waitForFinished();
    QList<qsizetype> places(windows.size(), -1);
    qsizetype frame = -1;
    for (const QByteArray& line : xwininfo.readAllStandardOutput().split('\n')) {
        if (line.startsWith("     0x")) ++frame;  // the root's children, top first, indented five spaces
        for (qsizetype i = 0; i < windows.size(); ++i)
            if (line.trimmed().startsWith("0x" + QByteArray::number(windows[i], 16) + ' ')) places[i] = frame;
    }
    return places;
}

// The X window of a shown window, from its QWindow: QWidget::winId() on a
// window with a parent would give every widget of the parent an X window.
WId XId(QWidget* window) { return window->windowHandle()->winId(); }

// Whether the pointer is over window, as the X server sees it: over the
// window itself or over the frame the window manager has put around it.
bool PointerIsOver(WId window) {
    QProcess xdotool;
    xdotool.start(QStringLiteral("xdotool"), {QStringLiteral("getmouselocation"), QStringLiteral("--shell")});
    xdotool.waitForFinished();
    WId under = 0;
    for (const QByteArray& line : xdotool.readAllStandardOutput().split('\n'))
        if (line.startsWith("WINDOW=")) under = line.mid(7).toULongLong();
    if (under == window) return true;
    QProcess xwininfo;
    xwininfo.start(QStringLiteral("xwininfo"), {QStringLiteral("-tree"), QStringLiteral("-id"), QString::number(under)});
    xwininfo.waitForFinished();
    return xwininfo.readAllStandardOutput().contains(QByteArray("0x") + QByteArray::number(window, 16) + ' ');
}

// Runs check on the about window while it is shown modally over the main
// window, opened by a click on About; returns once it is closed.
void WithAboutOpen(Form1& form, const std::function<void(frmAbout*)>& check) {
    QTimer::singleShot(0, [&] {
        auto* about = qobject_cast<frmAbout*>(QApplication::activeModalWidget());
        if (!about) return;
        if (QTest::qWaitForWindowExposed(about)) check(about);
        about->close();
    });
    QTest::mouseClick(form.findChild<QPushButton*>(QStringLiteral("Command1")), Qt::LeftButton);
}

}  // namespace

class WindowManagerTest : public QObject {
    Q_OBJECT

private slots:
    void heightsKeepWhatEachStateShows();
    void aboutWindowStaysOutOfTheTaskBar();
    void aboutWindowIsTransientForTheMainWindow();
    void clickOnTheBlockedMainWindowLeavesTheAboutWindowOnTop_data();
    void clickOnTheBlockedMainWindowLeavesTheAboutWindowOnTop();
    void listBorderIsWholeAtEveryScale();
};

void WindowManagerTest::heightsKeepWhatEachStateShows() {
    if (QGuiApplication::platformName() != QLatin1String("xcb")) QSKIP("needs an X display with a window manager");
    ShownEditor editor(60);
    Form1& form = *editor.form;
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    // The frame is known once the window manager has put its own around the window.
    QTRY_VERIFY(form.frameGeometry().height() > form.height());
    const int frame = form.frameGeometry().height() - form.height();
    qInfo("frame top + bottom: %d px", frame);

    auto* bar = form.findChild<QLabel*>(QStringLiteral("lbProcess"));
    auto* frame1 = form.findChild<QGroupBox*>(QStringLiteral("Frame1"));
    const int stripClient = std::max(22, 53 - frame);  // 800 twips outer, the bar's bottom at least
    bool stripAsDesigned = true;
    int stripHeight = 0;
    QTimer watch;
    connect(&watch, &QTimer::timeout, [&] {
        if (frame1->isVisible()) return;
        stripHeight = form.height();
        stripAsDesigned = stripAsDesigned && form.height() == stripClient && bar->geometry().bottom() < form.height();
    });
    watch.start(0);
    form.findChild<QPushButton*>(QStringLiteral("cmdGetData"))->click();
    watch.stop();
    QVERIFY2(stripHeight > 0, "the strip was never seen");
    QVERIFY2(stripAsDesigned, qPrintable(QStringLiteral("strip client height %1, want %2").arg(stripHeight).arg(stripClient)));

    const int readyClient = std::max(262, 293 - frame);  // 4400 twips outer, Frame1 whole at least
    QTRY_COMPARE(form.height(), readyClient);
    QVERIFY(frame1->isVisible());
    QVERIFY(frame1->geometry().bottom() < form.height());
    QTRY_COMPARE(form.frameGeometry().height(), std::max(293, 262 + frame));
    qInfo("client height in the strip %d, when ready %d", stripHeight, form.height());
}

void WindowManagerTest::aboutWindowStaysOutOfTheTaskBar() {
    if (QGuiApplication::platformName() != QLatin1String("xcb")) QSKIP("needs an X display with a window manager");
    ShownEditor editor(3);
    Form1& form = *editor.form;
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    bool keptOut = false, seen = false;
    QTimer::singleShot(0, [&] {
        auto* about = qobject_cast<frmAbout*>(QApplication::activeModalWidget());
        if (!about) return;
        seen = QTest::qWaitForWindowExposed(about);
        // The window manager has mapped it and keeps the marks in its state.
        keptOut = QTest::qWaitFor([about] { return taskbar::IsKeptOut(about); });
        about->close();
    });
    form.findChild<QPushButton*>(QStringLiteral("Command1"))->click();
    QVERIFY(seen);
    QVERIFY(keptOut);
}

void WindowManagerTest::aboutWindowIsTransientForTheMainWindow() {
    if (QGuiApplication::platformName() != QLatin1String("xcb")) QSKIP("needs an X display with a window manager");
    ShownEditor editor(3);
    Form1& form = *editor.form;
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QList<WId> transientFor;
    WithAboutOpen(form, [&](frmAbout* about) { transientFor = WindowsIn("WM_TRANSIENT_FOR", XId(about)); });
    QCOMPARE(transientFor, QList<WId>{form.winId()});
}

// The window manager raises a window that is clicked, blocked or not; the
// about window must stay above the main window it blocks, or come back there
// at once, or the editor looks hung; where it stays above, it is never shown
// anew (a flicker). The clicks, ten times over, go through the X server
// (xdotool), as a user's; the stacking is then watched for a while. Left
// alone while the user works in another program, the about window is never
// shown anew and never takes the focus from it.
void WindowManagerTest::clickOnTheBlockedMainWindowLeavesTheAboutWindowOnTop_data() {
    QTest::addColumn<int>("clicks");  // 2: a double-click, 100 ms apart; 0: one in another program
    QTest::newRow("clicks") << 1;
    QTest::newRow("double-clicks") << 2;
    QTest::newRow("another program clicked") << 0;
}

void WindowManagerTest::clickOnTheBlockedMainWindowLeavesTheAboutWindowOnTop() {
    QFETCH(int, clicks);
    if (QGuiApplication::platformName() != QLatin1String("xcb")) QSKIP("needs an X display with a window manager");
    if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty()) QSKIP("needs xdotool");
    ShownEditor editor(3);
    Form1& form = *editor.form;
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QList<qsizetype> places;  // the about window's, the main window's
    WId aboutId = 0;
    bool clickedOutsideAbout = false, pointerOverMain = false;
    QByteArray otherLog;
    qint64 coveredMs = -1;  // never
    int unmapped = 0;
    WithAboutOpen(form, [&](frmAbout* about) {
        aboutId = XId(about);
        const auto counting =
            connect(about->windowHandle(), &QWindow::visibleChanged, [&](bool visible) { unmapped += !visible; });
        auto covered = [&] {  // the about window further from the top
            places = PlacesFromTop({aboutId, form.winId()});
            return places[0] > places[1];
        };
        // A point of the main window that the about window does not cover.
        const QPoint inMain = form.mapToGlobal(QPoint(20, 20));
        clickedOutsideAbout = !about->frameGeometry().contains(inMain);
        QProcess other;  // xev: a window that takes the focus and reports losing it
        for (int time = 0; time < 10; ++time) {
            QProcess click;
            if (clicks > 0) {
                click.start(QStringLiteral("xdotool"),
                            QStringLiteral("mousemove %1 %2 click --repeat %3 --delay 100 1")
                                .arg(inMain.x()).arg(inMain.y()).arg(clicks).split(QLatin1Char(' ')));
            } else if (time == 0) {  // clear of the editor's windows, at the screen's bottom right
                other.start(QStringLiteral("xev"), {QStringLiteral("-geometry"), QStringLiteral("200x150+800+600")});
                click.start(QStringLiteral("xdotool"), QStringLiteral("search --sync --onlyvisible --name ^Event.Tester$ "
                                                                      "mousemove --window %1 10 10 click 1")
                                                           .split(QLatin1Char(' ')));
            }
            QTest::qWaitFor([&] { return click.state() == QProcess::NotRunning; }, 5000);
            QElapsedTimer clock;  // from the last press: time for the window manager
            clock.start();        // to act, and for the about window to come back
            while (clock.elapsed() < 600) {
                if (covered()) coveredMs = clock.elapsed();
                QTest::qWait(5);
            }
        }
        covered();
        pointerOverMain = PointerIsOver(form.winId());
        disconnect(counting);
        otherLog = other.readAllStandardOutput();
        other.kill();
        other.waitForFinished();
    });
    QVERIFY(clickedOutsideAbout);
    QVERIFY2(clicks == 0 || pointerOverMain, "the click landed on the main window");
    QVERIFY2(places.size() == 2 && places[0] >= 0 && places[1] >= 0, "both windows are shown");
    QVERIFY2(places[0] < places[1], "the main window stayed over the about window");
    if (coveredMs < 0) qInfo("the main window never covered the about window");
    else qInfo("the main window covered the about window until %lld ms after a click", coveredMs);
    qInfo("the about window was shown anew %d times", unmapped);
    QCOMPARE(unmapped, 0);
    const qsizetype focusIn = otherLog.indexOf("FocusIn");
    QVERIFY2(clicks > 0 || (focusIn >= 0 && !otherLog.mid(focusIn).contains("FocusOut")), "the other program kept the focus");
}

// ctest runs this once more at QT_SCALE_FACTOR=1.5, where the unit list
// stands between device pixels. What the X server shows is read back.
void WindowManagerTest::listBorderIsWholeAtEveryScale() {
    if (QGuiApplication::platformName() != QLatin1String("xcb")) QSKIP("needs an X display");
    ShownEditor editor(3);
    Form1& form = *editor.form;
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.repaint();  // drawn on the X server before the grab, which comes after it
    auto* list = form.findChild<QListWidget*>(QStringLiteral("List2"));
    const qreal scale = form.devicePixelRatioF();
    const QImage shown = form.screen()->grabWindow(form.winId()).toImage();
    const QRectF inDevice(QPointF(list->mapTo(&form, QPoint(0, 0))) * scale, QSizeF(list->size()) * scale);
    const QColor base = list->palette().color(QPalette::Base);
    // The first device row and column inside the list, and the last ones.
    const int top = int(std::ceil(inDevice.top())), left = int(std::ceil(inDevice.left()));
    const int bottom = int(std::ceil(inDevice.bottom())) - 1, right = int(std::ceil(inDevice.right())) - 1;
    const int midX = int(inDevice.center().x()), midY = int(inDevice.center().y());
    // A line within a pixel of where the edge falls.
    auto lineAt = [&](int x, int y, bool across) {
        for (int d = -1; d <= 1; ++d) {
            const QColor c = shown.pixelColor(across ? x : x + d, across ? y + d : y);
            if (c.lightness() < base.lightness() - 40) return true;
        }
        return false;
    };
    qInfo("scale %.2f, list at %.1f, %.1f device pixels", scale, inDevice.left(), inDevice.top());
    QVERIFY2(lineAt(midX, top, true), "top border");
    QVERIFY2(lineAt(left, midY, false), "left border");
    QVERIFY2(lineAt(midX, bottom, true), "bottom border");
    QVERIFY2(lineAt(right, midY, false), "right border");
}

QTEST_MAIN(WindowManagerTest)
#include "window_manager_test.moc"
