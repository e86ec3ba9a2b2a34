#include "station/EncoderContract.h"

#include <utility>

QString ResultText(HRESULT hr)
{
    switch (hr) {
    case S_OK:
        return QStringLiteral("success");
    case E_UNEXPECTED:
        return QStringLiteral("unexpected failure");
    case E_NOTIMPL:
        return QStringLiteral("not implemented");
    case E_POINTER:
        return QStringLiteral("invalid pointer");
    case E_FAIL:
        return QStringLiteral("unspecified error");
    case E_ACCESSDENIED:
        return QStringLiteral("access denied");
    case E_INVALIDARG:
        return QStringLiteral("invalid argument");
    case E_ENCODER_NOT_STARTED:
        return QStringLiteral("the encoder could not be started");
    case E_ENCODER_GONE:
        return QStringLiteral("the encoder is not answering");
    case E_ENCODING_FILE:
        return QStringLiteral("the encoding file is not usable");
    default:
        return QStringLiteral("error");
    }
}

namespace {
thread_local QString errorInfo; // written and read on the calling thread only
}

void SetEncoderErrorInfo(const QString& message)
{
    errorInfo = message;
}

void CheckResult(HRESULT hr, const char* operation)
{
    const QString info = std::exchange(errorInfo, QString());
    if (Failed(hr)) {
        throw EEncoderError(QStringLiteral("%1: %2 (0x%3)")
                                .arg(QString::fromUtf8(operation), info.isEmpty() ? ResultText(hr) : info)
                                .arg(static_cast<std::uint32_t>(hr), 8, 16, QLatin1Char('0')),
            hr);
    }
}
