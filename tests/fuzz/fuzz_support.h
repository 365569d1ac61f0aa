// Loads fuzzer bytes as a rules document through a real file, the way the
// editor reads one. The file lives in one scratch folder for the whole run.
#pragma once

#include "rules_document.h"

#include <cstddef>
#include <cstdint>
#include <string>

// The folder whose data/unitrules.xml the fuzz targets write and read.
const std::string& FuzzFolder();

// Writes bytes to the rules file and loads a document from it; aborts on a
// failed load but the refusal of UTF-16 or UTF-32 text (an empty document).
RulesDocument LoadBytes(const std::string& bytes);
