// Hand-made unit records for tests: 53 lines, the TYPENAME line last (index
// 52), the seven statistics at their distances above it, filler elsewhere.
#pragma once

#include <string>
#include <vector>

inline constexpr int kRecordTypeRow = 52;

std::vector<std::string> UnitRecord(const std::string& name, const std::string& attack = "12.50",
                                    const std::string& range = "1-8rng");

// a followed by b.
std::vector<std::string> Concat(std::vector<std::string> a, const std::vector<std::string>& b);

// The lines joined with CRLF, the last one included.
std::string CrlfBytes(const std::vector<std::string>& lines);
