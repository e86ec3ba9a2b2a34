#pragma once

#include <QLoggingCategory>

// ALSA's library messages (configuration trouble, a sound server that does not answer) go to the
// logging category zoveva.alsa instead of stderr, which is the encoder's log. The library has one
// handler per process, so capture and mixer share this one.
Q_DECLARE_LOGGING_CATEGORY(lcAlsa)

namespace zv {

// Installs the handler once per process; cheap to call before every ALSA open.
void InstallAlsaErrorHandler();

} // namespace zv
