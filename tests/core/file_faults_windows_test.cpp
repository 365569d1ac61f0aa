// File faults as Windows shows them: the read-only attribute, and files
// marked hidden or system.
#include "rules_document.h"

#include "rules_folder.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace {

std::wstring WideOf(const std::string& path) { return Fs(path).wstring(); }

TEST(FailedSave, OfAReadOnlyFileKeepsFileAndLines) {
    RulesFolder rules;
    RulesDocument doc = rules.Loaded();
    doc.SetLine(0, "    <ATTACK>8</ATTACK>");
    const auto edited = LinesOf(doc);
    ASSERT_TRUE(::SetFileAttributesW(WideOf(rules.file).c_str(), FILE_ATTRIBUTE_READONLY));

    std::string error;
    EXPECT_FALSE(doc.Save({}, error));
    EXPECT_EQ(error.find(rules.file + ": "), 0u) << error;
    EXPECT_GT(error.size(), rules.file.size() + 2) << "no reason given";
    EXPECT_EQ(ReadBytes(rules.file), kOnDisk);
    EXPECT_EQ(LinesOf(doc), edited);
    EXPECT_EQ(rules.folder.Entries("data"), std::vector<std::string>{"unitrules.xml"});

    ::SetFileAttributesW(WideOf(rules.file).c_str(), FILE_ATTRIBUTE_NORMAL);
    ASSERT_TRUE(doc.Save({}, error)) << error;
    EXPECT_EQ(ReadBytes(rules.file), "    <ATTACK>8</ATTACK>\r\n    <TYPENAME>Old</TYPENAME>\r\n");
}

TEST(Exists, HiddenOrSystemFilesDoNotCount) {
    RulesFolder rules;
    WriteBytes(rules.file, kOnDisk);
    EXPECT_TRUE(rules.Document().Exists());
    for (DWORD mark : {DWORD(FILE_ATTRIBUTE_HIDDEN), DWORD(FILE_ATTRIBUTE_SYSTEM)}) {
        ::SetFileAttributesW(WideOf(rules.file).c_str(), mark);
        EXPECT_FALSE(rules.Document().Exists());
    }
    ::SetFileAttributesW(WideOf(rules.file).c_str(), FILE_ATTRIBUTE_NORMAL);
}

}  // namespace
