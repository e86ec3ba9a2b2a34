#include "platform/WaveInErrors.h"

#include "platform/WaveTypes.h"

#include <cstdio>

namespace zv::detail {

int StandardWaveErrorText(int Code, char* Text, std::size_t Size)
{
    const char* text = nullptr;
    switch (Code) {
    case wave::NoError:
        text = "The operation completed successfully";
        break;
    case wave::Error:
        text = "Unspecified error";
        break;
    case wave::BadDeviceId:
        text = "The device identifier is out of range";
        break;
    case wave::NotEnabled:
        text = "The driver failed to enable";
        break;
    case wave::Allocated:
        text = "The device is already in use";
        break;
    case wave::InvalidHandle:
        text = "The device handle is invalid";
        break;
    case wave::NoDriver:
        text = "No device driver is present";
        break;
    case wave::NoMem:
        text = "Unable to allocate memory";
        break;
    case wave::NotSupported:
        text = "The function is not supported";
        break;
    case wave::BadErrNum:
        text = "The error value is out of range";
        break;
    case wave::InvalidFlag:
        text = "An invalid flag was passed";
        break;
    case wave::InvalidParam:
        text = "An invalid parameter was passed";
        break;
    case wave::BadFormat:
        text = "The wave format is not supported";
        break;
    case wave::StillRecording:
        text = "Buffers are still queued";
        break;
    case wave::Unprepared:
        text = "The buffer is not prepared";
        break;
    case wave::BadFile:
        text = "The source file cannot be read";
        break;
    default:
        return wave::BadErrNum;
    }
    if (Size > 0)
        std::snprintf(Text, Size, "%s", text);
    return wave::NoError;
}

} // namespace zv::detail
