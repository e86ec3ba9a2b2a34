#pragma once

// The station's resource strings: its files, the encoder process as the station sees it, the stream's
// details, the dead-air alarm, the recording and the windows' own texts (29100 ... 29999, the
// encoder's reasons aside).

#include "platform/ResStrings.h"

namespace zv {

enum StationStringId : int {
    // Station files (29100 ... 29199).
    SEncoderStopped = 29100, // ZoVeva.log: why the encoder stopped by itself
    SEncodingFileTooLarge = 29102,
    SRemakeUserEncodingFile = 29103,
    SEncodingFileNotSaved = 29104,
    SCannotReadEncodingFile = 29105,
    SEncodingFileNotXml = 29106,
    SCannotWriteEncodingFile = 29107,
    SEncodingFileNoElement = 29108,
    SEncodingFileNoRoot = 29109,
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

    // The stream's details and the dead-air alarm (29300 ... 29399).
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
    // The settings window's fields that cfg.ini cannot keep (29340 ...).
    SRadioNameNotStorable = 29340, // %1: the characters, quoted
    SUserNameNotStorable = 29341,
    SPasswordNotStorable = 29342, // names no character: the box and the log would show the password
    // The capture's input device while it is lost (29350 ...).
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

// Adds these texts to the resource strings; idempotent. Every file that includes this header asks for
// it as the program starts, so a program that holds code using these ids has their texts too.
bool RegisterStationStrings();
namespace detail {
[[maybe_unused]] static const bool kRegisterStationStrings = RegisterStationStrings();
}

} // namespace zv
