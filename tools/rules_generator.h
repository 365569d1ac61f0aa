// Synthetic unit-rules files in the game's unit layout: invented unit names,
// filler properties, and the seven statistics at their fixed distances above
// each TYPENAME line. Output is deterministic for the same options.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

struct GeneratorOptions {
    std::size_t units = 100;        // used when targetBytes is 0
    std::size_t targetBytes = 0;    // when non-zero: as many units as fit, padded to exactly this size
    unsigned seed = 1;
    std::size_t fillerPadding = 0;  // extra characters in each filler value, for longer lines
};

struct GeneratedRules {
    std::string bytes;               // CRLF line ends, final CRLF included
    std::vector<std::string> names;  // in file order
};

// The TYPENAME line sits this many lines below the first line of its record.
inline constexpr int kTypeNameRow = 52;

std::string GeneratedUnitName(std::size_t i);
GeneratedRules GenerateRules(const GeneratorOptions& options);
