// No widget inside the main window gets a native window of its own, whatever
// the user opened before: the about window, the start-up warning, a failure
// box. A native child turns every step of the progress bar into a request to
// the window system. Asked of Qt and of the window system itself: on X11 under
// a real window manager (with_window_manager.sh), and under Wine on the
// windows platform.
#include "Form1.h"

#include "test_files.h"
#include "unit_records.h"

#include <QApplication>
#include <QPushButton>
#include <QTimer>
#include <QWindow>
#include <QtTest>

#include <filesystem>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <QProcess>
#endif

namespace {

// The windows the window system has inside the main window: child HWNDs on
// Windows, child X windows on X11 but for the 1×1 window in which Qt keeps
// the time of the last input for the window manager.
QStringList NativeChildrenOutside(QWidget* form) {
    const WId id = form->windowHandle()->winId();
    QStringList children;
#ifdef Q_OS_WIN
    EnumChildWindows(
        reinterpret_cast<HWND>(id),
        [](HWND child, LPARAM list) {
            wchar_t name[256] = {};
            GetClassNameW(child, name, 256);
            *reinterpret_cast<QStringList*>(list) << QString::fromWCharArray(name);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&children));
#else
    QProcess xwininfo;
    xwininfo.start(QStringLiteral("xwininfo"), {QStringLiteral("-children"), QStringLiteral("-id"), QString::number(id)});
    if (!xwininfo.waitForFinished() || xwininfo.exitCode() != 0) return {QStringLiteral("(xwininfo failed)")};
    // "     0x400013 "Qt NET_WM User Time Window": ()  1x1+-1+-1  +98+86"
    for (const QString& line : QString::fromLocal8Bit(xwininfo.readAllStandardOutput()).split(QLatin1Char('\n')))
        if (line.trimmed().startsWith(QLatin1String("0x")) && !line.contains(QLatin1String("\"Qt NET_WM User Time Window\"")))
            children << line.trimmed();
#endif
    return children;
}

// Closes each modal window (the about window, a message box) once it is on
// the screen, as the user would, and notes its class.
class Closer {
public:
    Closer() {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            if (!modal || !modal->windowHandle() || !modal->windowHandle()->isExposed()) return;
            closed << QString::fromLatin1(modal->metaObject()->className());
            modal->close();
        });
        timer_.start(20);
    }
    QStringList closed;

private:
    QTimer timer_;
};

}  // namespace

class NativeChildrenTest : public QObject {
    Q_OBJECT

private slots:
    void noWidgetInTheMainWindowIsNative_data();
    void noWidgetInTheMainWindowIsNative();
};

void NativeChildrenTest::noWidgetInTheMainWindowIsNative_data() {
    QTest::addColumn<bool>("fileAtStart");
    QTest::addColumn<QStringList>("closed");
    // Read is disabled after the start-up warning: the failure box needs a
    // file at start-up that has gone by the time of the click.
    QTest::newRow("start-up warning, about window") << false << QStringList{QStringLiteral("QMessageBox"), QStringLiteral("frmAbout")};
    QTest::newRow("about window, failed Read") << true << QStringList{QStringLiteral("frmAbout"), QStringLiteral("QMessageBox")};
}

void NativeChildrenTest::noWidgetInTheMainWindowIsNative() {
    QFETCH(bool, fileAtStart);
    QFETCH(QStringList, closed);
    if (QGuiApplication::platformName() != QLatin1String("xcb") && QGuiApplication::platformName() != QLatin1String("windows"))
        QSKIP("needs the X11 or the Windows platform");
    ScratchFolder folder;
    MakeFolder(folder / "data");
    const std::string file = folder / "data/unitrules.xml";
    if (fileAtStart) WriteBytes(file, CrlfBytes(UnitRecord("Archer")));
    Closer closer;
    Form1 form(QString::fromStdString(folder.path()));
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QCOMPARE(NativeChildrenOutside(&form), QStringList());

    QTest::mouseClick(form.findChild<QPushButton*>(QStringLiteral("Command1")), Qt::LeftButton);
    if (fileAtStart) {
        std::filesystem::remove(Fs(file));
        QTest::mouseClick(form.findChild<QPushButton*>(QStringLiteral("cmdGetData")), Qt::LeftButton);
    }
    QCOMPARE(closer.closed, closed);

    QCOMPARE(NativeChildrenOutside(&form), QStringList());
    QStringList native;
    for (QWidget* widget : form.findChildren<QWidget*>())
        if (!widget->isWindow() && widget->internalWinId())
            native << QString::fromLatin1(widget->metaObject()->className()) + QLatin1Char(' ') + widget->objectName();
    QVERIFY2(native.isEmpty(), qPrintable(native.join(QStringLiteral(", "))));
}

QTEST_MAIN(NativeChildrenTest)
#include "native_children_test.moc"
