// Which window system the editor itself starts on, for the sessions a Linux
// desktop offers (run by with_wayland.sh --and-x, which offers a headless
// Wayland compositor and a private X display). Each case starts the built
// editor with the session's variables and watches where its window appears:
// on the X display, or in the Wayland protocol log of its connection.
#include <QLibraryInfo>
#include <QFileInfo>
#include <QProcess>
#include <QtTest>

namespace {

// The environment of the test minus the variables a session sets.
QProcessEnvironment BareSession() {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "XDG_SESSION_TYPE", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(name));
    return environment;
}

// A display number no X server listens on.
QString GoneDisplay() {
    int number = 900;
    while (QFileInfo::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(number))) ++number;
    return QStringLiteral(":%1").arg(number);
}

bool HasWaylandPlugin() {
    return QFileInfo::exists(QLibraryInfo::path(QLibraryInfo::PluginsPath) +
                             QStringLiteral("/platforms/libqwayland-generic.so"));
}

// The editor's windows on the X display, found by its process id.
bool ShowsOnX(const QString& display, qint64 pid) {
    QProcess search;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), display);
    search.setProcessEnvironment(environment);
    search.start(QStringLiteral("xdotool"),
                 {QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--pid"), QString::number(pid)});
    search.waitForFinished();
    return !search.readAllStandardOutput().trimmed().isEmpty();
}

}  // namespace

class SessionPlatformTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void editorTakesX11WhereverAnXServerIsOffered_data();
    void editorTakesX11WhereverAnXServerIsOffered();

private:
    QString display_;
    QString wayland_;
};

void SessionPlatformTest::initTestCase() {
    display_ = qEnvironmentVariable("DISPLAY");
    wayland_ = qEnvironmentVariable("WAYLAND_DISPLAY");
    if (display_.isEmpty() || wayland_.isEmpty()) QSKIP("needs an X display and a Wayland compositor");
}

void SessionPlatformTest::editorTakesX11WhereverAnXServerIsOffered_data() {
    // x: "offered", "none", or "gone" (DISPLAY names a server that is not there).
    QTest::addColumn<QString>("x");
    QTest::addColumn<bool>("offerWayland");
    QTest::addColumn<QString>("sessionType");
    QTest::addColumn<QString>("usersChoice");
    QTest::addColumn<QString>("expected");
    QTest::newRow("X11 session") << "offered" << false << "x11" << "" << "xcb";
    QTest::newRow("Wayland session with XWayland") << "offered" << true << "wayland" << "" << "xcb";
    QTest::newRow("Wayland session without X") << "none" << true << "wayland" << "" << "wayland";
    QTest::newRow("Wayland session, X server gone") << "gone" << true << "wayland" << "" << "wayland";
    QTest::newRow("user chose Wayland") << "offered" << true << "wayland" << "wayland" << "wayland";
    QTest::newRow("user chose X11 on Wayland") << "offered" << true << "wayland" << "xcb" << "xcb";
}

void SessionPlatformTest::editorTakesX11WhereverAnXServerIsOffered() {
    QFETCH(QString, x);
    QFETCH(bool, offerWayland);
    QFETCH(QString, sessionType);
    QFETCH(QString, usersChoice);
    QFETCH(QString, expected);
    if (expected == QLatin1String("wayland") && !HasWaylandPlugin())
        QSKIP("Qt's Wayland platform (qt6-wayland) is not installed");

    QProcessEnvironment session = BareSession();
    if (x == QLatin1String("offered")) session.insert(QStringLiteral("DISPLAY"), display_);
    if (x == QLatin1String("gone")) session.insert(QStringLiteral("DISPLAY"), GoneDisplay());
    if (offerWayland) session.insert(QStringLiteral("WAYLAND_DISPLAY"), wayland_);
    session.insert(QStringLiteral("XDG_SESSION_TYPE"), sessionType);
    if (!usersChoice.isEmpty()) session.insert(QStringLiteral("QT_QPA_PLATFORM"), usersChoice);
    // A Wayland client writes every request it sends to its error output.
    session.insert(QStringLiteral("WAYLAND_DEBUG"), QStringLiteral("client"));

    QProcess editor;
    editor.setProcessEnvironment(session);
    editor.start(QStringLiteral(TARVENOR_EDITOR), {});
    QVERIFY2(editor.waitForStarted(), qPrintable(editor.errorString()));
    QByteArray protocol;
    QString taken;
    const bool settled = QTest::qWaitFor(
        [&] {
            protocol += editor.readAllStandardError();
            if (protocol.contains(".get_toplevel(")) taken = QStringLiteral("wayland");
            else if (ShowsOnX(display_, editor.processId())) taken = QStringLiteral("xcb");
            return !taken.isEmpty() || editor.state() == QProcess::NotRunning;
        },
        30000);
    const bool exited = editor.state() == QProcess::NotRunning;
    editor.kill();
    editor.waitForFinished();
    QVERIFY2(settled && !taken.isEmpty(),
             qPrintable(QStringLiteral("the editor showed no window%1: %2")
                            .arg(exited ? QStringLiteral(", exit status %1").arg(editor.exitCode()) : QString(),
                                 QString::fromLocal8Bit(protocol.right(2000)))));
    QCOMPARE(taken, expected);
}

QTEST_GUILESS_MAIN(SessionPlatformTest)
#include "session_platform_test.moc"
