#include "file_encoding.h"

#include "encoding_converter.h"
#include "encoding_labels.h"

namespace {

int Strictness(ByteForm form) {
    switch (form) {
    case ByteForm::kSingleByte: return 0;
    case ByteForm::kShiftJis: return 1;
    case ByteForm::kDoubleByte: return 2;
    case ByteForm::kAfterAnyHighByte: return 3;
    case ByteForm::kShifting: return 4;
    }
    return 4;
}

// The form that folds fewer bytes: kDoubleByte never folds a byte after a
// lead byte 0x81..0xFE, a superset of Shift_JIS's lead bytes;
// kAfterAnyHighByte never folds one after any byte from 0x81 up; kShifting
// folds none.
ByteForm Stricter(ByteForm a, ByteForm b) { return Strictness(a) >= Strictness(b) ? a : b; }

// How the converter's code page makes characters. Shift_JIS leaves 0xA1 to
// 0xDF standing alone.
ByteForm LeadByteForm(const EncodingConverter& converter) {
    bool anyLead = false, leadInKatakanaRange = false;
    for (int b = 0x81; b <= 0xFE; ++b) {
        const bool lead = converter.IsLeadByte(static_cast<unsigned char>(b));
        anyLead = anyLead || lead;
        leadInKatakanaRange = leadInKatakanaRange || (lead && b >= 0xA1 && b <= 0xDF);
    }
    if (!anyLead) return ByteForm::kSingleByte;
    return leadInKatakanaRange ? ByteForm::kDoubleByte : ByteForm::kShiftJis;
}

// Some IBM-derived tables (IBM866, Shift_JIS in ICU) trade the control codes
// 0x1A, 0x1C and 0x7F among themselves. None of them can stand in a number,
// a tag or a name, so that trade alone does not make a code page unusable.
bool IsTradedControl(unsigned b) { return b == 0x1A || b == 0x1C || b == 0x7F; }

bool IsValidUtf8(std::string_view bytes) {
    for (std::size_t i = 0; i < bytes.size();) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        int more = 0;
        unsigned char low = 0x80, high = 0xBF;  // the allowed range of the second byte
        if (b < 0x80) { ++i; continue; }
        if (b >= 0xC2 && b <= 0xDF) more = 1;
        else if (b >= 0xE0 && b <= 0xEF) { more = 2; if (b == 0xE0) low = 0xA0; if (b == 0xED) high = 0x9F; }
        else if (b >= 0xF0 && b <= 0xF4) { more = 3; if (b == 0xF0) low = 0x90; if (b == 0xF4) high = 0x8F; }
        else return false;
        if (i + more >= bytes.size()) return false;  // cut short
        for (int k = 1; k <= more; ++k) {
            const auto c = static_cast<unsigned char>(bytes[i + k]);
            if (k == 1 ? (c < low || c > high) : (c < 0x80 || c > 0xBF)) return false;
        }
        i += static_cast<std::size_t>(more) + 1;
    }
    return true;
}

// True when the converter reads and writes every byte below 0x80 as that
// ASCII character.
bool KeepsAscii(const EncodingConverter& converter) {
    std::string all;
    QString allText;
    for (unsigned b = 0; b < 0x80; ++b) {
        const std::string byte(1, static_cast<char>(b));
        const QString text = converter.Decode(byte);
        if (text.size() != 1) return false;
        const unsigned c = text[0].unicode();
        if (c != b && !(IsTradedControl(b) && IsTradedControl(c))) return false;
        if (converter.Encode(text) != byte) return false;
        all += byte;
        allText += text;
    }
    // All together as well: a converter with shift states may read a byte
    // differently after others.
    return converter.Decode(all) == allText && converter.Encode(allText) == all;
}

}  // namespace

FileEncoding::FileEncoding(std::shared_ptr<const EncodingConverter> converter, ByteForm floor)
    : converter_(std::move(converter)), form_(Stricter(floor, LeadByteForm(*converter_))) {}

FileEncoding::FileEncoding() : FileEncoding(OpenSystemConverter(), ByteForm::kSingleByte) {}

FileEncoding FileEncoding::FromStart(std::string_view start) {
    FileEncoding system;
    system.decided_ = true;
    // A byte-order mark says it all, whatever a declaration after it says.
    std::string_view label = "utf-8";
    bool namesNoAscii = false;
    if (!HasUtf8ByteOrderMark(start)) ReadDeclaration(start, label, &namesNoAscii);
    const KnownEncoding* known = ResolveLabel(label);
    if (!known || !known->keepsAscii) {
        // Not used: shown in the system's code page. Where a label in the
        // declaration, honoured or not, names an encoding that does not keep
        // ASCII, the file may be written in it after all, and a letter may
        // be half of a shifted character.
        if (namesNoAscii) system.form_ = ByteForm::kShifting;
        return system;
    }
    std::shared_ptr<const EncodingConverter> converter = OpenConverter(*known);
    if (!converter || !KeepsAscii(*converter)) {
        // Shown in the system's code page, but a double-byte file's second
        // bytes are still never folded.
        system.form_ = Stricter(system.form_, known->form);
        return system;
    }
    FileEncoding encoding(std::move(converter), known->form);
    encoding.decided_ = true;
    encoding.name_ = QString::fromLatin1(known->name.data(), qsizetype(known->name.size()));
    return encoding;
}

void FileEncoding::NoteLine(std::string_view line, std::string_view lineBreak) {
    notUtf8_ = notUtf8_ || !IsValidUtf8(line);
    if (decided_) return;
    // The file's bytes as they are; never more than the declaration may take.
    start_.append(line.substr(0, kDeclarationLimit - start_.size())).append(lineBreak);
    if (start_.size() > kDeclarationLimit) start_.resize(kDeclarationLimit);
    std::string_view label;
    if (!HasUtf8ByteOrderMark(start_) && ReadDeclaration(start_, label) == DeclarationState::kOpen) return;
    const bool notUtf8 = notUtf8_;
    *this = FromStart(start_);
    notUtf8_ = notUtf8;
}

ByteForm FileEncoding::form() const {
    return notUtf8_ ? Stricter(form_, ByteForm::kAfterAnyHighByte) : form_;
}

QString FileEncoding::Decode(std::string_view bytes) const { return converter_->Decode(bytes); }

bool FileEncoding::Encode(const QString& text, std::string& bytes) const {
    bytes.clear();
    // Character by character, each read back: a character the code page
    // lacks comes back as something else (or as nothing).
    for (qsizetype at = 0; at < text.size();) {
        const qsizetype units =
            (text[at].isHighSurrogate() && at + 1 < text.size() && text[at + 1].isLowSurrogate()) ? 2 : 1;
        const QString character = text.mid(at, units);
        const std::string encoded = converter_->Encode(character);
        if (encoded.empty() || converter_->Decode(encoded) != character) return false;
        bytes += encoded;
        at += units;
    }
    return true;
}
