#include "encoding_converter.h"

#include <windows.h>

namespace {

class CodePageConverter : public EncodingConverter {
public:
    explicit CodePageConverter(UINT codePage) : codePage_(codePage) {}

    QString Decode(std::string_view bytes) const override {
        if (bytes.empty()) return {};
        const int size = static_cast<int>(bytes.size());
        const int wide = MultiByteToWideChar(codePage_, 0, bytes.data(), size, nullptr, 0);
        if (wide <= 0) return {};
        std::wstring text(static_cast<std::size_t>(wide), L'\0');
        MultiByteToWideChar(codePage_, 0, bytes.data(), size, text.data(), wide);
        return QString::fromWCharArray(text.data(), wide);
    }

    // No best-fit characters: a character the code page lacks must not turn
    // into a look-alike (a full-width digit into a digit).
    std::string Encode(const QString& text) const override {
        if (text.isEmpty()) return {};
        const std::wstring wide = text.toStdWString();
        const int size = static_cast<int>(wide.size());
        // UTF-8 and GB18030 write every character and take neither the flag
        // nor the used-default question.
        const bool everyCharacter = codePage_ == CP_UTF8 || codePage_ == 54936;
        const DWORD flags = everyCharacter ? 0 : WC_NO_BEST_FIT_CHARS;
        BOOL usedDefault = FALSE;
        BOOL* askDefault = everyCharacter ? nullptr : &usedDefault;
        const int length = WideCharToMultiByte(codePage_, flags, wide.data(), size, nullptr, 0, nullptr, askDefault);
        if (length <= 0 || usedDefault) return {};
        std::string bytes(static_cast<std::size_t>(length), '\0');
        WideCharToMultiByte(codePage_, flags, wide.data(), size, bytes.data(), length, nullptr, askDefault);
        return usedDefault ? std::string() : bytes;
    }

    bool IsLeadByte(unsigned char b) const override { return IsDBCSLeadByteEx(codePage_, b) != FALSE; }

private:
    UINT codePage_;
};

}  // namespace

std::unique_ptr<EncodingConverter> OpenConverter(const KnownEncoding& encoding) {
    // A code page this Windows lacks is as good as no declaration.
    if (encoding.windowsCodePage == 0 || !IsValidCodePage(encoding.windowsCodePage)) return nullptr;
    return std::make_unique<CodePageConverter>(encoding.windowsCodePage);
}

std::unique_ptr<EncodingConverter> OpenSystemConverter() { return std::make_unique<CodePageConverter>(GetACP()); }
