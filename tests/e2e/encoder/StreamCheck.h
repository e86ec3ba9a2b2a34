#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace zv::test {

// What a listener's decoder makes of a captured stream.
struct DecodedStream {
    QString codec;
    int sampleRate = 0;
    int bitRate = 0; // bit/s, from the stream's frames
    double seconds = 0; // of decoded sound
    double frequency = 0; // dominant tone, from zero crossings
    QString error; // set when the decoder refused the bytes
};

// Decodes MP3 bytes with ffprobe and ffmpeg.
DecodedStream Decode(const QByteArray& mp3);

class IcecastServer;

// The song titles a listener that asks for inline metadata (Icy-MetaData) reads from the mount in
// `seconds`, in order (Icecast repeats a title only when it changed, so the last is the current one).
// ISO-8859-1, as Icecast sends them for an MP3 mount by default.
QStringList ListenForTitles(const IcecastServer& server, const QString& mount, double seconds);

} // namespace zv::test
