#include "rules_document.h"

#include "rules_generator.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <random>

namespace {

// A document whose file lies at folder/data/unitrules.xml.
struct RulesFolder {
    ScratchFolder folder;
    std::string file;
    RulesFolder() {
        ::mkdir((folder / "data").c_str(), 0755);
        file = folder / "data/unitrules.xml";
    }
    RulesDocument Document() const { return RulesDocument(folder.path()); }
};

std::vector<std::string> LinesOf(const RulesDocument& doc) {
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < doc.LineCount(); ++i) lines.push_back(doc.Line(i));
    return lines;
}

bool LoadQuietly(RulesDocument& doc) {
    std::string error;
    return doc.Load({}, {}, error);
}

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
                              std::string("\xff\xfe<TYPENAME>\xb9\xad\x80</TYPENAME>\r\n\x00z\r\n", 32),
                              {"\xff\xfe<TYPENAME>\xb9\xad\x80</TYPENAME>", std::string("\x00z", 2)}}),
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
    EXPECT_EQ(RulesDocument("/games/tarvenor").RulesPath(), "/games/tarvenor/data/unitrules.xml");
    EXPECT_EQ(RulesDocument("/games/tarvenor/").RulesPath(), "/games/tarvenor/data/unitrules.xml");
    EXPECT_EQ(RulesDocument("/").RulesPath(), "/data/unitrules.xml");
}

TEST(Exists, OnlyARegularFileCounts) {
    RulesFolder rules;
    EXPECT_FALSE(rules.Document().Exists());
    ::mkdir(rules.file.c_str(), 0755);
    EXPECT_FALSE(rules.Document().Exists());
    ::rmdir(rules.file.c_str());
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
// Saving safely: the old file survives every failure byte for byte.

const std::string kOnDisk = "    <ATTACK>7</ATTACK>\r\n    <TYPENAME>Old</TYPENAME>\r\n";

struct SaveFailure {
    const char* name;
    std::function<void(const RulesFolder&)> prepare;
    ChildLimits limits;
    const char* reason;
};

void PrintTo(const SaveFailure& c, std::ostream* os) { *os << c.name; }

class FailedSave : public testing::TestWithParam<SaveFailure> {};

TEST_P(FailedSave, LeavesFileAndLinesWhole) {
    RulesFolder rules;
    WriteBytes(rules.file, kOnDisk);
    RulesDocument doc = rules.Document();
    ASSERT_TRUE(LoadQuietly(doc));
    doc.SetLine(0, "    <ATTACK>" + std::string(4096, '9') + "</ATTACK>");
    const auto linesBefore = LinesOf(doc);
    GetParam().prepare(rules);

    const bool saved = RunInChild(GetParam().limits, [&] {
        std::string error;
        const bool ok = doc.Save({}, error);
        // The message names the file and the system's reason.
        const bool clear = error.find(rules.file) == 0 && error.find(GetParam().reason) != std::string::npos;
        return !ok && clear && LinesOf(doc) == linesBefore;
    });
    EXPECT_TRUE(saved) << "save did not fail cleanly";
    EXPECT_EQ(ReadBytes(rules.file), kOnDisk);
    EXPECT_EQ(rules.folder.Entries("data"), std::vector<std::string>{"unitrules.xml"}) << "temporary file left";
}

INSTANTIATE_TEST_SUITE_P(
    RealRefusals, FailedSave,
    testing::Values(
        SaveFailure{"read_only_file", [](const RulesFolder& r) { ::chmod(r.file.c_str(), 0444); },
                    {true, -1}, "Permission denied"},
        SaveFailure{"folder_not_writable",
                    [](const RulesFolder& r) {
                        ::chmod(r.file.c_str(), 0666);
                        ::chmod((r.folder / "data").c_str(), 0555);
                    },
                    {true, -1}, "Permission denied"},
        SaveFailure{"disk_full", [](const RulesFolder&) {}, {false, 1000}, "File too large"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FailedSaveOverADirectory, ReportsAndKeepsLines) {
    RulesFolder rules;
    WriteBytes(rules.file, kOnDisk);
    RulesDocument doc = rules.Document();
    ASSERT_TRUE(LoadQuietly(doc));
    ::unlink(rules.file.c_str());
    ::mkdir(rules.file.c_str(), 0755);
    std::string error;
    EXPECT_FALSE(doc.Save({}, error));
    EXPECT_EQ(error, rules.file + ": Is a directory");
    EXPECT_EQ(doc.LineCount(), 2u);
    EXPECT_EQ(rules.folder.Entries("data"), std::vector<std::string>{"unitrules.xml"});
}

TEST(SaveReplacement, KeepsPermissionsFollowsLinksAndRecreatesAVanishedFile) {
    RulesFolder rules;
    WriteBytes(rules.file, kOnDisk);
    RulesDocument doc = rules.Document();
    ASSERT_TRUE(LoadQuietly(doc));
    doc.SetLine(0, "    <ATTACK>8</ATTACK>");
    const std::string saved = "    <ATTACK>8</ATTACK>\r\n    <TYPENAME>Old</TYPENAME>\r\n";
    std::string error;

    ::chmod(rules.file.c_str(), 0640);
    ASSERT_TRUE(doc.Save({}, error)) << error;
    struct stat st {};
    ::stat(rules.file.c_str(), &st);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(ReadBytes(rules.file), saved);

    const std::string target = rules.folder / "real.xml";
    ::rename(rules.file.c_str(), target.c_str());
    ::symlink("../real.xml", rules.file.c_str());
    doc.SetLine(0, "    <ATTACK>9</ATTACK>");
    ASSERT_TRUE(doc.Save({}, error)) << error;
    EXPECT_TRUE(std::filesystem::is_symlink(rules.file));
    EXPECT_EQ(ReadBytes(target).substr(0, 22), "    <ATTACK>9</ATTACK>");

    ::unlink(rules.file.c_str());
    ASSERT_TRUE(doc.Save({}, error)) << error;
    EXPECT_EQ(ReadBytes(rules.file).substr(0, 22), "    <ATTACK>9</ATTACK>");
}

// ---------------------------------------------------------------------------

TEST(FailedLoad, KeepsThePreviousLinesAndNamesTheFile) {
    RulesFolder rules;
    WriteBytes(rules.file, kOnDisk);
    RulesDocument doc = rules.Document();
    ASSERT_TRUE(LoadQuietly(doc));
    const auto before = LinesOf(doc);
    std::string error;

    ::chmod(rules.file.c_str(), 0);
    EXPECT_TRUE(RunInChild({true, -1}, [&] {
        std::string childError;
        return !doc.Load({}, {}, childError) && childError == rules.file + ": Permission denied" &&
               LinesOf(doc) == before;
    }));

    ::unlink(rules.file.c_str());
    EXPECT_FALSE(doc.Load({}, {}, error));
    EXPECT_EQ(error, rules.file + ": No such file or directory");
    EXPECT_EQ(LinesOf(doc), before);

    ::mkdir(rules.file.c_str(), 0755);
    EXPECT_FALSE(doc.Load({}, {}, error));
    EXPECT_EQ(error, rules.file + ": Is a directory");
    EXPECT_EQ(LinesOf(doc), before);
}

}  // namespace

namespace {

// ---------------------------------------------------------------------------
// A save killed at any moment leaves the old file or the complete new one.

TEST(KilledSave, LeavesTheOldOrTheNewFileAndALaterSaveCleansUp) {
    RulesFolder rules;
    // About 1,000,000 lines, 50 MB.
    const std::string before = GenerateRules({17857, 0, 5, 28}).bytes;
    WriteBytes(rules.file, before);
    RulesDocument doc = rules.Document();
    ASSERT_TRUE(LoadQuietly(doc));
    doc.SetLine(doc.LineCount() / 2, "    <ATTACK>99</ATTACK>");
    std::string after;
    for (std::size_t i = 0; i < doc.LineCount(); ++i) after += doc.Line(i) + "\r\n";

    std::mt19937 rng(2026);
    int sawOld = 0, sawNew = 0;
    for (int round = 0; round < 8; ++round) {
        if (round % 2 == 0) WriteBytes(rules.file, before);
        const pid_t saver = ::fork();
        ASSERT_GE(saver, 0);
        if (saver == 0) {
            std::string error;
            for (;;) doc.Save({}, error);
        }
        ::usleep(std::uniform_int_distribution<useconds_t>(1000, 120000)(rng));
        ::kill(saver, SIGKILL);
        ::waitpid(saver, nullptr, 0);
        const std::string onDisk = ReadBytes(rules.file);
        ASSERT_TRUE(onDisk == before || onDisk == after) << "round " << round << ": a mix of " << onDisk.size() << " bytes";
        (onDisk == before ? sawOld : sawNew)++;
    }
    std::printf("killed saves left the old file %d times, the new one %d times\n", sawOld, sawNew);

    std::string error;
    ASSERT_TRUE(doc.Save({}, error)) << error;
    EXPECT_EQ(rules.folder.Entries("data"), std::vector<std::string>{"unitrules.xml"});
    EXPECT_EQ(ReadBytes(rules.file), after);
}

}  // namespace
