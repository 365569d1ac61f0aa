// What only the real Windows platform shows, asked of Windows itself rather
// than of Qt: the main window's outer height with the title bar and border
// Windows draws, its fixed border, the about window without border or
// task-bar entry, the hand cursor over the logos, and a logo's address
// reaching the shell. Runs with -platform windows; under Wine, Wine's frame
// metrics stand in for Windows'.
#include "Form1.h"
#include "frmAbout.h"

#include "test_files.h"
#include "unit_records.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <windows.h>
#include <dwmapi.h>

namespace {

HWND Handle(QWidget* window) { return reinterpret_cast<HWND>(window->winId()); }

QSize OuterSize(QWidget* window) {
    RECT rect{};
    GetWindowRect(Handle(window), &rect);
    return {int(rect.right - rect.left), int(rect.bottom - rect.top)};
}

// The window's bounds as drawn: Windows 10 and later leave the sizing
// border outside the visible frame, and the desktop window manager knows
// where the frame really is.
QSize VisibleOuterSize(QWidget* window) {
    RECT rect{};
    if (FAILED(DwmGetWindowAttribute(Handle(window), DWMWA_EXTENDED_FRAME_BOUNDS, &rect, sizeof rect)))
        return OuterSize(window);
    return {int(rect.right - rect.left), int(rect.bottom - rect.top)};
}

LONG_PTR Style(QWidget* window) { return GetWindowLongPtrW(Handle(window), GWL_STYLE); }
LONG_PTR ExtendedStyle(QWidget* window) { return GetWindowLongPtrW(Handle(window), GWL_EXSTYLE); }

// The hot spot of the cursor Windows shows now, or (-1, -1) for the arrow.
QPoint CursorHotSpot() {
    HCURSOR shown = GetCursor();
    if (!shown || shown == LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW))) return {-1, -1};
    ICONINFO info{};
    if (!GetIconInfo(shown, &info)) return {-2, -2};
    if (info.hbmMask) DeleteObject(info.hbmMask);
    if (info.hbmColor) DeleteObject(info.hbmColor);
    return {int(info.xHotspot), int(info.yHotspot)};
}

// Under Wine, addresses opened through the shell land in this file of the
// Wine prefix (tools/wine_prefix.sh); empty when not under Wine.
QString ShellAddressLog() {
    const QString prefix = qEnvironmentVariable("WINEPREFIX");
    if (prefix.isEmpty()) return {};
    return QStringLiteral("Z:") + QDir::toNativeSeparators(prefix + QStringLiteral("/opened-addresses.txt"));
}

QStringList LoggedAddresses(const QString& log) {
    QFile file(log);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

}  // namespace

class WindowsPlatformTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void outerHeightInTwips_data();
    void outerHeightInTwips();
    void mainWindowHasAFixedBorder();
    void aboutWindowHasNoBorderAndNoTaskBarEntry();
    void handCursorOverTheLogosOnly_data();
    void handCursorOverTheLogosOnly();
    void logoAddressReachesTheShell_data();
    void logoAddressReachesTheShell();
};

void WindowsPlatformTest::initTestCase() {
    if (QGuiApplication::platformName() != QLatin1String("windows")) QSKIP("needs -platform windows");
}

void WindowsPlatformTest::outerHeightInTwips_data() {
    QTest::addColumn<bool>("save");
    QTest::addColumn<int>("during");  // outer height in pixels while the command runs
    QTest::addColumn<int>("after");
    QTest::newRow("read") << false << 53 << 293;  // 800 twips, then 4400 twips
    QTest::newRow("save") << true << 53 << 293;
}

void WindowsPlatformTest::outerHeightInTwips() {
    QFETCH(bool, save);
    QFETCH(int, during);
    QFETCH(int, after);
    ScratchFolder folder;
    MakeFolder(folder / "data");
    std::vector<std::string> lines;
    for (const char* name : {"Archer", "Ballista", "Catapult", "Dragoon", "Envoy", "Falconer"})
        lines = Concat(lines, UnitRecord(name));
    WriteBytes(folder / "data/unitrules.xml", CrlfBytes(lines));
    Form1 form(QString::fromStdString(folder.path()));
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    auto* read = form.findChild<QPushButton*>(QStringLiteral("cmdGetData"));
    auto* write = form.findChild<QPushButton*>(QStringLiteral("cmdSave"));
    if (save) read->click();

    // Samples the height Windows gives the window while the command runs.
    QSet<int> seen;
    QTimer sampler;
    connect(&sampler, &QTimer::timeout, [&] {
        if (form.busy()) seen << VisibleOuterSize(&form).height();
    });
    sampler.start(0);
    (save ? write : read)->click();
    sampler.stop();
    // Qt takes the sizing border's width off the bottom as Windows 10 does not
    // draw it; Wine draws it, so under Wine the window stands 4 px taller.
    const char* wine = "Wine draws the bottom border that Qt takes for Windows 10's invisible sizing border";
    if (RunningUnderWine()) QEXPECT_FAIL("", wine, Continue);
    QCOMPARE(seen, QSet<int>{during});
    if (RunningUnderWine()) QEXPECT_FAIL("", wine, Continue);
    QCOMPARE(VisibleOuterSize(&form).height(), after);
    if (RunningUnderWine()) QCOMPARE(VisibleOuterSize(&form).height(), after + 4);
}

void WindowsPlatformTest::mainWindowHasAFixedBorder() {
    ScratchFolder folder;
    MakeFolder(folder / "data");
    WriteBytes(folder / "data/unitrules.xml", CrlfBytes(UnitRecord("Archer")));
    Form1 form(QString::fromStdString(folder.path()));
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const LONG_PTR style = Style(&form);
    QVERIFY(style & WS_CAPTION);
    QVERIFY(style & WS_SYSMENU);
    QVERIFY2(!(style & WS_THICKFRAME), "the border is a sizing border");
    // No edge or corner offers to resize the window.
    const QSize outer = OuterSize(&form);
    RECT rect{};
    GetWindowRect(Handle(&form), &rect);
    for (const POINT& point : {POINT{rect.right - 1, rect.bottom - 1}, POINT{rect.left, rect.top + outer.height() / 2},
                               POINT{rect.left + outer.width() / 2, rect.bottom - 1}}) {
        const LRESULT hit = SendMessageW(Handle(&form), WM_NCHITTEST, 0, MAKELPARAM(point.x, point.y));
        QVERIFY2(hit < HTLEFT || hit > HTBOTTOMRIGHT, QByteArray::number(qlonglong(hit)).constData());
    }
}

void WindowsPlatformTest::aboutWindowHasNoBorderAndNoTaskBarEntry() {
    frmAbout about;
    about.show();
    QVERIFY(QTest::qWaitForWindowExposed(&about));
    QCOMPARE(OuterSize(&about), QSize(400, 200));  // 6000 x 3000 twips, all of it client area
    const LONG_PTR style = Style(&about);
    QCOMPARE(style & (WS_CAPTION | WS_BORDER | WS_DLGFRAME | WS_THICKFRAME), LONG_PTR(0));
    QVERIFY(style & WS_POPUP);
    const LONG_PTR extended = ExtendedStyle(&about);
    QVERIFY(extended & WS_EX_TOOLWINDOW);  // keeps it off the task bar
    QVERIFY(!(extended & WS_EX_APPWINDOW));
}

void WindowsPlatformTest::handCursorOverTheLogosOnly_data() {
    QTest::addColumn<QString>("over");  // object name of the control under the pointer, "" for the background
    QTest::addColumn<QPoint>("hotSpot");
    for (int i = 0; i < frmAbout::kLinkCount; ++i)
        QTest::addRow("logo %d", i) << QStringLiteral("imgURL(%1)").arg(i) << QPoint(5, 0);  // the finger tip
    QTest::newRow("background") << QString() << QPoint(-1, -1);                             // the arrow
    QTest::newRow("site list") << QStringLiteral("cbURL") << QPoint(-1, -1);
}

void WindowsPlatformTest::handCursorOverTheLogosOnly() {
    QFETCH(QString, over);
    QFETCH(QPoint, hotSpot);
    frmAbout about;
    about.show();
    QVERIFY(QTest::qWaitForWindowExposed(&about));
    QWidget* target = over.isEmpty() ? static_cast<QWidget*>(&about) : about.findChild<QWidget*>(over);
    QVERIFY(target);
    const QPoint inside = over.isEmpty() ? QPoint(about.width() - 20, 20) : target->rect().center();
    // Somewhere else first, so the pointer really moves onto the target.
    QCursor::setPos(about.mapToGlobal(QPoint(about.width() - 10, about.height() - 10)) + QPoint(40, 40));
    QTest::qWait(50);
    QCursor::setPos(target->mapToGlobal(inside));
    QTRY_COMPARE_WITH_TIMEOUT(CursorHotSpot(), hotSpot, 3000);
}

void WindowsPlatformTest::logoAddressReachesTheShell_data() {
    QTest::addColumn<int>("logo");
    QTest::newRow("first logo") << 0;
    QTest::newRow("last logo") << frmAbout::kLinkCount - 1;
}

void WindowsPlatformTest::logoAddressReachesTheShell() {
    QFETCH(int, logo);
    const QString log = ShellAddressLog();
    if (log.isEmpty()) QSKIP("the shell's browser is only stood in for under Wine");
    QFile::remove(log);
    frmAbout about;
    about.show();
    QVERIFY(QTest::qWaitForWindowExposed(&about));
    auto* label = about.findChild<QLabel*>(QStringLiteral("imgURL(%1)").arg(logo));
    QVERIFY(label);
    const QString address = label->property("Tag").toString();
    QVERIFY(address.startsWith(QLatin1String("https://")));
    QTest::mouseClick(label, Qt::LeftButton, {}, label->rect().center());
    QTRY_COMPARE_WITH_TIMEOUT(LoggedAddresses(log), QStringList{address}, 20000);
}

QTEST_MAIN(WindowsPlatformTest)
#include "windows_platform_test.moc"
