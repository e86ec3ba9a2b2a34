#include "encoder/EncoderLog.h"

#include <QDateTime>
#include <mutex>
#include <unistd.h>

namespace zv {

void EncoderLog(const QString& message)
{
    static std::mutex mutex;
    QString text = message;
    // One entry per line, whatever the message carries.
    text.replace(u'\n', u' ').replace(u'\r', u' ');
    const QByteArray line
        = QStringLiteral("%1 zoveva-encoder[%2]: %3\n")
              .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz")))
              .arg(getpid())
              .arg(text)
              .toUtf8();
    std::lock_guard lock(mutex);
    // A single write keeps lines whole in a file that the client appends to as well.
    [[maybe_unused]] const auto written
        = write(STDERR_FILENO, line.constData(), static_cast<size_t>(line.size()));
}

} // namespace zv
