#include "platform/ResStrings.h"

#include <algorithm>
#include <memory>
#include <mutex>

namespace zv {
namespace {

struct Row {
    int id;
    const char* text; // UTF-8
};

// The built-in texts, by id. Keep the ids stable: language files name their strings by them.
constexpr Row kBuiltIn[] = {
    { SPropertyWhileOpen, "Change to property while device was open" },
    { SEncoderStopped, "O Encoder parou: %1" },
    { SCannotReadFile, "Cannot read %1: %2" },
    { SEncodingFileTooLarge,
        "The encoding file %1 is too large: %2 bytes, where an encoding file holds at most %3" },
    { SRemakeUserEncodingFile,
        "%1. Delete %2 and save the settings again: the program then makes it anew from the template "
        "padrao.xml" },
    { SEncodingFileNotSaved,
        "The encoding file %1 was not saved, because what was made of it could not be read back: %2" },
    { SSourceWrongPassword, "The server refused the source: wrong source user or password" },
    { SSourceMountInUse, "The server refused the source: the publishing point is already in use" },
    { SSourceRefusedSaying, "The server refused the source, saying \"%1\"" },
    { SUnknownMetadataCharset,
        "unknown character set \"%1\" in Broadcast/@MetadataCharset (expected ISO-8859-1 or UTF-8)" },
    { SServerCertificateRefused, "The server's certificate was not accepted: %1" },
    { SNoTlsConnection,
        "Cannot connect to the server over TLS: nothing answers there, the connection was refused, or the "
        "server does not speak TLS on that port" },
    { SDetailsListeners, "%1 ouvintes" },
    { SDetailsListenersPeak, "%1 ouvintes (máximo %2)" },
    { SDetailsTls, "%1 (TLS)" },
    { SDetailsTitle, "Tocando: %1" },
    { SConnectionEnded, "Conexão com %1 encerrada: %2 no ar, %3 enviados" },
    { SDeadAirBegan, "Silêncio no ar: o som capturado ficou abaixo de %1 dBFS por %2 s" },
    { SDeadAirEnded, "O som voltou depois de %1 de silêncio" },
    { SDeadAirTitle, "Silêncio no ar" },
    { SDeadAirWarning, "ATENÇÃO: silêncio no ar desde %1" },
    { SKeyNotANumber, "cfg.ini: o valor \"%2\" da chave %1 em [Geral] não é um número; vale %3" },
    { SKeyOutOfRange, "cfg.ini: o valor %2 da chave %1 em [Geral] está fora de %3 a %4; vale %5" },
    { SUnknownLocale, "<unknown>" },
};

std::mutex gLookupLock;
std::shared_ptr<const ResStringLookup> gLookup; // guarded by gLookupLock

} // namespace

QString BuiltInResString(int id)
{
    for (const Row& row : kBuiltIn)
        if (row.id == id)
            return QString::fromUtf8(row.text);
    return {};
}

std::vector<int> BuiltInResStringIds()
{
    std::vector<int> ids;
    for (const Row& row : kBuiltIn)
        ids.push_back(row.id);
    std::sort(ids.begin(), ids.end());
    return ids;
}

QString LoadResString(int id)
{
    std::shared_ptr<const ResStringLookup> lookup;
    {
        std::lock_guard guard(gLookupLock);
        lookup = gLookup;
    }
    if (lookup) {
        QString text = (*lookup)(id);
        if (!text.isNull())
            return text;
    }
    return BuiltInResString(id);
}

void SetResStringLookup(ResStringLookup lookup)
{
    auto next = lookup ? std::make_shared<const ResStringLookup>(std::move(lookup)) : nullptr;
    std::lock_guard guard(gLookupLock);
    gLookup = std::move(next);
}

} // namespace zv
