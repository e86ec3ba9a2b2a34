// A playout's now-playing file as the encoder reads it, on arbitrary bytes: whatever they hold, the
// title is a clean single line of at most the bound, and a read cut short never splits a character.
#include "encoder/NowPlaying.h"

#include <QList>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    for (const bool cut : { false, true }) {
        const QString title = zv::TitleFromBytes(bytes, cut);
        if (title.toUcs4().size() > zv::kMaxTitleLength || title != title.trimmed()
            || title.contains(QStringLiteral("  "))) {
            std::abort();
        }
        for (const char32_t c : title.toUcs4()) {
            if (c < 0x20 || (c >= 0x7f && c < 0xa0) || c == 0x2028 || c == 0x2029
                || (c >= 0xd800 && c < 0xe000)) {
                std::abort();
            }
        }
    }
    return 0;
}
