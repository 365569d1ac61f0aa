// The editor on a Wayland desktop with no X server (run by with_wayland.sh,
// against headless weston): it starts there on its own choice of platform,
// does the whole job, and its about window belongs to the main window in
// the protocol, so that the compositor keeps it above the window it blocks.
#include "Form1.h"
#include "frmAbout.h"
#include "session_platform.h"

#include "rules_generator.h"
#include "test_files.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>
#include <QWindow>
#include <QtTest>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <unistd.h>

namespace {

// What the Wayland client library writes about every request the process
// sends: WAYLAND_DEBUG=client, with the error output turned into a file for
// the life of the object. What else was written there goes back to the
// error output at the end.
class ProtocolLog {
public:
    ProtocolLog() {
        qputenv("WAYLAND_DEBUG", QByteArrayLiteral("client"));
        char name[] = "/tmp/tarvenor-wayland-log.XXXXXX";
        const int file = mkstemp(name);
        path_ = QString::fromLocal8Bit(name);
        std::fflush(stderr);
        savedError_ = dup(STDERR_FILENO);
        dup2(file, STDERR_FILENO);
        close(file);
    }
    ~ProtocolLog() {
        std::fflush(stderr);
        dup2(savedError_, STDERR_FILENO);
        close(savedError_);
        for (const QByteArray& line : Text().split('\n'))
            if (!line.startsWith('[') && !line.isEmpty()) std::fprintf(stderr, "%s\n", line.constData());
        QFile::remove(path_);
    }
    ProtocolLog(const ProtocolLog&) = delete;
    ProtocolLog& operator=(const ProtocolLog&) = delete;

    QByteArray Text() const {
        QFile file(path_);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private:
    QString path_;
    int savedError_ = -1;
};

// The ids of the shell toplevels created in this part of the log, in order.
QStringList ToplevelsCreated(const QByteArray& log) {
    static const QRegularExpression created(QStringLiteral(R"(get_toplevel\(new id xdg_toplevel@(\d+)\))"));
    QStringList ids;
    for (const QRegularExpressionMatch& match : created.globalMatch(QString::fromLatin1(log)))
        ids << match.captured(1);
    return ids;
}

struct ShownEditor {
    ScratchFolder folder;
    std::unique_ptr<Form1> form;
    explicit ShownEditor(unsigned long long units) {
        MakeFolder(folder / "data");
        WriteBytes(folder / "data/unitrules.xml", GenerateRules({units, 0, 9}).bytes);
        form = std::make_unique<Form1>(QString::fromStdString(folder.path()));
        form->show();
    }
    template <typename T>
    T* get(const char* name) const {
        return form->findChild<T*>(QString::fromLatin1(name));
    }
};

}  // namespace

class WaylandTest : public QObject {
    Q_OBJECT

public:
    explicit WaylandTest(const ProtocolLog& log) : log_(log) {}

private slots:
    void initTestCase();
    void aboutWindowBelongsToTheMainWindow();
    void readEditAndSaveWithClientHeights();

private:
    const ProtocolLog& log_;
};

void WaylandTest::initTestCase() {
    QCOMPARE(QGuiApplication::platformName(), QStringLiteral("wayland"));
}

void WaylandTest::aboutWindowBelongsToTheMainWindow() {
    ShownEditor editor(3);
    Form1& form = *editor.form;
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const QStringList before = ToplevelsCreated(log_.Text());
    QVERIFY(!before.isEmpty());
    const QString mainToplevel = before.last();
    const qsizetype logged = log_.Text().size();

    bool checked = false;
    QWindow* transientParent = nullptr;
    bool closedByPress = false;
    QTimer::singleShot(0, [&] {
        auto* about = qobject_cast<frmAbout*>(QApplication::activeModalWidget());
        if (!about) return;
        checked = QTest::qWaitForWindowExposed(about);
        transientParent = about->windowHandle()->transientParent();
        // A press on the background closes it.
        QTest::mousePress(about, Qt::LeftButton, {}, QPoint(300, 60));
        closedByPress = !QApplication::activeModalWidget();
        if (!closedByPress) about->close();
    });
    QTest::mouseClick(editor.get<QPushButton>("Command1"), Qt::LeftButton);
    QVERIFY(checked);
    QCOMPARE(transientParent, form.windowHandle());
    QVERIFY(closedByPress);

    // The compositor was told: the about window's toplevel has the main
    // window's as its parent.
    const QByteArray opened = log_.Text().mid(logged);
    const QStringList created = ToplevelsCreated(opened);
    QCOMPARE(created.size(), 1);
    const QByteArray setParent =
        QStringLiteral("xdg_toplevel@%1.set_parent(xdg_toplevel@%2)").arg(created.front(), mainToplevel).toLatin1();
    QVERIFY2(opened.contains(setParent), setParent.constData());
}

// The outer heights come out as the client heights that show what each state
// must: the whole bar in the strip, the whole of Frame1 when ready. A
// compositor that draws the frame tells the client nothing of it (ctest runs
// this again with Qt's own title bar turned off, as such a compositor has
// it); Qt's own title bar is taller than the rest of the outer heights.
void WaylandTest::readEditAndSaveWithClientHeights() {
    ShownEditor editor(60);
    Form1& form = *editor.form;
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const int frame = form.frameGeometry().height() - form.height();
    qInfo("frame top + bottom as Qt knows it: %d px", frame);
    auto* bar = editor.get<QLabel>("lbProcess");
    auto* frame1 = editor.get<QGroupBox>("Frame1");
    constexpr int stripClient = 22, readyClient = 262;

    int stripHeight = 0;
    bool stripShowsTheBar = true;
    QTimer watch;
    connect(&watch, &QTimer::timeout, [&] {
        if (frame1->isVisible()) return;
        stripHeight = form.height();
        stripShowsTheBar = stripShowsTheBar && form.height() == stripClient && bar->geometry().bottom() < form.height();
    });
    watch.start(0);
    QTest::mouseClick(editor.get<QPushButton>("cmdGetData"), Qt::LeftButton);
    watch.stop();
    QVERIFY2(stripHeight > 0, "the strip was never seen");
    QVERIFY2(stripShowsTheBar, qPrintable(QStringLiteral("strip %1 px, want %2").arg(stripHeight).arg(stripClient)));
    QCOMPARE(form.height(), readyClient);
    QVERIFY(frame1->isVisible() && frame1->geometry().bottom() < form.height());
    qInfo("client height in the strip %d, when ready %d", stripHeight, form.height());

    // Select the first unit by its name, set its attack, save.
    QCOMPARE(editor.get<QListWidget>("List2")->count(), 60);
    QTest::keyClicks(editor.get<QLineEdit>("txtFind"), QString::fromStdString(form.units().Names().front()));
    QVERIFY(form.typeLine() > 0);
    auto* attack = editor.get<QLineEdit>("Text1(0)");
    QTest::keyClick(attack, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(attack, QStringLiteral("15"));
    QTest::mouseClick(editor.get<QPushButton>("cmdSave"), Qt::LeftButton);
    QCOMPARE(form.height(), readyClient);
    const QList<QByteArray> lines = QByteArray::fromStdString(ReadBytes(editor.folder / "data/unitrules.xml")).split('\n');
    const QByteArray typeLine = QByteArray("    <TYPENAME>") + form.units().Names().front().c_str() + "</TYPENAME>\r";
    const qsizetype at = lines.indexOf(typeLine);
    QVERIFY(at >= 49);
    // The attack line stands 49 lines above the TYPENAME line.
    QCOMPARE(lines[at - 49], QByteArray("    <ATTACK>15</ATTACK>\r"));
}

int main(int argc, char** argv) {
    // As the editor starts: the platform chosen before the application.
    session_platform::PreferX11();
    ProtocolLog log;
    QApplication app(argc, argv);
    WaylandTest test(log);
    return QTest::qExec(&test, argc, argv);
}

#include "wayland_test.moc"
