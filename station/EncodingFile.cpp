#include "station/EncodingFile.h"

#include "platform/FileIo.h"

#include <QFile>
#include <cstring>

const std::array<TBitrateRow, 4> BitrateRows { {
    { "32000", "32000", "4000", "32000", "1536", "008800001700001E0000", false },
    { "64008", "64008", "8001", "48000", "2731", "008800000F00AD2A0000", false },
    { "96000", "96000", "12000", "48000", "4096", "008800000F0000400000", false },
    { "128016", "12801", "16002", "48000", "5462", "008800000F0059550000", true },
} };

const TBitrateRow* BitrateRowFor(QStringView kbps)
{
    for (const TBitrateRow& row : BitrateRows) {
        if (kbps == QLatin1StringView(row.Kbps)) {
            return &row;
        }
    }
    return nullptr;
}

namespace {

QString Attribute(const char* name, const char* value)
{
    return QStringLiteral("%1=\"%2\"").arg(QLatin1StringView(name), QLatin1StringView(value));
}

void ReplaceFirst(QString& text, const QString& pattern, const QString& replacement)
{
    const qsizetype at = text.indexOf(pattern, 0, Qt::CaseInsensitive);
    if (at >= 0) {
        text.replace(at, pattern.size(), replacement);
    }
}

QDomNode FirstChildNamed(const QDomNode& parent, const QString& name)
{
    for (QDomNode child = parent.firstChild(); !child.isNull(); child = child.nextSibling()) {
        if (child.nodeName() == name) {
            return child;
        }
    }
    return {};
}

QDomElement Path(const QDomDocument& document, std::initializer_list<const char*> steps)
{
    QDomNode node = document.documentElement();
    QString walked;
    for (const char* step : steps) {
        walked += (walked.isEmpty() ? QString() : QStringLiteral("/")) + QLatin1StringView(step);
        node = FirstChildNamed(node, QLatin1StringView(step));
        if (node.isNull() || !node.isElement()) {
            throw EEncodingFileError(QStringLiteral("The encoding file has no element %1").arg(walked));
        }
    }
    return node.toElement();
}

} // namespace

QString RewriteProfile(const QString& text, const TBitrateRow& target)
{
    const qsizetype at = text.indexOf(QLatin1StringView("bitrate"));
    if (at < 0) {
        // Without a bitrate there is nothing to identify the profile's row by.
        return text;
    }
    // In the usual form bitrate="VALUE": the value starts 9 characters after the name.
    const qsizetype valueAt = at + 9;
    const QString current = text.mid(valueAt, 5);
    const QString targetKbps = QLatin1StringView(target.Kbps);
    if (current == targetKbps) {
        return text;
    }
    const TBitrateRow* source = nullptr;
    for (const TBitrateRow& row : BitrateRows) {
        if (current == QLatin1StringView(row.CompareKey)) {
            source = &row;
            break;
        }
    }
    if (!source || source == &target) {
        return text;
    }

    QString out = text;
    if (source->ReplaceEvery) {
        out.replace(QLatin1StringView(source->Kbps), targetKbps, Qt::CaseSensitive);
    } else {
        // The bitrate value itself (five characters, the row's whole text): an equal number earlier in
        // the profile, such as a sample rate of 32000, is no bitrate and is left to its own pattern.
        out.replace(valueAt, 5, targetKbps);
    }
    ReplaceFirst(out, Attribute("nAvgBytesPerSec", source->AvgBytesPerSec),
        Attribute("nAvgBytesPerSec", target.AvgBytesPerSec));
    ReplaceFirst(out, Attribute("nSamplesPerSec", source->SamplesPerSec),
        Attribute("nSamplesPerSec", target.SamplesPerSec));
    ReplaceFirst(out, Attribute("lsamplesize", source->Block), Attribute("lsamplesize", target.Block));
    ReplaceFirst(out, Attribute("nBlockAlign", source->Block), Attribute("nBlockAlign", target.Block));
    ReplaceFirst(out, Attribute("codecdata", source->CodecData), Attribute("codecdata", target.CodecData));
    return out;
}

void PatchEncodingFile(QDomDocument& document, const TEncodingValues& values, QStringView kbps)
{
    if (document.documentElement().isNull()) {
        throw EEncodingFileError(QStringLiteral("The encoding file has no document element"));
    }
    Path(document, { "Description" }).setAttribute(QStringLiteral("Title"), values.Title);
    QDomElement source = Path(document, { "SourceGroups", "SourceGroup", "Source" });
    if (!values.InputSource) {
        throw EEncodingFileError(QStringLiteral("No sound card is selected"));
    }
    source.setAttribute(QStringLiteral("InputSource"), *values.InputSource);
    Path(document, { "Broadcast" }).setAttribute(QStringLiteral("PublishServer"), values.PublishServer);
    Path(document, { "Broadcast" }).setAttribute(QStringLiteral("PublishingPoint"), values.PublishingPoint);

    const TBitrateRow* row = BitrateRowFor(kbps);
    if (!row) {
        return;
    }
    const QDomNodeList children = document.documentElement().childNodes();
    for (int i = 0; i < children.count(); ++i) {
        const QDomNodeList grandchildren = children.item(i).childNodes();
        for (int j = 0; j < grandchildren.count(); ++j) {
            QDomNode node = grandchildren.item(j);
            if (node.nodeName().startsWith(QLatin1Char('#'))) {
                node.setNodeValue(RewriteProfile(node.nodeValue(), *row));
            }
        }
    }
}

QDomDocument LoadEncodingFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        throw EEncodingFileError(
            QStringLiteral("Cannot read the encoding file %1: %2").arg(path, file.errorString()));
    }
    QDomDocument document;
    QString message;
    int line = 0;
    int column = 0;
    if (!document.setContent(file.readAll(), false, &message, &line, &column)) {
        throw EEncodingFileError(
            QStringLiteral("The encoding file %1 is not valid XML (line %2, column %3): %4")
                .arg(path)
                .arg(line)
                .arg(column)
                .arg(message));
    }
    return document;
}

void SaveEncodingFile(QDomDocument& document, const QString& path)
{
    // The bytes written are UTF-8 whatever the loaded file declared, so the declaration must say so.
    QDomNode first = document.firstChild();
    if (first.isProcessingInstruction() && first.nodeName() == QLatin1StringView("xml")) {
        first.setNodeValue(QStringLiteral("version=\"1.0\" encoding=\"UTF-8\""));
    }
    const QByteArray bytes = document.toByteArray(2);
    if (const int error = zv::ReplaceFile(path.toStdString(), bytes); error != 0) {
        throw EEncodingFileError(QStringLiteral("Cannot write the encoding file %1: %2")
                                     .arg(path, QString::fromLocal8Bit(std::strerror(error))));
    }
}

void RebuildEncodingFileFrom(
    const QString& source, const QString& target, const TEncodingValues& values, QStringView kbps)
{
    QDomDocument document = LoadEncodingFile(source);
    PatchEncodingFile(document, values, kbps);
    SaveEncodingFile(document, target);
}
