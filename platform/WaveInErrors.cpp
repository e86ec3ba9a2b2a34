#include "platform/WaveInErrors.h"

#include "platform/ResStrings.h"
#include "platform/WaveTypes.h"

#include <cstdio>

namespace zv::detail {

int StandardWaveErrorText(int Code, char* Text, std::size_t Size)
{
    int id = 0;
    switch (Code) {
    case wave::NoError:
        id = SWaveNoError;
        break;
    case wave::Error:
        id = SWaveError;
        break;
    case wave::BadDeviceId:
        id = SWaveBadDeviceId;
        break;
    case wave::NotEnabled:
        id = SWaveNotEnabled;
        break;
    case wave::Allocated:
        id = SWaveAllocated;
        break;
    case wave::InvalidHandle:
        id = SWaveInvalidHandle;
        break;
    case wave::NoDriver:
        id = SWaveNoDriver;
        break;
    case wave::NoMem:
        id = SWaveNoMem;
        break;
    case wave::NotSupported:
        id = SWaveNotSupported;
        break;
    case wave::BadErrNum:
        id = SWaveBadErrNum;
        break;
    case wave::InvalidFlag:
        id = SWaveInvalidFlag;
        break;
    case wave::InvalidParam:
        id = SWaveInvalidParam;
        break;
    case wave::BadFormat:
        id = SWaveBadFormat;
        break;
    case wave::StillRecording:
        id = SWaveStillRecording;
        break;
    case wave::Unprepared:
        id = SWaveUnprepared;
        break;
    case wave::BadFile:
        id = SWaveBadFile;
        break;
    default:
        return wave::BadErrNum;
    }
    if (Size > 0) {
        std::snprintf(Text, Size, "%s", LoadResString(id).toUtf8().constData());
    }
    return wave::NoError;
}

} // namespace zv::detail
