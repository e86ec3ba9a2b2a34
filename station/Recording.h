#pragma once
// The recording of what goes on the air, as the operator sets it in cfg.ini's [Geral] and reads it in
// the status hint and the tray. The encoder records; the client only says where and how (through the
// encoding file) and shows what the encoder tells.
#include "platform/ProfileFile.h"
#include "station/EncoderContract.h"

#include <QString>
#include <QStringList>
#include <filesystem>

struct TRecordingSettings {
    bool Enabled = false; // Gravar
    QString Folder = QStringLiteral("Gravacoes"); // PastaGravacoes; relative: in the program folder
    int Days = 30; // DiasGravacoes: older files are removed; 0 keeps them all
    int MinFreeMB = 1024; // MinimoLivreMB: below this much free space recording pauses

    bool operator==(const TRecordingSettings&) const = default;
};

// The settings from cfg.ini's [Geral]: a missing key keeps its default; a value that cannot be used
// keeps it too and adds a line to problems (for ZoVeva.log).
TRecordingSettings ReadRecordingSettings(const zv::ProfileFile& file, QStringList& problems);

// Saves the tray item's choice (Gravar) in cfg.ini, other keys untouched.
void WriteRecordingSwitch(const std::filesystem::path& configFile, bool on);

// The hint's and tooltip's words for the recording: empty while it is off.
QString RecordingDetailsText(const TStreamDetails& details);
