#include "StreamCheck.h"

#include "IcecastServer.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <cstdint>
#include <cstring>
#include <vector>

namespace zv::test {

DecodedStream Decode(const QByteArray& mp3)
{
    DecodedStream result;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("stream.mp3"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(mp3) != mp3.size()) {
        result.error = QStringLiteral("cannot write %1").arg(path);
        return result;
    }
    file.close();

    int code = 0;
    const QByteArray probe = RunCommand(QStringLiteral("ffprobe -v error -select_streams a:0 -show_entries "
                                                       "stream=codec_name,sample_rate,bit_rate -of json '%1'")
                                            .arg(path),
        &code);
    const QJsonArray streams
        = QJsonDocument::fromJson(probe).object().value(QStringLiteral("streams")).toArray();
    if (code != 0 || streams.isEmpty()) {
        result.error = QStringLiteral("ffprobe refused the stream: %1").arg(QString::fromUtf8(probe));
        return result;
    }
    const QJsonObject stream = streams.first().toObject();
    result.codec = stream.value(QStringLiteral("codec_name")).toString();
    result.sampleRate = stream.value(QStringLiteral("sample_rate")).toString().toInt();
    result.bitRate = stream.value(QStringLiteral("bit_rate")).toString().toInt();

    const QByteArray pcm
        = RunCommand(QStringLiteral("ffmpeg -v error -i '%1' -f s16le -ac 1 -").arg(path), &code);
    if (code != 0 || result.sampleRate == 0) {
        result.error = QStringLiteral("ffmpeg could not decode the stream");
        return result;
    }
    std::vector<std::int16_t> samples(static_cast<std::size_t>(pcm.size()) / 2);
    std::memcpy(samples.data(), pcm.constData(), samples.size() * 2);
    result.seconds = static_cast<double>(samples.size()) / result.sampleRate;
    // Skip the decoder's start-up, then count upward zero crossings.
    const std::size_t from
        = std::min<std::size_t>(samples.size(), static_cast<std::size_t>(result.sampleRate / 10));
    int crossings = 0;
    for (std::size_t i = from + 1; i < samples.size(); ++i) {
        if (samples[i - 1] < 0 && samples[i] >= 0) {
            ++crossings;
        }
    }
    const double span = static_cast<double>(samples.size() - from) / result.sampleRate;
    result.frequency = span > 0 ? crossings / span : 0;
    return result;
}

QStringList ListenForTitles(const IcecastServer& server, const QString& mount, double seconds)
{
    QTemporaryDir dir;
    const QString headers = dir.filePath(QStringLiteral("headers.txt"));
    const QString body = dir.filePath(QStringLiteral("body.bin"));
    RunCommand(QStringLiteral("curl -s -k -H 'Icy-MetaData: 1' -D '%1' -o '%2' --max-time %3 '%4'")
                   .arg(headers, body)
                   .arg(seconds)
                   .arg(server.Url(mount)));
    QFile headerFile(headers);
    QFile bodyFile(body);
    if (!headerFile.open(QIODevice::ReadOnly) || !bodyFile.open(QIODevice::ReadOnly)) {
        return {};
    }
    qsizetype interval = 0;
    for (const QByteArray& line : headerFile.readAll().split('\n')) {
        if (line.toLower().startsWith("icy-metaint:")) {
            interval = line.mid(12).trimmed().toLongLong();
        }
    }
    const QByteArray stream = bodyFile.readAll();
    QStringList titles;
    // After every `interval` bytes of sound: one length byte (in 16-byte units), then the metadata.
    for (qsizetype at = interval; interval > 0 && at < stream.size();) {
        const qsizetype length = static_cast<unsigned char>(stream[at]) * 16;
        const QByteArray block = stream.mid(at + 1, length);
        const qsizetype start = block.indexOf("StreamTitle='");
        const qsizetype end = block.indexOf("';", start);
        if (start >= 0 && end > start && at + 1 + length <= stream.size()) {
            titles += QString::fromLatin1(block.mid(start + 13, end - start - 13));
        }
        at += 1 + length + interval;
    }
    return titles;
}

} // namespace zv::test
