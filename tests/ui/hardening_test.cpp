#include "Form1.h"

#include "rules_generator.h"
#include "test_files.h"
#include "unit_records.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QtTest>

#include "offscreen_noise.h"

#include <memory>

namespace {

// Under Wine the big files are only as large as the Windows code's boundaries
// need: 1 MiB read and write blocks crossed by many lines and by one alone.
#ifdef Q_OS_WIN
constexpr std::size_t kManyUnits = 1200, kLongLineBytes = 5 << 19;  // 67,203 lines in 3.4 MB; 2.5 MiB
#else
constexpr std::size_t kManyUnits = 17858, kLongLineBytes = 10 << 20;  // 1,000,051 lines in 50 MB; 10 MiB
#endif

constexpr std::array<const char*, 7> kStatTags{"ATTACK", "HITS", "MOVES", "LOS", "JOB_TIME", "ARMOR", "RANGE"};

// The stat tag a line opens with after its blanks, case ignored, or "".
QString OpeningStatTag(const std::string& line) {
    const QString text = QString::fromLatin1(line.c_str(), int(line.size())).trimmed();
    for (const char* tag : kStatTags)
        if (text.startsWith(QLatin1Char('<') + QLatin1String(tag) + QLatin1Char('>'), Qt::CaseInsensitive))
            return QLatin1String(tag);
    return {};
}

struct Window {
    ScratchFolder folder;
    std::unique_ptr<Form1> form;
    std::string file() const { return folder / "data/unitrules.xml"; }
    explicit Window(const std::string& bytes) {
        MakeFolder(folder / "data");
        WriteBytes(file(), bytes);
        form = std::make_unique<Form1>(QString::fromStdString(folder.path()));
        form->show();
        form->findChild<QPushButton*>(QStringLiteral("cmdGetData"))->click();
    }
    QListWidget* list() const { return form->findChild<QListWidget*>(QStringLiteral("List2")); }
    QLineEdit* box(int slot) const { return form->findChild<QLineEdit*>(QStringLiteral("Text1(%1)").arg(slot)); }
    std::vector<std::string> lines() const {
        std::vector<std::string> all;
        for (std::size_t i = 0; i < form->document().LineCount(); ++i) all.emplace_back(form->document().Line(i));
        return all;
    }
    void save() const { form->findChild<QPushButton*>(QStringLiteral("cmdSave"))->click(); }
};

}  // namespace

class HardeningTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { DropOffscreenPlatformNoise(); }
    void hostileLayoutsOnlyEverChangeSlotLines();
    void valuesThatCannotBeLocatedAreNeverWritten_data();
    void valuesThatCannotBeLocatedAreNeverWritten();
    void millionLineFile();
    void tenMegabyteLine();
};

void HardeningTest::hostileLayoutsOnlyEverChangeSlotLines() {
    auto shorter = UnitRecord("Shorter", "3");
    shorter.erase(shorter.begin() + 30);
    auto longer = UnitRecord("Longer", "4");
    longer.insert(longer.begin() + 30, "    <EXTRA>1</EXTRA>");
    auto angled = UnitRecord("a>b", "5<6", "1-<8>rng");
    auto blanks = UnitRecord("Blank", "   ");
    blanks[10] = "      ";
    blanks[11] = "";
    const std::vector<std::string> top{"    <TYPENAME>Top</TYPENAME>", "    <ATTACK>1</ATTACK>",
                                       "    <TYPENAME>", "<typename>Second</typename>"};
    std::vector<std::string> file = top;
    for (const auto& record : {shorter, longer, UnitRecord("Twin", "6"), UnitRecord("TWIN", "7"),
                               UnitRecord("Twin", "8"), angled, blanks, UnitRecord("Last", "9")})
        file = Concat(file, record);
    Window window(CrlfBytes(file));
    QCOMPARE(window.list()->count(), 11);

    for (int row = 0; row < window.list()->count(); ++row) {
        window.list()->setCurrentRow(row);
        for (int slot = 0; slot < kSlotCount; ++slot) {
            if (!window.box(slot)->isEnabled()) continue;
            window.box(slot)->selectAll();
            QTest::keyClicks(window.box(slot), QStringLiteral("7.50"));
        }
    }
    const auto edited = window.lines();
    QCOMPARE(edited.size(), file.size());
    int changed = 0;
    for (std::size_t i = 0; i < file.size(); ++i) {
        if (edited[i] == file[i]) continue;
        ++changed;
        const QString tag = OpeningStatTag(file[i]);
        QVERIFY2(!tag.isEmpty(), ("line " + std::to_string(i) + " was no stat line: " + file[i]).c_str());
        QCOMPARE(OpeningStatTag(edited[i]), tag);
        QVERIFY(edited[i].rfind("    <" + tag.toStdString() + ">", 0) == 0);
    }
    // Twin, a>b, Blank and Last have every stat line where it belongs; the
    // range of a>b ("1-" before its "<") has no "rng" and stays as it was.
    QCOMPARE(changed, 4 * 7 - 1);
    window.save();
    QCOMPARE(ReadBytes(window.file()), CrlfBytes(edited));
}

void HardeningTest::valuesThatCannotBeLocatedAreNeverWritten_data() {
    QTest::addColumn<int>("slot");
    QTest::addColumn<QString>("value");  // what the slot's line holds between its tags
    QTest::addColumn<QString>("saved");  // the line after showing the unit and saving
    QTest::addColumn<bool>("writable");
    auto row = [](const char* name, int slot, const char* line, const char* saved, bool writable) {
        QTest::newRow(name) << slot << QString::fromLatin1(line) << QString::fromLatin1(saved) << writable;
    };
    row("range_without_rng", 6, "    <RANGE>4-7</RANGE>", "    <RANGE>4-7</RANGE>", false);
    row("range_without_dash", 6, "    <RANGE>3rng</RANGE>", "    <RANGE>3rng</RANGE>", false);
    row("range_with_upper_case_rng", 6, "    <RANGE>1-8RNG</RANGE>", "    <RANGE>1-8RNG</RANGE>", false);
    row("range_with_rng_before_dash", 6, "    <RANGE>rng1-8</RANGE>", "    <RANGE>rng1-8</RANGE>", false);
    row("attack_without_closing_tag", 0, "    <ATTACK>12", "    <ATTACK>12", false);
    row("moves_without_closing_tag", 2, "    <MOVES>", "    <MOVES>", false);
    // Values that can be located keep the form they were always given.
    row("range_with_leading_minus", 6, "    <RANGE>-2-5rng</RANGE>", "    <RANGE>0-2rng</RANGE>", true);
    row("range_with_empty_maximum", 6, "    <RANGE>2-rng</RANGE>", "    <RANGE>2-0rng</RANGE>", true);
    row("attack_not_a_number", 0, "    <ATTACK>abc</ATTACK>", "    <ATTACK>0</ATTACK>", true);
}

void HardeningTest::valuesThatCannotBeLocatedAreNeverWritten() {
    QFETCH(int, slot);
    QFETCH(QString, value);
    QFETCH(QString, saved);
    QFETCH(bool, writable);
    // The odd line in the second of two units, so the first unit's values
    // sit in the boxes when the second one is shown.
    auto odd = UnitRecord("Odd", "9", "3-4rng");
    const std::size_t at = kRecordTypeRow + kStatSlots[slot].offset;
    odd[at] = value.toStdString();
    const auto file = Concat(UnitRecord("First", "12"), odd);
    Window window(CrlfBytes(file));
    window.list()->setCurrentRow(0);
    window.list()->setCurrentRow(1);

    const std::vector<int> lineSlots = slot == 6 ? std::vector<int>{6, 7} : std::vector<int>{slot};
    for (int s : lineSlots) QCOMPARE(window.box(s)->isEnabled(), writable);
    // The unit's other statistics are still edited.
    const int other = slot == 0 ? 1 : 0;
    QVERIFY(window.box(other)->isEnabled());
    window.box(other)->selectAll();
    QTest::keyClicks(window.box(other), QStringLiteral("77"));
    window.save();

    auto expected = file;
    expected[kRecordTypeRow + 1 + at] = saved.toStdString();
    const std::size_t otherLine = kRecordTypeRow + 1 + kRecordTypeRow + kStatSlots[other].offset;
    expected[otherLine] = "    <" + std::string(kStatSlots[other].tag) + ">77</" + kStatSlots[other].tag + ">";
    QCOMPARE(ReadBytes(window.file()), CrlfBytes(expected));
}

void HardeningTest::millionLineFile() {
    const GeneratedRules rules = GenerateRules({kManyUnits, 0, 8, 28});
    std::vector<std::string> original;
    for (std::size_t at = 0, next; at < rules.bytes.size(); at = next + 2) {
        next = rules.bytes.find("\r\n", at);
        original.push_back(rules.bytes.substr(at, next - at));
    }
    QVERIFY(original.size() > 65535);
    Window window(rules.bytes);
    QCOMPARE(window.list()->count(), int(rules.names.size()));
    window.list()->setCurrentRow(window.list()->count() - 1);
    window.box(1)->selectAll();
    QTest::keyClicks(window.box(1), QStringLiteral("4321"));
    const long typeLine = window.form->typeLine();
    QCOMPARE(original[std::size_t(typeLine)], "    <TYPENAME>" + rules.names.back() + "</TYPENAME>");
    QCOMPARE(std::string(window.form->document().Line(std::size_t(typeLine - 48))), std::string("    <HITS>4321</HITS>"));

    const auto edited = window.lines();
    QCOMPARE(edited.size(), original.size());
    for (std::size_t i = 0; i < original.size(); ++i) {
        const long offset = long(i) - typeLine;
        const bool statLine = std::any_of(kStatSlots.begin(), kStatSlots.end(),
                                          [offset](const StatSlot& s) { return s.offset == offset; });
        if (!statLine && edited[i] != original[i]) QFAIL(("line " + std::to_string(i) + " changed").c_str());
    }
    window.save();
    QVERIFY(ReadBytes(window.file()) == CrlfBytes(edited));
}

void HardeningTest::tenMegabyteLine() {
    const std::string huge = "    <NOTES>" + std::string(kLongLineBytes, 'n') + "</NOTES>";
    auto record = UnitRecord("Giant", "2");
    record[5] = huge;
    Window window(CrlfBytes(Concat({huge}, record)));
    QCOMPARE(window.list()->count(), 1);
    window.list()->setCurrentRow(0);
    window.box(0)->selectAll();
    QTest::keyClicks(window.box(0), QStringLiteral("30"));
    window.save();
    auto expected = Concat({huge}, record);
    expected[1 + kRecordTypeRow - 49] = "    <ATTACK>30</ATTACK>";
    QCOMPARE(ReadBytes(window.file()), CrlfBytes(expected));
}

QTEST_MAIN(HardeningTest)
#include "hardening_test.moc"
