// The names a rules file may give its code page, resolved as web browsers
// resolve them, and the XML declaration that gives it. Plain data and text
// scanning: which of these encodings a system can convert is asked of its
// converters (encoding_converter.h).
#pragma once

#include "unit_fields.h"

#include <string_view>

struct KnownEncoding {
    std::string_view name;        // the encoding's own name, lower case
    std::string_view converter;   // its name for Qt's converters (empty: none)
    unsigned windowsCodePage;     // 0 where Windows has no code page for it
    ByteForm form;                // how its bytes make characters, at the least
    bool keepsAscii;              // every byte below 0x80 is that ASCII character
};

// The encoding a declared label names, or nullptr for a label outside the
// table. ASCII case is ignored and blanks around the label are dropped.
const KnownEncoding* ResolveLabel(std::string_view label);

// The value of encoding="..." in the XML declaration that opens firstLine
// (after an optional UTF-8 byte-order mark), or empty: only "<?xml", its
// pseudo-attributes and the closing "?>" count, never text after it.
std::string_view DeclaredLabel(std::string_view firstLine);

// True when firstLine starts with a UTF-8 byte-order mark.
bool HasUtf8ByteOrderMark(std::string_view firstLine);

// Every label of the table, for tests.
struct EncodingLabel {
    std::string_view label;
    const KnownEncoding* encoding;
};
const EncodingLabel* AllLabels(std::size_t& count);
