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
    SPropertyWhileOpen = 28060, // "Change to property while device was open"

    // Station files and the encoder's reasons (29100 ... 29199).
    SEncoderStopped = 29100, // ZoVeva.log: why the encoder stopped by itself
    SCannotReadFile = 29101,
    SEncodingFileTooLarge = 29102,
    SRemakeUserEncodingFile = 29103,
    SEncodingFileNotSaved = 29104,
    SSourceWrongPassword = 29110,
    SSourceMountInUse = 29111,
    SSourceRefusedSaying = 29112,
    SUnknownMetadataCharset = 29113,
    SServerCertificateRefused = 29114,
    SNoTlsConnection = 29115,

    // The stream's details and the dead-air alarm (29300 ... 29399).
    SDetailsListeners = 29300, // "%1 ouvintes"
    SDetailsListenersPeak = 29301,
    SDetailsTls = 29302,
    SDetailsTitle = 29303,
    SConnectionEnded = 29304, // ZoVeva.log: a connection's time on the air and bytes
    SDeadAirBegan = 29310,
    SDeadAirEnded = 29311,
    SDeadAirTitle = 29312, // the tray notification's title
    SDeadAirWarning = 29313, // the tray tooltip's first line while the alarm is raised
    SKeyNotANumber = 29320, // ZoVeva.log: a cfg.ini key
    SKeyOutOfRange = 29321,
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
