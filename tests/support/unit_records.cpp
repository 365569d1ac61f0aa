#include "unit_records.h"

std::vector<std::string> UnitRecord(const std::string& name, const std::string& attack, const std::string& range) {
    std::vector<std::string> lines(kRecordTypeRow + 1, "    <FILLER>0</FILLER>");
    auto at = [&lines](int offset) -> std::string& { return lines[kRecordTypeRow + offset]; };
    at(-49) = "    <ATTACK>" + attack + "</ATTACK>";
    at(-48) = "    <HITS>120</HITS>";
    at(-47) = "    <MOVES>3</MOVES>";
    at(-44) = "    <JOB_TIME>30</JOB_TIME>";
    at(-38) = "    <RANGE>" + range + "</RANGE>";
    at(-37) = "    <LOS>6</LOS>";
    at(-32) = "    <ARMOR>2</ARMOR>";
    at(0) = "    <TYPENAME>" + name + "</TYPENAME>";
    return lines;
}

std::vector<std::string> Concat(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::string CrlfBytes(const std::vector<std::string>& lines) {
    std::string bytes;
    for (const auto& line : lines) bytes += line + "\r\n";
    return bytes;
}
