// The editor started where no display server can be reached (an SSH session
// without forwarding, a service): one plain line on its error output that
// says so (or, where the platform does not start, the reason Qt gave) and how
// to give one, and exit status 1, not Qt's abort. A platform the user names
// that needs no display (offscreen), in the environment or as Qt's -platform
// argument, still starts. Finding out must not cost the
// display the editor then opens.
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

class NoDisplayTest : public QObject {
    Q_OBJECT

private slots:
    void editorSaysThereIsNoDisplayAndExits_data();
    void editorSaysThereIsNoDisplayAndExits();
    void platformTheUserNamesNeedsNoDisplay_data();
    void platformTheUserNamesNeedsNoDisplay();
    void editorStartsAsTheOnlyClientOfAnXServer_data();
    void editorStartsAsTheOnlyClientOfAnXServer();

private:
    // The test's environment without any display, plus the given variables.
    QProcessEnvironment Session(const QStringList& variables) const;
    QTemporaryDir runtime_;  // XDG_RUNTIME_DIR, with no compositor in it
};

QProcessEnvironment NoDisplayTest::Session(const QStringList& variables) const {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "WAYLAND_SOCKET", "XDG_SESSION_TYPE", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(name));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime_.path());
    for (const QString& variable : variables)
        environment.insert(variable.section(QLatin1Char('='), 0, 0), variable.section(QLatin1Char('='), 1));
    return environment;
}

void NoDisplayTest::editorSaysThereIsNoDisplayAndExits_data() {
    int gone = 900;  // an X display number nobody serves
    while (QFileInfo::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(gone))) ++gone;
    const QString goneDisplay = QStringLiteral("DISPLAY=:%1").arg(gone);
    const QByteArray noXServer = "no X server answers at :" + QByteArray::number(gone);
    QTest::addColumn<QStringList>("variables");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("tried");  // where the line says it looked
    QTest::newRow("neither DISPLAY nor WAYLAND_DISPLAY") << QStringList{} << QStringList{} << QByteArray("DISPLAY is not set");
    QTest::newRow("X server gone") << QStringList{goneDisplay} << QStringList{} << noXServer;
    QTest::newRow("Wayland compositor gone")
        << QStringList{QStringLiteral("WAYLAND_DISPLAY=wayland-gone"), QStringLiteral("XDG_SESSION_TYPE=wayland")}
        << QStringList{} << QByteArray("no Wayland compositor answers at wayland-gone");
    QTest::newRow("both gone") << QStringList{goneDisplay, QStringLiteral("WAYLAND_DISPLAY=wayland-gone")} << QStringList{}
                               << noXServer + " and no Wayland compositor answers at wayland-gone";
    QTest::newRow("user chose X11") << QStringList{QStringLiteral("QT_QPA_PLATFORM=xcb")} << QStringList{}
                                    << QByteArray("DISPLAY is not set");
    QTest::newRow("user chose Wayland") << QStringList{QStringLiteral("QT_QPA_PLATFORM=wayland")} << QStringList{}
                                        << QByteArray(": no Wayland compositor answers at wayland-0;");
    QTest::newRow("platform Qt does not know")  // with the reason Qt gave
        << QStringList{QStringLiteral("QT_QPA_PLATFORM=nosuch")} << QStringList{}
        << QByteArray("\"nosuch\" (QT_QPA_PLATFORM, -platform) did not start: Could not find the Qt platform plugin \"nosuch\"");
    QTest::newRow("-display") << QStringList{} << QStringList{QStringLiteral("-display"), goneDisplay.mid(8)}
                              << QByteArray(": ") + noXServer + ';';
    QTest::newRow("-platform wayland") << QStringList{} << QStringList{QStringLiteral("-platform"), QStringLiteral("wayland")}
                                       << QByteArray(": no Wayland compositor answers at wayland-0;");
}

void NoDisplayTest::editorSaysThereIsNoDisplayAndExits() {
    QFETCH(QStringList, variables);
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, tried);
    QProcess editor;
    editor.setProcessEnvironment(Session(variables));
    editor.start(QStringLiteral(TARVENOR_EDITOR), arguments);
    QVERIFY2(editor.waitForFinished(30000), "the editor did not exit");
    const QByteArray error = editor.readAllStandardError();
    QCOMPARE(editor.exitStatus(), QProcess::NormalExit);
    QCOMPARE(editor.exitCode(), 1);
    const QList<QByteArray> lines = error.trimmed().split('\n');
    QCOMPARE(lines.size(), 1);
    QVERIFY2(lines.front().contains("DISPLAY") && lines.front().contains("WAYLAND_DISPLAY") && lines.front().contains(tried),
             error.constData());
}

// Named in the environment or, as every Qt program takes it, on the command line.
void NoDisplayTest::platformTheUserNamesNeedsNoDisplay_data() {
    QTest::addColumn<QStringList>("variables");
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("QT_QPA_PLATFORM=offscreen") << QStringList{QStringLiteral("QT_QPA_PLATFORM=offscreen")}
                                               << QStringList{};
    QTest::newRow("-platform offscreen") << QStringList{}
                                         << QStringList{QStringLiteral("-platform"), QStringLiteral("offscreen")};
    QTest::newRow("--platform offscreen") << QStringList{}
                                          << QStringList{QStringLiteral("--platform"), QStringLiteral("offscreen")};
}

void NoDisplayTest::platformTheUserNamesNeedsNoDisplay() {
    QFETCH(QStringList, variables);
    QFETCH(QStringList, arguments);
    QProcess editor;
    editor.setProcessEnvironment(Session(variables));
    editor.start(QStringLiteral(TARVENOR_EDITOR), arguments);
    QVERIFY(editor.waitForStarted());
    // Still running with its window open after a while.
    const bool exited = editor.waitForFinished(2000);
    editor.kill();
    editor.waitForFinished();
    QVERIFY2(!exited, editor.readAllStandardError().constData());
}

// An X server that ends when its last client leaves (-terminate, as kiosk and
// single-program sessions start it; one that resets instead does so for a
// moment): the check for a display must not be that client. Qt's -display
// argument names it as well as DISPLAY does.
void NoDisplayTest::editorStartsAsTheOnlyClientOfAnXServer_data() {
    QTest::addColumn<bool>("byArgument");
    QTest::newRow("DISPLAY") << false;
    QTest::newRow("-display without DISPLAY") << true;
}

void NoDisplayTest::editorStartsAsTheOnlyClientOfAnXServer() {
    QFETCH(bool, byArgument);
    QProcess server;
    server.start(QStringLiteral("Xvfb"), {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-terminate"),
                                          QStringLiteral("-nolisten"), QStringLiteral("tcp")});
    if (!server.waitForStarted()) QSKIP("needs Xvfb");
    QVERIFY(QTest::qWaitFor([&] { return server.canReadLine() || server.state() != QProcess::Running; }, 10000));
    const QByteArray display = server.readLine().trimmed();
    QVERIFY2(!display.isEmpty(), "Xvfb gave no display number");
    QProcess editor;
    const QString name = QStringLiteral(":") + QString::fromLatin1(display);
    editor.setProcessEnvironment(Session(byArgument ? QStringList{} : QStringList{QStringLiteral("DISPLAY=") + name}));
    editor.start(QStringLiteral(TARVENOR_EDITOR), byArgument ? QStringList{QStringLiteral("-display"), name} : QStringList{});
    QVERIFY(editor.waitForStarted());
    const bool exited = editor.waitForFinished(2000);
    editor.kill();
    editor.waitForFinished();
    server.kill();
    server.waitForFinished();
    QVERIFY2(!exited, editor.readAllStandardError().constData());
}

QTEST_GUILESS_MAIN(NoDisplayTest)
#include "no_display_test.moc"
