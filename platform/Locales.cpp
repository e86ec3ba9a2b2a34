#include "platform/Locales.h"

#include <algorithm>
#include <initializer_list>
#include <memory>
#include <unicode/ucnv.h>
#include <unicode/uldnames.h>
#include <unicode/uloc.h>

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
    struct CodePage {
        std::uint32_t codePage;
        std::initializer_list<std::uint16_t> ids;
    };
    // Ids whose script, not their language, decides: Chinese, and languages written in Latin or
    // Cyrillic letters under one primary language.
    static const CodePage byLcid[] = {
        { 950, { 0x0404, 0x0C04, 0x1404, 0x7C04 } }, // Chinese, traditional
        { 936, { 0x0004, 0x0804, 0x1004 } }, // Chinese, simplified
        { 1251,
            { 0x0C1A, 0x1C1A, 0x201A, 0x281A, 0x301A, 0x082C, 0x0843 } }, // Serbian, Bosnian, Azeri, Uzbek
    };
    // By primary language.
    static const CodePage byLanguage[] = {
        { 936, { 0x04 } }, { 1250, { 0x05, 0x0E, 0x15, 0x18, 0x1A, 0x1B, 0x1C, 0x24 } }, // Central European
        { 1251, { 0x02, 0x19, 0x22, 0x23, 0x2F, 0x3F, 0x40, 0x44, 0x50, 0x6D, 0x85 } }, // Cyrillic
        { 1252,
            { 0x03, 0x06, 0x07, 0x09, 0x0A, 0x0B, 0x0C, 0x0F, 0x10, 0x13, 0x14, 0x16, 0x17, 0x1D, 0x21, 0x2D,
                0x2E, 0x32, 0x34, 0x35, 0x36, 0x38, 0x3B, 0x3C, 0x3E, 0x41, 0x52, 0x56, 0x62, 0x6E, 0x83,
                0x84, 0x86, 0x87, 0x88 } }, // Western
        { 1253, { 0x08 } }, // Greek
        { 1254, { 0x1F, 0x2C, 0x42, 0x43 } }, // Turkish, Azeri, Turkmen, Uzbek
        { 1255, { 0x0D } }, // Hebrew
        { 1256, { 0x01, 0x20, 0x29, 0x80, 0x8C, 0x92 } }, // Arabic script
        { 1257, { 0x25, 0x26, 0x27 } }, // Baltic
        { 1258, { 0x2A } }, // Vietnamese
        { 874, { 0x1E } }, // Thai
        { 932, { 0x11 } }, // Japanese
        { 949, { 0x12 } }, // Korean
    };
    const auto find = [](const auto& table, std::uint16_t id) -> std::uint32_t {
        for (const CodePage& row : table) {
            if (std::find(row.ids.begin(), row.ids.end(), id) != row.ids.end()) {
                return row.codePage;
            }
        }
        return 0;
    };
    if (const std::uint32_t codePage = find(byLcid, static_cast<std::uint16_t>(lcid & 0xFFFF))) {
        return codePage;
    }
    return find(byLanguage, static_cast<std::uint16_t>(lcid & 0x3FF)); // 0: Unicode only, or unknown
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
