// Profile-file reader and in-place writer on arbitrary bytes: no crash, and a value written to the
// file reads back as written while the section's other keys keep their values.
#include "platform/ProfileFile.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

constexpr const char* kKeys[] = { "Controle", "Usuario", "Senha", "Placa", "Radio", "Kbps", "iIdioma", "" };

void Check(bool condition)
{
    if (!condition) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) {
        return 0;
    }
    // First byte: which key to write and how long the new value is; the value is taken from the end.
    const uint8_t control = data[0];
    const QByteArray bytes(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(size - 1));
    zv::ProfileFile file(bytes);

    QByteArray before[std::size(kKeys)];
    for (size_t i = 0; i < std::size(kKeys); ++i) {
        before[i] = file.ReadString("Geral", kKeys[i], "<absent>");
        Check(before[i].size() <= zv::ProfileFile::MaxValueBytes);
    }
    file.ReadInteger("Geral", "iIdioma", -1);
    zv::ParseProfileInteger(bytes);

    const size_t keyIndex = control % (std::size(kKeys) - 1);
    QByteArray value = bytes.right(control >> 3);
    value.replace('\r', ' ').replace('\n', ' ').replace('\0', ' ');
    file.SetValues("Geral", { { kKeys[keyIndex], value } });

    const zv::ProfileFile reread(file.Bytes());
    Check(reread.ReadString("Geral", kKeys[keyIndex]) == value);
    for (size_t i = 0; i < std::size(kKeys); ++i) {
        if (i != keyIndex) {
            Check(reread.ReadString("Geral", kKeys[i], "<absent>") == before[i]);
        }
    }
    return 0;
}
