// The rules file's declared code page: which labels count, and that no
// declaration, true or false, can change a value the user did not type or
// send a typed value to another unit.
#include "editor_fixture.h"
#include "encoding_converter.h"
#include "encoding_labels.h"
#include "file_encoding.h"
#include "unit_records.h"
#include "warning_box.h"

#include <QDir>
#include <QLabel>
#include <QStringEncoder>
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

// The label -> encoding rows of the WHATWG Encoding Standard (encodings.json),
// encoding by encoding, as the standard spells the encodings' names.
struct StandardEncoding {
    const char* name;
    std::initializer_list<const char*> labels;
};
const StandardEncoding kStandard[] = {
    {"UTF-8", {"unicode-1-1-utf-8", "unicode11utf8", "unicode20utf8", "utf-8", "utf8", "x-unicode20utf8"}},
    {"IBM866", {"866", "cp866", "csibm866", "ibm866"}},
    {"ISO-8859-2", {"csisolatin2", "iso-8859-2", "iso-ir-101", "iso8859-2", "iso88592", "iso_8859-2",
                    "iso_8859-2:1987", "l2", "latin2"}},
    {"ISO-8859-3", {"csisolatin3", "iso-8859-3", "iso-ir-109", "iso8859-3", "iso88593", "iso_8859-3",
                    "iso_8859-3:1988", "l3", "latin3"}},
    {"ISO-8859-4", {"csisolatin4", "iso-8859-4", "iso-ir-110", "iso8859-4", "iso88594", "iso_8859-4",
                    "iso_8859-4:1988", "l4", "latin4"}},
    {"ISO-8859-5", {"csisolatincyrillic", "cyrillic", "iso-8859-5", "iso-ir-144", "iso8859-5", "iso88595",
                    "iso_8859-5", "iso_8859-5:1988"}},
    {"ISO-8859-6", {"arabic", "asmo-708", "csiso88596e", "csiso88596i", "csisolatinarabic", "ecma-114",
                    "iso-8859-6", "iso-8859-6-e", "iso-8859-6-i", "iso-ir-127", "iso8859-6", "iso88596",
                    "iso_8859-6", "iso_8859-6:1987"}},
    {"ISO-8859-7", {"csisolatingreek", "ecma-118", "elot_928", "greek", "greek8", "iso-8859-7", "iso-ir-126",
                    "iso8859-7", "iso88597", "iso_8859-7", "iso_8859-7:1987", "sun_eu_greek"}},
    {"ISO-8859-8", {"csiso88598e", "csisolatinhebrew", "hebrew", "iso-8859-8", "iso-8859-8-e", "iso-ir-138",
                    "iso8859-8", "iso88598", "iso_8859-8", "iso_8859-8:1988", "visual"}},
    {"ISO-8859-8-I", {"csiso88598i", "iso-8859-8-i", "logical"}},
    {"ISO-8859-10", {"csisolatin6", "iso-8859-10", "iso-ir-157", "iso8859-10", "iso885910", "l6", "latin6"}},
    {"ISO-8859-13", {"iso-8859-13", "iso8859-13", "iso885913"}},
    {"ISO-8859-14", {"iso-8859-14", "iso8859-14", "iso885914"}},
    {"ISO-8859-15", {"csisolatin9", "iso-8859-15", "iso8859-15", "iso885915", "iso_8859-15", "l9"}},
    {"ISO-8859-16", {"iso-8859-16"}},
    {"KOI8-R", {"cskoi8r", "koi", "koi8", "koi8-r", "koi8_r"}},
    {"KOI8-U", {"koi8-ru", "koi8-u"}},
    {"macintosh", {"csmacintosh", "mac", "macintosh", "x-mac-roman"}},
    {"windows-874", {"dos-874", "iso-8859-11", "iso8859-11", "iso885911", "tis-620", "windows-874"}},
    {"windows-1250", {"cp1250", "windows-1250", "x-cp1250"}},
    {"windows-1251", {"cp1251", "windows-1251", "x-cp1251"}},
    {"windows-1252", {"ansi_x3.4-1968", "ascii", "cp1252", "cp819", "csisolatin1", "ibm819", "iso-8859-1",
                      "iso-ir-100", "iso8859-1", "iso88591", "iso_8859-1", "iso_8859-1:1987", "l1", "latin1",
                      "us-ascii", "windows-1252", "x-cp1252"}},
    {"windows-1253", {"cp1253", "windows-1253", "x-cp1253"}},
    {"windows-1254", {"cp1254", "csisolatin5", "iso-8859-9", "iso-ir-148", "iso8859-9", "iso88599", "iso_8859-9",
                      "iso_8859-9:1989", "l5", "latin5", "windows-1254", "x-cp1254"}},
    {"windows-1255", {"cp1255", "windows-1255", "x-cp1255"}},
    {"windows-1256", {"cp1256", "windows-1256", "x-cp1256"}},
    {"windows-1257", {"cp1257", "windows-1257", "x-cp1257"}},
    {"windows-1258", {"cp1258", "windows-1258", "x-cp1258"}},
    {"x-mac-cyrillic", {"x-mac-cyrillic", "x-mac-ukrainian"}},
    {"GBK", {"chinese", "csgb2312", "csiso58gb231280", "gb2312", "gb_2312", "gb_2312-80", "gbk", "iso-ir-58",
             "x-gbk"}},
    {"gb18030", {"gb18030"}},
    {"Big5", {"big5", "big5-hkscs", "cn-big5", "csbig5", "x-x-big5"}},
    {"EUC-JP", {"cseucpkdfmtjapanese", "euc-jp", "x-euc-jp"}},
    {"ISO-2022-JP", {"csiso2022jp", "iso-2022-jp"}},
    {"Shift_JIS", {"csshiftjis", "ms932", "ms_kanji", "shift-jis", "shift_jis", "sjis", "windows-31j", "x-sjis"}},
    {"EUC-KR", {"cseuckr", "csksc56011987", "euc-kr", "iso-ir-149", "korean", "ks_c_5601-1987", "ks_c_5601-1989",
                "ksc5601", "ksc_5601", "windows-949"}},
    {"replacement", {"csiso2022kr", "hz-gb-2312", "iso-2022-cn", "iso-2022-cn-ext", "iso-2022-kr", "replacement"}},
    {"UTF-16BE", {"unicodefffe", "utf-16be"}},
    {"UTF-16LE", {"csunicode", "iso-10646-ucs-2", "ucs-2", "unicode", "unicodefeff", "utf-16", "utf-16le"}},
    {"x-user-defined", {"x-user-defined"}},
};
// The one label the editor adds: Chinese systems write GB2312 under it.
constexpr std::string_view kAddedLabel = "euc-cn";

bool IsStandardLabel(std::string_view label) {
    for (const StandardEncoding& encoding : kStandard)
        for (std::string_view known : encoding.labels)
            if (known == label) return true;
    return false;
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
    void noEditOrFindReachesAnotherUnitInShiftingText_data();
    void noEditOrFindReachesAnotherUnitInShiftingText();
    void aDeclarationOverTwoLinesGivesTheCodePage();
    void aFileOfWideCharactersIsNeitherReadNorWritten_data();
    void aFileOfWideCharactersIsNeitherReadNorWritten();
};

void EncodingTest::everyLabelOfTheTableResolves() {
    std::size_t count = 0;
    const EncodingLabel* labels = AllLabels(count);
    // The standard has 228 labels of 40 encodings; the table holds those
    // (each resolving as labelsNameTheirEncodings says) and one more.
    std::size_t standardLabels = 0;
    for (const StandardEncoding& encoding : kStandard) standardLabels += encoding.labels.size();
    QCOMPARE(standardLabels, std::size_t(228));
    QCOMPARE(std::size(kStandard), std::size_t(40));
    QCOMPARE(count, standardLabels + 1);
    int usable = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const std::string label(labels[i].label);
        QVERIFY2(IsStandardLabel(label) || label == kAddedLabel, label.c_str());
        QCOMPARE(ResolveLabel(" \t" + QByteArray::fromStdString(label).toUpper().toStdString() + "\n"),
                 labels[i].encoding);
        const FileEncoding encoding = FileEncoding::FromStart(Declaration(label));
        const std::string_view name = labels[i].encoding->name;
        // Where the bytes below 0x80 may be halves of characters, no letter folds.
        QCOMPARE(encoding.form() == ByteForm::kShifting, !labels[i].encoding->keepsAscii);
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
    for (const char* utf7 : {"utf-7", "UTF7", "unicode-1-1-utf-7", "csUnicode11UTF7", "x-unicode-2-0-utf-7"})
        QVERIFY2(FileEncoding::FromStart(Declaration(utf7)).form() == ByteForm::kShifting, utf7);
}

void EncodingTest::labelsNameTheirEncodings_data() {
    QTest::addColumn<QByteArray>("label");
    QTest::addColumn<QByteArray>("encoding");
    for (const StandardEncoding& encoding : kStandard)
        for (const char* label : encoding.labels)
            QTest::newRow(label) << QByteArray(label) << QByteArray(encoding.name).toLower();
    QTest::newRow(kAddedLabel.data()) << QByteArray(kAddedLabel.data()) << QByteArray("gbk");
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
    row("replacement", "");
    // No converter anywhere.
    row("x-user-defined", "");
}

void EncodingTest::labelsResolveAsBrowsersResolveThem() {
    QFETCH(QByteArray, label);
    QFETCH(QString, inUse);
    QCOMPARE(FileEncoding::FromStart(Declaration(label.toStdString())).name(), inUse);
}

void EncodingTest::onlyAnXmlDeclarationOpeningTheFileCounts_data() {
    QTest::addColumn<QByteArray>("start");
    QTest::addColumn<QByteArray>("label");
    QTest::addColumn<int>("state");  // DeclarationState
    auto row = [](const char* name, const QByteArray& start, const char* label, DeclarationState state) {
        QTest::newRow(name) << start << QByteArray(label) << int(state);
    };
    constexpr auto kComplete = DeclarationState::kComplete, kOpen = DeclarationState::kOpen,
                   kNone = DeclarationState::kNone;
    row("plain", "<?xml version=\"1.0\" encoding=\"gbk\"?>", "gbk", kComplete);
    row("single quotes, blanks", "<?xml version='1.0'  encoding = 'big5' standalone='yes' ?>", "big5", kComplete);
    row("text after it", "<?xml version=\"1.0\" encoding=\"gbk\"?><UNITS>", "gbk", kComplete);
    row("byte-order mark", "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"gbk\"?>", "gbk", kComplete);
    row("over two lines", "<?xml version=\"1.0\"\r\nencoding=\"gbk\"?>\r\n<UNITS>", "gbk", kComplete);
    row("over lines, blanks and breaks", "<?xml\r\n  version='1.0'\n\tencoding\r\n=\r\n'gbk'\r\n?>", "gbk",
        kComplete);
    row("ending at the limit", "<?xml version=\"1.0\" encoding=\"gbk\"" + QByteArray(1022 - 34, ' ') + "?>", "gbk",
        kComplete);
    row("ending past the limit", "<?xml version=\"1.0\" encoding=\"gbk\"" + QByteArray(1023 - 34, ' ') + "?>", "",
        kNone);
    row("in a comment after it", "<?xml version=\"1.0\"?><!-- encoding=\"utf-16\" -->", "", kComplete);
    row("on a line after it", "<?xml version=\"1.0\"?>\r\nencoding=\"gbk\"?>", "", kComplete);
    row("in an element", "<UNITS encoding=\"gbk\">", "", kNone);
    row("not at the start", " <?xml version=\"1.0\" encoding=\"gbk\"?>", "", kNone);
    row("another instruction", "<?xml-stylesheet encoding=\"gbk\"?>", "", kNone);
    row("no end yet", "<?xml version=\"1.0\" encoding=\"gbk\"", "", kOpen);
    row("half its opening", "\xEF\xBB\xBF<?x", "", kOpen);
    row("half its end", "<?xml version=\"1.0\" encoding=\"gbk\"?", "", kOpen);
    row("a value not closed yet", "<?xml version=\"1.0\" encoding=\"gb", "", kOpen);
    row("an element before the end", "<?xml version=\"1.0\"\r\n<UNITS>\r\nencoding=\"gbk\"?>", "", kNone);
    row("an element in a value", "<?xml version=\"1.0\" encoding=\"\r\n<UNITS>\"?>", "", kNone);
    row("unquoted", "<?xml version=\"1.0\" encoding=gbk?>", "", kNone);
    row("another name", "<?xml version=\"1.0\" myencoding=\"gbk\"?>", "", kNone);
    row("upper case name", "<?xml version=\"1.0\" ENCODING=\"gbk\"?>", "", kNone);
    row("encoding twice", "<?xml version=\"1.0\" encoding=\"gbk\" encoding=\"big5\"?>", "", kNone);
    row("version after encoding", "<?xml encoding=\"gbk\" version=\"1.0\"?>", "", kNone);
}

void EncodingTest::onlyAnXmlDeclarationOpeningTheFileCounts() {
    QFETCH(QByteArray, start);
    QFETCH(QByteArray, label);
    QFETCH(int, state);
    const std::string bytes = start.toStdString();
    std::string_view read;
    QCOMPARE(int(ReadDeclaration(bytes, read)), state);
    QCOMPARE(Bytes(read), label);
    QCOMPARE(Bytes(DeclaredLabel(bytes)), label);
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

void EncodingTest::noEditOrFindReachesAnotherUnitInShiftingText_data() {
    QTest::addColumn<QByteArray>("firstLine");
    QTest::addColumn<QByteArrayList>("names");
    QTest::addColumn<QString>("find");  // typed into the find box to reach unit 1; empty: none
    const QByteArrayList jis{"\x1b$BJA\x1b(B", "\x1b$BJa\x1b(B"};  // 柄, 捕
    const QByteArrayList hz{"~{JA~}", "~{Ja~}"};                      // 柿, 梳
    // Declared, and not used: these encodings do not keep ASCII.
    QTest::newRow("iso-2022-jp") << QByteArray::fromStdString(Declaration("iso-2022-jp")) << jis << QString();
    QTest::newRow("hz-gb-2312") << QByteArray::fromStdString(Declaration("hz-gb-2312")) << hz
                                << QStringLiteral("~{Ja");
    const QByteArrayList utf7{"+UAA-", "+UaA-"};  // 倀, 冠
    QTest::newRow("utf-7") << QByteArray::fromStdString(Declaration("utf-7")) << utf7 << QStringLiteral("+Ua");
    // Within the first 1,024 bytes as the file has them, not as a save would write them.
    QTest::newRow("utf-7 past bare CRs") << "<?xml version=\"1.0\"" + QByteArray(500, '\r') + " encoding=\"utf-7\"?>"
                                         << utf7 << QStringLiteral("+Ua");
    // Not honoured, but a file they label may still be in UTF-7.
    QTest::newRow("utf-7 then utf-8") << QByteArray("<?xml version=\"1.0\" encoding=\"utf-7\" encoding=\"utf-8\"?>")
                                      << utf7 << QStringLiteral("+Ua");
    QTest::newRow("utf-7 after a bare value") << QByteArray("<?xml version=1.0 encoding=\"utf-7\"?>") << utf7
                                              << QStringLiteral("+Ua");
    // Not declared: the names' own bytes open the runs.
    QTest::newRow("ESC") << QByteArray("<?xml version=\"1.0\"?>") << jis << QString();
    QTest::newRow("~{") << QByteArray("<UNITS>") << hz << QStringLiteral("~{Ja");
    QTest::newRow("SO") << QByteArray("<UNITS>") << QByteArrayList{"\x0eJA\x0f", "\x0eJa\x0f"} << QString();
}

void EncodingTest::noEditOrFindReachesAnotherUnitInShiftingText() {
    QFETCH(QByteArray, firstLine);
    QFETCH(QByteArrayList, names);
    QFETCH(QString, find);
    const std::vector<std::string> lines = RulesLines(firstLine.toStdString(), names);
    Editor editor(lines);
    editor.read();
    editor.click(1);
    editor.retype(0, QStringLiteral("701"));
    editor.save();
    std::vector<std::string> typed = lines;
    typed[AttackLine(1)] = "    <ATTACK>701</ATTACK>";
    QCOMPARE(Bytes(ReadBytes(editor.file())), Bytes(CrlfBytes(typed)).replace("\r\n", "\r").replace("\r", "\r\n"));

    if (find.isEmpty()) return;
    editor.click(0);
    auto* findBox = editor.get<QLineEdit>("txtFind");
    QTest::mouseClick(findBox, Qt::LeftButton);
    QTest::keyClicks(findBox, find);
    QCOMPARE(editor.form->windowTitle(), QStringLiteral("1"));
    QCOMPARE(editor.line(editor.form->typeLine()), lines[AttackLine(1) + 49]);
}

void EncodingTest::aDeclarationOverTwoLinesGivesTheCodePage() {
    const auto lines = Concat({"<?xml version=\"1.0\"", "      encoding=\"gbk\"?>"},
                              Concat(UnitRecord(kGbk.names[0].toStdString()), UnitRecord(kGbk.names[1].toStdString())));
    Editor editor(lines);
    editor.read();
    auto* list = editor.get<QListWidget>("List2");
    QCOMPARE(list->item(0)->text(), QStringLiteral("結"));
    QCOMPARE(list->item(1)->text(), QStringLiteral("統"));
    auto* findBox = editor.get<QLineEdit>("txtFind");
    QTest::mouseClick(findBox, Qt::LeftButton);
    TypeThroughInputMethod(findBox, QStringLiteral("統"));
    QCOMPARE(editor.form->windowTitle(), QStringLiteral("1"));
    QCOMPARE(editor.get<QLabel>("lbUnitName")->text(), QStringLiteral("統"));
}

void EncodingTest::aFileOfWideCharactersIsNeitherReadNorWritten_data() {
    QTest::addColumn<int>("encoding");  // QStringConverter::Encoding
    QTest::addColumn<int>("flags");  // QStringConverter::Flags: with a byte-order mark or not
    QTest::addColumn<QString>("first");  // text before the declaration
    using Converter = QStringConverter;
    for (const auto form : {Converter::Utf16LE, Converter::Utf16BE, Converter::Utf32LE, Converter::Utf32BE})
        for (const auto flag : {Converter::Flag::WriteBom, Converter::Flag::Default})
            QTest::addRow("%s%s", Converter::nameForEncoding(form), int(flag) ? ", mark" : "")
                << int(form) << int(flag) << QString();
    // 上 is 0A 4E: a line feed without a NUL beside it.
    QTest::newRow("UTF-16LE opening with 上") << int(Converter::Utf16LE) << 0 << QStringLiteral("上");
}

void EncodingTest::aFileOfWideCharactersIsNeitherReadNorWritten() {
    QFETCH(int, encoding);
    QFETCH(int, flags);
    QFETCH(QString, first);
    QStringEncoder encode{QStringConverter::Encoding(encoding), QStringConverter::Flags(flags)};
    const QByteArray bytes = encode(first + QString::fromLatin1(CrlfBytes(RulesLines(Declaration("utf-16"), kAscii.names))));
    Editor editor(bytes.toStdString());
    QStringList shown;
    const auto previous = warning_box::SetHandler([&](QWidget*, const QString&, const QString& t) { shown << t; });
    editor.read();
    warning_box::SetHandler(previous);
    QCOMPARE(shown.size(), 1);
    QVERIFY(shown[0].contains(QDir::toNativeSeparators(QString::fromStdString(editor.file()))));
    QVERIFY(shown[0].contains(QStringLiteral("UTF-16 或 UTF-32")));
    QCOMPARE(editor.get<QListWidget>("List2")->count(), 0);
    QVERIFY(!editor.get<QPushButton>("cmdSave")->isEnabled());
    QCOMPARE(Bytes(ReadBytes(editor.file())), bytes);
}

QTEST_MAIN(EncodingTest)
#include "encoding_test.moc"
