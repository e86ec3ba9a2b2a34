#include "platform/Ansi.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace zv {

namespace {
constexpr const char* kCodePage = "windows-1252";
}

QString FromAnsi(const QByteArray& bytes)
{
    QStringDecoder decoder(kCodePage);
    return decoder.decode(bytes);
}

std::optional<QByteArray> ToAnsiExact(const QString& text)
{
    QStringEncoder encoder(kCodePage, QStringConverter::Flag::Stateless);
    QByteArray bytes = encoder.encode(text);
    if (encoder.hasError()) {
        return std::nullopt;
    }
    return bytes;
}

QByteArray ToAnsi(const QString& text)
{
    if (auto bytes = ToAnsiExact(text)) {
        return *bytes;
    }
    // The converter's own substitute is the control byte 0x1A; a readable '?' serves text files better.
    QByteArray bytes;
    bytes.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const qsizetype length
            = (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) ? 2 : 1;
        const auto one = ToAnsiExact(text.sliced(i, length));
        bytes += one ? *one : QByteArray("?");
        i += length - 1;
    }
    return bytes;
}

} // namespace zv
