#include "encoding_converter.h"

#include <QByteArrayView>
#include <QStringDecoder>
#include <QStringEncoder>

namespace {

class QtConverter : public EncodingConverter {
public:
    QtConverter(QStringDecoder decoder, QStringEncoder encoder)
        : decoder_(std::move(decoder)), encoder_(std::move(encoder)) {}

    QString Decode(std::string_view bytes) const override {
        decoder_.resetState();
        QString text = decoder_(QByteArrayView(bytes.data(), qsizetype(bytes.size())));
        decoder_.resetState();
        return text;
    }

    std::string Encode(const QString& text) const override {
        encoder_.resetState();
        const QByteArray bytes = encoder_(text);
        encoder_.resetState();
        return bytes.toStdString();
    }

    // Qt says nothing of lead bytes: a byte that joins with a following "A"
    // into one character is one.
    bool IsLeadByte(unsigned char b) const override {
        if (b < 0x80) return false;
        const char pair[2] = {static_cast<char>(b), 'A'};
        const QString text = Decode(std::string_view(pair, 2));
        return text.size() == 1 && text[0] != QChar::ReplacementCharacter;
    }

private:
    mutable QStringDecoder decoder_;
    mutable QStringEncoder encoder_;
};

std::unique_ptr<EncodingConverter> Open(QStringDecoder decoder, QStringEncoder encoder) {
    if (!decoder.isValid() || !encoder.isValid()) return nullptr;
    return std::make_unique<QtConverter>(std::move(decoder), std::move(encoder));
}

}  // namespace

std::unique_ptr<EncodingConverter> OpenConverter(const KnownEncoding& encoding) {
    if (encoding.converter.empty()) return nullptr;
    const QByteArray name(encoding.converter.data(), qsizetype(encoding.converter.size()));
    return Open(QStringDecoder(name.constData()), QStringEncoder(name.constData()));
}

std::unique_ptr<EncodingConverter> OpenSystemConverter() {
    return Open(QStringDecoder(QStringConverter::System), QStringEncoder(QStringConverter::System));
}
