#pragma once

// The encoding file: a template (padrao.xml) or the user's earlier file, patched with the station's
// title, sound card, publish server, publishing point and the bitrate-dependent values of the audio
// profile embedded in it, saved as the user's file (Usuario + ".xml").

#include "platform/Exception.h"

#include <QDomDocument>
#include <QString>
#include <array>
#include <optional>

ZV_DECLARE_EXCEPTION(EEncodingFileError, Exception);

// One row of the bitrate table; all values are text as they stand in the profile.
struct TBitrateRow {
    const char* Kbps; // the row text, also the profile's bitrate value
    const char* CompareKey; // the first five characters of Kbps: what identifies the row in a profile
    const char* AvgBytesPerSec;
    const char* SamplesPerSec;
    const char* Block; // lsamplesize and nBlockAlign
    const char* CodecData;
    bool ReplaceEvery; // the bitrate is replaced at every occurrence, not only the first
};

extern const std::array<TBitrateRow, 4> BitrateRows;

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
};

// Patches the loaded document in place: the four attributes, then every profile text node (a child of
// a child of the document element) when kbps is a row of the table. Raises EEncodingFileError for a
// missing element or a sound card that is not selected.
void PatchEncodingFile(QDomDocument& document, const TEncodingValues& values, QStringView kbps);

// Loads an encoding file; raises EEncodingFileError when it cannot be read or is not well-formed XML.
QDomDocument LoadEncodingFile(const QString& path);

// Saves the document as UTF-8 (its XML declaration says so) through a temporary file and a rename, so
// a failed save leaves the old file whole. Raises EEncodingFileError.
void SaveEncodingFile(QDomDocument& document, const QString& path);

// Loads source, patches it and saves it as target; nothing is written unless every step succeeded.
void RebuildEncodingFileFrom(
    const QString& source, const QString& target, const TEncodingValues& values, QStringView kbps);
