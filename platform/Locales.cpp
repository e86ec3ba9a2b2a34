#include "platform/Locales.h"

#include <unicode/ucnv.h>
#include <unicode/uldnames.h>
#include <unicode/uloc.h>

#include <memory>

namespace zv {

namespace {

struct ConverterClose {
    void operator()(UConverter* c) const { ucnv_close(c); }
};
struct DisplayNamesClose {
    void operator()(ULocaleDisplayNames* d) const { uldn_close(d); }
};

const UChar* Utf16(const QString& text)
{
    return reinterpret_cast<const UChar*>(text.utf16());
}

std::optional<std::string> IcuLocale(std::uint32_t lcid)
{
    char name[ULOC_FULLNAME_CAPACITY] = {};
    UErrorCode status = U_ZERO_ERROR;
    const int32_t length = uloc_getLocaleForLCID(lcid, name, sizeof name - 1, &status);
    // ICU answers unknown ids with an error, and id 0 with its root locale, which names no language.
    if (U_FAILURE(status) || length <= 0 || std::string_view(name) == "root") {
        return std::nullopt;
    }
    return std::string(name, static_cast<std::size_t>(length));
}

} // namespace

std::optional<QString> LocaleForLcid(std::uint32_t lcid)
{
    const auto locale = IcuLocale(lcid);
    if (!locale) {
        return std::nullopt;
    }
    return QString::fromStdString(*locale);
}

std::uint32_t LcidForLocale(const QString& locale)
{
    // "pt_BR.UTF-8" and "pt-BR" name the same locale.
    QString name = locale.section(QLatin1Char('.'), 0, 0);
    name.replace(QLatin1Char('-'), QLatin1Char('_'));
    return uloc_getLCID(name.toLatin1().constData());
}

std::optional<QString> LocaleDisplayName(std::uint32_t lcid)
{
    const auto locale = IcuLocale(lcid);
    if (!locale) {
        return std::nullopt;
    }
    UErrorCode status = U_ZERO_ERROR;
    UDisplayContext context = UDISPCTX_CAPITALIZATION_FOR_UI_LIST_OR_MENU;
    const std::unique_ptr<ULocaleDisplayNames, DisplayNamesClose> names(
        uldn_openForContext(locale->c_str(), &context, 1, &status));
    if (U_FAILURE(status)) {
        return std::nullopt;
    }
    UChar buffer[256];
    const int32_t length
        = uldn_localeDisplayName(names.get(), locale->c_str(), buffer, std::size(buffer), &status);
    if (U_FAILURE(status) || length <= 0) {
        return std::nullopt;
    }
    return QString(reinterpret_cast<const QChar*>(buffer), length);
}

std::uint32_t DefaultAnsiCodePage(std::uint32_t lcid)
{
    // Ids whose script, not their language, decides: Chinese, and the languages written in Latin or
    // Cyrillic letters under one primary language.
    switch (lcid & 0xFFFF) {
    case 0x0404: case 0x0C04: case 0x1404: case 0x7C04: return 950; // Chinese, traditional
    case 0x0804: case 0x1004: case 0x0004: return 936; // Chinese, simplified
    case 0x0C1A: case 0x1C1A: case 0x201A: case 0x281A: case 0x301A: return 1251; // Serbian, Bosnian Cyrillic
    case 0x082C: case 0x0843: return 1251; // Azeri, Uzbek Cyrillic
    default: break;
    }
    switch (lcid & 0x3FF) { // the primary language
    case 0x04: return 936;
    case 0x05: case 0x0E: case 0x15: case 0x18: case 0x1A: case 0x1B: case 0x1C: case 0x24:
        return 1250; // Central European
    case 0x02: case 0x19: case 0x22: case 0x23: case 0x2F: case 0x3F: case 0x40: case 0x44: case 0x50:
    case 0x6D: case 0x85:
        return 1251; // Cyrillic
    case 0x03: case 0x06: case 0x07: case 0x09: case 0x0A: case 0x0B: case 0x0C: case 0x0F: case 0x10:
    case 0x13: case 0x14: case 0x16: case 0x17: case 0x1D: case 0x21: case 0x2D: case 0x2E: case 0x32:
    case 0x34: case 0x35: case 0x36: case 0x38: case 0x3B: case 0x3C: case 0x3E: case 0x41: case 0x52:
    case 0x56: case 0x62: case 0x6E: case 0x83: case 0x84: case 0x86: case 0x87: case 0x88:
        return 1252; // Western
    case 0x08: return 1253; // Greek
    case 0x1F: case 0x2C: case 0x42: case 0x43: return 1254; // Turkish, Azeri, Turkmen, Uzbek
    case 0x0D: return 1255; // Hebrew
    case 0x01: case 0x20: case 0x29: case 0x80: case 0x8C: case 0x92: return 1256; // Arabic script
    case 0x25: case 0x26: case 0x27: return 1257; // Baltic
    case 0x2A: return 1258; // Vietnamese
    case 0x1E: return 874; // Thai
    case 0x11: return 932; // Japanese
    case 0x12: return 949; // Korean
    default: return 0;
    }
}

QString ThroughCodePage(const QString& text, std::uint32_t codePage)
{
    if (codePage == 0 || text.isEmpty()) {
        return text;
    }
    const std::string name = "windows-" + std::to_string(codePage);
    UErrorCode status = U_ZERO_ERROR;
    const std::unique_ptr<UConverter, ConverterClose> converter(ucnv_open(name.c_str(), &status));
    if (U_FAILURE(status)) {
        return text;
    }
    // What the system's own conversion puts for a character the code page lacks.
    ucnv_setSubstChars(converter.get(), "?", 1, &status);
    const auto length = static_cast<int32_t>(text.size());
    status = U_ZERO_ERROR;
    const int32_t byteCount = ucnv_fromUChars(converter.get(), nullptr, 0, Utf16(text), length, &status);
    if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status)) {
        return text;
    }
    std::string bytes(static_cast<std::size_t>(byteCount), '\0');
    status = U_ZERO_ERROR;
    ucnv_fromUChars(converter.get(), bytes.data(), byteCount, Utf16(text), length, &status);
    if (U_FAILURE(status) && status != U_STRING_NOT_TERMINATED_WARNING) {
        return text;
    }
    QString back(byteCount, Qt::Uninitialized);
    status = U_ZERO_ERROR;
    const int32_t charCount = ucnv_toUChars(converter.get(), reinterpret_cast<UChar*>(back.data()),
        static_cast<int32_t>(back.size()), bytes.data(), byteCount, &status);
    if (U_FAILURE(status) && status != U_STRING_NOT_TERMINATED_WARNING) {
        return text;
    }
    back.truncate(charCount);
    return back;
}

} // namespace zv
