// Encoding file on arbitrary bytes: the profile rewrite on the text, and the patch of the parsed
// document. No crash, and whatever would be saved loads again.
#include "station/EncodingFile.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

// Without namespace processing, as the program parses.
bool Parse(QDomDocument& document, const QByteArray& bytes)
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 5, 0)
    return static_cast<bool>(document.setContent(bytes));
#else
    return document.setContent(bytes, false);
#endif
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) {
        return 0;
    }
    const TBitrateRow& target = BitrateRows[data[0] % BitrateRows.size()];
    const QByteArray bytes(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(size - 1));

    RewriteProfile(QString::fromUtf8(bytes), target);
    RewriteProfile(QString::fromLatin1(bytes), target);

    QDomDocument document;
    if (!Parse(document, bytes)) {
        return 0;
    }
    const TEncodingValues values { QStringLiteral("R\u00e1dio <&\">"), QStringLiteral("Placa ]]>"),
        QStringLiteral("ns1.example"), QStringLiteral("user") };
    try {
        PatchEncodingFile(document, values, QString::fromLatin1(target.Kbps));
    } catch (const EEncodingFileError&) {
        return 0;
    }
    QDomDocument reloaded;
    if (!Parse(reloaded, document.toByteArray(2))) {
        std::abort();
    }
    return 0;
}
