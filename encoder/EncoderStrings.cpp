#include "encoder/EncoderStrings.h"

namespace zv {
namespace {

// The encoder's built-in texts, by id. Keep the ids stable: language files name their strings by them.
constexpr ResStringRow kRows[] = {
    { SSourceWrongPassword, "The server refused the source: wrong source user or password" },
    { SSourceMountInUse, "The server refused the source: the publishing point is already in use" },
    { SSourceRefusedSaying, "The server refused the source, saying \"%1\"" },
    { SUnknownMetadataCharset,
        "unknown character set \"%1\" in Broadcast/@MetadataCharset (expected ISO-8859-1 or UTF-8)" },
    { SServerCertificateRefused, "The server's certificate was not accepted: %1" },
    { SSoundServerNotAnswering,
        "The input device \"%1\" is missing: the sound server is not answering; the station will go back "
        "on the air when it returns" },
    { SNoTlsConnection,
        "Cannot connect to the server over TLS: nothing answers there, the connection was refused, or the "
        "server does not speak TLS on that port" },
    { STlsHandshakeUnanswered,
        "The server did not answer the TLS handshake within %1 s (%2): that port may not have TLS" },
};
static_assert(ResStringIdsAreUnique(kRows), "two built-in resource strings share an id");

} // namespace

bool RegisterEncoderStrings()
{
    RegisterResStrings(kRows);
    return true;
}

} // namespace zv
