#pragma once

// The encoding file: a template (padrao.xml) or the user's earlier file, patched with the station's
// title, sound card, publish server, publishing point and the bitrate-dependent values of the audio
// profile embedded in it, saved as the user's file (Usuario + ".xml").

#include "encoder/EncoderShared.h"
#include "platform/Exception.h"
#include "platform/WaveIn.h"
#include "station/Recording.h"

#include <QDomDocument>
#include <QString>
#include <array>
#include <optional>

ZV_DECLARE_EXCEPTION(EEncodingFileError, Exception);

// One row of the bitrate table; all values are text as they stand in the profile. The table is the
// encoder's as well: both sides read it from encoder/EncoderShared.h.
using TBitrateRow = zv::shared::BitrateRow;
inline constexpr const std::array<TBitrateRow, 4>& BitrateRows = zv::shared::kBitrateRows;

// The row whose text equals kbps, or null.
const TBitrateRow* BitrateRowFor(QStringView kbps);

// The profile text rewritten from the row it carries to target. Text without a known bitrate, or
// already at target, comes back unchanged.
QString RewriteProfile(const QString& text, const TBitrateRow& target);

// The values that go into the encoding file.
struct TEncodingValues {
    QString Title; // radio name
    std::optional<QString> InputSource; // selected sound card; none when nothing is selected
    QString PublishServer;
    QString PublishingPoint; // user name
    // The recording of what goes on the air (cfg.ini's keys); none leaves the file's attributes as
    // they are.
    std::optional<TRecordingSettings> Recording = std::nullopt;
};

// The text without the characters an XML 1.0 document cannot hold (the C0 controls other than tab,
// line feed and carriage return, U+FFFE, U+FFFF and unpaired surrogates); everything else as it is.
QString XmlCharactersOnly(const QString& text);

// Patches the loaded document in place: the four attributes, then every profile text node (a child of
// a child of the document element) when kbps is a row of the table. A value loses the characters XML
// cannot hold (see XmlCharactersOnly). Raises EEncodingFileError for a missing element or a sound card
// that is not selected.
void PatchEncodingFile(QDomDocument& document, const TEncodingValues& values, QStringView kbps);

// Loads an encoding file; raises EEncodingFileError, naming the file, when it cannot be read, is larger
// than an encoding file may be (the encoder's bound, zv::shared::kMaxEncodingFileBytes; nothing beyond
// it is read) or is not well-formed XML.
QDomDocument LoadEncodingFile(const QString& path);

// Saves the document as UTF-8 (its XML declaration says so) through a temporary file and a rename, so
// a failed save leaves the old file whole. What is written is read back first: a result that is not
// well-formed XML or exceeds the bound is not saved. A new file is readable by its owner only (it holds
// the server's source password); an existing one keeps its permissions. Raises EEncodingFileError.
void SaveEncodingFile(QDomDocument& document, const QString& path);

// The device Placa (cfg.ini) stands for. Placa is a place in the binding's device list, and that
// list's order has changed before (plug-ins moved after the cards): the InputSource of the user's
// encoding file, the device the station has been capturing from, decides when it names a device
// (whole, or cut to 31 bytes as older lists had it). Otherwise, and when the file is missing or
// unreadable, Placa as it stands.
int SoundCardForPlaca(int placa, const QString& encodingFile, zv::WaveInOps& binding);

// Loads source, patches it and saves it as target; nothing is written unless every step succeeded.
// When source is the user's own file (source == target) and cannot be loaded, the error tells the
// operator how to have it made anew.
void RebuildEncodingFileFrom(
    const QString& source, const QString& target, const TEncodingValues& values, QStringView kbps);
