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

// True when label names UTF-7, which the web's table leaves out: it shifts
// into runs of ASCII letters ("+UAA-"), so it never keeps ASCII as ASCII.
// ASCII case is ignored and blanks around the label are dropped.
bool IsUtf7Label(std::string_view label);

// The XML declaration must end ("?>") within this many bytes of the file.
inline constexpr std::size_t kDeclarationLimit = 1024;

enum class DeclarationState {
    kComplete,  // an XML declaration ends within the bytes given
    kOpen,      // the bytes given may still grow into one
    kNone,      // there is none
};

// True when label names an encoding that does not keep ASCII as ASCII (the
// table's, or UTF-7).
bool KeepsNoAscii(std::string_view label);

// Reads the XML declaration that opens a file (after an optional UTF-8
// byte-order mark), of which start holds the first bytes, line breaks
// included, so a declaration may span lines. Only "<?xml", its
// pseudo-attributes and the closing "?>" count, never text after it, and only
// within the first kDeclarationLimit bytes. As in XML, no "<" may stand in a
// pseudo-attribute, so a "<" past the "<?xml" ends the search at once, and
// only version, encoding and standalone may stand there, in that order, each
// once: a declaration with any other is none. label is set to the value of
// encoding="..." of a complete declaration (empty when it has none).
// namesNoAscii, where given, is set when any value read, of a declaration
// honoured or not, names an encoding that does not keep ASCII.
DeclarationState ReadDeclaration(std::string_view start, std::string_view& label, bool* namesNoAscii = nullptr);

// The label of the complete declaration that opens start, or empty.
std::string_view DeclaredLabel(std::string_view start);

// True when start begins with a UTF-8 byte-order mark.
bool HasUtf8ByteOrderMark(std::string_view start);

// Every label of the table, for tests.
struct EncodingLabel {
    std::string_view label;
    const KnownEncoding* encoding;
};
const EncodingLabel* AllLabels(std::size_t& count);
