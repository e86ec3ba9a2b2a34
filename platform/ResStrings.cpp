#include "platform/ResStrings.h"

#include <algorithm>
#include <iterator>
#include <memory>
#include <mutex>

namespace zv {
namespace {

struct Row {
    int id;
    const char* text; // UTF-8
};

// The built-in texts, by id. Keep the ids stable: language files name their strings by them.
constexpr Row kBuiltIn[] = {
    { SNoWaveInDevice, "No wave audio recording device found" },
    { SUnknownWaveError, "Specified error number is out of range (unknown error)" },
    { SInvalidDeviceId, "Invalid DeviceID" },
    { SInvalidWaveInFormat, "Invalid wave format" },
    { SCannotRecordFormat, "The actual device can''t record this format" },
    { SUnableToOpenDevice, "Unable to open device" },
    { SNoMemoryForWaveHeader, "Unable to allocate memory for wave header" },
    { SCouldNotCreateThread, "Could not create thread" },
    { SCouldNotEndThread, "Could not end thread" },
    { SUnableToCloseDevice, "Unable to close device" },
    { SInvalidPcmFormat, "Invalid WaveFormat" },
    { SCanvasNeeded, "Canvas needed for this operation" },
    { SBitLengthNotSupported, "Bitlength not supported yet" },
    { SNoDibDeviceContext, "Unable to access DIB device context" },
    { SNewDibWhileDrawing, "%1: Attempt to create new DIB while initialized for drawing" },
    { SDrawWhileAnotherDraws, "%1: Attempt to draw while another canvas is drawing" },
    { SPropertyWhileOpen, "Change to property while device was open" },

    { SNotPng, "Not a PNG picture" },
    { SDamagedPng, "Damaged PNG picture: %1" },
    { SWindowDataTruncated, "Window data is truncated (%1 at byte %2)" },
    { SWindowDataTooDeep, "Window data nests its components too deeply" },
    { SWindowDataNameTooLong, "The %1 \"%2\" is longer than 255 bytes" },
    { SWindowDataNoComponent, "Window data of %1 has no component %2" },
    { SNotWindowData, "Not window data (no ZVWD signature)" },
    { SWindowDataVersion, "Window data version %1 is not supported" },
    { SWindowDataStrayBytes, "Window data has %1 stray bytes after its last component" },
    { SCannotReadWindowData, "Cannot read window data %1: %2" },
    { SButtonFaceSize, "Button %1: \"%2\" holds %3 bytes instead of %4" },
    { SSkinWithoutWindow, "A window skin must belong to a window" },
    { SSkinOutsideWindow, "A window skin must be placed inside its window" },
    { SBitmapItemTruncated, "Bitmap list item is truncated in its %1" },
    { SBitmapItemCompressed, "Compressed bitmap list items are not supported" },
    { SBitmapItemNoBmp, "Bitmap list item holds no BMP picture" },
    { SBitmapItemDamagedBmp, "Bitmap list item holds a damaged BMP picture" },
    { SBitmapItemDescriptionTooLong, "A bitmap list item's description is longer than 255 bytes" },
    { SBitmapItemCannotWriteBmp, "A bitmap list item's picture cannot be written as BMP" },
    { SBitmapItemNoPicture, "Item %1 of bitmap list %2 has no stored picture value" },
    { SBitmapItemError, "Item %1 of bitmap list %2: %3" },

    { SWaveNoError, "The operation completed successfully" },
    { SWaveError, "Unspecified error" },
    { SWaveBadDeviceId, "The device identifier is out of range" },
    { SWaveNotEnabled, "The driver failed to enable" },
    { SWaveAllocated, "The device is already in use" },
    { SWaveInvalidHandle, "The device handle is invalid" },
    { SWaveNoDriver, "No device driver is present" },
    { SWaveNoMem, "Unable to allocate memory" },
    { SWaveNotSupported, "The function is not supported" },
    { SWaveBadErrNum, "The error value is out of range" },
    { SWaveInvalidFlag, "An invalid flag was passed" },
    { SWaveInvalidParam, "An invalid parameter was passed" },
    { SWaveBadFormat, "The wave format is not supported" },
    { SWaveStillRecording, "Buffers are still queued" },
    { SWaveUnprepared, "The buffer is not prepared" },
    { SWaveBadFile, "The source file cannot be read" },
    { SUnableToWrite, "Unable to write to %1" },
    { SOutOfTimers, "Not enough timers available" },
    { SUnknownError, "Unknown error" },
    { SInvalidInteger, "'%1' is not a valid integer value" },

    { SDeviceIdOutOfRange, "Device id is out of range" },
    { SDeviceNotValid, "Device not valid" },
    { SMixerReferencesMixer, "Mixer can't reference mixer" },
    { STargetIsMixer, "Can't target to mixer" },
    { SDestLineNotLine, "DestLine should be TMMAudioLine" },
    { SMixerRequired, "Mixer required for this operation" },
    { SControlNotValid, "Control not valid" },
    { SItemOutOfRange, "Item index out of range" },
    { SItemInfoNotMultiple, "Item info requested from non-multiple control" },
    { SUndefinedComponentType, "Undefined API component type" },
    { SUndefinedControlClass, "Undefined API control class" },
    { SMMSystemError, "MMSystem error: %d" },
    { SInvalidControlClass, "Invalid control class" },
    { SParameterNotPositive, "This parameter should be greater then 0" },
    { SDestLineLoop, "DestLine can't lead back to this line" },
    { SEncoderStopped, "O Encoder parou: %1" },
    { SCannotReadFile, "Cannot read %1: %2" },
    { SEncodingFileTooLarge,
        "The encoding file %1 is too large: %2 bytes, where an encoding file holds at most %3" },
    { SRemakeUserEncodingFile,
        "%1. Delete %2 and save the settings again: the program then makes it anew from the template "
        "padrao.xml" },
    { SEncodingFileNotSaved,
        "The encoding file %1 was not saved, because what was made of it could not be read back: %2" },
    { SCannotReadEncodingFile, "Cannot read the encoding file %1: %2" },
    { SNotARegularFile, "it is not a regular file" },
    { SEncodingFileNotXml, "The encoding file %1 is not valid XML (%2)" },
    { SCannotWriteEncodingFile, "Cannot write the encoding file %1: %2" },
    { SEncodingFileNoElement, "The encoding file has no element %1" },
    { SEncodingFileNoRoot, "The encoding file has no document element" },
    { SSourceWrongPassword, "The server refused the source: wrong source user or password" },
    { SSourceMountInUse, "The server refused the source: the publishing point is already in use" },
    { SSourceRefusedSaying, "The server refused the source, saying \"%1\"" },
    { SUnknownMetadataCharset,
        "unknown character set \"%1\" in Broadcast/@MetadataCharset (expected ISO-8859-1 or UTF-8)" },
    { SXmlErrorAt, "line %1, column %2: %3" },
    { SNoSoundCardSelected, "No sound card is selected" },
    { SUserNameNotAFile, "The user name \"%1\" cannot name a file" },
    { SNoSettingsWindow, "The settings window is not there yet" },
    { SResultSuccess, "success" },
    { SResultUnexpected, "unexpected failure" },
    { SResultNotImplemented, "not implemented" },
    { SResultInvalidPointer, "invalid pointer" },
    { SResultFailed, "unspecified error" },
    { SResultAccessDenied, "access denied" },
    { SResultInvalidArgument, "invalid argument" },
    { SResultNotStarted, "the encoder could not be started" },
    { SResultGone, "the encoder is not answering" },
    { SResultEncodingFile, "the encoding file is not usable" },
    { SResultOther, "error" },
    { SCannotStartEncoder, "Cannot start the encoder: %1" },
    { SCannotStartEncoderFile, "Cannot start the encoder \"%1\": %2" },
    { SEncoderEndedHow, "The encoder process has ended (%1)" },
    { SEncoderStoppedTaking, "The encoder process stopped taking requests" },
    { SEncoderMalformedAnswer, "The encoder process sent a malformed answer" },
    { SEncoderNoAnswerWithin, "The encoder process did not answer within %1 s" },
    { SEncoderEnded, "The encoder process has ended" },
    { SNotACollection, "%1: %2 is not a collection" },
    { SServerCertificateRefused, "The server's certificate was not accepted: %1" },
    { SSoundServerNotAnswering,
        "The input device \"%1\" is missing: the sound server is not answering; the station will go back "
        "on the air when it returns" },
    { SInputDeviceFailed, "O dispositivo de entrada \"%1\" falhou (%2); nova tentativa a cada %3 s" },
    { SInputDeviceBack, "O dispositivo de entrada \"%1\" voltou depois de %2" },
    { SDeadAirNoInput, "Silêncio no ar: nenhum dispositivo de entrada há %1 s" },
    { SDeadAirNoInputWarning, "ATENÇÃO: nenhum dispositivo de entrada desde %1" },
    { SNoTlsConnection,
        "Cannot connect to the server over TLS: nothing answers there, the connection was refused, or the "
        "server does not speak TLS on that port" },
    { SRadioNameNotStorable,
        "The radio name cannot hold %1: cfg.ini keeps one line of Windows-1252 text (the letters and signs "
        "of Western European languages)" },
    { SUserNameNotStorable,
        "The user name cannot hold %1: cfg.ini keeps one line of Windows-1252 text (the letters and signs "
        "of Western European languages)" },
    { SPasswordNotStorable,
        "The password holds a character that cfg.ini cannot keep: it keeps one line of Windows-1252 text "
        "(the letters and signs of Western European languages), without control characters" },
    { STlsHandshakeUnanswered,
        "The server did not answer the TLS handshake within %1 s (%2): that port may not have TLS" },
    { SMixerWithoutInputs, "Sem entradas próprias: Gravação ajusta a captura da placa." },
    { SMuteRecording, "Silenciar a gravação" },
    { SDetailsListeners, "%1 ouvintes" },
    { SDetailsListenersPeak, "%1 ouvintes (máximo %2)" },
    { SDetailsListener, "%1 ouvinte" },
    { SDetailsListenerPeak, "%1 ouvinte (máximo %2)" },
    { SDetailsTls, "%1 (TLS)" },
    { SDetailsTitle, "Tocando: %1" },
    { SConnectionEnded, "Conexão com %1 encerrada: %2 no ar, %3 enviados" },
    { SDeadAirBegan, "Silêncio no ar: o som capturado ficou abaixo de %1 dBFS por %2 s" },
    { SDeadAirEnded, "O som voltou depois de %1 de silêncio" },
    { SDeadAirTitle, "Silêncio no ar" },
    { SDeadAirWarning, "ATENÇÃO: silêncio no ar desde %1" },
    { SKeyNotANumber, "cfg.ini: o valor \"%2\" da chave %1 em [Geral] não é um número; vale %3" },
    { SKeyOutOfRange, "cfg.ini: o valor %2 da chave %1 em [Geral] está fora de %3 a %4; vale %5" },
    { SAskOffAir, "Tirar a rádio do ar?" },
    { SAnswerYes, "Sim" },
    { SAnswerNo, "Não" },
    { SRecordingOn, "Gravando o que vai ao ar em %1" },
    { SRecordingPaused, "Gravação pausada: pouco espaço livre em %1" },
    { SRecordingFailing, "Gravação falhando: não é possível gravar em %1" },
    { SRecordingTitle, "Gravação do que vai ao ar" },
    { SRecordingPausedWarning,
        "Pouco espaço livre em %1: a gravação do que vai ao ar está pausada até haver espaço; a "
        "transmissão continua" },
    { SRecordingSwitchedOn, "Gravação do que vai ao ar ligada, em %1" },
    { SRecordingSwitchedOff, "Gravação do que vai ao ar desligada" },
    { SUnknownLocale, "<unknown>" },
};

// Language files name their strings by id: two texts under one id would make one of them unreachable.
constexpr bool IdsAreUnique()
{
    for (std::size_t i = 0; i < std::size(kBuiltIn); ++i)
        for (std::size_t j = i + 1; j < std::size(kBuiltIn); ++j)
            if (kBuiltIn[i].id == kBuiltIn[j].id)
                return false;
    return true;
}
static_assert(IdsAreUnique(), "two built-in resource strings share an id");

std::mutex gLookupLock;
std::shared_ptr<const ResStringLookup> gLookup; // guarded by gLookupLock

} // namespace

QString BuiltInResString(int id)
{
    for (const Row& row : kBuiltIn)
        if (row.id == id)
            return QString::fromUtf8(row.text);
    return {};
}

std::vector<int> BuiltInResStringIds()
{
    std::vector<int> ids;
    for (const Row& row : kBuiltIn)
        ids.push_back(row.id);
    std::sort(ids.begin(), ids.end());
    return ids;
}

QString LoadResString(int id)
{
    std::shared_ptr<const ResStringLookup> lookup;
    {
        std::lock_guard guard(gLookupLock);
        lookup = gLookup;
    }
    if (lookup) {
        QString text = (*lookup)(id);
        if (!text.isNull())
            return text;
    }
    return BuiltInResString(id);
}

void SetResStringLookup(ResStringLookup lookup)
{
    auto next = lookup ? std::make_shared<const ResStringLookup>(std::move(lookup)) : nullptr;
    std::lock_guard guard(gLookupLock);
    gLookup = std::move(next);
}

} // namespace zv
