#pragma once

// The encoder's resource strings: its reasons for not publishing, which the station shows and
// recognises too.

#include "platform/ResStrings.h"

namespace zv {

enum EncoderStringId : int {
    // Why the server refused the source, a metadata character set the encoding file names wrongly.
    SSourceWrongPassword = 29110,
    SSourceMountInUse = 29111,
    SSourceRefusedSaying = 29112,
    SUnknownMetadataCharset = 29113,
    // The TLS connection to the server, and an input device gone with its sound server.
    SServerCertificateRefused = 29330, // the encoder's TLS refusals
    SNoTlsConnection = 29331,
    STlsHandshakeUnanswered = 29343, // the encoder's stop reason: %1 seconds, %2 the server
    SSoundServerNotAnswering = 29350, // the encoder's Load: the default device gone with its server
};

// Adds these texts to the resource strings; idempotent. Every file that includes this header asks for
// it as the program starts, so a program that holds code using these ids has their texts too.
bool RegisterEncoderStrings();
namespace detail {
[[maybe_unused]] static const bool kRegisterEncoderStrings = RegisterEncoderStrings();
}

} // namespace zv
