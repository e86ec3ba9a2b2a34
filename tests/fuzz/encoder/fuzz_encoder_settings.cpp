// The encoder's reader of encoding files on arbitrary bytes: it either refuses them with its own
// error or yields settings the encoder can use as they are.
#include "encoder/EncoderSettings.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

bool Clean(const QString& text)
{
    for (QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f) {
            return false;
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    try {
        const zv::EncoderSettings s = zv::ParseEncodingFile(bytes, QStringLiteral("fuzz.xml"));
        const bool usable = zv::KbpsForBitrateCode(s.bitrateCode) == s.kbps && s.kbps > 0
            && s.sampleRate >= 8000 && s.sampleRate <= 48000 && (s.channels == 1 || s.channels == 2)
            && s.port != 0 && !s.host.isEmpty() && s.mount.size() > 1 && s.mount.startsWith(u'/')
            && Clean(s.mount) && Clean(s.title) && !s.sourcePassword.isEmpty() && !s.inputSource.isEmpty();
        if (!usable) {
            std::abort();
        }
    } catch (const zv::EEncodingFileError&) {
    }
    return 0;
}
