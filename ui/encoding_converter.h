// The platform's converters between a code page's bytes and text: Qt's own
// (with ICU where Qt was built with it) on Linux, the system's code pages on
// Windows. Each file encoding_converter_<platform>.cpp implements this.
#pragma once

#include "encoding_labels.h"

#include <QString>

#include <memory>
#include <string>
#include <string_view>

class EncodingConverter {
public:
    virtual ~EncodingConverter() = default;
    virtual QString Decode(std::string_view bytes) const = 0;
    // The bytes of text, with whatever the converter writes for characters
    // the code page lacks; empty when it writes nothing for them.
    virtual std::string Encode(const QString& text) const = 0;
    // True when b starts a character of two bytes or more.
    virtual bool IsLeadByte(unsigned char b) const = 0;
};

// The converter of a known encoding, or nullptr when this system has none.
std::unique_ptr<EncodingConverter> OpenConverter(const KnownEncoding& encoding);
// The system's own code page (the locale's; Windows' ANSI code page).
std::unique_ptr<EncodingConverter> OpenSystemConverter();
