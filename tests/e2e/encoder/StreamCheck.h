#pragma once

#include <QByteArray>
#include <QString>

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

} // namespace zv::test
