#pragma once

#include <QString>
#include <functional>
#include <vector>

// Every built-in message of the components is a numbered resource string, looked up at the moment of
// use, so an open language file can replace it. The components' own messages are 28000 + n; the
// program's other fixed messages (skin, station, platform) are 29000 + n. The table of built-in texts
// is ResStrings.cpp.
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

    // Station files and the encoder's reasons (29100 ... 29199).
    SEncoderStopped = 29100, // ZoVeva.log: why the encoder stopped by itself
    SCannotReadFile = 29101,
    SEncodingFileTooLarge = 29102,
    SRemakeUserEncodingFile = 29103,
    SEncodingFileNotSaved = 29104,
    SCannotReadEncodingFile = 29105,
    SEncodingFileNotXml = 29106,
    SCannotWriteEncodingFile = 29107,
    SEncodingFileNoElement = 29108,
    SEncodingFileNoRoot = 29109,
    SSourceWrongPassword = 29110,
    SSourceMountInUse = 29111,
    SSourceRefusedSaying = 29112,
    SUnknownMetadataCharset = 29113,
    SXmlErrorAt = 29114, // "line %1, column %2: %3"
    SNotARegularFile = 29115, // the reason when a pipe or a device stands under a file's name
    SNoSoundCardSelected = 29120,
    SUserNameNotAFile = 29121,
    SNoSettingsWindow = 29122,
    // Encoder results (29130 ... 29139) and the encoder process (29140 ... 29149).
    SResultSuccess = 29130,
    SResultUnexpected = 29131,
    SResultNotImplemented = 29132,
    SResultInvalidPointer = 29133,
    SResultFailed = 29134,
    SResultAccessDenied = 29135,
    SResultInvalidArgument = 29136,
    SResultNotStarted = 29137,
    SResultGone = 29138,
    SResultEncodingFile = 29139,
    SResultOther = 29140,
    SCannotStartEncoder = 29141,
    SCannotStartEncoderFile = 29142,
    SEncoderEndedHow = 29143,
    SEncoderStoppedTaking = 29144,
    SEncoderMalformedAnswer = 29145,
    SEncoderNoAnswerWithin = 29146,
    SEncoderEnded = 29147,
    // Language files (29150 ... 29159).
    SNotACollection = 29150,

    // The stream's details, the dead-air alarm and the encoder's TLS (29300 ... 29399).
    SDetailsListeners = 29300, // "%1 ouvintes"
    SDetailsListenersPeak = 29301,
    SDetailsListener = 29370, // "%1 ouvinte": the same for exactly one listener
    SDetailsListenerPeak = 29371,
    SDetailsTls = 29302,
    SDetailsTitle = 29303,
    SConnectionEnded = 29304, // ZoVeva.log: a connection's time on the air and bytes
    SDeadAirBegan = 29310,
    SDeadAirEnded = 29311,
    SDeadAirTitle = 29312, // the tray notification's title
    SDeadAirWarning = 29313, // the tray tooltip's first line while the alarm is raised
    SKeyNotANumber = 29320, // ZoVeva.log: a cfg.ini key
    SKeyOutOfRange = 29321,
    SServerCertificateRefused = 29330, // the encoder's TLS refusals
    SNoTlsConnection = 29331,
    // The settings window's fields that cfg.ini cannot keep, and a TLS port that never answered (29340 ...).
    SRadioNameNotStorable = 29340, // %1: the characters, quoted
    SUserNameNotStorable = 29341,
    SPasswordNotStorable = 29342, // names no character: the box and the log would show the password
    STlsHandshakeUnanswered = 29343, // the encoder's stop reason: %1 seconds, %2 the server
    // The capture's input device while it is lost, and the sound server that took it away (29350 ...).
    SSoundServerNotAnswering = 29350, // the encoder's Load: the default device gone with its server
    SInputDeviceFailed = 29351, // ZoVeva.log: the displays' capture failed, retried every %3 s
    SInputDeviceBack = 29352, // ZoVeva.log: the capture runs again after %2
    SDeadAirNoInput = 29353, // the dead-air alarm without an input device
    SDeadAirNoInputWarning = 29354, // the tray tooltip's first line then
    SAskOffAir = 29380, // the question before quitting while the station is on the air
    SAnswerYes = 29381,
    SAnswerNo = 29382,
    // The recording of what goes on the air (29390 ...).
    SRecordingOn = 29391, // the status hint and tooltip while recording (%1 the folder)
    SRecordingPaused = 29392, // ... while paused below the free-space floor
    SRecordingFailing = 29393, // ... while the folder cannot be written
    SRecordingTitle = 29394, // the tray notification's title
    SRecordingPausedWarning = 29395, // the tray notification and ZoVeva.log when it pauses
    SRecordingSwitchedOn = 29396, // ZoVeva.log: the tray item switched it on (%1 the folder)
    SRecordingSwitchedOff = 29397, // ZoVeva.log: ... off
    // The settings window's mixer panel on a mixer whose recording has no inputs of its own (29360 ...).
    SMixerWithoutInputs = 29360, // the line in place of the control list
    SMuteRecording = 29361, // the box that switches the recording's own mute

    SUnknownLocale = 29900, // "<unknown>": a language list entry whose locale id the system lacks
};

// The text of a string id: the open language's when a lookup is installed and answers, else the
// built-in text. Safe on any thread.
QString LoadResString(int id);

// The built-in text of a string id; empty for an id the table does not hold.
QString BuiltInResString(int id);

// Every id the table holds, ascending: each needs a text in every language file.
std::vector<int> BuiltInResStringIds();

// Installs the lookup of an open language file, or removes it with an empty function. The lookup
// answers a null QString for an id it has no text for. Safe on any thread; a lookup in progress on
// another thread finishes with the function it started with.
using ResStringLookup = std::function<QString(int id)>;
void SetResStringLookup(ResStringLookup lookup);

} // namespace zv
