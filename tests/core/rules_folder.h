// A scratch program folder for one rules document, and small helpers.
#pragma once

#include "rules_document.h"

#include "test_files.h"

#include <string>
#include <vector>

// A document whose file lies at folder/data/unitrules.xml.
struct RulesFolder {
    ScratchFolder folder;
    std::string file;
    RulesFolder() {
        MakeFolder(folder / "data");
        file = Document().RulesPath();
    }
    RulesDocument Document() const { return RulesDocument(folder.path()); }
};

inline std::vector<std::string> LinesOf(const RulesDocument& doc) {
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < doc.LineCount(); ++i) lines.push_back(doc.Line(i));
    return lines;
}

inline bool LoadQuietly(RulesDocument& doc) {
    std::string error;
    return doc.Load({}, {}, error);
}

inline const std::string kOnDisk = "    <ATTACK>7</ATTACK>\r\n    <TYPENAME>Old</TYPENAME>\r\n";
