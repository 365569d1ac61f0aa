// The rules file's declared code page: which labels count, and that no
// declaration, true or false, can change a value the user did not type or
// send a typed value to another unit.
#include "editor_fixture.h"
#include "encoding_converter.h"
#include "encoding_labels.h"
#include "file_encoding.h"
#include "unit_records.h"

#include <QLabel>
#include <QtTest>

#include "offscreen_noise.h"

namespace {

QByteArray Bytes(std::string_view text) { return QByteArray(text.data(), qsizetype(text.size())); }

std::string Declaration(const std::string& label) { return "<?xml version=\"1.0\" encoding=\"" + label + "\"?>"; }

// The encodings a rules file is written in by the tools modders use; every
// system the editor runs on converts them.
bool EveryPlatformConverts(std::string_view name) {
    static const std::string_view kRequired[] = {
        "utf-8", "gbk", "big5", "euc-jp", "shift_jis", "euc-kr", "koi8-r", "koi8-u", "iso-8859-2",
        "iso-8859-5", "iso-8859-7", "iso-8859-15", "windows-874", "windows-1250", "windows-1251", "windows-1252",
        "windows-1253", "windows-1254", "windows-1255", "windows-1256", "windows-1257", "windows-1258"};
    return std::find(std::begin(kRequired), std::end(kRequired), name) != std::end(kRequired);
}

// Names that differ only where a double-byte character's second byte has
// the value of a letter in another case, by code page.
struct NameSet {
    const char* name;
    QByteArrayList names;
};
const NameSet kAscii{"ascii", {"Archer", "Knight", "Ram"}};
const NameSet kLatin{"latin", {"Chevalier", "\xc9p\xe9iste", "Archer"}};
const NameSet kGbk{"gbk", {"\xbd\x59", "\xbd\x79", "Archer"}};                         // 結, 統
const NameSet kKorean{"korean", {"\x81\x41", "\x81\x61", "Knight"}};                   // two syllables of 949
const NameSet kShiftJis{"shift_jis", {"\x83\x41\x81\x5b", "\x83\x61\x81\x5b", "Ram"}};  // ア, ッ
// Half-width katakana ｱ, then ア or ヂ: read as pairs of another double-byte
// code page, B1 83 is one character and the letter after it a letter.
const NameSet kKatakana{"katakana", {"\xb1\x83\x41", "\xb1\x83\x61", "Ram"}};
const NameSet kBig5{"big5", {"\xa4\x41", "\xa4\x61", "Archer"}};                       // two characters of 950
const NameSet kUtf8{"utf-8", {"\xe7\xb5\x90\xe7\x95\x8c", "\xe7\xb5\xb1\xe9\xa0\x98", "Knight"}};

// A file of one record a name: unit k attacks 10 + k, but the first unit's
// attack is written "05", which a selection rewrites as "5".
std::vector<std::string> RulesLines(const std::string& firstLine, const QByteArrayList& names) {
    std::vector<std::string> lines{firstLine};
    for (qsizetype k = 0; k < names.size(); ++k)
        lines = Concat(lines, UnitRecord(names[k].toStdString(), k == 0 ? "05" : std::to_string(10 + k)));
    return lines;
}
std::size_t AttackLine(std::size_t unit) { return 1 + unit * (kRecordTypeRow + 1) + kRecordTypeRow - 49; }

}  // namespace

class EncodingTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { DropOffscreenPlatformNoise(); }
    void everyLabelOfTheTableResolves();
    void labelsNameTheirEncodings_data();
    void labelsNameTheirEncodings();
    void labelsResolveAsBrowsersResolveThem_data();
    void labelsResolveAsBrowsersResolveThem();
    void onlyAnXmlDeclarationOpeningTheFileCounts_data();
    void onlyAnXmlDeclarationOpeningTheFileCounts();
    void selectionChangesNoValueAndTypingReachesTheSelectedUnit_data();
    void selectionChangesNoValueAndTypingReachesTheSelectedUnit();
    void typedTextTheFileCannotHold();
};

void EncodingTest::everyLabelOfTheTableResolves() {
    std::size_t count = 0;
    const EncodingLabel* labels = AllLabels(count);
    int usable = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const std::string label(labels[i].label);
        QCOMPARE(ResolveLabel(" \t" + QByteArray::fromStdString(label).toUpper().toStdString() + "\n"),
                 labels[i].encoding);
        const FileEncoding encoding = FileEncoding::FromFirstLine(Declaration(label));
        const std::string_view name = labels[i].encoding->name;
        if (encoding.name().isEmpty()) {
            QVERIFY2(!EveryPlatformConverts(name), label.c_str());
            continue;
        }
        ++usable;
        QCOMPARE(encoding.name().toStdString(), std::string(name));
        QVERIFY2(labels[i].encoding->keepsAscii, label.c_str());
        if (labels[i].encoding->form != ByteForm::kSingleByte) QVERIFY2(encoding.form() != ByteForm::kSingleByte, label.c_str());
    }
    qInfo("%d of %d labels give a usable declaration here", usable, int(count));
}

void EncodingTest::labelsNameTheirEncodings_data() {
    QTest::addColumn<QByteArray>("label");
    QTest::addColumn<QByteArray>("encoding");
    for (const auto& [label, encoding] : std::initializer_list<std::pair<const char*, const char*>>{
             {"unicode-1-1-utf-8", "utf-8"}, {"x-unicode20utf8", "utf-8"}, {"866", "ibm866"},
             {"l2", "iso-8859-2"}, {"iso_8859-3:1988", "iso-8859-3"}, {"latin4", "iso-8859-4"},
             {"cyrillic", "iso-8859-5"}, {"asmo-708", "iso-8859-6"}, {"sun_eu_greek", "iso-8859-7"},
             {"visual", "iso-8859-8"}, {"logical", "iso-8859-8-i"}, {"l6", "iso-8859-10"},
             {"iso885913", "iso-8859-13"}, {"iso8859-14", "iso-8859-14"}, {"l9", "iso-8859-15"},
             {"iso-8859-16", "iso-8859-16"}, {"koi", "koi8-r"}, {"koi8-ru", "koi8-u"}, {"mac", "macintosh"},
             {"tis-620", "windows-874"}, {"iso-8859-11", "windows-874"}, {"x-cp1250", "windows-1250"},
             {"cp1251", "windows-1251"}, {"ibm819", "windows-1252"}, {"ansi_x3.4-1968", "windows-1252"},
             {"greek8", "iso-8859-7"}, {"cp1253", "windows-1253"}, {"iso_8859-9:1989", "windows-1254"},
             {"l5", "windows-1254"}, {"x-cp1255", "windows-1255"}, {"cp1256", "windows-1256"},
             {"windows-1257", "windows-1257"}, {"cp1258", "windows-1258"}, {"x-mac-ukrainian", "x-mac-cyrillic"},
             {"csiso58gb231280", "gbk"}, {"gb_2312", "gbk"}, {"iso-ir-58", "gbk"}, {"x-gbk", "gbk"},
             {"gb18030", "gb18030"}, {"csbig5", "big5"}, {"big5-hkscs", "big5"},
             {"cseucpkdfmtjapanese", "euc-jp"}, {"x-euc-jp", "euc-jp"}, {"csiso2022jp", "iso-2022-jp"},
             {"x-sjis", "shift_jis"}, {"ms932", "shift_jis"}, {"csshiftjis", "shift_jis"},
             {"ks_c_5601-1989", "euc-kr"}, {"iso-ir-149", "euc-kr"}, {"csksc56011987", "euc-kr"},
             {"ksc_5601", "euc-kr"}, {"hz-gb-2312", "replacement"}, {"iso-2022-cn-ext", "replacement"},
             {"unicodefffe", "utf-16be"}, {"csunicode", "utf-16le"}, {"unicodefeff", "utf-16le"},
             {"x-user-defined", "x-user-defined"}})
        QTest::newRow(label) << QByteArray(label) << QByteArray(encoding);
}

void EncodingTest::labelsNameTheirEncodings() {
    QFETCH(QByteArray, label);
    QFETCH(QByteArray, encoding);
    const KnownEncoding* known = ResolveLabel(label.toStdString());
    QVERIFY(known);
    QCOMPARE(Bytes(known->name), encoding);
}

void EncodingTest::labelsResolveAsBrowsersResolveThem_data() {
    QTest::addColumn<QByteArray>("label");
    QTest::addColumn<QString>("inUse");  // empty: the system's code page
    auto row = [](const char* label, const char* inUse) {
        QTest::newRow(label) << QByteArray(label) << QString::fromLatin1(inUse);
    };
    row("gb2312", "gbk");
    row("GB_2312-80", "gbk");
    row("csGB2312", "gbk");
    row("chinese", "gbk");
    row("EUC-CN", "gbk");
    row("euc-kr", "euc-kr");
    row("ks_c_5601-1987", "euc-kr");
    row("windows-949", "euc-kr");
    row("MS_Kanji", "shift_jis");
    row("cn-big5", "big5");
    row("latin1", "windows-1252");
    row("US-ASCII", "windows-1252");
    row("iso-8859-9", "windows-1254");
    row("koi8_r", "koi8-r");
    row(" utf8 ", "utf-8");
    // Outside the table.
    row("cp949", "");
    row("ms936", "");
    row("gb 2312", "");
    row("UTF-7", "");
    row("utf-32", "");
    row("", "");
    // In the table, but their bytes below 0x80 are not ASCII.
    row("utf-16", "");
    row("UTF-16LE", "");
    row("utf-16be", "");
    row("ucs-2", "");
    row("HZ-GB-2312", "");
    row("iso-2022-jp", "");
    row("iso-2022-kr", "");
    // No converter anywhere.
    row("x-user-defined", "");
}

void EncodingTest::labelsResolveAsBrowsersResolveThem() {
    QFETCH(QByteArray, label);
    QFETCH(QString, inUse);
    QCOMPARE(FileEncoding::FromFirstLine(Declaration(label.toStdString())).name(), inUse);
}

void EncodingTest::onlyAnXmlDeclarationOpeningTheFileCounts_data() {
    QTest::addColumn<QByteArray>("firstLine");
    QTest::addColumn<QByteArray>("label");
    auto row = [](const char* name, const char* firstLine, const char* label) {
        QTest::newRow(name) << QByteArray(firstLine) << QByteArray(label);
    };
    row("plain", "<?xml version=\"1.0\" encoding=\"gbk\"?>", "gbk");
    row("single quotes, blanks", "<?xml version='1.0'  encoding = 'big5' standalone='yes' ?>", "big5");
    row("text after it", "<?xml version=\"1.0\" encoding=\"gbk\"?><UNITS>", "gbk");
    row("byte-order mark", "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"gbk\"?>", "gbk");
    row("in a comment after it", "<?xml version=\"1.0\"?><!-- encoding=\"utf-16\" -->", "");
    row("in an element", "<UNITS encoding=\"gbk\">", "");
    row("not at the start", " <?xml version=\"1.0\" encoding=\"gbk\"?>", "");
    row("another instruction", "<?xml-stylesheet encoding=\"gbk\"?>", "");
    row("no end on the line", "<?xml version=\"1.0\" encoding=\"gbk\"", "");
    row("unquoted", "<?xml version=\"1.0\" encoding=gbk?>", "");
    row("another name", "<?xml version=\"1.0\" myencoding=\"gbk\"?>", "");
    row("upper case name", "<?xml version=\"1.0\" ENCODING=\"gbk\"?>", "");
}

void EncodingTest::onlyAnXmlDeclarationOpeningTheFileCounts() {
    QFETCH(QByteArray, firstLine);
    QFETCH(QByteArray, label);
    QCOMPARE(Bytes(DeclaredLabel(firstLine.toStdString())), label);
}

void EncodingTest::selectionChangesNoValueAndTypingReachesTheSelectedUnit_data() {
    QTest::addColumn<QByteArray>("firstLine");
    QTest::addColumn<QByteArrayList>("names");
    auto rows = [](const std::string& firstLine, std::initializer_list<const NameSet*> sets) {
        for (const NameSet* set : sets)
            QTest::addRow("%s / %s", firstLine.c_str(), set->name) << QByteArray::fromStdString(firstLine) << set->names;
    };
    // Mislabels, and first lines that declare nothing: the system's code page.
    for (const char* label : {"utf-16", "utf-16le", "utf-16be", "utf-32", "UTF-7", "HZ-GB-2312", "iso-2022-jp",
                              "ucs-2", "x-user-defined", "cp949", "bogus"})
        rows(Declaration(label), {&kAscii, &kLatin, &kGbk});
    rows("<?xml version=\"1.0\"?><!-- encoding=\"utf-16\" -->", {&kAscii, &kGbk, &kKorean});
    rows("<?xml version=\"1.0\"?>", {&kAscii, &kGbk, &kShiftJis, &kKatakana, &kUtf8});
    rows("<UNITS>", {&kAscii, &kGbk, &kBig5, &kKatakana, &kUtf8});
    // Declarations of another code page than the names are written in.
    for (const char* label : {"ISO-8859-1", "us-ascii", "windows-1251", "koi8-r", "utf-8"})
        rows(Declaration(label), {&kGbk, &kKorean, &kKatakana});
    rows(Declaration("shift_jis"), {&kGbk});
    rows(Declaration("gbk"), {&kKatakana});
    // Declarations of the code page the names are written in.
    for (const char* label : {"gb2312", "GBK", "gb18030", "chinese", "csGB2312", "GB_2312-80", "EUC-CN"})
        rows(Declaration(label), {&kAscii, &kGbk});
    for (const char* label : {"euc-kr", "korean", "ks_c_5601-1987", "windows-949"})
        rows(Declaration(label), {&kAscii, &kKorean});
    for (const char* label : {"shift_jis", "sjis", "windows-31j"}) rows(Declaration(label), {&kShiftJis});
    for (const char* label : {"big5", "x-x-big5"}) rows(Declaration(label), {&kBig5});
    for (const char* label : {"latin1", "windows-1252"}) rows(Declaration(label), {&kAscii, &kLatin});
    rows(Declaration("utf-8"), {&kUtf8});
    rows("\xEF\xBB\xBF" + Declaration("utf-16"), {&kUtf8});
}

void EncodingTest::selectionChangesNoValueAndTypingReachesTheSelectedUnit() {
    QFETCH(QByteArray, firstLine);
    QFETCH(QByteArrayList, names);
    const std::vector<std::string> lines = RulesLines(firstLine.toStdString(), names);
    Editor editor(lines);
    editor.read();
    QCOMPARE(editor.get<QListWidget>("List2")->count(), int(names.size()));

    // Selecting every unit and saving rewrites only the one value that was
    // not in normal form.
    std::vector<std::string> normalized = lines;
    normalized[AttackLine(0)] = "    <ATTACK>5</ATTACK>";
    for (qsizetype k = 0; k < names.size(); ++k) editor.click(int(k));
    editor.save();
    QCOMPARE(Bytes(ReadBytes(editor.file())), Bytes(CrlfBytes(normalized)));

    // Each unit is its own, whatever the first line says.
    std::vector<std::string> typed = normalized;
    for (std::size_t k = 0; k < std::size_t(names.size()); ++k) {
        editor.click(int(k));
        QCOMPARE(editor.box(0)->text(), QString::number(k == 0 ? 5 : 10 + k));
        QCOMPARE(editor.form->typeLine(), long(AttackLine(k) + 49));
        editor.retype(0, QString::number(200 + k));
        typed[AttackLine(k)] = "    <ATTACK>" + std::to_string(200 + k) + "</ATTACK>";
    }
    editor.save();
    QCOMPARE(Bytes(ReadBytes(editor.file())), Bytes(CrlfBytes(typed)));
}

void EncodingTest::typedTextTheFileCannotHold() {
    // windows-1252 has no 中; "?Ram" is what a substitute byte would find.
    const auto lines = Concat({Declaration("latin1")}, Concat(UnitRecord("Archer", "3"), UnitRecord("?Ram", "4")));
    Editor editor(lines);
    editor.read();
    editor.click(0);
    auto* find = editor.get<QLineEdit>("txtFind");
    TypeThroughInputMethod(find, QStringLiteral("中"));
    QCOMPARE(editor.form->windowTitle(), QStringLiteral("-1"));
    QCOMPARE(editor.get<QLabel>("lbUnitName")->text(), QStringLiteral("Archer"));

    // A character the file cannot hold ends the number, as a letter would.
    editor.retype(0, QStringLiteral("12"));
    TypeThroughInputMethod(editor.box(0), QStringLiteral("中"));
    QTest::keyClicks(editor.box(0), QStringLiteral("3"));
    QCOMPARE(editor.line(1 + kRecordTypeRow - 49), std::string("    <ATTACK>12</ATTACK>"));
}

QTEST_MAIN(EncodingTest)
#include "encoding_test.moc"
