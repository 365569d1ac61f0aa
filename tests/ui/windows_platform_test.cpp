// What only the real Windows platform shows, asked of Windows itself rather
// than of Qt: the main window's outer height with the title bar and border
// Windows draws, its fixed border, the about window without border or
// task-bar entry, the hand cursor over the logos, and a logo's address
// reaching the shell. Runs with -platform windows; under Wine, Wine's frame
// metrics stand in for Windows'.
#include "Form1.h"
#include "editor_fixture.h"
#include "frmAbout.h"

#include "test_files.h"
#include "unit_records.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QWindow>
#include <QtTest>

#include <windows.h>
#include <dwmapi.h>

namespace {

// From the window's QWindow: QWidget::winId() on a window with a parent
// would give every widget of the parent a native window of its own.
HWND Handle(QWidget* window) {
    return window->windowHandle() ? reinterpret_cast<HWND>(window->windowHandle()->winId()) : nullptr;
}

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

int ClientHeight(QWidget* window) {
    RECT rect{};
    GetClientRect(Handle(window), &rect);
    return int(rect.bottom - rect.top);
}

// The desktop's DPI as Windows reports it: 96 at 100 %, 144 at 150 %.
int ScreenDpi() {
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return dpi;
}

// Twips, 1440 to the inch, in the screen's pixels.
int TwipsToDevice(int twips) { return qRound(twips * ScreenDpi() / 1440.0); }

// A length in the window's units in the screen's pixels.
int DevicePixels(QWidget* window, int length) { return qRound(length * window->devicePixelRatioF()); }

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

}  // namespace

class WindowsPlatformTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void outerHeightInTwips_data();
    void outerHeightInTwips();
    void mainWindowHasAFixedBorder();
    void aboutWindowHasNoBorderAndNoTaskBarEntry();
    void aboutWindowIsOwnedByTheMainWindow();
    void aboutWindowIsWholeAndSharpAtTheScreensDpi();
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
    QTest::newRow("read") << false;
    QTest::newRow("save") << true;
}

// The strip of 800 twips and the working height of 4400 twips, in the
// screen's own pixels at its DPI (Wine: LogPixels in the prefix); the client
// area shows the whole bar in the strip and the whole of Frame1 when ready.
void WindowsPlatformTest::outerHeightInTwips() {
    QFETCH(bool, save);
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
    auto* bar = form.findChild<QLabel*>(QStringLiteral("lbProcess"));
    auto* frame = form.findChild<QWidget*>(QStringLiteral("Frame1"));
    if (save) read->click();

    // Samples what Windows gives the window while the command runs.
    QSet<int> seen;
    int barBottom = 0;
    int lowestClient = INT_MAX;
    QTimer sampler;
    connect(&sampler, &QTimer::timeout, [&] {
        if (!form.busy()) return;
        seen << VisibleOuterSize(&form).height();
        barBottom = std::max(barBottom, DevicePixels(&form, bar->geometry().bottom() + 1));
        lowestClient = std::min(lowestClient, ClientHeight(&form));
    });
    sampler.start(0);
    (save ? write : read)->click();
    sampler.stop();
    qInfo("%d DPI: outer heights %d px while %s, %d px after; client %d px, bar to %d px, Frame1 to %d px",
          ScreenDpi(), seen.isEmpty() ? -1 : *seen.begin(), save ? "saving" : "reading",
          VisibleOuterSize(&form).height(), ClientHeight(&form), barBottom,
          DevicePixels(&form, frame->geometry().bottom() + 1));
    QVERIFY(barBottom > 0);
    QVERIFY2(lowestClient >= barBottom, "the strip cuts the bar");
    QVERIFY2(ClientHeight(&form) >= DevicePixels(&form, frame->geometry().bottom() + 1), "Frame1 is cut");

    // Qt takes the sizing border's width off the bottom as Windows 10 does not
    // draw it; Wine draws it, 4 px at every DPI, so under Wine the window
    // stands that much taller.
    const int wineBorder = RunningUnderWine() ? 4 : 0;
    QCOMPARE(seen, QSet<int>{TwipsToDevice(800) + wineBorder});
    QCOMPARE(VisibleOuterSize(&form).height(), TwipsToDevice(4400) + wineBorder);
}

void WindowsPlatformTest::mainWindowHasAFixedBorder() {
    Editor editor(UnitRecord("Archer"));
    Form1& form = *editor.form;
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
    // 6000 x 3000 twips, all of it client area.
    QCOMPARE(OuterSize(&about), QSize(TwipsToDevice(6000), TwipsToDevice(3000)));
    const LONG_PTR style = Style(&about);
    QCOMPARE(style & (WS_CAPTION | WS_BORDER | WS_DLGFRAME | WS_THICKFRAME), LONG_PTR(0));
    QVERIFY(style & WS_POPUP);
    const LONG_PTR extended = ExtendedStyle(&about);
    QVERIFY(extended & WS_EX_TOOLWINDOW);  // keeps it off the task bar
    QVERIFY(!(extended & WS_EX_APPWINDOW));
}

// Above 96 DPI the pictures of twice the pixels are drawn, at the designed
// size; every control lies whole inside the window.
// Opened by a click on About, the about window is owned by the main window,
// which Windows then never puts above it; it still has no task-bar entry.
void WindowsPlatformTest::aboutWindowIsOwnedByTheMainWindow() {
    Editor editor(UnitRecord("Archer"));
    Form1& form = *editor.form;
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    HWND owner = nullptr;
    LONG_PTR extended = 0;
    bool seen = false;
    QTimer::singleShot(0, [&] {
        auto* about = qobject_cast<frmAbout*>(QApplication::activeModalWidget());
        if (!about) return;
        seen = QTest::qWaitForWindowExposed(about);
        owner = GetWindow(Handle(about), GW_OWNER);
        extended = ExtendedStyle(about);
        about->close();
    });
    QTest::mouseClick(form.findChild<QPushButton*>(QStringLiteral("Command1")), Qt::LeftButton);
    QVERIFY(seen);
    QCOMPARE(owner, Handle(&form));
    QVERIFY(extended & WS_EX_TOOLWINDOW);
    QVERIFY(!(extended & WS_EX_APPWINDOW));
}

void WindowsPlatformTest::aboutWindowIsWholeAndSharpAtTheScreensDpi() {
    frmAbout about;
    about.show();
    QVERIFY(QTest::qWaitForWindowExposed(&about));
    const qreal pictureScale = ScreenDpi() > 96 ? 2 : 1;
    qInfo("%d DPI: about window %dx%d px, scale %.2f", ScreenDpi(), OuterSize(&about).width(),
          OuterSize(&about).height(), about.devicePixelRatioF());
    const QList<QSize> logoSizes{{88, 31}, {88, 31}, {88, 32}, {88, 31}, {88, 31}};
    for (int i = 0; i < frmAbout::kLinkCount; ++i) {
        auto* logo = about.findChild<QLabel*>(QStringLiteral("imgURL(%1)").arg(i));
        QCOMPARE(logo->pixmap().devicePixelRatio(), pictureScale);
        QCOMPARE(logo->size(), logoSizes[i]);
    }
    const QImage drawn = about.grab().toImage();
    QCOMPARE(drawn.size(), QSize(TwipsToDevice(6000), TwipsToDevice(3000)));
    for (QWidget* control : about.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (control->isWindow()) continue;
        QVERIFY2(about.rect().contains(control->geometry()), qPrintable(control->objectName()));
        auto* label = qobject_cast<QLabel*>(control);
        if (label && !label->text().isEmpty()) QVERIFY2(label->width() >= label->sizeHint().width(), qPrintable(control->objectName()));
    }
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
    // Windows draws the hand at the screen's scale, its finger tip with it.
    if (hotSpot.x() >= 0) hotSpot = QPoint(qRound(hotSpot.x() * ScreenDpi() / 96.0), hotSpot.y());
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
