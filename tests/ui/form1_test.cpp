#include "Form1.h"

#include "editor_fixture.h"
#include "rules_generator.h"
#include "test_files.h"
#include "unit_records.h"
#include "warning_box.h"

#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include "offscreen_noise.h"

#include <memory>
#ifdef Q_OS_WIN
#include <thread>

#include <windows.h>
#endif

namespace {

constexpr int kDesignedHeight = 270;  // the client area as designed, 4050 twips

// The client height that gives the window an outer height of so many twips,
// but no less than what the state must show.
int ClientHeightFor(const QWidget* window, int outerTwips, int minClientTwips) {
    return std::max(qRound(minClientTwips / 15.0),
                    qRound(outerTwips / 15.0) - (window->frameGeometry().height() - window->height()));
}
int ReadyHeight(const QWidget* window) { return ClientHeightFor(window, 4400, 3930); }
int StripHeight(const QWidget* window) { return ClientHeightFor(window, 800, 330); }

QStringList Strings(std::initializer_list<const char*> texts) {
    QStringList list;
    for (const char* text : texts) list << QString::fromUtf8(text);
    return list;
}

// Collects warnings instead of showing them.
struct Warnings {
    QStringList texts;
    warning_box::Handler previous;
    Warnings() {
        previous = warning_box::SetHandler([this](QWidget*, const QString& title, const QString& text) {
            QCOMPARE(title, QStringLiteral("Tarvenor"));
            texts << text;
        });
    }
    ~Warnings() { warning_box::SetHandler(previous); }
};

// Watches the window on every pass of event processing while a command runs.
struct StripWatch {
    int widestBar = 0;
    bool stripOnly = true;  // strip height, frame hidden, bar in the command's colour
    bool readEnabledMeanwhile = false;
    bool saveEnabledMeanwhile = false;

    StripWatch(const Editor& editor, const QColor& barColour, const std::function<void()>& command) {
        auto* bar = editor.get<QLabel>("lbProcess");
        QTimer timer;
        QObject::connect(&timer, &QTimer::timeout, [&] {
            widestBar = std::max(widestBar, bar->width());
            stripOnly = stripOnly && editor.form->height() == StripHeight(editor.form.get()) &&
                        !editor.get<QGroupBox>("Frame1")->isVisible() &&
                        bar->palette().color(QPalette::Window) == barColour;
            readEnabledMeanwhile |= editor.get<QPushButton>("cmdGetData")->isEnabled();
            saveEnabledMeanwhile |= editor.get<QPushButton>("cmdSave")->isEnabled();
        });
        timer.start(0);
        command();
    }
};

}  // namespace

class Form1Test : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { DropOffscreenPlatformNoise(); }
    void controlsAsDesigned_data();
    void controlsAsDesigned();
    void barIsCoveredByTheFrameUntilACommand();
    void missingFileWarnsBeforeShowingAndDisablesRead();
#ifdef Q_OS_WIN
    void startWithTheFileAsideReadsItOnceNoSaveHasIt_data();
    void startWithTheFileAsideReadsItOnceNoSaveHasIt();
#endif
    void readListsUnitsBehindAGrowingRedBar();
    void findSelectsByPrefixInAnyCase_data();
    void findSelectsByPrefixInAnyCase();
    void selectionRewritesTheUnitsLinesNormalized();
    void rangeLineIsWrittenFromBothBoxes();
    void eachBoxEditReachesItsOwnLine_data();
    void eachBoxEditReachesItsOwnLine();
    void unfoundNameLeavesThePreviousUnitInPlace();
    void nameTheLocaleCannotShowIsStillFound();
    void namesInTheFilesDeclaredCodePage_data();
    void namesInTheFilesDeclaredCodePage();
    void boxOfAnUnwritableLineIsDisabled();
    void typingBeforeAnySelectionWritesNothing();
    void focusOnTheListSelectsNoUnit();
    void listEntryIsFocusedOnlyWithTheList();
    void saveTwiceBehindABlueBar();
    void failedSaveKeepsFileAndDocument();
    void failedReadComesBackToTheStartState();
    void closeDuringSaveWaitsForTheSave();
    void closeDuringASaveThatFailsKeepsTheWindow();
    void exitLeavesTheFileUnchanged();
    void tabOrderAndAccessKeys();
    void tabKeyFollowsTheDesignedOrder_data();
    void tabKeyFollowsTheDesignedOrder();
    void accessKeysDoNothingWhileACommandRuns_data();
    void accessKeysDoNothingWhileACommandRuns();
    void keysHeldWithAltNeverType_data();
    void keysHeldWithAltNeverType();
    void screenReaderHearsNamesAndProgress();
    void barValueAtRestIsWhatTheBarShows_data();
    void barValueAtRestIsWhatTheBarShows();
};

void Form1Test::controlsAsDesigned_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QRect>("twips");
    QTest::addColumn<QString>("tag");
    auto row = [](const char* name, const char* text, QRect twips, const char* tag = "") {
        QTest::newRow(name) << QString::fromLatin1(name) << QString::fromUtf8(text) << twips << QString::fromLatin1(tag);
    };
    row("Frame1", "", {0, 0, 6045, 3930});
    row("Command2", "退出(&X)", {4455, 3375, 1455, 420});
    row("Command1", "关于(&A)", {3015, 3375, 1410, 420});
    row("txtFind", "", {135, 180, 2805, 285});
    row("cmdGetData", "读入数据(&R)", {3015, 2475, 2895, 420});
    row("List2", "", {135, 495, 2805, 3300});
    row("cmdSave", "保存(&S)", {3015, 2925, 2895, 420});
    row("Text1(0)", "", {3825, 630, 735, 285});
    row("Text1(1)", "", {5130, 630, 735, 285});
    row("Text1(2)", "", {3825, 2115, 735, 285});
    row("Text1(3)", "", {5130, 1395, 735, 285});
    row("Text1(4)", "", {3825, 1755, 735, 285});
    row("Text1(5)", "", {3825, 1395, 735, 285});
    row("Text1(6)", "", {3825, 990, 735, 285});
    row("Text1(7)", "", {5130, 990, 735, 285});
    row("lbUnitName", "", {3105, 180, 2760, 375});
    row("Label1(0)", "攻击力", {3150, 675, 540, 180}, "ATTACK");
    row("Label1(1)", "生命", {4635, 675, 360, 180}, "HITS");
    row("Label1(2)", "移动力", {3195, 2160, 540, 180}, "MOVES");
    row("Label1(3)", "视野", {4635, 1440, 360, 180}, "LOS");
    row("Label1(4)", "建造时间", {3015, 1800, 720, 225}, "JOB_TIME");
    row("Label1(5)", "护甲", {3330, 1440, 360, 180}, "ARMOR");
    row("Label1(6)", "射程", {3330, 1035, 360, 180}, "RANGE");
    row("Label1(7)", "-", {4680, 1035, 90, 180});
    row("lbProcess", "", {45, 45, 5505, 285});
}

void Form1Test::controlsAsDesigned() {
    QFETCH(QString, name);
    QFETCH(QString, text);
    QFETCH(QRect, twips);
    QFETCH(QString, tag);
    Editor editor(UnitRecord("Archer"));
    auto* control = editor.form->findChild<QWidget*>(name);
    QVERIFY(control);
    QCOMPARE(control->geometry(), QRect(twips.x() / 15, twips.y() / 15, twips.width() / 15, twips.height() / 15));
    if (auto* button = qobject_cast<QPushButton*>(control)) {
        QCOMPARE(button->text(), text);
        QCOMPARE(button->palette().color(QPalette::Button), QColor(224, 224, 224));
    }
    if (auto* label = qobject_cast<QLabel*>(control)) {
        QCOMPARE(label->text(), text);
        if (name.startsWith(QLatin1String("Label1")))
            QCOMPARE(label->palette().color(QPalette::WindowText), QColor(192, 64, 0));
    }
    if (auto* box = qobject_cast<QLineEdit*>(control)) QCOMPARE(box->text(), text);
    QCOMPARE(control->property("Tag").toString(), tag);
    QCOMPARE(editor.form->size(), QSize(412, kDesignedHeight));
    QCOMPARE(editor.get<QLineEdit>("txtFind")->toolTip(), QStringLiteral("输入单位名称开头的几个字母"));
    QCOMPARE(editor.get<QLabel>("lbUnitName")->palette().color(QPalette::WindowText), QColor(0, 0, 255));
    QVERIFY(!editor.get<QPushButton>("cmdSave")->isEnabled());
    QVERIFY(!editor.form->windowIcon().isNull());
}

void Form1Test::barIsCoveredByTheFrameUntilACommand() {
    Editor editor(GenerateRules({30, 0, 3}).bytes);
    // Pixels come back from a grab with a little rounding.
    auto alike = [](const QColor& a, const QColor& b) {
        return std::abs(a.red() - b.red()) < 8 && std::abs(a.green() - b.green()) < 8 && std::abs(a.blue() - b.blue()) < 8;
    };
    const QColor red(255, 0, 0), blue(0, 0, 255);
    auto shownAtTheBar = [&] { return editor.form->grab().toImage().pixelColor(QPoint(5, 10)); };
    QVERIFY(!alike(shownAtTheBar(), red));
    editor.read();
    QVERIFY(!alike(shownAtTheBar(), red));

    QColor lastSeenWhileSaving;
    QTimer timer;
    connect(&timer, &QTimer::timeout, [&] {
        if (editor.form->busy()) lastSeenWhileSaving = shownAtTheBar();
    });
    timer.start(0);
    editor.save();
    timer.stop();
    QVERIFY(alike(lastSeenWhileSaving, blue));
    QVERIFY(!alike(shownAtTheBar(), blue));
}

void Form1Test::missingFileWarnsBeforeShowingAndDisablesRead() {
    ScratchFolder folder;
    QString seenText, seenTitle;
    bool seenWarningIcon = false, windowShownMeanwhile = true;
    QPoint boxOffCentre(9999, 9999);
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        QVERIFY(box);
        seenText = box->text();
        seenTitle = box->windowTitle();
        seenWarningIcon = box->icon() == QMessageBox::Warning;
        windowShownMeanwhile = false;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (qobject_cast<Form1*>(w) && w->isVisible()) windowShownMeanwhile = true;
        // The main window is not on the screen yet: the box stands in the screen's middle.
        boxOffCentre = box->frameGeometry().center() - box->screen()->availableGeometry().center();
        box->button(QMessageBox::Ok)->click();
    });
    Form1 form(QString::fromStdString(folder.path()));
    form.show();
    QCOMPARE(seenText, QStringLiteral("无法读取资料文件,请看说明"));
    QCOMPARE(seenTitle, QStringLiteral("Tarvenor"));
    QVERIFY(seenWarningIcon);
    QVERIFY(!windowShownMeanwhile);
    QVERIFY2(boxOffCentre.manhattanLength() <= 2, qPrintable(QStringLiteral("%1, %2 from the middle")
                                                                   .arg(boxOffCentre.x()).arg(boxOffCentre.y())));
    QVERIFY(!form.findChild<QPushButton*>(QStringLiteral("cmdGetData"))->isEnabled());
    QVERIFY(!form.findChild<QPushButton*>(QStringLiteral("cmdSave"))->isEnabled());
    QTest::keyClicks(form.findChild<QLineEdit*>(QStringLiteral("txtFind")), QStringLiteral("ar"));
    QCOMPARE(form.windowTitle(), QStringLiteral("-1"));
}

#ifdef Q_OS_WIN
// The old file under its backup name and the new one under its own: a save
// killed between its two renames (the start gives the old file its name
// back), or another editor's save that has the turn and gives the name back
// itself (the start waits, the window drawn; past ten seconds it says so,
// and Read reads the file once it is back).
void Form1Test::startWithTheFileAsideReadsItOnceNoSaveHasIt_data() {
    QTest::addColumn<int>("turnHeldMs");
    QTest::addColumn<QString>("warning");
    QTest::newRow("killed") << 0 << QString();
    QTest::newRow("another save's turn") << 500 << QString();
    QTest::newRow("a save stuck past the wait") << 11000 << QStringLiteral("another editor is saving this file");
}

void Form1Test::startWithTheFileAsideReadsItOnceNoSaveHasIt() {
    QFETCH(int, turnHeldMs);
    QFETCH(QString, warning);
    ScratchFolder folder;
    MakeFolder(folder / "data");
    const std::string bytes = CrlfBytes(Concat(UnitRecord("Archer"), UnitRecord("Ballista")));
    WriteBytes(folder / "data/.unitrules.xml.replaced-4242-0", bytes);
    WriteBytes(folder / "data/.unitrules.xml.saving-4242-0", "new");
    const auto wide = [&](const char* name) {
        return QDir::toNativeSeparators(QString::fromStdString(folder / name)).toStdWString();
    };
    std::thread otherSave;  // has the turn, then gives the old file its name back
    if (turnHeldMs) {
        const HANDLE turn = ::CreateFileW(wide("data/.unitrules.xml.lock").c_str(), GENERIC_WRITE, 0, nullptr,
                                          CREATE_NEW, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        otherSave = std::thread([=] {
            ::Sleep(turnHeldMs);
            ::MoveFileW(wide("data/.unitrules.xml.replaced-4242-0").c_str(), wide("data/unitrules.xml").c_str());
            ::CloseHandle(turn);
        });
    }
    QString warned;
    QTimer boxes;  // events flow while the start waits: the box comes when it is done
    connect(&boxes, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            warned = box->text();
            box->button(QMessageBox::Ok)->click();
        }
    });
    boxes.start(50);
    Form1 form(QString::fromStdString(folder.path()));
    QCOMPARE(form.isVisible(), turnHeldMs > 0);
    if (otherSave.joinable()) otherSave.join();
    form.show();
    QVERIFY2(warning.isEmpty() ? warned.isEmpty() : warned.contains(warning), qPrintable(warned));
    QTest::mouseClick(form.findChild<QPushButton*>(QStringLiteral("cmdGetData")), Qt::LeftButton);
    QCOMPARE(form.findChild<QListWidget*>(QStringLiteral("List2"))->count(), 2);
    QCOMPARE(folder.Entries("data"), (std::vector<std::string>{".unitrules.xml.saving-4242-0", "unitrules.xml"}));
}
#endif

void Form1Test::readListsUnitsBehindAGrowingRedBar() {
    const GeneratedRules rules = GenerateRules({0, 460800, 11});
    Editor editor(rules.bytes);
    QCOMPARE(editor.form->windowTitle(), QStringLiteral("Tarvenor 单位编辑器 v1.0 Quorrin[Velmoth]"));
    QCOMPARE(editor.form->height(), kDesignedHeight);
    const StripWatch reading(editor, QColor(255, 0, 0), [&] { editor.read(); });
    QVERIFY(reading.stripOnly);
    QVERIFY(!reading.readEnabledMeanwhile);
    QVERIFY(!reading.saveEnabledMeanwhile);
    // The calibrated size draws the bar across the whole window exactly at the end.
    QCOMPARE(reading.widestBar, editor.form->frameGeometry().width());
    auto* bar = editor.get<QLabel>("lbProcess");

    auto* list = editor.get<QListWidget>("List2");
    QCOMPARE(list->count(), static_cast<int>(rules.names.size()));
    for (int i = 0; i < list->count(); ++i) QCOMPARE(list->item(i)->text().toStdString(), rules.names[i]);
    QCOMPARE(editor.form->height(), ReadyHeight(editor.form.get()));
    QVERIFY(editor.get<QGroupBox>("Frame1")->isVisible());
    QVERIFY(editor.get<QPushButton>("cmdSave")->isEnabled());
    QVERIFY(!editor.get<QPushButton>("cmdGetData")->isEnabled());
    QCOMPARE(bar->width(), 1);  // 10 twips
    editor.get<QPushButton>("cmdGetData")->click();
    QCOMPARE(list->count(), static_cast<int>(rules.names.size()));
}

void Form1Test::findSelectsByPrefixInAnyCase_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("position");
    QTest::newRow("lower") << QStringLiteral("ar") << 1;
    QTest::newRow("upper") << QStringLiteral("AR") << 1;
    QTest::newRow("longer") << QStringLiteral("arb") << 2;
    QTest::newRow("none") << QStringLiteral("zz") << -1;
}

void Form1Test::findSelectsByPrefixInAnyCase() {
    QFETCH(QString, typed);
    QFETCH(int, position);
    Editor editor(Concat(Concat(UnitRecord("Brute", "5"), UnitRecord("ARCHER", "7")), UnitRecord("arbalest", "9")));
    editor.read();
    editor.select(0);
    QTest::keyClicks(editor.get<QLineEdit>("txtFind"), typed);
    QCOMPARE(editor.form->windowTitle(), QString::number(position));
    const int shown = position < 0 ? 0 : position;
    const QList<QListWidgetItem*> selected = editor.get<QListWidget>("List2")->selectedItems();
    QCOMPARE(selected.size(), 1);
    QCOMPARE(editor.get<QListWidget>("List2")->row(selected.front()), shown);
    QCOMPARE(editor.get<QLabel>("lbUnitName")->text(), Strings({"Brute", "ARCHER", "arbalest"})[shown]);
    QCOMPARE(editor.box(0)->text(), QString::number(5 + 2 * shown));
}

void Form1Test::selectionRewritesTheUnitsLinesNormalized() {
    auto original = UnitRecord("Archer", "12.50", "01-08rng");
    original[kRecordTypeRow - 48] = "\t<HITS>120</HITS> <!-- tuned -->";
    Editor editor(Concat(original, UnitRecord("Ram")));
    editor.read();
    editor.select(0);
    QCOMPARE(editor.box(0)->text(), QStringLiteral("12.50"));
    QCOMPARE(editor.box(6)->text(), QStringLiteral("01"));
    QCOMPARE(editor.box(7)->text(), QStringLiteral("08"));
    QCOMPARE(editor.get<QLabel>("lbUnitName")->text(), QStringLiteral("Archer"));
    QCOMPARE(editor.form->typeLine(), long(kRecordTypeRow));

    auto expected = Concat(original, UnitRecord("Ram"));
    expected[kRecordTypeRow - 49] = "    <ATTACK>12.5</ATTACK>";
    expected[kRecordTypeRow - 48] = "    <HITS>120</HITS>";
    expected[kRecordTypeRow - 38] = "    <RANGE>1-8rng</RANGE>";
    QCOMPARE(editor.lines(), expected);
    editor.save();
    QCOMPARE(ReadBytes(editor.file()), CrlfBytes(expected));
}

void Form1Test::rangeLineIsWrittenFromBothBoxes() {
    Editor editor(Concat(UnitRecord("Archer", "1", "1-8rng"), UnitRecord("Ram", "2", "2-10rng")));
    editor.read();
    editor.select(0);
    editor.select(1);
    const long ram = 2 * kRecordTypeRow + 1;
    QCOMPARE(editor.line(ram - 38), std::string("    <RANGE>2-10rng</RANGE>"));
    QCOMPARE(editor.line(kRecordTypeRow - 38), std::string("    <RANGE>1-8rng</RANGE>"));
    editor.retype(7, QStringLiteral("12"));
    QCOMPARE(editor.line(ram - 38), std::string("    <RANGE>2-12rng</RANGE>"));
    editor.retype(6, QStringLiteral("3"));
    QCOMPARE(editor.line(ram - 38), std::string("    <RANGE>3-12rng</RANGE>"));
}

void Form1Test::eachBoxEditReachesItsOwnLine_data() {
    QTest::addColumn<int>("slot");
    QTest::addColumn<int>("offset");
    QTest::addColumn<QString>("line");
    QTest::newRow("attack") << 0 << -49 << QStringLiteral("    <ATTACK>15</ATTACK>");
    QTest::newRow("hits") << 1 << -48 << QStringLiteral("    <HITS>15</HITS>");
    QTest::newRow("moves") << 2 << -47 << QStringLiteral("    <MOVES>15</MOVES>");
    QTest::newRow("los") << 3 << -37 << QStringLiteral("    <LOS>15</LOS>");
    QTest::newRow("job time") << 4 << -44 << QStringLiteral("    <JOB_TIME>15</JOB_TIME>");
    QTest::newRow("armor") << 5 << -32 << QStringLiteral("    <ARMOR>15</ARMOR>");
}

void Form1Test::eachBoxEditReachesItsOwnLine() {
    QFETCH(int, slot);
    QFETCH(int, offset);
    QFETCH(QString, line);
    Editor editor(Concat(UnitRecord("Archer", "1"), UnitRecord("Ram", "2")));
    editor.read();
    editor.select(1);
    const auto before = editor.lines();
    editor.retype(slot, QStringLiteral("15"));
    QCOMPARE(editor.box(slot)->text(), QStringLiteral("15"));
    const long ram = 2 * kRecordTypeRow + 1;
    for (long i = 0; i < long(before.size()); ++i) {
        if (i == ram + offset) QCOMPARE(QString::fromStdString(editor.line(i)), line);
        else QCOMPARE(editor.line(i), before[i]);
    }
}

void Form1Test::unfoundNameLeavesThePreviousUnitInPlace() {
    auto ghost = UnitRecord("Ghost", "9");
    ghost[kRecordTypeRow] = "<typename>Ghost</typename>";
    Editor editor(Concat(UnitRecord("Archer", "4"), ghost));
    editor.read();
    editor.select(0);
    editor.select(1);
    QCOMPARE(editor.get<QListWidget>("List2")->currentRow(), 1);
    QCOMPARE(editor.get<QLabel>("lbUnitName")->text(), QStringLiteral("Archer"));
    QCOMPARE(editor.box(0)->text(), QStringLiteral("4"));
    QCOMPARE(editor.form->typeLine(), long(kRecordTypeRow));
    editor.retype(0, QStringLiteral("6"));
    QCOMPARE(editor.line(kRecordTypeRow - 49), std::string("    <ATTACK>6</ATTACK>"));
    QCOMPARE(editor.line(2 * kRecordTypeRow + 1 - 49), std::string("    <ATTACK>9</ATTACK>"));
}

void Form1Test::nameTheLocaleCannotShowIsStillFound() {
    const std::string odd = "Ram\xff\xfe\x80";
    Editor editor(Concat(UnitRecord("Archer", "1"), UnitRecord(odd, "8")));
    editor.read();
    editor.select(1);
    QCOMPARE(editor.box(0)->text(), QStringLiteral("8"));
    QCOMPARE(editor.form->typeLine(), long(2 * kRecordTypeRow + 1));
    editor.save();
    QVERIFY(ReadBytes(editor.file()).find("    <TYPENAME>" + odd + "</TYPENAME>\r\n") != std::string::npos);
}

void Form1Test::namesInTheFilesDeclaredCodePage_data() {
    QTest::addColumn<QString>("declared");
    QTest::newRow("gb2312") << QStringLiteral("gb2312");
    QTest::newRow("chinese") << QStringLiteral("chinese");
    QTest::newRow("EUC-CN") << QStringLiteral("EUC-CN");
}

void Form1Test::namesInTheFilesDeclaredCodePage() {
    QFETCH(QString, declared);
    // GBK bytes of 結界師 and 統領: the two first characters differ only in
    // a second byte, Y against y.
    const std::string knot = "\xbd\x59\xbd\xe7\x8e\x9f", rule = "\xbd\x79\xee\x49";
    Editor editor(Concat({"<?xml version=\"1.0\" encoding=\"" + declared.toStdString() + "\"?>"},
                         Concat(UnitRecord(knot, "7"), UnitRecord(rule, "9\xb5\xe3"))));  // 9点
    editor.read();
    auto* list = editor.get<QListWidget>("List2");
    QCOMPARE(list->count(), 2);
    QCOMPARE(list->item(0)->text(), QStringLiteral("結界師"));
    QCOMPARE(list->item(1)->text(), QStringLiteral("統領"));

    TypeThroughInputMethod(editor.get<QLineEdit>("txtFind"), QStringLiteral("統"));
    QCOMPARE(editor.form->windowTitle(), QStringLiteral("1"));
    QCOMPARE(editor.form->typeLine(), long(1 + 2 * kRecordTypeRow + 1));
    QCOMPARE(editor.get<QLabel>("lbUnitName")->text(), QStringLiteral("統領"));
    QCOMPARE(editor.box(0)->text(), QStringLiteral("9点"));
    editor.retype(0, QStringLiteral("15"));
    QCOMPARE(editor.line(editor.form->typeLine() - 49), std::string("    <ATTACK>15</ATTACK>"));
    QCOMPARE(editor.line(1 + kRecordTypeRow - 49), std::string("    <ATTACK>7</ATTACK>"));

    editor.get<QLineEdit>("txtFind")->clear();
    TypeThroughInputMethod(editor.get<QLineEdit>("txtFind"), QStringLiteral("結界"));
    QCOMPARE(editor.form->windowTitle(), QStringLiteral("0"));
    QCOMPARE(editor.get<QLabel>("lbUnitName")->text(), QStringLiteral("結界師"));
}

void Form1Test::boxOfAnUnwritableLineIsDisabled() {
    // Ram's record is four lines short: its attack offset is Archer's TYPENAME line.
    auto shortRecord = UnitRecord("Ram");
    shortRecord.erase(shortRecord.begin() + 48, shortRecord.begin() + 52);
    Editor editor(Concat(UnitRecord("Archer", "3"), shortRecord));
    editor.read();
    const auto before = editor.lines();
    editor.select(1);
    QVERIFY(!editor.box(0)->isEnabled());
    QCOMPARE(editor.box(0)->text(), QStringLiteral("Archer"));
    QCOMPARE(editor.lines(), before);
    editor.select(0);
    QVERIFY(editor.box(0)->isEnabled());
    QCOMPARE(editor.box(0)->text(), QStringLiteral("3"));
}

void Form1Test::typingBeforeAnySelectionWritesNothing() {
    Editor editor(Concat(UnitRecord("Archer"), UnitRecord("Ram")));
    editor.read();
    const auto before = editor.lines();
    for (int slot = 0; slot < kSlotCount; ++slot) QTest::keyClicks(editor.box(slot), QStringLiteral("77"));
    QCOMPARE(editor.lines(), before);
}

void Form1Test::focusOnTheListSelectsNoUnit() {
    Editor editor(Concat(UnitRecord("Archer", "12.50"), UnitRecord("Ram")));
    editor.read();
    editor.form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(editor.form.get()));
    const auto before = editor.lines();
    editor.get<QListWidget>("List2")->setFocus(Qt::TabFocusReason);
    QCOMPARE(editor.form->typeLine(), 0L);
    QCOMPARE(editor.get<QLabel>("lbUnitName")->text(), QString());
    QCOMPARE(editor.lines(), before);
    QTest::keyClick(editor.get<QListWidget>("List2"), Qt::Key_Down);
    QVERIFY(editor.form->typeLine() > 0);
}

void Form1Test::listEntryIsFocusedOnlyWithTheList() {
    Editor editor(Concat(Concat(UnitRecord("Archer"), UnitRecord("Ram")), UnitRecord("Rider")));
    editor.read();
    editor.form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(editor.form.get()));
    auto* list = editor.get<QListWidget>("List2");
    auto* find = editor.get<QLineEdit>("txtFind");
    QAccessibleInterface* listReader = QAccessible::queryAccessibleInterface(list);
    auto entryState = [&](int row) { return listReader->child(row)->state(); };

    find->setFocus();
    QTest::keyClicks(find, QStringLiteral("ra"));
    QCOMPARE(editor.get<QLabel>("lbUnitName")->text(), QStringLiteral("Ram"));
    QVERIFY(find->hasFocus());
    QVERIFY(entryState(1).selected);
    for (int row = 0; row < 3; ++row) QVERIFY2(!entryState(row).focused, qPrintable(QString::number(row)));

    // In the list, the keys go on from the unit the find box chose.
    list->setFocus(Qt::TabFocusReason);
    QVERIFY(entryState(1).focused);
    QTest::keyClick(list, Qt::Key_Down);
    QCOMPARE(editor.get<QLabel>("lbUnitName")->text(), QStringLiteral("Rider"));
    find->setFocus();
    QVERIFY(!entryState(2).focused);
    QVERIFY(entryState(2).selected);
}

void Form1Test::saveTwiceBehindABlueBar() {
    Editor editor(GenerateRules({20, 0, 5}).bytes);
    editor.read();
    editor.select(3);
    editor.retype(0, QStringLiteral("15"));
    auto* bar = editor.get<QLabel>("lbProcess");
    for (int pass = 0; pass < 2; ++pass) {
        const StripWatch saving(editor, QColor(0, 0, 255), [&] { editor.save(); });
        QVERIFY(saving.stripOnly);
        QCOMPARE(saving.widestBar, editor.form->frameGeometry().width());
        QCOMPARE(editor.form->height(), ReadyHeight(editor.form.get()));
        QVERIFY(editor.get<QPushButton>("cmdSave")->isEnabled());
        QCOMPARE(bar->width(), 1);
        QCOMPARE(ReadBytes(editor.file()), CrlfBytes(editor.lines()));
    }
    QVERIFY(ReadBytes(editor.file()).find("    <ATTACK>15</ATTACK>\r\n") != std::string::npos);
}

void Form1Test::failedSaveKeepsFileAndDocument() {
    Editor editor(Concat(UnitRecord("Archer"), UnitRecord("Ram")));
    editor.read();
    editor.select(1);
    editor.retype(0, QStringLiteral("15"));
    const auto edited = editor.lines();
    // A folder where the file was: refused even to root.
    std::filesystem::remove(Fs(editor.file()));
    MakeFolder(editor.file());
    Warnings warnings;
    editor.save();
    QCOMPARE(warnings.texts.size(), 1);
    QVERIFY(warnings.texts[0].contains(QDir::toNativeSeparators(QString::fromStdString(editor.file()))));
    QVERIFY(warnings.texts[0].contains(QStringLiteral("Is a directory")));
    QCOMPARE(editor.lines(), edited);
    QVERIFY(std::filesystem::is_directory(editor.file()));
    QVERIFY(editor.get<QPushButton>("cmdSave")->isEnabled());
    QVERIFY(editor.get<QGroupBox>("Frame1")->isVisible());
    QCOMPARE(editor.form->height(), ReadyHeight(editor.form.get()));

    std::filesystem::remove(Fs(editor.file()));
    editor.save();
    QCOMPARE(warnings.texts.size(), 1);
    QCOMPARE(ReadBytes(editor.file()), CrlfBytes(edited));
}

void Form1Test::failedReadComesBackToTheStartState() {
    Editor editor(Concat(UnitRecord("Archer"), UnitRecord("Ram")));
    std::filesystem::remove(Fs(editor.file()));
    Warnings warnings;
    editor.read();
    QCOMPARE(warnings.texts.size(), 1);
    QVERIFY(warnings.texts[0].contains(QDir::toNativeSeparators(QString::fromStdString(editor.file()))));
    QVERIFY(warnings.texts[0].contains(QStringLiteral("No such file or directory")));
    QCOMPARE(editor.get<QListWidget>("List2")->count(), 0);
    QVERIFY(editor.get<QPushButton>("cmdGetData")->isEnabled());
    QVERIFY(!editor.get<QPushButton>("cmdSave")->isEnabled());
    QCOMPARE(editor.form->height(), kDesignedHeight);

    WriteBytes(editor.file(), CrlfBytes(UnitRecord("Archer")));
    editor.read();
    QCOMPARE(editor.get<QListWidget>("List2")->count(), 1);
}

void Form1Test::closeDuringSaveWaitsForTheSave() {
    const GeneratedRules rules = GenerateRules({40, 0, 9});
    Editor editor(rules.bytes);
    editor.read();
    editor.select(2);
    const auto lines = editor.lines();
    bool closedWhileBusy = false;
    QTimer closer;
    connect(&closer, &QTimer::timeout, [&] {
        if (editor.form->busy() && !closedWhileBusy) {
            closedWhileBusy = true;
            QVERIFY(!editor.form->close());
        }
    });
    closer.start(0);
    editor.save();
    QVERIFY(closedWhileBusy);
    QVERIFY(!editor.form->isVisible());
    QCOMPARE(ReadBytes(editor.file()), CrlfBytes(lines));
}

void Form1Test::closeDuringASaveThatFailsKeepsTheWindow() {
    if (RunningUnderWine()) QSKIP("Wine's ReplaceFileW, given \\\\?\\ paths, replaces an empty folder instead of failing");
    const GeneratedRules rules = GenerateRules({40, 0, 9});
    Editor editor(rules.bytes);
    editor.read();
    editor.select(2);
    editor.retype(0, QStringLiteral("15"));
    const auto edited = editor.lines();
    // Mid-save, the user closes the window and the file turns into a folder,
    // so the new file cannot take its name.
    bool closedWhileBusy = false;
    QTimer closer;
    connect(&closer, &QTimer::timeout, [&] {
        if (editor.form->busy() && !closedWhileBusy) {
            closedWhileBusy = true;
            QVERIFY(!editor.form->close());
            std::filesystem::remove(Fs(editor.file()));
            std::filesystem::create_directory(Fs(editor.file()));
        }
    });
    closer.start(0);
    Warnings warnings;
    editor.save();
    closer.stop();
    QVERIFY(closedWhileBusy);
    QCOMPARE(warnings.texts.size(), 1);
    QVERIFY(warnings.texts[0].contains(QDir::toNativeSeparators(QString::fromStdString(editor.file()))));
    QVERIFY(editor.form->isVisible());
    QVERIFY(editor.get<QGroupBox>("Frame1")->isVisible());
    QVERIFY(editor.get<QPushButton>("cmdSave")->isEnabled());
    QCOMPARE(editor.lines(), edited);

    std::filesystem::remove(Fs(editor.file()));
    editor.save();
    QCOMPARE(warnings.texts.size(), 1);
    QVERIFY(editor.form->isVisible());
    QCOMPARE(ReadBytes(editor.file()), CrlfBytes(edited));
}

void Form1Test::exitLeavesTheFileUnchanged() {
    const GeneratedRules rules = GenerateRules({10, 0, 4});
    Editor editor(rules.bytes);
    editor.read();
    editor.select(1);
    editor.retype(2, QStringLiteral("99"));
    editor.get<QPushButton>("Command2")->click();
    QVERIFY(!editor.form->isVisible());
    QCOMPARE(ReadBytes(editor.file()), rules.bytes);
}

void Form1Test::tabOrderAndAccessKeys() {
    Editor editor(GenerateRules({5, 0, 4}).bytes);
    editor.form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(editor.form.get()));
    QCOMPARE(QApplication::focusWidget(), editor.box(0));

    QStringList order;
    QWidget* w = editor.box(0);
    do {
        if (w->focusPolicy() & Qt::TabFocus) order << w->objectName();
        w = w->nextInFocusChain();
    } while (w != editor.box(0));
    QCOMPARE(order, Strings({"Text1(0)", "Text1(1)", "Text1(2)", "Text1(3)", "Text1(5)", "Text1(6)", "Text1(7)",
                                 "Text1(4)", "txtFind", "List2", "cmdGetData", "cmdSave", "Command1", "Command2"}));

    // An access key clicks its button after a short animation.
    QTest::keyClick(editor.form.get(), Qt::Key_R, Qt::AltModifier);
    QTRY_COMPARE(editor.get<QListWidget>("List2")->count(), 5);
    editor.select(0);
    editor.retype(0, QStringLiteral("21"));
    QTest::keyClick(editor.form.get(), Qt::Key_S, Qt::AltModifier);
    QTRY_VERIFY(ReadBytes(editor.file()).find("<ATTACK>21</ATTACK>") != std::string::npos);
    QTest::keyClick(editor.form.get(), Qt::Key_X, Qt::AltModifier);
    QTRY_VERIFY(!editor.form->isVisible());
}

void Form1Test::tabKeyFollowsTheDesignedOrder_data() {
    QTest::addColumn<bool>("read");
    QTest::addColumn<QStringList>("order");  // from Text1(0) on; disabled buttons take no focus
    const QStringList boxes = Strings({"Text1(0)", "Text1(1)", "Text1(2)", "Text1(3)", "Text1(5)", "Text1(6)",
                                       "Text1(7)", "Text1(4)", "txtFind", "List2"});
    QTest::newRow("before reading") << false << boxes + Strings({"cmdGetData", "Command1", "Command2"});
    QTest::newRow("ready") << true << boxes + Strings({"cmdSave", "Command1", "Command2"});
}

void Form1Test::tabKeyFollowsTheDesignedOrder() {
    QFETCH(bool, read);
    QFETCH(QStringList, order);
    Editor editor(GenerateRules({5, 0, 4}).bytes);
    editor.form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(editor.form.get()));
    if (read) {
        editor.read();
        editor.box(0)->setFocus();
    }
    auto focused = [] { return QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : QString(); };
    QStringList forward{focused()};
    for (int i = 1; i <= order.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        forward << focused();
    }
    QCOMPARE(forward, order + QStringList{order.front()});  // and round again
    QStringList backward{focused()};
    for (int i = 1; i <= order.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
        backward.prepend(focused());
    }
    QCOMPARE(backward, order + QStringList{order.front()});
}

void Form1Test::accessKeysDoNothingWhileACommandRuns_data() {
    QTest::addColumn<bool>("save");
    QTest::addColumn<int>("key");
    for (const auto& [command, save] : {std::pair{"read", false}, std::pair{"save", true}})
        for (const auto& [name, key] : {std::pair{"R", Qt::Key_R}, std::pair{"S", Qt::Key_S},
                                        std::pair{"A", Qt::Key_A}, std::pair{"X", Qt::Key_X}})
            QTest::addRow("Alt+%s during %s", name, command) << save << int(key);
}

void Form1Test::accessKeysDoNothingWhileACommandRuns() {
    if (RunningUnderWine()) QSKIP("under Wine windows_keys_test sends these keys through Windows itself");
    QFETCH(bool, save);
    QFETCH(int, key);
    Editor editor(GenerateRules({200, 0, 4}).bytes);
    editor.form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(editor.form.get()));
    if (save) editor.read();
    const QList<QPushButton*> buttons{editor.get<QPushButton>("cmdGetData"), editor.get<QPushButton>("cmdSave"),
                                      editor.get<QPushButton>("Command1"), editor.get<QPushButton>("Command2")};
    bool pressed = false;
    bool reacted = false;
    QTimer presser;
    connect(&presser, &QTimer::timeout, [&] {
        if (QWidget* opened = QApplication::activeModalWidget()) {  // the about window, opened by mistake
            reacted = true;
            opened->close();
        }
        if (!editor.form->busy() || pressed) return;
        pressed = true;
        QTest::keyClick(editor.form.get(), Qt::Key(key), Qt::AltModifier);
        // An access key pushes its button down at once and clicks it a moment later.
        for (QPushButton* button : buttons) reacted |= button->isDown();
        reacted |= QApplication::activeModalWidget() != nullptr;
    });
    presser.start(0);
    save ? editor.save() : editor.read();
    presser.stop();
    QVERIFY(pressed);
    QVERIFY(!reacted);
    QVERIFY(editor.form->isVisible());
    QCOMPARE(editor.get<QListWidget>("List2")->count(), 200);
}

void Form1Test::keysHeldWithAltNeverType_data() {
    QTest::addColumn<QString>("box");  // the attack box holding "40", selected, or the empty find box
    QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
    QTest::addColumn<QString>("key");    // its character
    QTest::addColumn<QString>("shown");  // what the box then shows
    auto row = [](const char* name, const char* box, Qt::KeyboardModifiers modifiers, const char* key, const char* shown) {
        QTest::newRow(name) << QString::fromLatin1(box) << modifiers << QString::fromLatin1(key)
                            << QString::fromLatin1(shown);
    };
    row("Alt+R after Read", "Text1(0)", Qt::AltModifier, "r", "40");
    row("Alt+Q", "Text1(0)", Qt::AltModifier, "q", "40");
    row("Ctrl+R", "Text1(0)", Qt::ControlModifier, "r", "40");
    row("Windows key+R", "Text1(0)", Qt::MetaModifier, "r", "40");
    row("Alt+R in the find box", "txtFind", Qt::AltModifier, "r", "");
    // Windows reports AltGr as Ctrl+Alt; on a German keyboard AltGr+Q types @.
    row("AltGr+Q", "txtFind", Qt::ControlModifier | Qt::AltModifier, "@", "@");
}

void Form1Test::keysHeldWithAltNeverType() {
    QFETCH(QString, box);
    QFETCH(Qt::KeyboardModifiers, modifiers);
    QFETCH(QString, key);
    QFETCH(QString, shown);
    Editor editor(Concat(UnitRecord("Archer", "40"), UnitRecord("Ram")));
    editor.form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(editor.form.get()));
    editor.read();  // Read is disabled from now on: its shortcut takes no key
    editor.select(0);
    auto* target = editor.get<QLineEdit>(box.toLatin1());
    target->setFocus();
    target->selectAll();
    const auto before = editor.lines();
    QTest::sendKeyEvent(QTest::Click, target, Qt::Key(key.toUpper().front().unicode()), key, modifiers);
    QCOMPARE(target->text(), shown);
    QCOMPARE(editor.lines(), before);
}

void Form1Test::screenReaderHearsNamesAndProgress() {
    Editor editor(GenerateRules({0, 460800, 11}).bytes);
    auto nameOf = [](QWidget* widget) { return QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Name); };
    QCOMPARE(QAccessible::queryAccessibleInterface(editor.form.get())->role(), QAccessible::Window);
    const QStringList captions = Strings({"攻击力", "生命", "移动力", "视野", "建造时间", "护甲", "射程", "射程 -"});
    for (int slot = 0; slot < 8; ++slot) {
        QCOMPARE(nameOf(editor.box(slot)), captions[slot]);
        // The caption is the box's label, as a reader relates them.
        auto* caption = editor.get<QLabel>(QStringLiteral("Label1(%1)").arg(slot).toLatin1());
        bool labelled = false;
        for (const auto& [other, relation] :
             QAccessible::queryAccessibleInterface(editor.box(slot))->relations(QAccessible::Label))
            labelled |= other->object() == caption;
        QVERIFY2(labelled, qPrintable(captions[slot]));
    }
    auto* find = editor.get<QLineEdit>("txtFind");
    QCOMPARE(nameOf(find), find->toolTip());
    QCOMPARE(nameOf(editor.get<QListWidget>("List2")), QStringLiteral("单位列表"));
    QCOMPARE(nameOf(editor.get<QGroupBox>("Frame1")), QStringLiteral("单位编辑区"));

    // The strip is a progress bar whose value a reader hears grow while reading.
    auto* strip = editor.get<QLabel>("lbProcess");
    QAccessibleInterface* bar = QAccessible::queryAccessibleInterface(strip);
    QCOMPARE(bar->role(), QAccessible::ProgressBar);
    QCOMPARE(bar->text(QAccessible::Name), QStringLiteral("进度"));
    QVERIFY(bar->valueInterface());
    // Read as a reader would while the command runs.
    QList<int> values;
    QTimer listen;
    connect(&listen, &QTimer::timeout, [&] {
        const int value = bar->valueInterface()->currentValue().toInt();
        if (values.isEmpty() || values.last() != value) values << value;
    });
    listen.start(0);
    editor.read();
    listen.stop();
    QVERIFY2(values.size() > 20, qPrintable(QString::number(values.size())));
    QVERIFY(std::is_sorted(values.begin(), values.end()));
    QCOMPARE(values.last(), 100);
}

void Form1Test::barValueAtRestIsWhatTheBarShows_data() {
    QTest::addColumn<QString>("command");
    QTest::newRow("read") << QStringLiteral("read");
    QTest::newRow("save") << QStringLiteral("save");
}

void Form1Test::barValueAtRestIsWhatTheBarShows() {
    QFETCH(QString, command);
    Editor editor(GenerateRules({0, 46080, 11}).bytes);
    auto* strip = editor.get<QLabel>("lbProcess");
    QAccessibleValueInterface* bar = QAccessible::queryAccessibleInterface(strip)->valueInterface();
    QList<int> heard;
    QTimer listen;
    connect(&listen, &QTimer::timeout, [&] { heard << bar->currentValue().toInt(); });
    listen.start(0);
    editor.read();
    if (command == QLatin1String("save")) {
        heard.clear();
        editor.save();
    }
    listen.stop();
    // A tenth of the bar's full-scale file: it grew to a tenth of the scale.
    QVERIFY(!heard.isEmpty() && *std::max_element(heard.begin(), heard.end()) >= 10);
    // The bar rests 10 twips wide on the scale of the window's outer width:
    // under one percent of it.
    QCOMPARE(strip->width(), 1);
    const int shown = qRound(100.0 * strip->width() / editor.form->frameGeometry().width());
    QCOMPARE(shown, 0);
    QCOMPARE(bar->currentValue().toInt(), shown);
}

QTEST_MAIN(Form1Test)
#include "form1_test.moc"
