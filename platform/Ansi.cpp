#include "platform/Ansi.h"

#include <QList>
#include <QStringDecoder>
#include <QStringEncoder>
#include <algorithm>
#include <memory>
#include <mutex>
#include <unicode/parseerr.h>
#include <unicode/translit.h>
#include <unicode/unistr.h>

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

namespace {

// Only what Latin-1 lacks is touched. ICU's Latin-ASCII knows quotes, dashes, ellipses and letters of
// other Latin alphabets; Any-Latin transliterates other scripts first; the two symbols a radio's name
// or a genre most often holds get their usual letters; other blanks are blanks; invisible format
// characters go. Made once, on first need: it loads a good part of ICU's data.
void TransliterateToLatin1(QString& text)
{
    static std::mutex mutex;
    const std::lock_guard lock(mutex);
    static const std::unique_ptr<icu::Transliterator> nearest = [] {
        UErrorCode status = U_ZERO_ERROR;
        UParseError where {};
        std::unique_ptr<icu::Transliterator> made(
            icu::Transliterator::createFromRules(icu::UnicodeString(u"zoveva-latin1"),
                icu::UnicodeString(u":: [^\\u0000-\\u00FF] ;"
                                   u"\\u20AC > EUR ; \\u2122 > TM ; [:Zs:] > ' ' ; [:Cf:] > ;"
                                   u":: Any-Latin ; :: Latin-ASCII ;"),
                UTRANS_FORWARD, where, status));
        return U_SUCCESS(status) ? std::move(made) : nullptr;
    }();
    if (!nearest) {
        return; // without ICU's data: '?' as before
    }
    icu::UnicodeString converted(
        reinterpret_cast<const UChar*>(text.utf16()), static_cast<int32_t>(text.size()));
    nearest->transliterate(converted);
    text = QString(reinterpret_cast<const QChar*>(converted.getBuffer()), converted.length());
}

} // namespace

QByteArray ToLatin1Nearest(const QString& text)
{
    QString latin = text.normalized(QString::NormalizationForm_C);
    if (std::any_of(latin.cbegin(), latin.cend(), [](QChar c) { return c.unicode() > 0xFF; })) {
        TransliterateToLatin1(latin);
    }
    QByteArray bytes;
    bytes.reserve(latin.size());
    for (const char32_t c : QStringView(latin).toUcs4()) {
        bytes += c <= 0xFF ? static_cast<char>(c) : '?';
    }
    return bytes;
}

} // namespace zv
