// The code page of the rules file's text, for what the window shows and what
// the user types: the lines themselves stay bytes. The file's first line may
// declare it (<?xml version="1.0" encoding="gb2312"?>); without a declaration
// that this system can convert, the locale's code page is used.
#pragma once

#include "unit_fields.h"

#include <QString>
#include <QStringDecoder>
#include <QStringEncoder>

#include <string>
#include <string_view>

class FileEncoding {
public:
    // The locale's code page.
    FileEncoding();
    // The code page firstLine declares, where there is one.
    static FileEncoding FromFirstLine(std::string_view firstLine);

    QString Decode(std::string_view bytes) const;
    std::string Encode(const QString& text) const;
    // How the bytes make characters, for comparisons that ignore case.
    ByteForm form() const { return form_; }
    // The declared name that is in use, empty for the locale's code page.
    const QString& name() const { return name_; }

private:
    QString name_;
    mutable QStringDecoder decoder_;
    mutable QStringEncoder encoder_;
    ByteForm form_;
};
