// The code page of the rules file's text, for what the window shows and what
// the user types: the lines themselves stay bytes. The XML declaration that
// opens the file may declare it (<?xml version="1.0" encoding="gb2312"?>),
// over one line or several. A declaration counts only when its label is one
// web browsers know, this system converts that encoding, and the encoding
// keeps ASCII as ASCII, so a number typed into a box always reaches the file
// as its ASCII bytes; otherwise the system's code page is used, as without a
// declaration. A declared encoding that shifts into characters made of ASCII
// bytes (ISO-2022-JP, HZ, UTF-7, ...) is not used, and then no letter of any
// name is folded: J A and J a may be two characters of one run. So too where
// such a label stands in a declaration that is not honoured (one that
// repeats its encoding, say): the file may still be written in it.
#pragma once

#include "unit_fields.h"

#include <QString>

#include <memory>
#include <string>
#include <string_view>

class EncodingConverter;

class FileEncoding {
public:
    // The system's code page, before any line is noted.
    FileEncoding();
    // The code page the start of a file declares (its first bytes, line
    // breaks included), where it is usable.
    static FileEncoding FromStart(std::string_view start);

    // Called with every line of the file, in order from the first, and the
    // line break that ended it in the file, before the line is decoded.
    // Until the declaration is complete (or known to be absent) the system's
    // code page stands; a line that holds a "<" past the "<?xml" settles it
    // (see ReadDeclaration), so no name is ever listed before the code page
    // is known.
    // In a file that is not valid UTF-8 no byte after a byte from 0x81 up is
    // ever folded, whatever the file declares or the system's code page is:
    // its bytes may be of a double-byte code page, mislabelled or not
    // labelled, and two names that differ only in a second byte must never be
    // taken for one.
    void NoteLine(std::string_view line, std::string_view lineBreak);

    QString Decode(std::string_view bytes) const;
    // The bytes of text. When the code page cannot write one of its
    // characters, bytes holds the text before that character and the result
    // is false; no substitute byte is ever written.
    bool Encode(const QString& text, std::string& bytes) const;
    // How the bytes make characters, for comparisons that ignore case.
    ByteForm form() const;
    // The declared encoding in use, empty for the system's code page.
    const QString& name() const { return name_; }

private:
    FileEncoding(std::shared_ptr<const EncodingConverter> converter, ByteForm floor);

    std::shared_ptr<const EncodingConverter> converter_;
    QString name_;
    ByteForm form_;
    bool notUtf8_ = false;    // a line noted was not valid UTF-8
    bool decided_ = false;    // the declaration, or its absence, is known
    std::string start_;       // the lines noted while it is not
};
