#include "station/EncoderContract.h"

#include "platform/ResStrings.h"
#include "station/StationStrings.h"

#include <utility>

QString ResultText(HRESULT hr)
{
    switch (hr) {
    case S_OK:
        return zv::LoadResString(zv::SResultSuccess);
    case E_UNEXPECTED:
        return zv::LoadResString(zv::SResultUnexpected);
    case E_NOTIMPL:
        return zv::LoadResString(zv::SResultNotImplemented);
    case E_POINTER:
        return zv::LoadResString(zv::SResultInvalidPointer);
    case E_FAIL:
        return zv::LoadResString(zv::SResultFailed);
    case E_ACCESSDENIED:
        return zv::LoadResString(zv::SResultAccessDenied);
    case E_INVALIDARG:
        return zv::LoadResString(zv::SResultInvalidArgument);
    case E_ENCODER_NOT_STARTED:
        return zv::LoadResString(zv::SResultNotStarted);
    case E_ENCODER_GONE:
        return zv::LoadResString(zv::SResultGone);
    case E_ENCODING_FILE:
        return zv::LoadResString(zv::SResultEncodingFile);
    default:
        return zv::LoadResString(zv::SResultOther);
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
        // One arg call: the encoder's text (a server's words, maybe) may hold "%1" of its own.
        throw EEncoderError(QStringLiteral("%1: %2").arg(
                                QString::fromUtf8(operation), info.isEmpty() ? ResultText(hr) : info),
            hr);
    }
}

QString EEncoderError::MessageWithCode() const
{
    return QStringLiteral("%1 (0x%2)")
        .arg(Message(),
            QString::number(static_cast<std::uint32_t>(code_), 16).rightJustified(8, QLatin1Char('0')));
}
