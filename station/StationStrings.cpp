#include "station/StationStrings.h"

#include "encoder/EncoderStrings.h"

namespace zv {
namespace {

// The station's built-in texts, by id. Keep the ids stable: language files name their strings by them.
constexpr ResStringRow kRows[] = {
    { SEncoderStopped, "O Encoder parou: %1" },
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
    { SInputDeviceFailed, "O dispositivo de entrada \"%1\" falhou (%2); nova tentativa a cada %3 s" },
    { SInputDeviceBack, "O dispositivo de entrada \"%1\" voltou depois de %2" },
    { SDeadAirNoInput, "Silêncio no ar: nenhum dispositivo de entrada há %1 s" },
    { SDeadAirNoInputWarning, "ATENÇÃO: nenhum dispositivo de entrada desde %1" },
    { SRadioNameNotStorable,
        "The radio name cannot hold %1: cfg.ini keeps one line of Windows-1252 text (the letters and signs "
        "of Western European languages)" },
    { SUserNameNotStorable,
        "The user name cannot hold %1: cfg.ini keeps one line of Windows-1252 text (the letters and signs "
        "of Western European languages)" },
    { SPasswordNotStorable,
        "The password holds a character that cfg.ini cannot keep: it keeps one line of Windows-1252 text "
        "(the letters and signs of Western European languages), without control characters" },
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
static_assert(ResStringIdsAreUnique(kRows), "two built-in resource strings share an id");

} // namespace

bool RegisterStationStrings()
{
    // The station shows the encoder's reasons and recognises them in its answers.
    RegisterEncoderStrings();
    RegisterResStrings(kRows);
    return true;
}

} // namespace zv
