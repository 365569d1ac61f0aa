#include "unit_fields.h"

#include "rules_generator.h"
#include "test_files.h"
#include "unit_records.h"

#include <gtest/gtest.h>

#include <clocale>

namespace {

// A document made of the given lines, loaded through a real file.
class Lines {
public:
    explicit Lines(const std::vector<std::string>& lines) : doc_(folder_.path()) {
        MakeFolder(folder_ / "data");
        WriteBytes(doc_.RulesPath(), CrlfBytes(lines));
        std::string error;
        if (!doc_.Load({}, {}, error)) ADD_FAILURE() << error;
    }
    RulesDocument& doc() { return doc_; }
    UnitIndex Index() const {
        UnitIndex index;
        for (std::size_t i = 0; i < doc_.LineCount(); ++i) index.onLine(doc_, i);
        return index;
    }

private:
    ScratchFolder folder_;
    RulesDocument doc_;
};

// ---------------------------------------------------------------------------

TEST(GetValue, TakesTheTextBetweenTheFirstGreaterThanAndTheNextLessThan) {
    const std::vector<std::pair<std::string, std::string>> cases{
        {"    <ATTACK>12</ATTACK>", "12"},
        {"    <TYPENAME>a>b</TYPENAME>", "a>b"},
        {"    <TYPENAME>a<b</TYPENAME>", "a"},
        {"<UNIT><TYPENAME>Ram</TYPENAME>", ""},
        {"<UNIT>x<TYPENAME>Ram</TYPENAME>", "x"},
        {"    <TYPENAME>", ""},
        {"no tags at all", ""},
        {"", ""},
        {"<>", ""},
    };
    for (const auto& [line, value] : cases) EXPECT_EQ(GetValue(line), value) << line;
}

TEST(UnitIndexTest, ListsEveryTypenameLineInFileOrder) {
    Lines file({"<typename>Archer</typename>", "    <ATTACK>3</ATTACK>", "\t<TYPENAME>Ram</TYPENAME> x",
                "    <TYPENAME>", "    <TYPENAME>Ram</TYPENAME>", "<TYPE>Nope</TYPE>"});
    EXPECT_EQ(file.Index().Names(), (std::vector<std::string>{"Archer", "Ram", "", "Ram"}));
}

TEST(FindTypeLine, MatchesTheWholeIndentedLineIgnoringCase) {
    Lines file({"<typename>Archer</typename>", "\t<TYPENAME>Tabbed</TYPENAME>",
                "    <TYPENAME>Ram</TYPENAME> trailing", "    <TYPENAME>Scout</TYPENAME>",
                "    <typename>SCOUT</typename>", "    <TYPENAME>Ram</TYPENAME>"});
    EXPECT_EQ(FindTypeLine(file.doc(), "Archer"), -1);
    EXPECT_EQ(FindTypeLine(file.doc(), "Tabbed"), -1);
    EXPECT_EQ(FindTypeLine(file.doc(), "Ram"), 5);
    EXPECT_EQ(FindTypeLine(file.doc(), "scout"), 3);
    EXPECT_EQ(FindTypeLine(file.doc(), "SCOUT"), 3);
    EXPECT_EQ(FindTypeLine(file.doc(), "Nobody"), -1);
}

TEST(FindUnitByPrefix, FirstNameStartingWithThePrefixInAnyCase) {
    Lines file({"    <TYPENAME>Brute</TYPENAME>", "    <TYPENAME>ARCHER</TYPENAME>", "    <TYPENAME>arbalest</TYPENAME>"});
    const UnitIndex index = file.Index();
    EXPECT_EQ(index.FindUnitByPrefix("ar"), 1);
    EXPECT_EQ(index.FindUnitByPrefix("ARB"), 2);
    EXPECT_EQ(index.FindUnitByPrefix("b"), 0);
    EXPECT_EQ(index.FindUnitByPrefix("archers"), -1);
    EXPECT_EQ(index.FindUnitByPrefix(""), -1);
    EXPECT_EQ(UnitIndex().FindUnitByPrefix(""), -1);
}

TEST(IgnoringCase, NeverFoldsTheSecondByteOfADoubleByteCharacter) {
    // GBK: 結界師 and 統領 differ only in a second byte, Y against y.
    const std::string knot = "\xbd\x59\xbd\xe7\x8e\x9f", rule = "\xbd\x79\xee\x49";
    // Shift_JIS: two katakana whose second bytes are A and a.
    const std::string katakanaA = "\x83\x41", katakanaB = "\x83\x61";
    Lines file({"    <TYPENAME>" + knot + "</TYPENAME>", "    <TYPENAME>" + rule + "</TYPENAME>",
                "    <TYPENAME>" + katakanaA + "x</TYPENAME>", "    <TYPENAME>" + katakanaB + "X</TYPENAME>"});
    const UnitIndex index = file.Index();
    EXPECT_EQ(index.FindUnitByPrefix(rule.substr(0, 2), ByteForm::kDoubleByte), 1);
    EXPECT_EQ(index.FindUnitByPrefix(knot.substr(0, 2), ByteForm::kDoubleByte), 0);
    EXPECT_EQ(FindTypeLine(file.doc(), rule, ByteForm::kDoubleByte), 1);
    EXPECT_EQ(FindTypeLine(file.doc(), katakanaB + "x", ByteForm::kShiftJis), 3);
    EXPECT_EQ(index.FindUnitByPrefix(katakanaB, ByteForm::kShiftJis), 3);
    // Letters after a whole character still fold.
    EXPECT_EQ(FindTypeLine(file.doc(), katakanaA + "X", ByteForm::kShiftJis), 2);
    // Half-width katakana (0xA1 to 0xDF) stand alone in Shift_JIS: the letter after one folds.
    Lines halfWidth({"    <TYPENAME>\xb1" "a</TYPENAME>"});
    EXPECT_EQ(FindTypeLine(halfWidth.doc(), "\xb1" "A", ByteForm::kShiftJis), 0);
    EXPECT_EQ(FindTypeLine(halfWidth.doc(), "\xb1" "A", ByteForm::kDoubleByte), -1);
    // Bytes of an unknown code page: after a half-width katakana and a
    // double-byte character of Shift_JIS, the pairs a double-byte reading
    // makes (B1 83) would fold the A.
    Lines unknown({"    <TYPENAME>\xb1\x83\x41</TYPENAME>", "    <TYPENAME>\xb1\x83\x61</TYPENAME>"});
    EXPECT_EQ(FindTypeLine(unknown.doc(), "\xb1\x83\x61", ByteForm::kDoubleByte), 0);
    EXPECT_EQ(FindTypeLine(unknown.doc(), "\xb1\x83\x61", ByteForm::kAfterAnyHighByte), 1);
    EXPECT_EQ(unknown.Index().FindUnitByPrefix("\xb1\x83\x61", ByteForm::kAfterAnyHighByte), 1);
    EXPECT_EQ(FindTypeLine(unknown.doc(), "\xB1\x83\x41", ByteForm::kAfterAnyHighByte), 0);
}

// Pairs of names that differ only in the case of a letter inside a shifted
// run, in every form a file can have: ISO-2022-JP (柄 against 捕), HZ (柿
// against 梳) and ISO-2022-KR's shift out.
class ShiftedRun : public testing::TestWithParam<std::pair<std::string, std::string>> {};

TEST_P(ShiftedRun, NamesThatOpenOneAreComparedAsBytes) {
    const auto& [first, second] = GetParam();
    Lines file({"    <TYPENAME>" + first + "</TYPENAME>", "    <typename>" + second + "</typename>"});
    const UnitIndex index = file.Index();
    for (ByteForm form : {ByteForm::kSingleByte, ByteForm::kDoubleByte, ByteForm::kShiftJis,
                          ByteForm::kAfterAnyHighByte, ByteForm::kShifting}) {
        EXPECT_EQ(FindTypeLine(file.doc(), second, form), 1) << int(form);
        EXPECT_EQ(index.FindUnitByPrefix(second.substr(0, second.size() - 1), form), 1) << int(form);
    }
}

INSTANTIATE_TEST_SUITE_P(Openers, ShiftedRun,
                         testing::Values(std::pair<std::string, std::string>{"\x1b$BJA\x1b(B", "\x1b$BJa\x1b(B"},
                                         std::pair<std::string, std::string>{"~{JA~}", "~{Ja~}"},
                                         std::pair<std::string, std::string>{"\x0eJA\x0f", "\x0eJa\x0f"}));

TEST(IgnoringCase, FileFormOfShiftingTextFoldsNothingOtherNamesStillFold) {
    Lines file({"    <TYPENAME>+UAA-</TYPENAME>", "    <TYPENAME>+UaA-</TYPENAME>", "    <TYPENAME>Archer</TYPENAME>"});
    EXPECT_EQ(FindTypeLine(file.doc(), "+UaA-", ByteForm::kShifting), 1);
    EXPECT_EQ(file.Index().FindUnitByPrefix("+Ua", ByteForm::kShifting), 1);
    EXPECT_EQ(FindTypeLine(file.doc(), "+UaA-"), 0);
    // A name holding no opener still folds in other forms.
    EXPECT_EQ(file.Index().FindUnitByPrefix("arch", ByteForm::kDoubleByte), 2);
    EXPECT_EQ(file.Index().FindUnitByPrefix("arch", ByteForm::kShifting), -1);
}

// ---------------------------------------------------------------------------

TEST(ReadSlots, ReadsTheSevenStatisticsInSlotOrder) {
    Lines file(UnitRecord("Archer"));
    const SlotTexts texts = ReadSlots(file.doc(), 52);
    EXPECT_EQ(texts, (SlotTexts{"12.50", "120", "3", "6", "30", "2", "1", "8"}));
    EXPECT_EQ(ReadSlots(file.doc(), 0), SlotTexts{});
    EXPECT_EQ(ReadSlots(file.doc(), 9999), SlotTexts{});
}

TEST(ReadSlots, SplitsTheRangeAtTheFirstDashAndTheFirstRng) {
    const std::vector<std::tuple<std::string, std::string, std::string>> cases{
        {"1-8rng", "1", "8"}, {"-2-5rng", "", "2-5"}, {"15", "", ""},        {"1-8", "1", ""},
        {"rng1-8", "rng1", ""}, {"1-8rngrng", "1", "8"}, {"1-rng", "1", ""}, {"", "", ""},
    };
    for (const auto& [range, minimum, maximum] : cases) {
        Lines file(UnitRecord("Ram", "1", range));
        const SlotTexts texts = ReadSlots(file.doc(), 52);
        EXPECT_EQ(texts[6], minimum) << range;
        EXPECT_EQ(texts[7], maximum) << range;
    }
}

struct WriteCase {
    const char* name;
    int slot;
    std::string boxText;
    int offset;
    std::string line;
};

void PrintTo(const WriteCase& c, std::ostream* os) { *os << c.name; }

class WriteSlotTest : public testing::TestWithParam<WriteCase> {};

TEST_P(WriteSlotTest, RewritesOnlyTheSlotsLineInNormalizedForm) {
    Lines file(UnitRecord("Archer", "12.50", "-2-5rng"));
    RulesDocument& doc = file.doc();
    std::vector<std::string> before;
    for (std::size_t i = 0; i < doc.LineCount(); ++i) before.emplace_back(doc.Line(i));

    SlotTexts texts = ReadSlots(doc, 52);
    texts[GetParam().slot] = GetParam().boxText;
    ASSERT_TRUE(SlotWritable(doc, 52, GetParam().slot));
    ASSERT_TRUE(WriteSlot(doc, 52, GetParam().slot, texts));
    for (std::size_t i = 0; i < doc.LineCount(); ++i) {
        if (static_cast<int>(i) == 52 + GetParam().offset) EXPECT_EQ(doc.Line(i), GetParam().line);
        else EXPECT_EQ(doc.Line(i), before[i]) << "line " << i << " changed";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Slots, WriteSlotTest,
    testing::Values(WriteCase{"attack_normalized", 0, "12.50", -49, "    <ATTACK>12.5</ATTACK>"},
                    WriteCase{"hits", 1, " 1 000", -48, "    <HITS>1000</HITS>"},
                    WriteCase{"moves", 2, "15abc", -47, "    <MOVES>15</MOVES>"},
                    WriteCase{"los", 3, ".5", -37, "    <LOS>0.5</LOS>"},
                    WriteCase{"job_time", 4, "", -44, "    <JOB_TIME>0</JOB_TIME>"},
                    WriteCase{"armor", 5, "-3", -32, "    <ARMOR>-3</ARMOR>"},
                    WriteCase{"range_minimum_keeps_read_maximum", 6, "", -38, "    <RANGE>0-2rng</RANGE>"},
                    WriteCase{"range_maximum", 7, "10", -38, "    <RANGE>0-10rng</RANGE>"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SlotWritable, OnlyWhenTheValueCanBeLocated) {
    const std::vector<std::tuple<int, std::string, bool>> cases{
        {0, "    <ATTACK>12", false},          {0, "    <ATTACK>", false},
        {0, "    <ATTACK>12</ATTACK>", true},  {0, "    <ATTACK>abc</ATTACK>", true},
        {6, "    <RANGE>4-7</RANGE>", false},  {6, "    <RANGE>3rng</RANGE>", false},
        {6, "    <RANGE>1-8RNG</RANGE>", false}, {6, "    <RANGE>rng1-8</RANGE>", false},
        {6, "    <RANGE>1-8rng", false},       {6, "    <RANGE>1-8rng</RANGE>", true},
        {6, "    <RANGE>-2-5rng</RANGE>", true}, {6, "    <RANGE>2-rng</RANGE>", true},
    };
    for (const auto& [slot, line, writable] : cases) {
        auto lines = UnitRecord("Archer");
        lines[52 + kStatSlots[slot].offset] = line;
        Lines file(lines);
        const SlotTexts texts{"1", "2", "3", "4", "5", "6", "7", "8"};
        for (int s : slot == 6 ? std::vector<int>{6, 7} : std::vector<int>{slot}) {
            EXPECT_EQ(SlotWritable(file.doc(), 52, s), writable) << line << " slot " << s;
            EXPECT_EQ(WriteSlot(file.doc(), 52, s, texts), writable) << line;
            if (!writable) { EXPECT_EQ(file.doc().Line(52 + kStatSlots[slot].offset), line); }
        }
    }
}

TEST(WriteSlot, RewritesAnOddlyIndentedLineWithFourBlanks) {
    auto lines = UnitRecord("Archer");
    lines[52 - 48] = "\t<hits>5</hits>  <!-- note -->";
    Lines file(lines);
    ASSERT_TRUE(WriteSlot(file.doc(), 52, 1, ReadSlots(file.doc(), 52)));
    EXPECT_EQ(file.doc().Line(52 - 48), "    <HITS>5</HITS>");
}

TEST(WriteSlot, NeverWritesOutsideTheDocumentOrOverAnotherLine) {
    // The second record is four lines short, so its ATTACK offset lands on
    // the first unit's TYPENAME line and its other offsets on lines of
    // other tags.
    auto shortRecord = UnitRecord("Ram");
    shortRecord.erase(shortRecord.begin() + 48, shortRecord.begin() + 52);
    Lines file(Concat(UnitRecord("Archer"), shortRecord));
    RulesDocument& doc = file.doc();
    const long ram = FindTypeLine(doc, "Ram");
    ASSERT_EQ(ram, 53 + 48);
    std::vector<std::string> before;
    for (std::size_t i = 0; i < doc.LineCount(); ++i) before.emplace_back(doc.Line(i));

    const SlotTexts texts{"1", "2", "3", "4", "5", "6", "7", "8"};
    for (int slot = 0; slot < kSlotCount; ++slot) {
        for (long typeLine : {0L, 10L, ram, 100000L, -1L}) {
            EXPECT_FALSE(SlotWritable(doc, typeLine, slot)) << typeLine << " slot " << slot;
            EXPECT_FALSE(WriteSlot(doc, typeLine, slot, texts));
        }
        EXPECT_TRUE(WriteSlot(doc, 52, slot, texts));
    }
    EXPECT_EQ(doc.Line(52), "    <TYPENAME>Archer</TYPENAME>");
    for (std::size_t i = 53; i < doc.LineCount(); ++i) EXPECT_EQ(doc.Line(i), before[i]) << i;
    EXPECT_FALSE(SlotWritable(doc, 52, 8));
    EXPECT_FALSE(SlotWritable(doc, 52, -1));
}

// ---------------------------------------------------------------------------

const std::vector<std::pair<std::string, std::string>> kNumbers{
    {"12", "12"},
    {"12.50", "12.5"},
    {".5", "0.5"},
    {"-.5", "-0.5"},
    {"15abc", "15"},
    {"1 000", "1000"},
    {"\t1\n2 ", "12"},
    {"", "0"},
    {"abc", "0"},
    {"-3", "-3"},
    {"+7", "7"},
    {"-0", "0"},
    {"-0.000", "0"},
    {"-", "0"},
    {"1.2.3", "1.2"},
    {"1e3", "1000"},
    {"1E+3x", "1000"},
    {"2e", "2"},
    {"2e-", "2"},
    {"1.5e-3", "0.0015"},
    {"1e-5", "1E-05"},
    {"0.0001", "0.0001"},
    {"123456789012345", "123456789012345"},
    {"1234567890123456", "1.23456789012346E+15"},
    {"0.1234567890123456789", "0.123456789012346"},
    {"1e400", "1.79769313486232E+308"},
    {"-1e400", "-1.79769313486232E+308"},
    {"1e-400", "0"},
    {"-1e-400", "0"},
    {"1e99999999999999999999", "1.79769313486232E+308"},
    {"&HFFFF", "65535"},
    {"&hff", "255"},
    {"&O17", "15"},
    {"&o78", "7"},
    {"&H", "0"},
    {"&HFFFFFFFFFFFFFFFF", "1.84467440737096E+19"},
    // Beyond 2^53 the integer is rounded once, not digit by digit.
    {"&O24401256521261132041", "3.69342356283242E+17"},
    {"&H1111111111111111111111111111111111111111", "9.74334424887269E+46"},
    {"&H1" + std::string(300, '0'), "1.79769313486232E+308"},
    {"&O000000000000000000000000000000000017", "15"},
    {"&", "0"},
    {"12,5", "12"},
};

TEST(NormalizeNumber, ReadsALenientPrefixAndWritesGeneralFormat) {
    for (const auto& [text, expected] : kNumbers) EXPECT_EQ(NormalizeNumber(text), expected) << "'" << text << "'";
}

TEST(NormalizeNumber, IgnoresTheProcessLocale) {
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    // A locale whose decimal separator is a comma.
    const char* german = nullptr;
    for (const char* name : {"de_DE.UTF-8", "German_Germany.1252", "de-DE", "deu"})
        if ((german = std::setlocale(LC_ALL, name))) break;
    ASSERT_NE(german, nullptr) << "no German locale is installed";
    ASSERT_EQ(*std::localeconv()->decimal_point, ',');
    for (const auto& [text, expected] : kNumbers) EXPECT_EQ(NormalizeNumber(text), expected) << "'" << text << "'";
    std::setlocale(LC_ALL, saved.c_str());
}

TEST(NormalizeNumber, DecimalExponentStaysExactForAnyLength) {
    // More digits than any cap on the exponent: 1 followed by 120 million
    // zeros, scaled back by as many powers of ten.
    constexpr std::size_t kZeros = 120'000'000;
    const std::string one = "1" + std::string(kZeros, '0') + "e-" + std::to_string(kZeros);
    EXPECT_EQ(NormalizeNumber(one), "1");
    const std::string tenth = "0." + std::string(kZeros, '0') + "1e" + std::to_string(kZeros);
    EXPECT_EQ(NormalizeNumber(tenth), "0.1");
}

TEST(NormalizeNumber, IsStableOnItsOwnOutput) {
    for (const auto& [text, expected] : kNumbers) EXPECT_EQ(NormalizeNumber(expected), expected);
    EXPECT_EQ(NormalizeNumber("4.94065645841247E-324"), "4.94065645841247E-324");
}

// ---------------------------------------------------------------------------

TEST(GeneratedFile, EveryUnitIsFoundAndItsSlotsAreWritable) {
    ScratchFolder folder;
    MakeFolder(folder / "data");
    const GeneratedRules rules = GenerateRules({60, 0, 3});
    WriteBytes(folder / "data/unitrules.xml", rules.bytes);
    RulesDocument doc(folder.path());
    UnitIndex index;
    std::string error;
    ASSERT_TRUE(doc.Load({}, [&](std::size_t i) { index.onLine(doc, i); }, error));
    EXPECT_EQ(index.Names(), rules.names);
    for (const auto& name : rules.names) {
        const long typeLine = FindTypeLine(doc, name);
        ASSERT_GE(typeLine, 49) << name;
        for (int slot = 0; slot < kSlotCount; ++slot) EXPECT_TRUE(SlotWritable(doc, typeLine, slot)) << name;
    }
}

}  // namespace
