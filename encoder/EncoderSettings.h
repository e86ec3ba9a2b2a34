#pragma once

#include "platform/Exception.h"

#include <QByteArray>
#include <QString>
#include <cstdint>

namespace zv {

// What the station keeps of what went on the air (Broadcast/@Recording and its companions).
struct RecordingSettings {
    bool enabled = false;
    QString folder; // Broadcast/@RecordingFolder; relative: beside the encoding file
    int days = 30; // Broadcast/@RecordingDays: older files are removed; 0 keeps them all
    std::int64_t minFreeBytes = std::int64_t(1024) * 1024 * 1024; // Broadcast/@RecordingMinFreeMB
};

ZV_DECLARE_EXCEPTION(EEncodingFileError, Exception);

// What the encoder takes from an encoding file: where the sound comes from, how it is encoded and
// where it is published.
struct EncoderSettings {
    // How the stream's name, genre, description and song titles are written for the server.
    enum class MetadataCharset { Latin1, Utf8 };
    // How the connection to the server is made: plain, or TLS with the server's certificate verified.
    enum class Tls { Off, Verified };

    QString title; // stream name shown to listeners
    QString genre; // Broadcast/@Genre
    QString description; // Description/@Description
    MetadataCharset metadataCharset = MetadataCharset::Latin1; // Broadcast/@MetadataCharset
    QString inputSource; // capture device, matched by name
    QString host;
    quint16 port = 8000;
    QString mount; // always begins with "/"
    QString sourceUser = QStringLiteral("source");
    QString sourcePassword;
    int bitrateCode = 0; // the profile's value, e.g. 64008
    int kbps = 0; // the constant MP3 bitrate derived from it
    int sampleRate = 0; // capture and output sample rate
    int channels = 2;
    Tls tls = Tls::Off; // Broadcast/@Tls
    // Broadcast/@TlsCaFile: the only certificate authorities trusted for the server; empty: the
    // system's store. Relative paths are taken from the encoding file's folder.
    QString tlsCaFile;
    // Broadcast/@NowPlayingFile: a text file whose first line is the song on the air; empty: none.
    // Relative paths are taken from the encoding file's folder.
    QString nowPlayingFile;
    RecordingSettings recording;
};

// The four profile bitrates the client writes and the MP3 rate each one stands for; 0 for others.
int KbpsForBitrateCode(int bitrateCode);

// Reads and validates an encoding file. Every defect raises EEncodingFileError with a message that
// names the file and what is wrong with it.
EncoderSettings ReadEncodingFile(const QString& path);

// The same on bytes already read; `origin` names them in messages.
EncoderSettings ParseEncodingFile(const QByteArray& content, const QString& origin);

} // namespace zv
