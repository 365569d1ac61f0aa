#include "file_encoding.h"

#include <QByteArrayView>
#include <QStringList>

namespace {

// Code pages whose characters take one or two bytes, by the names a file
// most often declares (lower case), for when no converter can be asked.
ByteForm FormOfName(const QString& lowerName) {
    static const QStringList doubleByte{
        QStringLiteral("gb2312"), QStringLiteral("gbk"),         QStringLiteral("gb18030"),
        QStringLiteral("cp936"),  QStringLiteral("windows-936"), QStringLiteral("x-gbk"),
        QStringLiteral("big5"),   QStringLiteral("big5-hkscs"),  QStringLiteral("cp950"),
        QStringLiteral("euc-kr"), QStringLiteral("cp949"),       QStringLiteral("windows-949"),
        QStringLiteral("uhc"),    QStringLiteral("ks_c_5601-1987")};
    static const QStringList shiftJis{QStringLiteral("shift_jis"), QStringLiteral("shift-jis"),
                                      QStringLiteral("sjis"),      QStringLiteral("cp932"),
                                      QStringLiteral("windows-31j"), QStringLiteral("ms_kanji")};
    if (doubleByte.contains(lowerName)) return ByteForm::kDoubleByte;
    if (shiftJis.contains(lowerName)) return ByteForm::kShiftJis;
    return ByteForm::kSingleByte;
}

// How a converter's code page makes characters, found by asking it: a byte
// from 0x81 up that joins with a following "A" into one character is a lead
// byte. Shift_JIS leaves 0xA1 to 0xDF standing alone.
ByteForm ProbedForm(QStringDecoder& decoder) {
    bool anyLead = false, leadInKatakanaRange = false;
    for (int b = 0x81; b <= 0xFE; ++b) {
        const char pair[2] = {static_cast<char>(b), 'A'};
        decoder.resetState();
        const QString text = decoder(QByteArrayView(pair, 2));
        decoder.resetState();
        const bool lead = text.size() == 1 && text[0] != QChar::ReplacementCharacter;
        anyLead = anyLead || lead;
        leadInKatakanaRange = leadInKatakanaRange || (lead && b >= 0xA1 && b <= 0xDF);
    }
    if (!anyLead) return ByteForm::kSingleByte;
    return leadInKatakanaRange ? ByteForm::kDoubleByte : ByteForm::kShiftJis;
}

ByteForm SystemForm() {
    QStringDecoder system(QStringConverter::System);
    return ProbedForm(system);
}

// The value of encoding="..." in an XML declaration, or empty.
QString DeclaredName(std::string_view line) {
    if (line.substr(0, 3) == "\xEF\xBB\xBF") return QStringLiteral("utf-8");  // a byte-order mark says it all
    if (line.substr(0, 5) != "<?xml") return {};
    const QString text = QString::fromLatin1(line.data(), qsizetype(line.size()));
    const qsizetype key = text.indexOf(QStringLiteral("encoding"), 0, Qt::CaseInsensitive);
    if (key < 0) return {};
    qsizetype at = key + 8;
    while (at < text.size() && text[at].isSpace()) ++at;
    if (at >= text.size() || text[at] != QLatin1Char('=')) return {};
    ++at;
    while (at < text.size() && text[at].isSpace()) ++at;
    if (at >= text.size() || (text[at] != QLatin1Char('"') && text[at] != QLatin1Char('\''))) return {};
    const qsizetype end = text.indexOf(text[at], at + 1);
    return end < 0 ? QString() : text.mid(at + 1, end - at - 1).trimmed().toLower();
}

}  // namespace

FileEncoding::FileEncoding() : form_(SystemForm()) {}

FileEncoding FileEncoding::FromFirstLine(std::string_view firstLine) {
    FileEncoding encoding;
    const QString declared = DeclaredName(firstLine);
    if (declared.isEmpty()) return encoding;
    // The file's bytes decide how case is ignored, even where they cannot be
    // shown (a Qt without ICU converts no declared code page).
    encoding.form_ = FormOfName(declared);
    // Files that say gb2312 are written in its superset GBK, as everyone reads them.
    const QByteArray converterName = (declared == QLatin1String("gb2312") ? QStringLiteral("gbk") : declared).toLatin1();
    QStringDecoder decoder(converterName.constData());
    QStringEncoder encoder(converterName.constData());
    if (!decoder.isValid() || !encoder.isValid()) return encoding;
    encoding.form_ = ProbedForm(decoder);
    encoding.name_ = declared;
    encoding.decoder_ = std::move(decoder);
    encoding.encoder_ = std::move(encoder);
    return encoding;
}

QString FileEncoding::Decode(std::string_view bytes) const {
    if (!decoder_.isValid()) return QString::fromLocal8Bit(bytes.data(), qsizetype(bytes.size()));
    decoder_.resetState();
    return decoder_(QByteArrayView(bytes.data(), qsizetype(bytes.size())));
}

std::string FileEncoding::Encode(const QString& text) const {
    if (!encoder_.isValid()) return text.toLocal8Bit().toStdString();
    encoder_.resetState();
    const QByteArray bytes = encoder_(text);
    return bytes.toStdString();
}
