#include "platform/AlsaLog.h"

#include <alsa/asoundlib.h>
#include <cstdarg>
#include <cstdio>
#include <mutex>

Q_LOGGING_CATEGORY(lcAlsa, "zoveva.alsa", QtWarningMsg)

namespace zv {

namespace {

void AlsaErrorHandler(const char* file, int line, const char* function, int err, const char* fmt, ...)
{
    if (!lcAlsa().isDebugEnabled()) {
        return;
    }
    char text[512];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    qCDebug(lcAlsa, "%s:%d %s: %s (%s)", file, line, function, text, err ? snd_strerror(err) : "");
}

} // namespace

void InstallAlsaErrorHandler()
{
    static std::once_flag once;
    std::call_once(once, [] { snd_lib_error_set_handler(&AlsaErrorHandler); });
}

} // namespace zv
