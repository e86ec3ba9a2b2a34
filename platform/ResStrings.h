#pragma once

#include <QString>
#include <cstddef>
#include <functional>
#include <span>
#include <vector>

// Every built-in message of the components is a numbered resource string, looked up at the moment of
// use, so an open language file can replace it. The components' own messages are 28000 + n; the
// program's other fixed messages (skin, station, platform) are 29000 + n. The ids and built-in texts
// below are this layer's and the components' (ResStrings.cpp); the station and the encoder keep theirs
// beside their code (station/StationStrings.h, encoder/EncoderStrings.h) and register them here.
namespace zv {

enum ResStringId : int {
    // The wave-in component (28000 ... 28019).
    SNoWaveInDevice = 28000, // "No wave audio recording device found"
    SUnknownWaveError = 28001, // the service has no text for an error number
    SInvalidDeviceId = 28002,
    SInvalidWaveInFormat = 28003,
    SCannotRecordFormat = 28004,
    SUnableToOpenDevice = 28005,
    SNoMemoryForWaveHeader = 28006,
    SCouldNotCreateThread = 28007,
    SCouldNotEndThread = 28008,
    SUnableToCloseDevice = 28009,

    // The displays (28020 ... 28029) and their pixel canvas (28030 ... 28039).
    SInvalidPcmFormat = 28020, // "Invalid WaveFormat": level bar, needle meter, spectrum, oscilloscope
    SCanvasNeeded = 28021,
    SBitLengthNotSupported = 28030,
    SNoDibDeviceContext = 28031,
    SNewDibWhileDrawing = 28032,
    SDrawWhileAnotherDraws = 28033,

    SPropertyWhileOpen = 28060, // "Change to property while device was open"
    // Mixer model and mixer widgets
    SDeviceIdOutOfRange = 28100,
    SDeviceNotValid = 28101,
    SMixerReferencesMixer = 28102,
    STargetIsMixer = 28103,
    SDestLineNotLine = 28104,
    SMixerRequired = 28105,
    SControlNotValid = 28106,
    SItemOutOfRange = 28107,
    SItemInfoNotMultiple = 28108,
    SUndefinedComponentType = 28109,
    SUndefinedControlClass = 28110,
    SMMSystemError = 28111, // %d: the error code
    SInvalidControlClass = 28112,
    SParameterNotPositive = 28113,
    SDestLineLoop = 28114,

    // The skin: window data, bitmap lists, button faces, PNG pictures (29000 ... 29049).
    SNotPng = 29000,
    SDamagedPng = 29001,
    SWindowDataTruncated = 29002,
    SWindowDataTooDeep = 29003,
    SWindowDataNameTooLong = 29004,
    SWindowDataNoComponent = 29005,
    SNotWindowData = 29006,
    SWindowDataVersion = 29007,
    SWindowDataStrayBytes = 29008,
    SCannotReadWindowData = 29009,
    SButtonFaceSize = 29010,
    SSkinWithoutWindow = 29011,
    SSkinOutsideWindow = 29012,
    SBitmapItemTruncated = 29013,
    SBitmapItemCompressed = 29014,
    SBitmapItemNoBmp = 29015,
    SBitmapItemDamagedBmp = 29016,
    SBitmapItemDescriptionTooLong = 29017,
    SBitmapItemCannotWriteBmp = 29018,
    SBitmapItemNoPicture = 29019,
    SBitmapItemError = 29020,

    // The platform layer (29050 ... 29099): the wave service's error texts, files, timers, numbers.
    SWaveNoError = 29050,
    SWaveError = 29051,
    SWaveBadDeviceId = 29052,
    SWaveNotEnabled = 29053,
    SWaveAllocated = 29054,
    SWaveInvalidHandle = 29055,
    SWaveNoDriver = 29056,
    SWaveNoMem = 29057,
    SWaveNotSupported = 29058,
    SWaveBadErrNum = 29059,
    SWaveInvalidFlag = 29060,
    SWaveInvalidParam = 29061,
    SWaveBadFormat = 29062,
    SWaveStillRecording = 29063,
    SWaveUnprepared = 29064,
    SWaveBadFile = 29065,
    SUnableToWrite = 29070, // "Unable to write to %1"
    SOutOfTimers = 29071,
    SUnknownError = 29072,
    SInvalidInteger = 29073, // "'%1' is not a valid integer value"

    SCannotReadFile = 29101, // "Cannot read %1: %2": skin and platform files
};

// One built-in text: its id and its UTF-8 text.
struct ResStringRow {
    int id;
    const char* text;
};

// Language files name their strings by id: two texts under one id would make one of them unreachable.
template <std::size_t N> constexpr bool ResStringIdsAreUnique(const ResStringRow (&rows)[N])
{
    for (std::size_t i = 0; i < N; ++i) {
        {
            {
                {
                    {
                        {
                            {
                                {
                                    {
                                        {
                                            {
                                                {
                                                    {
                                                        {
                                                            {
                                                                {
                                                                    {
                                                                        {
                                                                            {
                                                                                {
                                                                                    {
                                                                                        {
                                                                                            {
                                                                                                {
                                                                                                    {
                                                                                                        {
                                                                                                            {
                                                                                                                {
                                                                                                                    {
                                                                                                                        {
                                                                                                                            {
                                                                                                                                {
                                                                                                                                    {
                                                                                                                                        {
                                                                                                                                            {
                                                                                                                                                {
                                                                                                                                                    {
                                                                                                                                                        {
                                                                                                                                                            {
                                                                                                                                                                {
                                                                                                                                                                    {
                                                                                                                                                                        {
                                                                                                                                                                            for (
                                                                                                                                                                                std::size_t
                                                                                                                                                                                    j
                                                                                                                                                                                = i + 1;
                                                                                                                                                                                j
                                                                                                                                                                                < N;
                                                                                                                                                                                ++j) {
                                                                                                                                                                                {
                                                                                                                                                                                    {
                                                                                                                                                                                        {
                                                                                                                                                                                            {
                                                                                                                                                                                                {
                                                                                                                                                                                                    {
                                                                                                                                                                                                        {
                                                                                                                                                                                                            {
                                                                                                                                                                                                                {
                                                                                                                                                                                                                    {
                                                                                                                                                                                                                        {
                                                                                                                                                                                                                            {
                                                                                                                                                                                                                                {
                                                                                                                                                                                                                                    {
                                                                                                                                                                                                                                        {
                                                                                                                                                                                                                                            {
                                                                                                                                                                                                                                                {
                                                                                                                                                                                                                                                    {
                                                                                                                                                                                                                                                        {
                                                                                                                                                                                                                                                            {
                                                                                                                                                                                                                                                                {
                                                                                                                                                                                                                                                                    {
                                                                                                                                                                                                                                                                        {
                                                                                                                                                                                                                                                                            {
                                                                                                                                                                                                                                                                                {
                                                                                                                                                                                                                                                                                    {
                                                                                                                                                                                                                                                                                        {
                                                                                                                                                                                                                                                                                            {
                                                                                                                                                                                                                                                                                                {
                                                                                                                                                                                                                                                                                                    {
                                                                                                                                                                                                                                                                                                        {
                                                                                                                                                                                                                                                                                                            {
                                                                                                                                                                                                                                                                                                                {
                                                                                                                                                                                                                                                                                                                    {
                                                                                                                                                                                                                                                                                                                        {
                                                                                                                                                                                                                                                                                                                            {
                                                                                                                                                                                                                                                                                                                                {
                                                                                                                                                                                                                                                                                                                                    {
                                                                                                                                                                                                                                                                                                                                        {
                                                                                                                                                                                                                                                                                                                                            {
                                                                                                                                                                                                                                                                                                                                                {
                                                                                                                                                                                                                                                                                                                                                    if (rows[i]
                                                                                                                                                                                                                                                                                                                                                            .id
                                                                                                                                                                                                                                                                                                                                                        == rows[j]
                                                                                                                                                                                                                                                                                                                                                               .id) {
                                                                                                                                                                                                                                                                                                                                                        {
                                                                                                                                                                                                                                                                                                                                                            {
                                                                                                                                                                                                                                                                                                                                                                {
                                                                                                                                                                                                                                                                                                                                                                    {
                                                                                                                                                                                                                                                                                                                                                                        {
                                                                                                                                                                                                                                                                                                                                                                            {
                                                                                                                                                                                                                                                                                                                                                                                {
                                                                                                                                                                                                                                                                                                                                                                                    {
                                                                                                                                                                                                                                                                                                                                                                                        {
                                                                                                                                                                                                                                                                                                                                                                                            {
                                                                                                                                                                                                                                                                                                                                                                                                {
                                                                                                                                                                                                                                                                                                                                                                                                    {
                                                                                                                                                                                                                                                                                                                                                                                                        {
                                                                                                                                                                                                                                                                                                                                                                                                            {
                                                                                                                                                                                                                                                                                                                                                                                                                {
                                                                                                                                                                                                                                                                                                                                                                                                                    {
                                                                                                                                                                                                                                                                                                                                                                                                                        {
                                                                                                                                                                                                                                                                                                                                                                                                                            {
                                                                                                                                                                                                                                                                                                                                                                                                                                {
                                                                                                                                                                                                                                                                                                                                                                                                                                    {
                                                                                                                                                                                                                                                                                                                                                                                                                                        {
                                                                                                                                                                                                                                                                                                                                                                                                                                            {
                                                                                                                                                                                                                                                                                                                                                                                                                                                {
                                                                                                                                                                                                                                                                                                                                                                                                                                                    {
                                                                                                                                                                                                                                                                                                                                                                                                                                                        {
                                                                                                                                                                                                                                                                                                                                                                                                                                                            {
                                                                                                                                                                                                                                                                                                                                                                                                                                                                {
                                                                                                                                                                                                                                                                                                                                                                                                                                                                    {
                                                                                                                                                                                                                                                                                                                                                                                                                                                                        {
                                                                                                                                                                                                                                                                                                                                                                                                                                                                            {
                                                                                                                                                                                                                                                                                                                                                                                                                                                                                {
                                                                                                                                                                                                                                                                                                                                                                                                                                                                                    {
                                                                                                                                                                                                                                                                                                                                                                                                                                                                                        {
                                                                                                                                                                                                                                                                                                                                                                                                                                                                                            {
                                                                                                                                                                                                                                                                                                                                                                                                                                                                                                {
                                                                                                                                                                                                                                                                                                                                                                                                                                                                                                    {
                                                                                                                                                                                                                                                                                                                                                                                                                                                                                                        {
                                                                                                                                                                                                                                                                                                                                                                                                                                                                                                            {
                                                                                                                                                                                                                                                                                                                                                                                                                                                                                                                {
                                                                                                                                                                                                                                                                                                                                                                                                                                                                                                                    {
                                                                                                                                                                                                                                                                                                                                                                                                                                                                                                                        {
                                                                                                                                                                                                                                                                                                                                                                                                                                                                                                                            return false;
                                                                                                                                                                                                                                                                                                                                                                                                                                                                                                                        }
                                                                                                                                                                                                                                                                                                                                                                                                                                                                                                                    }
                                                                                                                                                                                                                                                                                                                                                                                                                                                                                                                }
                                                                                                                                                                                                                                                                                                                                                                                                                                                                                                            }
                                                                                                                                                                                                                                                                                                                                                                                                                                                                                                        }
                                                                                                                                                                                                                                                                                                                                                                                                                                                                                                    }
                                                                                                                                                                                                                                                                                                                                                                                                                                                                                                }
                                                                                                                                                                                                                                                                                                                                                                                                                                                                                            }
                                                                                                                                                                                                                                                                                                                                                                                                                                                                                        }
                                                                                                                                                                                                                                                                                                                                                                                                                                                                                    }
                                                                                                                                                                                                                                                                                                                                                                                                                                                                                }
                                                                                                                                                                                                                                                                                                                                                                                                                                                                            }
                                                                                                                                                                                                                                                                                                                                                                                                                                                                        }
                                                                                                                                                                                                                                                                                                                                                                                                                                                                    }
                                                                                                                                                                                                                                                                                                                                                                                                                                                                }
                                                                                                                                                                                                                                                                                                                                                                                                                                                            }
                                                                                                                                                                                                                                                                                                                                                                                                                                                        }
                                                                                                                                                                                                                                                                                                                                                                                                                                                    }
                                                                                                                                                                                                                                                                                                                                                                                                                                                }
                                                                                                                                                                                                                                                                                                                                                                                                                                            }
                                                                                                                                                                                                                                                                                                                                                                                                                                        }
                                                                                                                                                                                                                                                                                                                                                                                                                                    }
                                                                                                                                                                                                                                                                                                                                                                                                                                }
                                                                                                                                                                                                                                                                                                                                                                                                                            }
                                                                                                                                                                                                                                                                                                                                                                                                                        }
                                                                                                                                                                                                                                                                                                                                                                                                                    }
                                                                                                                                                                                                                                                                                                                                                                                                                }
                                                                                                                                                                                                                                                                                                                                                                                                            }
                                                                                                                                                                                                                                                                                                                                                                                                        }
                                                                                                                                                                                                                                                                                                                                                                                                    }
                                                                                                                                                                                                                                                                                                                                                                                                }
                                                                                                                                                                                                                                                                                                                                                                                            }
                                                                                                                                                                                                                                                                                                                                                                                        }
                                                                                                                                                                                                                                                                                                                                                                                    }
                                                                                                                                                                                                                                                                                                                                                                                }
                                                                                                                                                                                                                                                                                                                                                                            }
                                                                                                                                                                                                                                                                                                                                                                        }
                                                                                                                                                                                                                                                                                                                                                                    }
                                                                                                                                                                                                                                                                                                                                                                }
                                                                                                                                                                                                                                                                                                                                                            }
                                                                                                                                                                                                                                                                                                                                                        }
                                                                                                                                                                                                                                                                                                                                                    }
                                                                                                                                                                                                                                                                                                                                                }
                                                                                                                                                                                                                                                                                                                                            }
                                                                                                                                                                                                                                                                                                                                        }
                                                                                                                                                                                                                                                                                                                                    }
                                                                                                                                                                                                                                                                                                                                }
                                                                                                                                                                                                                                                                                                                            }
                                                                                                                                                                                                                                                                                                                        }
                                                                                                                                                                                                                                                                                                                    }
                                                                                                                                                                                                                                                                                                                }
                                                                                                                                                                                                                                                                                                            }
                                                                                                                                                                                                                                                                                                        }
                                                                                                                                                                                                                                                                                                    }
                                                                                                                                                                                                                                                                                                }
                                                                                                                                                                                                                                                                                            }
                                                                                                                                                                                                                                                                                        }
                                                                                                                                                                                                                                                                                    }
                                                                                                                                                                                                                                                                                }
                                                                                                                                                                                                                                                                            }
                                                                                                                                                                                                                                                                        }
                                                                                                                                                                                                                                                                    }
                                                                                                                                                                                                                                                                }
                                                                                                                                                                                                                                                            }
                                                                                                                                                                                                                                                        }
                                                                                                                                                                                                                                                    }
                                                                                                                                                                                                                                                }
                                                                                                                                                                                                                                            }
                                                                                                                                                                                                                                        }
                                                                                                                                                                                                                                    }
                                                                                                                                                                                                                                }
                                                                                                                                                                                                                            }
                                                                                                                                                                                                                        }
                                                                                                                                                                                                                    }
                                                                                                                                                                                                                }
                                                                                                                                                                                                            }
                                                                                                                                                                                                        }
                                                                                                                                                                                                    }
                                                                                                                                                                                                }
                                                                                                                                                                                            }
                                                                                                                                                                                        }
                                                                                                                                                                                    }
                                                                                                                                                                                }
                                                                                                                                                                            }
                                                                                                                                                                        }
                                                                                                                                                                    }
                                                                                                                                                                }
                                                                                                                                                            }
                                                                                                                                                        }
                                                                                                                                                    }
                                                                                                                                                }
                                                                                                                                            }
                                                                                                                                        }
                                                                                                                                    }
                                                                                                                                }
                                                                                                                            }
                                                                                                                        }
                                                                                                                    }
                                                                                                                }
                                                                                                            }
                                                                                                        }
                                                                                                    }
                                                                                                }
                                                                                            }
                                                                                        }
                                                                                    }
                                                                                }
                                                                            }
                                                                        }
                                                                    }
                                                                }
                                                            }
                                                        }
                                                    }
                                                }
                                            }
                                        }
                                    }
                                }
                            }
                        }
                    }
                }
            }
        }
    }
    return true;
}

// Adds a folder's built-in texts to the table; the rows must outlive the program (a constant table).
// Registering the same rows again does nothing, so every user of a folder's ids may ask for it. An id
// another folder registered already is a programming error: it raises std::logic_error. Safe on any
// thread, also during static initialisation.
void RegisterResStrings(std::span<const ResStringRow> rows);

// The text of a string id: the open language's when a lookup is installed and answers, else the
// built-in text. Safe on any thread.
QString LoadResString(int id);

// The built-in text of a string id; empty for an id the table does not hold.
QString BuiltInResString(int id);

// Every id the table holds, ascending: each needs a text in every language file. The station's and the
// encoder's ids are there once their folder's code is in the program (see RegisterResStrings).
std::vector<int> BuiltInResStringIds();

// Installs the lookup of an open language file, or removes it with an empty function. The lookup
// answers a null QString for an id it has no text for. Safe on any thread; a lookup in progress on
// another thread finishes with the function it started with.
using ResStringLookup = std::function<QString(int id)>;
void SetResStringLookup(ResStringLookup lookup);

} // namespace zv
