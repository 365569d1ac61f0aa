#include "rules_document.h"

#include "rules_folder.h"
#include "rules_generator.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace {

// ---------------------------------------------------------------------------

struct SplitCase {
    const char* name;
    std::string bytes;
    std::vector<std::string> lines;
};

void PrintTo(const SplitCase& c, std::ostream* os) { *os << c.name; }

class LineSplitting : public testing::TestWithParam<SplitCase> {};

TEST_P(LineSplitting, LoadsLinesAndSavesThemWithCrlf) {
    RulesFolder rules;
    WriteBytes(rules.file, GetParam().bytes);
    RulesDocument doc = rules.Document();
    ASSERT_TRUE(LoadQuietly(doc));
    EXPECT_EQ(LinesOf(doc), GetParam().lines);

    std::string error;
    ASSERT_TRUE(doc.Save({}, error)) << error;
    std::string expected;
    for (const auto& line : GetParam().lines) expected += line + "\r\n";
    EXPECT_EQ(ReadBytes(rules.file), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Terminators, LineSplitting,
    testing::Values(SplitCase{"crlf", "a\r\nb\r\n", {"a", "b"}},
                    SplitCase{"cr_only", "a\rb\r", {"a", "b"}},
                    SplitCase{"no_final_break", "a\r\nb", {"a", "b"}},
                    SplitCase{"lone_lf_stays_inside", "a\nb\r\nc\n", {"a\nb", "c\n"}},
                    SplitCase{"lf_before_cr", "a\n\rb", {"a\n", "b"}},
                    SplitCase{"cr_then_crlf", "a\r\r\nb", {"a", "", "b"}},
                    SplitCase{"empty_lines", "\r\n\r\n    \r\n", {"", "", "    "}},
                    SplitCase{"empty_file", "", {}},
                    SplitCase{"bytes_invalid_in_any_locale",
                              std::string("<TYPENAME>\xff\xfe\xb9\xad\x80</TYPENAME>\r\n\x00z\r\n", 32),
                              {"<TYPENAME>\xff\xfe\xb9\xad\x80</TYPENAME>", std::string("\x00z", 2)}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LineSplittingAcrossChunks, CrlfSplitByTheReadBufferIsOneTerminator) {
    for (std::size_t crAt : {std::size_t(1 << 20) - 1, std::size_t(1 << 20), std::size_t(2 << 20) - 1}) {
        RulesFolder rules;
        const std::string first(crAt, 'x');
        WriteBytes(rules.file, first + "\r\nsecond\r\n");
        RulesDocument doc = rules.Document();
        ASSERT_TRUE(LoadQuietly(doc));
        ASSERT_EQ(doc.LineCount(), 2u) << "CR at byte " << crAt;
        EXPECT_EQ(doc.Line(0), first);
        EXPECT_EQ(doc.Line(1), "second");
    }
}

TEST(RulesPath, JoinsTheDataFileToTheExecutableFolder) {
#ifdef _WIN32
    EXPECT_EQ(RulesDocument("C:\\Games\\Tarvenor").RulesPath(), "C:\\Games\\Tarvenor\\data\\unitrules.xml");
    EXPECT_EQ(RulesDocument("C:\\").RulesPath(), "C:\\data\\unitrules.xml");
    // As the toolkit reports the folder: the path is shown with '\\' only.
    EXPECT_EQ(RulesDocument("Z:/games/tarvenor").RulesPath(), "Z:\\games\\tarvenor\\data\\unitrules.xml");
    EXPECT_EQ(RulesDocument("C:/").RulesPath(), "C:\\data\\unitrules.xml");
#else
    EXPECT_EQ(RulesDocument("/games/tarvenor").RulesPath(), "/games/tarvenor/data/unitrules.xml");
    EXPECT_EQ(RulesDocument("/games/tarvenor/").RulesPath(), "/games/tarvenor/data/unitrules.xml");
    EXPECT_EQ(RulesDocument("/").RulesPath(), "/data/unitrules.xml");
#endif
}

TEST(Exists, OnlyARegularFileCounts) {
    RulesFolder rules;
    EXPECT_FALSE(rules.Document().Exists());
    MakeFolder(rules.file);
    EXPECT_FALSE(rules.Document().Exists());
    std::filesystem::remove(Fs(rules.file));
    WriteBytes(rules.file, "");
    EXPECT_TRUE(rules.Document().Exists());
}

// ---------------------------------------------------------------------------

struct Recorded {
    std::vector<double> fractions;
    std::vector<std::size_t> hooked;
    std::vector<char> order;  // 'h' hook, 'e' events, 'r' report
    ProgressSink Sink() {
        return {[this](double f) { fractions.push_back(f); order.push_back('r'); },
                [this] { order.push_back('e'); }};
    }
    LineHook Hook() {
        return [this](std::size_t i) { hooked.push_back(i); order.push_back('h'); };
    }
};

TEST(LoadProgress, CalibratedTo460800BytesAndUnclamped) {
    for (const auto& [bytes, last] : {std::pair{460800u, 1.0}, std::pair{921600u, 2.0}}) {
        RulesFolder rules;
        WriteBytes(rules.file, GenerateRules({0, bytes, 7}).bytes);
        RulesDocument doc = rules.Document();
        Recorded seen;
        std::string error;
        ASSERT_TRUE(doc.Load(seen.Sink(), seen.Hook(), error)) << error;
        ASSERT_EQ(seen.fractions.size(), doc.LineCount());
        EXPECT_DOUBLE_EQ(seen.fractions.back(), last);
        EXPECT_TRUE(std::is_sorted(seen.fractions.begin(), seen.fractions.end()));
        // Whole 128-byte blocks only: the first line (46 bytes) is still block 0.
        EXPECT_EQ(seen.fractions.front(), 0.0);
        for (std::size_t i = 0; i < seen.hooked.size(); ++i) ASSERT_EQ(seen.hooked[i], i);
        EXPECT_EQ(std::string(seen.order.begin(), seen.order.begin() + 6), "herher");
    }
}

TEST(SaveProgress, ReportsEachLineAsAFractionOfTheLast) {
    const std::vector<std::pair<std::string, std::vector<double>>> cases{
        {"", {}}, {"only\r\n", {1.0}}, {"a\r\nb\r\nc\r\n", {0.0, 0.5, 1.0}}, {"a\r\nb\r\n", {0.0, 1.0}}};
    for (const auto& [bytes, fractions] : cases) {
        RulesFolder rules;
        WriteBytes(rules.file, bytes);
        RulesDocument doc = rules.Document();
        ASSERT_TRUE(LoadQuietly(doc));
        Recorded seen;
        std::string error;
        ASSERT_TRUE(doc.Save(seen.Sink(), error)) << error;
        EXPECT_EQ(seen.fractions, fractions) << bytes;
        EXPECT_EQ(ReadBytes(rules.file), bytes);
    }
}

// ---------------------------------------------------------------------------

TEST(FailedSaveOverADirectory, ReportsAndKeepsLines) {
    RulesFolder rules;
    RulesDocument doc = rules.Loaded();
    std::filesystem::remove(Fs(rules.file));
    MakeFolder(rules.file);
    std::string error;
    EXPECT_FALSE(doc.Save({}, error));
    EXPECT_EQ(error, rules.file + ": Is a directory");
    EXPECT_EQ(doc.LineCount(), 2u);
    EXPECT_EQ(rules.folder.Entries("data"), std::vector<std::string>{"unitrules.xml"});
}

TEST(SaveReplacement, WritesAVanishedFileAnewAndWorksInAFolderNamedInAnyScript) {
    ScratchFolder scratch;
    const std::string gameFolder = scratch / "\xe5\xa1\x94\xe6\x96\x87\xe8\xaf\xba game";  // UTF-8
    MakeFolder(gameFolder + "/data");
    RulesDocument doc(gameFolder);
    WriteBytes(doc.RulesPath(), kOnDisk);
    ASSERT_TRUE(doc.Exists());
    ASSERT_TRUE(LoadQuietly(doc));
    doc.SetLine(0, "    <ATTACK>9</ATTACK>");
    std::string error;
    ASSERT_TRUE(doc.Save({}, error)) << error;
    EXPECT_EQ(ReadBytes(doc.RulesPath()), "    <ATTACK>9</ATTACK>\r\n    <TYPENAME>Old</TYPENAME>\r\n");

    std::filesystem::remove(Fs(doc.RulesPath()));
    ASSERT_TRUE(doc.Save({}, error)) << error;
    EXPECT_EQ(ReadBytes(doc.RulesPath()), "    <ATTACK>9</ATTACK>\r\n    <TYPENAME>Old</TYPENAME>\r\n");
    EXPECT_EQ(scratch.Entries(scratch.Entries().front() + "/data"), std::vector<std::string>{"unitrules.xml"});
}

TEST(FailedLoad, KeepsThePreviousLinesAndNamesTheFile) {
    RulesFolder rules;
    RulesDocument doc = rules.Loaded();
    const auto before = LinesOf(doc);
    std::string error;

    std::filesystem::remove(Fs(rules.file));
    EXPECT_FALSE(doc.Load({}, {}, error));
    EXPECT_EQ(error, rules.file + ": No such file or directory");
    EXPECT_EQ(LinesOf(doc), before);

    MakeFolder(rules.file);
    EXPECT_FALSE(doc.Load({}, {}, error));
    EXPECT_EQ(error, rules.file + ": Is a directory");
    EXPECT_EQ(LinesOf(doc), before);
}

}  // namespace
