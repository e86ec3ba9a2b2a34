#pragma once

#include <QString>

namespace zv {

// One line to the encoder's log (its standard error, which the client points at the log file):
// local time, process id, message. Safe from any thread.
void EncoderLog(const QString& message);

} // namespace zv
