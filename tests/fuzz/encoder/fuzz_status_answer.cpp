// The server's status page as the encoder reads the listener count from it, on arbitrary bytes: a
// count it reports is one a server could mean, and otherwise it says why there is none.
#include "encoder/StatusProbe.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const zv::StatusReading reading = zv::ReadListenerCounts(bytes, QStringLiteral("/radio1"));
    if (reading.counts.has_value() == !reading.problem.isEmpty()) {
        std::abort();
    }
    if (reading.counts && (reading.counts->listeners < 0 || reading.counts->peak < -1)) {
        std::abort();
    }
    return 0;
}
